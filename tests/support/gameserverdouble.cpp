#include "tests/support/gameserverdouble.h"

#include <QDateTime>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>

namespace skelvar::test {

namespace {
const QByteArray kConsolePrefix("\xFF\xFF\xFF\xFF\x02 rcon ", 11);
const QByteArray kStatusQuery("\xFF\xFF\xFF\xFF\x02 getstatus", 15);
constexpr int kMaxDatagrams = 100000;
}  // namespace

GameServerDouble::GameServerDouble(QObject* parent, int lifetimeMs)
    : QObject(parent), m_socket(new QUdpSocket(this)), m_started(QDateTime::currentMSecsSinceEpoch())
{
    m_socket->bind(QHostAddress(QHostAddress::LocalHost), 0);
    connect(m_socket, &QUdpSocket::readyRead, this, &GameServerDouble::onReadyRead);
    // Stops by itself, whatever the test does.
    QTimer::singleShot(lifetimeMs, this, [this] { m_socket->close(); });
}

GameServerDouble::~GameServerDouble() = default;

quint16 GameServerDouble::port() const
{
    return m_socket->localPort();
}

void GameServerDouble::queueReply(const QString& command, Reply reply)
{
    m_queued[command].push_back(std::move(reply));
}

void GameServerDouble::setReply(const QString& command, Reply reply)
{
    m_fixed.insert(command, std::move(reply));
}

QStringList GameServerDouble::commands() const
{
    QStringList out;
    for (const Received& r : m_received)
        out << (r.statusQuery ? QStringLiteral("getstatus") : r.command);
    return out;
}

QByteArray GameServerDouble::answer(const QByteArray& text)
{
    return QByteArray("\xFF\xFF\xFF\xFF\x01print\n", 11) + text;
}

GameServerDouble::Reply GameServerDouble::splitAnswer(const QByteArray& text, int chunk)
{
    Reply out;
    for (int at = 0; at < text.size(); at += chunk)
        out.append({answer(text.mid(at, chunk)), 0});
    return out;
}

QByteArray GameServerDouble::variableText(const QString& name, const QString& value)
{
    return "\"" + name.toLatin1() + "\" is:\"" + value.toLatin1() + "\" default:\"\"\n";
}

QByteArray GameServerDouble::engineVariableText(const QString& name, const QString& value, const QString& defaultValue)
{
    QByteArray text = "\"" + name.toLatin1() + "\" is:\"" + value.toLatin1() + "^7\"";
    if (value.compare(defaultValue, Qt::CaseInsensitive) == 0)
        text += ", the default";
    else
        text += " default:\"" + defaultValue.toLatin1() + "^7\"";
    return text + "\n";
}

GameServerDouble::Reply GameServerDouble::engineAnswer(const QByteArray& text)
{
    constexpr int kBuffer = 1007;
    Reply out;
    QByteArray chunk;
    for (qsizetype at = 0; at < text.size();) {
        qsizetype end = text.indexOf('\n', at);
        end = end < 0 ? text.size() : end + 1;
        QByteArray line = text.mid(at, end - at);
        at = end;
        if (chunk.size() + line.size() > kBuffer && !chunk.isEmpty()) {
            out.append({answer(chunk), 0});
            chunk.clear();
        }
        while (line.size() > kBuffer) {
            out.append({answer(line.left(kBuffer)), 0});
            line.remove(0, kBuffer);
        }
        chunk += line;
    }
    out.append({answer(chunk), 0});  // the engines always flush, also an empty print
    return out;
}

QByteArray GameServerDouble::notOnServerText(const QString& name)
{
    return "Player " + name.toLatin1() + " is not on the server\n";
}

void GameServerDouble::sendToLastClient(const QByteArray& bytes)
{
    if (m_lastPort)
        m_socket->writeDatagram(bytes, m_lastFrom, m_lastPort);
}

void GameServerDouble::onReadyRead()
{
    while (m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram d = m_socket->receiveDatagram();
        if (m_received.size() >= kMaxDatagrams)
            continue;
        Received r;
        r.raw = d.data();
        r.from = d.senderAddress();
        r.fromPort = quint16(d.senderPort());
        r.atMs = QDateTime::currentMSecsSinceEpoch() - m_started;
        if (r.raw == kStatusQuery) {
            r.statusQuery = true;
        } else if (r.raw.startsWith(kConsolePrefix)) {
            const QString rest = QString::fromLatin1(r.raw.mid(kConsolePrefix.size()));
            const qsizetype blank = rest.indexOf(QLatin1Char(' '));
            r.password = blank < 0 ? rest : rest.left(blank);
            r.command = blank < 0 ? QString() : rest.mid(blank + 1);
        } else {
            m_received.append(r);
            emit datagramReceived();
            continue;  // not ours: no answer
        }
        r.dropped = !m_answering || overRateLimit(r.from, r.atMs);
        m_received.append(r);
        if (r.dropped) {
            emit datagramReceived();
            continue;
        }
        m_lastFrom = r.from;
        m_lastPort = r.fromPort;
        sendReply(replyFor(r), r.from, r.fromPort);
        emit datagramReceived();
    }
}

int GameServerDouble::droppedCount() const
{
    return int(std::count_if(m_received.begin(), m_received.end(), [](const Received& r) { return r.dropped; }));
}

bool GameServerDouble::overRateLimit(const QHostAddress& from, qint64 nowMs)
{
    if (m_ratePeriodMs <= 0)
        return false;
    // The engines' leaky bucket, step for step.
    const QHostAddress v4(from.toIPv4Address());
    Bucket& b = m_buckets[(v4.isNull() ? from : v4).toString()];
    const qint64 interval = nowMs - b.lastTime;
    const qint64 expired = interval / m_ratePeriodMs;
    if (expired > b.burst || interval < 0) {
        b.burst = 0;
        b.lastTime = nowMs;
    } else {
        b.burst -= int(expired);
        b.lastTime = nowMs - interval % m_ratePeriodMs;
    }
    if (b.burst < m_rateBurst) {
        ++b.burst;
        return false;
    }
    return true;
}

GameServerDouble::Reply GameServerDouble::replyFor(const Received& r)
{
    if (m_handler) {
        if (auto reply = m_handler(r))
            return *reply;
    }
    const QString key = r.statusQuery ? QStringLiteral("getstatus") : r.command;
    if (!r.statusQuery && r.password != m_password)
        return {datagram("Bad rconpassword.\n")};
    auto q = m_queued.find(key);
    if (q != m_queued.end() && !q->empty()) {
        Reply reply = q->front();
        q->pop_front();
        return reply;
    }
    if (m_fixed.contains(key))
        return m_fixed.value(key);
    if (r.statusQuery)
        return {};
    // The console's own behaviour for variables.
    const QString cmd = r.command.trimmed();
    if (cmd.startsWith(QLatin1String("set "))) {
        const QString rest = cmd.mid(4);
        const qsizetype blank = rest.indexOf(QLatin1Char(' '));
        const QString name = blank < 0 ? rest : rest.left(blank);
        QString value = blank < 0 ? QString() : rest.mid(blank + 1);
        if (value == QLatin1String("\"\""))
            value.clear();
        setVariable(name, value);
        return {datagram("")};
    }
    const bool engine = m_dialect == Dialect::Engine;
    if (!cmd.contains(QLatin1Char(' ')) && m_vars.contains(cmd)) {
        const QString value = m_vars.value(cmd);
        return {datagram(engine ? engineVariableText(cmd, value, m_defaults.value(cmd)) : variableText(cmd, value))};
    }
    static const QString dumpuser = QStringLiteral("dumpuser \"");
    if (engine && r.command.startsWith(dumpuser))
        return engineAnswer(notOnServerText(r.command.mid(dumpuser.size())));
    if (engine)
        return {datagram("unknown command: " + cmd.toLatin1() + "\n")};
    return {datagram("Unknown command \"" + cmd.toLatin1() + "\"\n")};
}

void GameServerDouble::sendReply(const Reply& reply, const QHostAddress& to, quint16 port)
{
    for (const Datagram& d : reply) {
        if (d.delayMs <= 0) {
            m_socket->writeDatagram(d.bytes, to, port);
        } else {
            const QByteArray bytes = d.bytes;
            QTimer::singleShot(d.delayMs, this, [this, bytes, to, port] { m_socket->writeDatagram(bytes, to, port); });
        }
    }
}

}  // namespace skelvar::test
