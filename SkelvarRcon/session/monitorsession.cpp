#include "SkelvarRcon/session/monitorsession.h"

#include "SkelvarRcon/session/passcontext.h"
#include "SkelvarRcon/store/controlnames.h"
#include "SkelvarRcon/store/settings.h"
#include "SkelvarRcon/transport/printedvalue.h"

#include <QTimer>

namespace skelvar::rcon {

namespace {
const QString kAlreadyTitle = QStringLiteral("Already Monitored!");
const QString kAlreadyText =
    QStringLiteral("Apparently, there 's already an Rcon Skelvar monitoring this server.\n"
                   "You can force the connection, though.\n\n"
                   "Are you sure you want to continue?");
}  // namespace

QString MonitorSession::alreadyMonitoredTitle() { return kAlreadyTitle; }

const QStringList& MonitorSession::sessionControls()
{
    return UiState::sessionControls();
}

const QStringList& MonitorSession::passLockedControls()
{
    return UiState::passLockedControls();
}

MonitorSession::MonitorSession(RconTransport& rcon, Settings& settings, UiState& ui, Prompter& prompter,
                               QObject* parent)
    : QObject(parent), rcon_(rcon), settings_(settings), ui_(ui), prompter_(prompter), engineTimer_(new QTimer(this))
{
    engineTimer_->setObjectName(QLatin1String(control::engineTimer));
    rcon_.setTarget(targetFromSettings());
    // Every request disables the nine controls and enables all of them after it.
    connect(&rcon_, &RconTransport::requestStarted, this, [this] { ui_.setSessionControlsEnabled(false); });
    connect(&rcon_, &RconTransport::requestFinished, this, [this] {
        if (!exiting_)
            ui_.setSessionControlsEnabled(true);
    });
    connect(&settings_, &Settings::connectionChanged, this, [this] {
        rcon_.setTarget(targetFromSettings());
        connectionEdited();
    });
}

RconTarget MonitorSession::targetFromSettings() const
{
    return {settings_.serverAddress(), settings_.serverPort(), settings_.rconPassword()};
}

void MonitorSession::start()
{
    if (exiting_)
        return;
    ui_.setStartCaption(StartCaption::Scanning);
    ui_.setPassLocked(true);
    if (resetCountdowns)
        resetCountdowns();
    if (running_)
        tasks_.keep(forceScan());
    else
        beginSession();
}

void MonitorSession::autoStart()
{
    if (running_ || exiting_)
        return;
    if (resetCountdowns)
        resetCountdowns();
    beginSession();
}

// Both starts: a new generation against the connection boxes' server, and a
// first tick that warms the engine up.
void MonitorSession::beginSession()
{
    running_ = true;
    claimed_ = false;
    ++generation_;
    target_ = targetFromSettings();
    if (beginWarmup)
        beginWarmup();
    engineTimer_->start(timing_.warmupMs);
}

RconTransport::Awaiter MonitorSession::send(QString command)
{
    if (running_)
        return rcon_.send(std::move(command), target_);
    return rcon_.send(std::move(command));
}

Task<> MonitorSession::forceScan()
{
    const quint64 gen = generation_;
    // A pass in progress restarts the timer itself when it ends.
    const bool inPass = passRunning && passRunning();
    if (!inPass)
        engineTimer_->stop();
    co_await rcon_.send(QStringLiteral("set scanpass 1"), target_);
    if (!isCurrent(gen))
        co_return;
    if (!(passRunning && passRunning()) && !engineTimer_->isActive())
        engineTimer_->start();
}

void MonitorSession::stop()
{
    ui_.setSessionControlsEnabled(false);
    tasks_.keep(stopMonitoring());
}

void MonitorSession::connectionEdited()
{
    if (!running_ || exiting_)
        return;
    ui_.setSessionControlsEnabled(false);
    tasks_.keep(stopMonitoring());
}

Task<MonitorSession::Claim> MonitorSession::checkConnection(PassContext& pass)
{
    connectFailure_ = ConnectFailure::None;
    for (;;) {
        QString answer = co_await pass.send(QStringLiteral("sv_skelvar"));
        // The console's answer for a variable it does not know.
        const bool unknown = answer.contains(QLatin1String("command"));
        if (unknown)
            answer.clear();

        if (!answer.isEmpty()) {
            if (answer.contains(QLatin1String("rconpassword"))) {
                prompter_.message(QStringLiteral("Bad rcon password!"), QStringLiteral("Rcon password is incorrect!"),
                                  Prompter::Icon::Critical);
                co_return refuse(ConnectFailure::BadPassword);
            }
            // An answer without a readable value is treated like a held server.
            if (printedValue(answer) != QLatin1String("0")) {
                const bool force = prompter_.askYesNo(kAlreadyTitle, kAlreadyText, Prompter::Icon::Question, false);
                // The question waited for the operator, who may have stopped meanwhile.
                co_await pass.checkpoint();
                if (!force)
                    co_return refuse(ConnectFailure::Declined);
            }
            // A stop while the claim waits for its answer must still reset it.
            claimSent_ = true;
            offlineRetried_ = false;
            co_await pass.send(QStringLiteral("set sv_skelvar 1"));
            claimSent_ = false;
            claimed_ = true;
            co_return Claim::Claimed;
        }

        // Only a server that said it lacks the variable gets it created; after
        // plain silence another monitor's claim must not be reset.
        if (unknown)
            co_await pass.send(QStringLiteral("set sv_skelvar 0"));
        if (offlineRetried_) {
            prompter_.message(QStringLiteral("Server offline!"), QStringLiteral("Server is not responding!"),
                              Prompter::Icon::Critical);
            co_return refuse(ConnectFailure::Offline);
        }
        offlineRetried_ = true;
    }
}

MonitorSession::Claim MonitorSession::refuse(ConnectFailure why)
{
    engineTimer_->stop();
    offlineRetried_ = false;
    connectFailure_ = why;
    return Claim::NotClaimed;
}

Task<> MonitorSession::stopMonitoring()
{
    ++stopsInFlight_;
    ui_.setNotMonitoredShown(true);
    ui_.resetProgress();
    ui_.setLastDataAge(std::nullopt);
    ui_.setServerStatus(QStringLiteral("Server not running!!"));
    ui_.setServerOs(ServerOs::Unknown);
    ui_.setCheatsState(CheatsState::Unknown);
    ui_.setModState(ServerMod::ZovPlinket, ModState::Unknown);
    ui_.setModState(ServerMod::ModSkelvar, ModState::Unknown);
    emit clearPlayers();

    const bool wasClaimed = claimed_ || claimSent_;
    const RconTarget target = target_;
    running_ = false;
    claimed_ = false;
    claimSent_ = false;
    ++generation_;
    engineTimer_->stop();
    if (wasClaimed) {
        co_await rcon_.send(QStringLiteral("set sv_skelvar 0"), target);
        co_await rcon_.send(QStringLiteral("set nextmap \"\""), target);
        co_await rcon_.send(QStringLiteral("set resetvalue 0"), target);
    }
    if (!running_)
        engineTimer_->stop();
    ui_.setStartCaption(StartCaption::Start);
    if (!exiting_)
        ui_.setSessionControlsEnabled(true);
    --stopsInFlight_;
    emit ended();
}

Task<> MonitorSession::exitProcedure()
{
    ui_.showDisconnecting();
    exiting_ = true;
    co_await stopMonitoring();
    // A stop begun before the exit still has its resets to send, and a pass
    // may still be unwinding from its last answer.
    for (int i = 0; i < 1000 && (stopsInFlight_ > 0 || (passRunning && passRunning())); ++i)
        co_await Delay(this, 10);
    rcon_.shutdown();
}

}  // namespace skelvar::rcon
