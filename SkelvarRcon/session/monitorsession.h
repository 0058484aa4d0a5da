#pragma once
// A monitoring session: claiming the server through sv_skelvar, Start, Stop,
// the end of a session on an edit of the connection settings, and the exit.

#include "SkelvarRcon/session/uistate.h"
#include "SkelvarRcon/transport/rcontransport.h"
#include "SkelvarRcon/transport/task.h"

#include <QObject>
#include <QStringList>

#include <functional>

class QTimer;

namespace skelvar::rcon {

class PassContext;
class Settings;

// The engine's timer intervals. The product uses these values; tests shorten them.
struct EngineTiming {
    int warmupMs = 100;  // first tick of a session
    int followMs = 105;  // the tick right after the warm-up
    int tickMs = 1000;   // between passes
};

class MonitorSession : public QObject {
    Q_OBJECT
public:
    // What the connect check did with the server.
    enum class Claim { Claimed, NotClaimed };
    // Why the last connect check did not claim the server.
    enum class ConnectFailure { None, BadPassword, Declined, Offline };

    // The question asked before taking over a server that another monitor holds.
    static QString alreadyMonitoredTitle();

    MonitorSession(RconTransport& rcon, Settings& settings, UiState& ui, Prompter& prompter, QObject* parent = nullptr);

    QTimer* engineTimer() const { return m_engineTimer; }
    void setTimingForTests(const EngineTiming& t) { m_timing = t; }
    const EngineTiming& timing() const { return m_timing; }

    // Command1: start a session, or force a scan when one runs.
    void start();
    // The automatic start of "Scan on Start": the timer only.
    void autoStart();
    // Command13.
    void stop();
    // A change of txtSVR/txtPORT/txtPWD or a key in txtMin/MinPolt.
    void connectionEdited();
    // The close of the window: releases the server and waits until any pass has
    // unwound and the transport is closed. The caller then saves and quits.
    Task<> exitProcedure();

    // CheckConnection, as the first step of the warm-up pass.
    Task<Claim> checkConnection(PassContext& pass);
    // Sets the claim (and names this monitor as its holder) without asking.
    Task<> claim(PassContext& pass);

    // The server variable that names the monitor holding the claim.
    static QString holderVariable();
    // This monitor's name in it: the same for every start from one folder on
    // one machine, so a monitor that was killed takes its own claim back
    // without the question. Empty: no holder is written or read.
    void setHolderId(const QString& id) { m_holderId = id; }
    QString holderId() const { return m_holderId; }
    static QString holderIdFor(const QString& folder);
    Task<> stopMonitoring();

    // Between Start and the end of the session (connecting included).
    bool running() const { return m_running; }
    // The server is claimed: sv_skelvar was set to 1 by us.
    bool claimed() const { return m_claimed; }
    // Changes whenever a session begins or ends; a pass keeps the value it
    // started with and stops as soon as it is no longer current.
    quint64 generation() const { return m_generation; }
    bool isCurrent(quint64 generation) const { return m_running && generation == m_generation; }
    // The server of the session, remembered at Start.
    RconTarget target() const { return m_target; }
    // A request outside any pass (a button, the private countdown): to the
    // session's server while one runs, else to the connection boxes' one.
    RconTransport::Awaiter send(QString command);
    RconTransport::Awaiter read(QString command);
    RconTarget targetFromSettings() const;

    bool offlineRetried() const { return m_offlineRetried; }
    ConnectFailure connectFailure() const { return m_connectFailure; }

    // Set by the engine.
    std::function<void()> resetCountdowns;
    std::function<bool()> passRunning;
    std::function<void()> beginWarmup;  // arms the warm-up for the next tick

signals:
    // The Players list is to be emptied.
    void clearPlayers();
    // StopMonitoring is over: the session has ended, its resets sent.
    void ended();

private:
    void beginSession();
    Task<> forceScan();
    Task<Claim> claimAnswered(PassContext& pass, QString answer);
    Task<bool> heldByThisMonitor(PassContext& pass);
    // The check gives up: the timer stops and the reason is kept.
    Claim refuse(ConnectFailure why);

    RconTransport& m_rcon;
    Settings& m_settings;
    UiState& m_ui;
    Prompter& m_prompter;
    QTimer* m_engineTimer;
    EngineTiming m_timing;
    RconTarget m_target;
    QString m_holderId;
    bool m_running = false;
    bool m_claimed = false;
    bool m_claimSent = false;  // "set sv_skelvar 1" is waiting for its answer
    bool m_offlineRetried = false;
    ConnectFailure m_connectFailure = ConnectFailure::None;
    bool m_exiting = false;
    quint64 m_generation = 0;
    int m_stopsInFlight = 0;
    TaskKeeper m_tasks;
};

}  // namespace skelvar::rcon
