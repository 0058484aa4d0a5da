#pragma once

// Another process that holds a list file's lock (tests/support/lockholder.cpp),
// ended by its id when the test says so or when this object goes.

#include <QProcess>
#include <QString>
#include <QTest>

namespace skelvar::test {

class LockHolder {
public:
    // Starts the holder on path's lock; true once it holds the lock.
    bool hold(const QString& path)
    {
        m_process.start(QStringLiteral(SKELVAR_LOCKHOLDER), {path});
        if (!m_process.waitForStarted(5000))
            return false;
        for (int i = 0; i < 50 && !m_process.canReadLine(); ++i)
            m_process.waitForReadyRead(100);
        return m_process.readLine().trimmed() == "locked";
    }
    // Ends it as a crash would, leaving its lock file behind.
    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    ~LockHolder() { kill(); }

private:
    QProcess m_process;
};

}  // namespace skelvar::test
