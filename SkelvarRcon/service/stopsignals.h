#pragma once
// SIGTERM, SIGINT and SIGHUP as a Qt signal, so that a logout, a service
// stop or a kill ends the monitor through its exit steps. The handler only
// writes a byte to a pipe; a notifier on the pipe emits stopRequested() from
// the event loop. A second signal while the stop runs ends the process at
// once, with status 128 plus the signal's number.

#include <QObject>
#include <QString>

class QSocketNotifier;

namespace skelvar::rcon {

class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

    // One instance per process. False with *error when the handlers could not be set.
    bool install(QString* error = nullptr);

signals:
    void stopRequested(int signalNumber);

private:
    void onReadable();

    QSocketNotifier* m_notifier = nullptr;
    bool m_installed = false;
};

}  // namespace skelvar::rcon
