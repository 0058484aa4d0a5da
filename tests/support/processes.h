#pragma once

// Starting the programs as real processes, the way a machine without a
// desktop would: no display of any kind in their environment.

#include <QDir>
#include <QFile>
#include <QMultiHash>
#include <QProcess>
#include <QProcessEnvironment>

#include <unistd.h>

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

// The fields of /proc/PID/stat after the process's name, its state first
// (the name, in brackets, may hold blanks and brackets itself); empty when
// the process is gone.
inline QList<QByteArray> processStat(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 1).simplified().split(' ');
}

// Every running process by its parent, read in one sweep of /proc.
inline QMultiHash<qint64, qint64> processesByParent()
{
    QMultiHash<qint64, qint64> children;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        const QList<QByteArray> fields = numeric ? processStat(pid) : QList<QByteArray>();
        if (fields.size() > 1)
            children.insert(fields[1].toLongLong(), pid);
    }
    return children;
}

inline QList<qint64> childProcessIds(qint64 pid)
{
    return processesByParent().values(pid);
}

// Every process below pid, read before any of them ends: an orphan would be
// adopted by another parent and lost from the tree.
inline QList<qint64> descendantProcessIds(qint64 pid)
{
    const QMultiHash<qint64, qint64> children = processesByParent();
    QList<qint64> out;
    QList<qint64> todo{pid};
    while (!todo.isEmpty()) {
        const QList<qint64> below = children.values(todo.takeFirst());
        out += below;
        todo += below;
    }
    return out;
}

// The processor time a process has used (user and system), in seconds; -1
// when it is gone.
inline double cpuSeconds(qint64 pid)
{
    const QList<QByteArray> fields = processStat(pid);
    if (fields.size() < 14)
        return -1;
    return (fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

}  // namespace skelvar::test
