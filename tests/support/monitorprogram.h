#pragma once
// RconSkelvar as a child process in a folder of its own, without a display
// (the window gets the offscreen platform), with the test hook's timing. A
// test that leaves it running has it ended by its process id. A test using
// it defines RCONSKELVAR_PATH.

#include "tests/support/processes.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <signal.h>

namespace skelvar::test {

class MonitorProgram {
public:
    ~MonitorProgram()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    void start(const QString& folder, const QStringList& arguments, const QString& timing, bool window = false)
    {
        QProcessEnvironment env = environmentWithoutDisplay();
        if (window)
            env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("SKELVAR_TEST_TIMING", timing);
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(folder);
        m_process.start(QStringLiteral(RCONSKELVAR_PATH), arguments);
    }
    bool finished() const { return m_process.state() == QProcess::NotRunning; }
    void signal(int number) const { ::kill(pid_t(m_process.processId()), number); }
    // What it printed on standard error so far.
    QString errorText()
    {
        m_error += m_process.readAllStandardError();
        return QString::fromUtf8(m_error);
    }
    QProcess& process() { return m_process; }

private:
    QProcess m_process;
    QByteArray m_error;
};

}  // namespace skelvar::test
