#include "SkelvarRcon/session/monitorsession.h"

#include "SkelvarRcon/session/passcontext.h"
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
    static const QStringList names{"Command1", "Command2", "Command13", "Text1", "txtSVR",
                                   "txtPORT",  "txtPWD",   "txtMin",    "MinPolt"};
    return names;
}

const QStringList& MonitorSession::passLockedControls()
{
    static const QStringList names{"Command1", "Command2", "Command13", "Text1"};
    return names;
}

MonitorSession::MonitorSession(RconTransport& rcon, Settings& settings, UiState& ui, Prompter& prompter,
                               QObject* parent)
    : QObject(parent), rcon_(rcon), settings_(settings), ui_(ui), prompter_(prompter), timer3_(new QTimer(this))
{
    timer3_->setObjectName(QStringLiteral("Timer3"));
    rcon_.setTarget(targetFromSettings());
    // Every request disables the nine controls and enables all of them after it.
    connect(&rcon_, &RconTransport::requestStarted, this, [this] { ui_.setEnabled(sessionControls(), false); });
    connect(&rcon_, &RconTransport::requestFinished, this, [this] {
        if (!exiting_)
            ui_.setEnabled(sessionControls(), true);
    });
    connect(&settings_, &Settings::changed, this, [this](const QString& control) {
        if (control == QLatin1String("txtSVR") || control == QLatin1String("txtPORT") ||
            control == QLatin1String("txtPWD")) {
            rcon_.setTarget(targetFromSettings());
            connectionEdited();
        }
    });
}

RconTarget MonitorSession::targetFromSettings() const
{
    return {settings_.text("txtSVR"), settings_.text("txtPORT"), settings_.text("txtPWD")};
}

void MonitorSession::start()
{
    if (exiting_)
        return;
    ui_.setText("Command1", "Scanning");
    ui_.setEnabled(passLockedControls(), false);
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
    timer3_->start(timing_.warmupMs);
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
        timer3_->stop();
    co_await rcon_.send(QStringLiteral("set scanpass 1"), target_);
    if (!isCurrent(gen))
        co_return;
    if (!(passRunning && passRunning()) && !timer3_->isActive())
        timer3_->start();
}

void MonitorSession::stop()
{
    ui_.setEnabled(sessionControls(), false);
    tasks_.keep(stopMonitoring());
}

void MonitorSession::connectionEdited()
{
    if (!running_ || exiting_)
        return;
    ui_.setEnabled(sessionControls(), false);
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
    timer3_->stop();
    offlineRetried_ = false;
    connectFailure_ = why;
    return Claim::NotClaimed;
}

Task<> MonitorSession::stopMonitoring()
{
    ++stopsInFlight_;
    ui_.setVisible("Picture1", true);
    ui_.setValue("kickpro", 0);
    ui_.setValue("scanpro", 0);
    ui_.setText("Label18", QString());
    ui_.setText("Label21", "Server not running!!");
    ui_.setText("Label35", "Server OS: ?");
    ui_.setText("Label23", "Cheats: ?");
    ui_.setText("Label26", "Zov Plinket: ?");
    ui_.setText("Label25", "ModSkelvar: ?");
    ui_.setVisible({"Image1_0", "Image1_1", "Image2", "Image3_0", "Image3_1", "Image4_0", "Image4_1", "Image5"},
                   false);
    emit clearPlayers();

    const bool wasClaimed = claimed_ || claimSent_;
    const RconTarget target = target_;
    running_ = false;
    claimed_ = false;
    claimSent_ = false;
    ++generation_;
    timer3_->stop();
    if (wasClaimed) {
        co_await rcon_.send(QStringLiteral("set sv_skelvar 0"), target);
        co_await rcon_.send(QStringLiteral("set nextmap \"\""), target);
        co_await rcon_.send(QStringLiteral("set resetvalue 0"), target);
    }
    if (!running_)
        timer3_->stop();
    ui_.setText("Command1", "Start");
    if (!exiting_)
        ui_.setEnabled(sessionControls(), true);
    --stopsInFlight_;
    emit ended();
}

Task<> MonitorSession::exitProcedure()
{
    ui_.setText("Command2", "Disconnecting...");
    ui_.setEnabled({"Command1", "Command13", "Text1"}, false);
    exiting_ = true;
    co_await stopMonitoring();
    // A stop begun before the exit still has its resets to send, and a pass
    // may still be unwinding from its last answer.
    for (int i = 0; i < 1000 && (stopsInFlight_ > 0 || (passRunning && passRunning())); ++i)
        co_await Delay(this, 10);
    rcon_.shutdown();
}

}  // namespace skelvar::rcon
