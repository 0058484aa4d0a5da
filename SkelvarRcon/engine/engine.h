#pragma once
// The scan engine: the tick handler of Timer3 with its warm-up, scans and
// patrol passes. A tick's work is a coroutine; ticks never overlap.

#include "SkelvarRcon/session/monitorsession.h"
#include "SkelvarRcon/session/uistate.h"
#include "SkelvarRcon/transport/rcontransport.h"
#include "SkelvarRcon/transport/task.h"

#include <QObject>
#include <QString>

namespace skelvar::rcon {

class Settings;

class Engine : public QObject {
    Q_OBJECT
public:
    Engine(MonitorSession& session, RconTransport& rcon, Settings& settings, UiState& ui, QObject* parent = nullptr);

    qint16 scanCountdown() const { return scanCountdown_; }
    qint16 patrolCountdown() const { return patrolCountdown_; }
    int secondsSinceData() const { return secondsSinceData_; }
    // A tick's work (warm-up or pass) is under way.
    bool busy() const { return !tick_.done(); }

private:
    void onTimer();
    Task<> engineTick(quint64 generation);
    Task<> warmUp(quint64 generation);
    Task<> runScan(quint64 generation);
    Task<> runPatrol(quint64 generation);

    MonitorSession& session_;
    RconTransport& rcon_;
    Settings& settings_;
    UiState& ui_;
    Task<> tick_;
    bool warmupPending_ = false;
    qint16 scanCountdown_ = 0;
    qint16 patrolCountdown_ = 0;
    int secondsSinceData_ = 0;
    QString statusText_;
};

}  // namespace skelvar::rcon
