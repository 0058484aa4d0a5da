#pragma once
// The monitor without its widgets: every model, the transport, the session and
// the engine, put together in the window's creation order, and the operator
// window's own rules (mini console, log commands, focus-loss checks, the
// coupling of logging and silent mode). The window only shows this.

#include "SkelvarRcon/engine/engine.h"
#include "SkelvarRcon/penalties/enforcement.h"
#include "SkelvarRcon/penalties/recordactions.h"
#include "SkelvarRcon/session/monitorsession.h"
#include "SkelvarRcon/session/skelvarlog.h"
#include "SkelvarRcon/session/uistate.h"
#include "SkelvarRcon/store/liststore.h"
#include "SkelvarRcon/store/recordlist.h"
#include "SkelvarRcon/store/settings.h"
#include "SkelvarRcon/transport/rcontransport.h"
#include "SkelvarRcon/transport/task.h"

#include <QDate>
#include <QObject>
#include <QString>

#include <functional>

namespace skelvar::rcon {

struct MonitorOptions {
    QString folder = QStringLiteral(".");  // where the monitor keeps its files
    int replyWaitMs = RconTransport::kReplyWaitMs;
    Pacing pacing = RconTransport::kEnginePacing;
    EngineTiming timing;
    QDate today = QDate::currentDate();
};

class Monitor : public QObject {
    Q_OBJECT
public:
    explicit Monitor(Prompter& prompter, MonitorOptions options = {}, QObject* parent = nullptr);
    ~Monitor() override;

    // The creation order: record lists, skin lists, settings, the automatic
    // start. Returns what the operator must be told about the files.
    QList<StoreMessage> create();

    QString filePath(const QString& name) const;

    // Mini console: Enter in Text1.
    void consoleEnter(const QString& line);
    // Label13 "Delete log".
    void deleteLogClicked();
    // Loss of focus.
    void minPoltFocusLost();
    void pwdFocusLost();
    void tagFocusLost();
    void prpFocusLost();

    // The close of the window: releases the server, then writes everything.
    Task<> exit();
    bool exited() const { return exited_; }

    Prompter& prompter() { return prompter_; }

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
    // Text to add at the end of txtOutput.
    void consoleOutput(const QString& text);

private:
    Task<> runConsole(QString command);
    void onSettingChanged(const QString& control);
    void applyLogging();

    Prompter& prompter_;
    MonitorOptions options_;
    TaskKeeper tasks_;
    bool exited_ = false;
};

}  // namespace skelvar::rcon
