#include "SkelvarRcon/engine/engine.h"

#include "SkelvarRcon/store/settings.h"

#include <QTimer>

namespace skelvar::rcon {

Engine::Engine(MonitorSession& session, RconTransport& rcon, Settings& settings, UiState& ui, QObject* parent)
    : QObject(parent), session_(session), rcon_(rcon), settings_(settings), ui_(ui)
{
    session_.resetCountdowns = [this] {
        scanCountdown_ = 1;
        patrolCountdown_ = 1;
    };
    session_.passRunning = [this] { return busy(); };
    session_.beginWarmup = [this] { warmupPending_ = true; };
    connect(session_.timer3(), &QTimer::timeout, this, &Engine::onTimer);
}

void Engine::onTimer()
{
    // A tick that finds another still at work starts nothing.
    if (busy() || !session_.running())
        return;
    tick_ = engineTick(session_.generation());
}

Task<> Engine::engineTick(quint64 gen)
{
    ++secondsSinceData_;
    statusText_.clear();
    if (warmupPending_) {
        warmupPending_ = false;
        co_await warmUp(gen);
    } else {
        for (const char* bar : {"kickpro", "scanpro"}) {
            if (ui_.maximum(bar) > ui_.value(bar))
                ui_.setValue(bar, ui_.value(bar) + 1);
        }
        session_.timer3()->setInterval(session_.timing().tickMs);
        --patrolCountdown_;
        --scanCountdown_;
        if (scanCountdown_ < 1)
            co_await runScan(gen);
        if (!session_.isCurrent(gen))
            co_return;
        if (patrolCountdown_ < 1)
            co_await runPatrol(gen);
    }
    if (!session_.isCurrent(gen))
        co_return;
    ui_.setText("Label18", QStringLiteral("Last Data Retrieval: %1 seconds ago").arg(secondsSinceData_));
}

Task<> Engine::warmUp(quint64 gen)
{
    // No tick may start a second warm-up while this one waits for the server.
    session_.timer3()->stop();
    rcon_.resetActivityLog();
    const QString claimed = co_await session_.checkConnection();
    if (!session_.isCurrent(gen))
        co_return;
    if (claimed != QLatin1String("1")) {
        co_await session_.stopMonitoring();
        co_return;
    }
    ui_.setText("Label21", "Warming engine...");
    ui_.setText("Command1", "Warming");
    ui_.setEnabled(MonitorSession::passLockedControls(), false);

    patrolCountdown_ = 1;
    secondsSinceData_ = 0;
    scanCountdown_ = 1;
    ui_.setValue("kickpro", 0);
    ui_.setValue("scanpro", 0);
    ui_.setMaximum("kickpro", toInt16(settings_.text("MinPolt")).value_or(0));
    ui_.setMaximum("scanpro", toInt16(settings_.text("txtMin")).value_or(0) * 60);
    session_.timer3()->start(session_.timing().followMs);
}

// The scan and the patrol pass are the engine's next step; until they exist a
// regular tick only counts down.
Task<> Engine::runScan(quint64) { co_return; }
Task<> Engine::runPatrol(quint64) { co_return; }

}  // namespace skelvar::rcon
