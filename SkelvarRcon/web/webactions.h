#pragma once
// The web page's actions, each forwarded to the code the window's buttons
// run (Monitor, MonitorSession, RecordActions), never done a second way: the
// page names its target by content (a player's slot, name and address; a
// record's fields), which is looked up in the list as it is now, and
// everything is checked before anything changes. Each action writes one
// line to the audit log.

#include "SkelvarRcon/app/monitor.h"
#include "SkelvarRcon/web/webaudit.h"
#include "SkelvarRcon/web/websessions.h"

#include <QHttpServerResponder>
#include <QObject>

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

    WebActions(Monitor& monitor, AuditLog& audit, QObject* parent = nullptr);
    ~WebActions() override;

    // A POST under /api/ other than login and logout. An answer now, or
    // nullopt when `later` will be called with it.
    std::optional<WebReply> run(const WebCall& call, Later later);
    // GET /api/console: what the console printed, newest last.
    QJsonObject consoleTranscript() const;
    int consoleSequence() const { return m_consoleSequence; }

private:
    Monitor& m_monitor;
    AuditLog& m_audit;
    int m_consoleSequence = 0;
};

}  // namespace skelvar::rcon::web
