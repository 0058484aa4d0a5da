#include "SkelvarRcon/session/monitorsession.h"

#include "SkelvarRcon/session/passcontext.h"
#include "SkelvarRcon/store/controlnames.h"
#include "SkelvarRcon/store/settings.h"
#include "SkelvarRcon/transport/printedvalue.h"

#include <QTimer>

namespace skelvar::rcon {

namespace {
const QString kAlreadyTitle = QStringLiteral("Already Monitored!");
const QString kAlreadyText = QStringLiteral("Apparently, there 's already an Rcon Skelvar monitoring this server.\n"
                                            "You can force the connection, though.\n\n"
                                            "Are you sure you want to continue?");
}  // namespace

QString MonitorSession::alreadyMonitoredTitle()
{
    return kAlreadyTitle;
}

MonitorSession::MonitorSession(RconTransport& rcon, Settings& settings, UiState& ui, Prompter& prompter,
                               QObject* parent)
    : QObject(parent), m_rcon(rcon), m_settings(settings), m_ui(ui), m_prompter(prompter),
      m_engineTimer(new QTimer(this))
{
    m_engineTimer->setObjectName(QLatin1String(control::engineTimer));
    m_rcon.setTarget(targetFromSettings());
    // Every request disables the nine controls and enables all of them after it.
    connect(&m_rcon, &RconTransport::requestStarted, this, [this] { m_ui.setSessionControlsEnabled(false); });
    connect(&m_rcon, &RconTransport::requestFinished, this, [this] {
        if (!m_exiting)
            m_ui.setSessionControlsEnabled(true);
    });
    connect(&m_settings, &Settings::connectionChanged, this, [this] {
        m_rcon.setTarget(targetFromSettings());
        connectionEdited();
    });
}

RconTarget MonitorSession::targetFromSettings() const
{
    return {m_settings.serverAddress(), m_settings.serverPort(), m_settings.rconPassword()};
}

void MonitorSession::start()
{
    if (m_exiting)
        return;
    m_ui.setStartCaption(StartCaption::Scanning);
    m_ui.setPassLocked(true);
    if (resetCountdowns)
        resetCountdowns();
    if (m_running)
        m_tasks.keep(forceScan());
    else
        beginSession();
}

void MonitorSession::autoStart()
{
    if (m_running || m_exiting)
        return;
    if (resetCountdowns)
        resetCountdowns();
    beginSession();
}

// Both starts: a new generation against the connection boxes' server, and a
// first tick that warms the engine up.
void MonitorSession::beginSession()
{
    m_running = true;
    m_claimed = false;
    ++m_generation;
    m_target = targetFromSettings();
    if (beginWarmup)
        beginWarmup();
    m_engineTimer->start(m_timing.warmupMs);
}

RconTransport::Awaiter MonitorSession::send(QString command)
{
    if (m_running)
        return m_rcon.send(std::move(command), m_target);
    return m_rcon.send(std::move(command));
}

Task<> MonitorSession::forceScan()
{
    const quint64 gen = m_generation;
    // A pass in progress restarts the timer itself when it ends.
    const bool inPass = passRunning && passRunning();
    if (!inPass)
        m_engineTimer->stop();
    co_await m_rcon.send(QStringLiteral("set scanpass 1"), m_target);
    if (!isCurrent(gen))
        co_return;
    if (!(passRunning && passRunning()) && !m_engineTimer->isActive())
        m_engineTimer->start();
}

void MonitorSession::stop()
{
    m_ui.setSessionControlsEnabled(false);
    m_tasks.keep(stopMonitoring());
}

void MonitorSession::connectionEdited()
{
    if (!m_running || m_exiting)
        return;
    m_ui.setSessionControlsEnabled(false);
    m_tasks.keep(stopMonitoring());
}

Task<MonitorSession::Claim> MonitorSession::checkConnection(PassContext& pass)
{
    m_connectFailure = ConnectFailure::None;
    for (;;) {
        QString answer = co_await pass.send(QStringLiteral("sv_skelvar"));
        // The console's answer for a variable it does not know.
        const bool unknown = answer.contains(QLatin1String("command"));
        if (unknown)
            answer.clear();
        if (!answer.isEmpty()) {
            const Claim claim = co_await claimAnswered(pass, answer);
            co_return claim;
        }

        // Only a server that said it lacks the variable gets it created; after
        // plain silence another monitor's claim must not be reset.
        if (unknown)
            co_await pass.send(QStringLiteral("set sv_skelvar 0"));
        if (m_offlineRetried) {
            m_prompter.message(QStringLiteral("Server offline!"), QStringLiteral("Server is not responding!"),
                               Prompter::Icon::Critical);
            co_return refuse(ConnectFailure::Offline);
        }
        m_offlineRetried = true;
    }
}

// The server printed sv_skelvar: a refused password, a free server, or one
// that another monitor holds and the operator may take over.
Task<MonitorSession::Claim> MonitorSession::claimAnswered(PassContext& pass, QString answer)
{
    if (answer.contains(QLatin1String("rconpassword"))) {
        m_prompter.message(QStringLiteral("Bad rcon password!"), QStringLiteral("Rcon password is incorrect!"),
                           Prompter::Icon::Critical);
        co_return refuse(ConnectFailure::BadPassword);
    }
    // An answer without a readable value is treated like a held server.
    if (printedValue(answer) != QLatin1String("0")) {
        const bool force = m_prompter.askYesNo(kAlreadyTitle, kAlreadyText, Prompter::Icon::Question, false);
        // The question waited for the operator, who may have stopped meanwhile.
        co_await pass.checkpoint();
        if (!force)
            co_return refuse(ConnectFailure::Declined);
    }
    // A stop while the claim waits for its answer must still reset it.
    m_claimSent = true;
    m_offlineRetried = false;
    co_await pass.send(QStringLiteral("set sv_skelvar 1"));
    m_claimSent = false;
    m_claimed = true;
    co_return Claim::Claimed;
}

MonitorSession::Claim MonitorSession::refuse(ConnectFailure why)
{
    m_engineTimer->stop();
    m_offlineRetried = false;
    m_connectFailure = why;
    return Claim::NotClaimed;
}

Task<> MonitorSession::stopMonitoring()
{
    ++m_stopsInFlight;
    m_ui.setNotMonitoredShown(true);
    m_ui.resetProgress();
    m_ui.setLastDataAge(std::nullopt);
    m_ui.setServerStatus(QStringLiteral("Server not running!!"));
    m_ui.setServerOs(ServerOs::Unknown);
    m_ui.setCheatsState(CheatsState::Unknown);
    m_ui.setModState(ServerMod::ZovPlinket, ModState::Unknown);
    m_ui.setModState(ServerMod::ModSkelvar, ModState::Unknown);
    emit clearPlayers();

    const bool wasClaimed = m_claimed || m_claimSent;
    const RconTarget target = m_target;
    m_running = false;
    m_claimed = false;
    m_claimSent = false;
    ++m_generation;
    m_engineTimer->stop();
    if (wasClaimed) {
        co_await m_rcon.send(QStringLiteral("set sv_skelvar 0"), target);
        co_await m_rcon.send(QStringLiteral("set nextmap \"\""), target);
        co_await m_rcon.send(QStringLiteral("set resetvalue 0"), target);
    }
    if (!m_running)
        m_engineTimer->stop();
    m_ui.setStartCaption(StartCaption::Start);
    if (!m_exiting)
        m_ui.setSessionControlsEnabled(true);
    --m_stopsInFlight;
    emit ended();
}

Task<> MonitorSession::exitProcedure()
{
    m_ui.showDisconnecting();
    m_exiting = true;
    co_await stopMonitoring();
    // A stop begun before the exit still has its resets to send, and a pass
    // may still be unwinding from its last answer.
    for (int i = 0; i < 1000 && (m_stopsInFlight > 0 || (passRunning && passRunning())); ++i)
        co_await Delay(this, 10);
    m_rcon.shutdown();
}

}  // namespace skelvar::rcon
