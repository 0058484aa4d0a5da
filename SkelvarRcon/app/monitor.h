#pragma once
// The monitor without its widgets: every model, the transport, the session and
// the engine, put together in the window's creation order, and the operator
// window's own rules (mini console, log commands, the tab change, focus-loss
// checks, the coupling of logging and silent mode). The window only shows
// this and forwards to it.

#include "SkelvarRcon/engine/engine.h"
#include "SkelvarRcon/penalties/enforcement.h"
#include "SkelvarRcon/penalties/recordactions.h"
#include "SkelvarRcon/session/monitorsession.h"
#include "SkelvarRcon/session/skelvarlog.h"
#include "SkelvarRcon/session/uistate.h"
#include "SkelvarRcon/store/liststore.h"
#include "SkelvarRcon/store/recordlist.h"
#include "SkelvarRcon/store/settings.h"
#include "SkelvarRcon/store/sharedbans.h"
#include "SkelvarRcon/transport/rcontransport.h"
#include "SkelvarRcon/transport/task.h"

#include <QDate>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace skelvar::rcon {

struct MonitorOptions {
    QString folder = QStringLiteral(".");  // where the monitor keeps its files
    int replyWaitMs = RconTransport::kReplyWaitMs;
    Pacing pacing = RconTransport::kEnginePacing;
    EngineTiming timing;
    Clock clock;  // dates every record; the local time unless a test sets it
    // The ban list shared with other monitors: a postgresql:// address; empty
    // for none, and the Bans list is bans.lst's alone.
    QString bansDatabase;
    // Told with the list files' messages by create(): what came up while the
    // options were gathered (rconskelvar.conf).
    QList<StoreMessage> startMessages;
};

// The text files the operator edits in the desktop's editor.
enum class EditableFile { Log, SuspiciousSkins, ReservedSkins };

class Monitor : public QObject {
    Q_OBJECT
public:
    static constexpr int tabCount = 4;

    explicit Monitor(Prompter& prompter, MonitorOptions options = {}, QObject* parent = nullptr);
    ~Monitor() override;

    // The creation order: record lists, skin lists, settings, the automatic
    // start. Returns what the operator must be told about the files.
    QList<StoreMessage> create();

    QString filePath(const QString& name) const;
    static QString fileName(EditableFile file);
    // The file's absolute path for the editor; a file that is not there yet is
    // created empty, so the editor opens it instead of asking.
    QString prepareForEditor(EditableFile file);

    // The tab strip: the page shown, 0 to 3. Clicking another tab hides the
    // row controls that belong to the page left; clicking the shown one does
    // nothing. Returns whether the page changes.
    int currentTab() const { return m_currentTab; }
    bool selectTab(int tab);

    // The mini console: Enter in its input box.
    void consoleEnter(const QString& line);
    // "Delete log": asks, then empties skelvar.log.
    void deleteLog();

    // The boxes whose focus loss or key presses the window reports by object name.
    static const QStringList& watchedControls();
    void focusLost(const QString& control);
    void keyPressed(const QString& control);

    // The close of the window: releases the server, then writes everything.
    Task<> exit();
    bool exited() const { return m_exited; }
    // rconskelvar.ini was there at create() but could not be read.
    bool settingsUnreadable() const { return m_settingsUnreadable; }

    // The front end's prompter behind the relay every part below tells through.
    PrompterRelay& prompter() { return m_relay; }
    // The shared ban list; null without a database.
    SharedBans* sharedBans() { return m_sharedBans.get(); }

private:
    PrompterRelay m_relay;  // first: every part below is given it

public:
    Clock clock;  // the one clock of every part below
    Settings settings;
    ListStore lists;
    PlayerList players;
    UiState ui;
    RconTransport rcon;
    SkelvarLog log;
    MonitorSession session;
    Enforcement enforcement;
    Engine engine;
    RecordActions actions;

signals:
    // Text to add at the end of the console's output box.
    void consoleOutput(const QString& text);

private:
    Task<> runConsole(QString command);
    void onSettingChanged(const QString& control);
    void applyLogging();
    void checkPatrolPeriod();
    void checkRconPassword();
    void checkPrivateTag();
    void checkPrivatePassword();
    // After the lists are loaded; a message when the address is refused.
    void shareBans(QList<StoreMessage>& messages);

    MonitorOptions m_options;
    TaskKeeper m_tasks;
    int m_currentTab = 0;
    bool m_exited = false;
    bool m_settingsUnreadable = false;
    std::unique_ptr<SharedBans> m_sharedBans;
};

}  // namespace skelvar::rcon
