#include "SkelvarRcon/session/monitorsession.h"

#include "SkelvarRcon/session/passcontext.h"
#include "SkelvarRcon/store/controlnames.h"
#include "SkelvarRcon/store/settings.h"
#include "SkelvarRcon/transport/printedvalue.h"

#include <QCryptographicHash>
#include <QDir>
#include <QSysInfo>
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

QString MonitorSession::holderVariable()
{
    return QStringLiteral("sv_skelvarholder");
}

QString MonitorSession::holderIdFor(const QString& folder)
{
    // Hex only: it goes into a console command and comes back in a print.
    const QByteArray where = QSysInfo::machineUniqueId() + '\n' + QSysInfo::machineHostName().toUtf8() + '\n' +
                             QDir(folder).canonicalPath().toUtf8();
    return QString::fromLatin1(QCryptographicHash::hash(where, QCryptographicHash::Sha1).toHex().left(16));
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

RconTransport::Awaiter MonitorSession::read(QString command)
{
    return m_rcon.read(std::move(command), m_running ? m_target : targetFromSettings());
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
        const Reply answer = co_await pass.send(QStringLiteral("sv_skelvar"));
        // A variable the server does not know: the original console says
        // "Unknown command", the open-source engines print nothing.
        const bool unknown =
            answer.answered && (answer.text.contains(QLatin1String("command")) || answer.text.trimmed().isEmpty());
        if (answer.answered && !unknown) {
            const Claim claim = co_await claimAnswered(pass, answer.text);
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
    const bool held = printedValue(answer) != QLatin1String("0");
    bool ours = false;
    if (held)
        ours = co_await heldByThisMonitor(pass);
    if (held && !ours) {
        const bool force = m_prompter.askYesNo(kAlreadyTitle, kAlreadyText, Prompter::Icon::Question, false);
        // The question waited for the operator, who may have stopped meanwhile.
        co_await pass.checkpoint();
        if (!force)
            co_return refuse(ConnectFailure::Declined);
    }
    m_offlineRetried = false;
    co_await claim(pass);
    co_return Claim::Claimed;
}

// A claim left behind by this monitor's own earlier run (killed before it
// could release the server).
Task<bool> MonitorSession::heldByThisMonitor(PassContext& pass)
{
    if (m_holderId.isEmpty())
        co_return false;
    const Reply holder = co_await pass.ask(holderVariable());
    co_return printedValue(holder.text) == m_holderId;
}

Task<> MonitorSession::claim(PassContext& pass)
{
    // A stop while the claim waits for its answer must still reset it.
    m_claimSent = true;
    co_await pass.send(QStringLiteral("set sv_skelvar 1"));
    if (!m_holderId.isEmpty())
        co_await pass.send(QStringLiteral("set ") + holderVariable() + QLatin1Char(' ') + m_holderId);
    m_claimSent = false;
    m_claimed = true;
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
