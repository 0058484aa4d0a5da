#include "tests/support/engineserver.h"

#include "tests/support/processes.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QProcessEnvironment>
#include <QTimer>
#include <QUdpSocket>

#include <csignal>
#include <sys/prctl.h>

namespace skelvar::test {

namespace {
constexpr int kBotTimeoutMs = 20000;
constexpr int kStopWaitMs = 5000;
constexpr int kAnswerWaitMs = 2000;  // for the first datagram
constexpr int kRestWaitMs = 200;     // for each further one
constexpr int kMaxAnswerDatagrams = 64;
const QByteArray kEnginePrint("\xFF\xFF\xFF\xFFprint\n", 10);
}  // namespace

EngineServer::EngineServer(QObject* parent) : QObject(parent)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // The server dies with the test process, even when that one is killed.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &EngineServer::readOutput);
}

EngineServer::~EngineServer()
{
    stop();
}

QString EngineServer::program()
{
    return QStringLiteral("/usr/games/openarena-server");
}

quint16 EngineServer::freePort()
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress(QHostAddress::LocalHost), 0))
        return 0;
    return probe.localPort();
}

bool EngineServer::start(quint16 port, const QString& password, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        stop();
        return false;
    };
    if (!QFileInfo(program()).isExecutable())
        return fail(program() + " is missing: install the Debian package openarena-server (./setup.sh does)");
    if (!m_home.isValid())
        return fail(QStringLiteral("no scratch folder for the server's HOME"));
    stop();
    m_output.clear();
    m_port = port;
    m_password = password;

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_home.path());
    m_process.setProcessEnvironment(env);
    m_process.setWorkingDirectory(m_home.path());
    // net_enabled 1: IPv4 only, so nothing listens beyond 127.0.0.1.
    const QStringList args{
        "+set", "dedicated",     "1",  "+set", "net_ip",     "127.0.0.1", "+set", "net_port",     QString::number(port),
        "+set", "net_enabled",   "1",  "+set", "sv_master1", "",          "+set", "rconpassword", password,
        "+set", "sv_maxclients", "24", "+set", "fraglimit",  "0",         "+set", "timelimit",    "0",
        "+set", "bot_enable",    "1",  "+map", "oa_dm1"};
    m_process.start(program(), args);
    if (!m_process.waitForStarted(kStopWaitMs))
        return fail(program() + " did not start: " + m_process.errorString());
    if (!waitForOutput("AAS initialized", 1, kReadyTimeoutMs))
        return fail(QStringLiteral("the server was not ready within %1 s; it printed:\n").arg(kReadyTimeoutMs / 1000) +
                    QString::fromLocal8Bit(m_output.right(2000)));
    // A busy port makes the engine quietly take one of the next ones.
    const QByteArray socketLine = "Opening IP socket: 127.0.0.1:" + QByteArray::number(port) + "\n";
    if (!m_output.contains(socketLine))
        return fail(QStringLiteral("the server did not listen on 127.0.0.1:%1").arg(port));
    return true;
}

void EngineServer::command(const QString& line)
{
    if (running())
        m_process.write(line.toLatin1() + '\n');
}

bool EngineServer::addBots(const QStringList& names, QString* error)
{
    const int before = int(m_output.count("ClientBegin: "));
    for (const QString& name : names)
        command(QStringLiteral("addbot ") + name);
    if (waitForOutput("ClientBegin: ", before + int(names.size()), kBotTimeoutMs))
        return true;
    if (error)
        *error = QStringLiteral("not every bot of %1 entered the game").arg(names.join(QLatin1Char(' ')));
    return false;
}

QList<QByteArray> EngineServer::ask(const QString& command)
{
    QUdpSocket socket;
    QList<QByteArray> out;
    if (!socket.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0))
        return out;
    socket.writeDatagram("\xFF\xFF\xFF\xFFrcon " + m_password.toLatin1() + ' ' + command.toLatin1(),
                         QHostAddress(QHostAddress::LocalHost), m_port);
    while (out.size() < kMaxAnswerDatagrams) {
        if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(out.isEmpty() ? kAnswerWaitMs : kRestWaitMs))
            return out;
        while (socket.hasPendingDatagrams())
            out.append(socket.receiveDatagram().data());
    }
    return out;
}

QByteArray EngineServer::answerText(const QList<QByteArray>& datagrams)
{
    QByteArray text;
    for (const QByteArray& d : datagrams)
        text += d.startsWith(kEnginePrint) ? d.mid(kEnginePrint.size()) : d;
    return text;
}

void EngineServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    endProcess(m_process, kStopWaitMs);
    readOutput();
}

void EngineServer::readOutput()
{
    m_output += m_process.readAllStandardOutput();
}

bool EngineServer::waitForOutput(const QByteArray& text, int count, int timeoutMs)
{
    // Waits in the event loop, so the monitor and the bridge keep working meanwhile.
    const QDeadlineTimer deadline(timeoutMs);
    while (m_output.count(text) < count) {
        if (deadline.hasExpired() || !running())
            return m_output.count(text) >= count;
        QEventLoop loop;
        QTimer::singleShot(qMin<qint64>(deadline.remainingTime(), 100), &loop, &QEventLoop::quit);
        connect(&m_process, &QProcess::readyReadStandardOutput, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

}  // namespace skelvar::test
