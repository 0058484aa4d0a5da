#pragma once

// Starting the programs as real processes, the way a machine without a
// desktop would: no display of any kind in their environment.

#include <QProcess>
#include <QProcessEnvironment>

namespace skelvar::test {

inline QProcessEnvironment environmentWithoutDisplay()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    return env;
}

// Ends a server the tests started: SIGTERM by its process id, SIGKILL when it
// has not ended within `waitMs`.
inline void endProcess(QProcess& process, int waitMs)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(waitMs)) {
        process.kill();
        process.waitForFinished(waitMs);
    }
}

}  // namespace skelvar::test
