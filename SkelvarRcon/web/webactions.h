#pragma once
// The web page's actions, each forwarded to the code the window's controls
// run (MonitorSession's Start and Stop, RecordActions' buttons, the mini
// console of Monitor, the ban helper the buttons use), never done a second
// way. The page names its target by content (a player's slot, name and
// address; a record's fields), looked up in the list as it is at the request,
// and everything is checked before anything changes, so that no question or
// message box of the window is raised by a request it could have refused;
// what the monitor still tells while it carries a request out comes back in
// the answer's "messages" instead of a message box. Only an admin acts.
// Every action writes one line to the audit log.

#include "SkelvarRcon/app/monitor.h"
#include "SkelvarRcon/web/webaudit.h"
#include "SkelvarRcon/web/websessions.h"
#include "SkelvarRcon/web/websettings.h"

#include <QJsonObject>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>
#include <optional>

namespace skelvar::rcon::web {

struct WebCall;
struct WebReply;

class WebActions : public QObject {
    Q_OBJECT
public:
    // An answer that comes later (the console's); called once.
    using Later = std::function<void(const WebReply&)>;

    static constexpr int kMaxBanDays = 3650;
    static constexpr int kMaxCommandLength = 1024;
    static constexpr int kConsoleKept = 100;

    // An action's audit text and its answer.
    struct Outcome;

    WebActions(Monitor& monitor, AuditLog& audit, QObject* parent = nullptr);
    ~WebActions() override;

    // A POST under /api/ other than login and logout. An answer now, or
    // nullopt when `later` will be called with it.
    std::optional<WebReply> run(const WebCall& call, Later later);
    // GET /api/settings.
    QJsonObject settingsForm() const { return m_settings.form(); }
    // GET /api/console: what the console printed, oldest first.
    QJsonObject consoleTranscript() const;
    int consoleSequence() const { return m_consoleSequence; }

private:
    struct Waiting {
        quint64 id = 0;
        QString command;
        Later later;
        bool expired = false;
        QString account;
        QString client;
    };

    Outcome dispatch(const WebCall& call, Later& later);
    Outcome session(const QString& what);
    Outcome kickOrBan(const QJsonObject& body, bool ban);
    Outcome addBan(const QJsonObject& body);
    Outcome recordButton(const QString& listName, const QString& action, const QJsonObject& body);
    Outcome editSettings(const QJsonObject& body);
    Outcome console(const WebCall& call, Later& later);
    void consoleAnswered(const QString& text);
    void expireConsole(quint64 id);

    Monitor& m_monitor;
    AuditLog& m_audit;
    WebSettings m_settings;
    std::deque<Waiting> m_waiting;  // the web's console commands, in the order they were sent
    quint64 m_nextWaiting = 1;
    QList<QJsonObject> m_transcript;
    int m_consoleSequence = 0;
};

}  // namespace skelvar::rcon::web
