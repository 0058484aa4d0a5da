#include "tests/support/gameserverdouble.h"

#include <QDateTime>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>

namespace skelvar::test {

namespace {
const QByteArray kOutOfBand("\xFF\xFF\xFF\xFF", 4);
constexpr int kMaxDatagrams = 100000;

// The request as the engines read it: the byte after the four 0xFF is
// skipped whatever it is, the words of the line decide what it is, and the
// command of an rcon request is the raw line past four characters (taken to
// be "rcon") and the password. A blank before "rcon" so makes the password
// the command.
void readRequest(GameServerDouble::Received& r)
{
    if (!r.raw.startsWith(kOutOfBand) || r.raw.size() < 6)
        return;
    QByteArray line = r.raw.mid(5);
    if (const qsizetype lf = line.indexOf('\n'); lf >= 0)
        line.truncate(lf);
    const QList<QByteArray> words = line.simplified().split(' ');
    const QByteArray first = words.value(0).toLower();
    if (first == "getstatus") {
        r.statusQuery = true;
        return;
    }
    if (first != "rcon")
        return;
    r.password = QString::fromLatin1(words.value(1));
    qsizetype at = 4;
    while (at < line.size() && line.at(at) == ' ')
        ++at;
    while (at < line.size() && line.at(at) != ' ')
        ++at;
    while (at < line.size() && line.at(at) == ' ')
        ++at;
    r.command = QString::fromLatin1(line.mid(at));
    r.console = true;
}

QString withoutColours(const QString& name)
{
    QString out;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name.at(i) == QLatin1Char('^') && i + 1 < name.size() && name.at(i + 1) != QLatin1Char('^')) {
            ++i;
            continue;
        }
        out += name.at(i);
    }
    return out;
}

// The first word of a console line and the rest, as the engines tokenize:
// a double quote opens a word that runs to the next one or the line's end.
QString firstArgument(const QString& rest)
{
    const QString text = rest.trimmed();
    if (text.startsWith(QLatin1Char('"'))) {
        const qsizetype close = text.indexOf(QLatin1Char('"'), 1);
        return close < 0 ? text.mid(1) : text.mid(1, close - 1);
    }
    return text.section(QLatin1Char(' '), 0, 0);
}
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

QByteArray GameServerDouble::openMohaaVariableText(const QString& name, const QString& value,
                                                   const QString& defaultValue)
{
    QByteArray text = "\"" + name.toLatin1() + "\" is:\"" + value.toLatin1() + "\"";
    if (value == defaultValue)
        text += ", the default";
    else
        text += " default:\"" + defaultValue.toLatin1() + "\"";
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

void GameServerDouble::setPlayers(const QList<Player>& players)
{
    m_players = players;
    m_hasPlayers = true;
}

QByteArray GameServerDouble::statusText(const QString& map, const QList<Player>& players)
{
    QByteArray text = "map: " + map.toLatin1() + "\n" +
                      "num score ping name            lastmsg address               qport rate  \n" +
                      "--- ----- ---- --------------- ------- --------------------- ----- ----- \n";
    for (const Player& p : players) {
        const QString address = p.ip + QLatin1Char(':') + QString::number(p.port);
        text += QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8\n")
                    .arg(p.num, 3)
                    .arg(0, 5)
                    .arg(p.ping, 4)
                    .arg(p.name, -15)
                    .arg(0, 7)
                    .arg(address, -21)
                    .arg(1024 + p.num, 5)
                    .arg(p.rate, 5)
                    .toLatin1();
    }
    return text + "\n";
}

const GameServerDouble::Player* GameServerDouble::playerByHandle(const QString& handle) const
{
    bool digits = !handle.isEmpty();
    for (const QChar c : handle)
        digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    if (digits) {
        // A client on his way out still holds his slot and his name.
        for (const Player& p : m_players)
            if (p.num == handle.toInt())
                return &p;
    }
    for (const Player& p : m_players) {
        if (p.name.compare(handle, Qt::CaseInsensitive) == 0 ||
            withoutColours(p.name).compare(handle, Qt::CaseInsensitive) == 0)
            return &p;
    }
    return nullptr;
}

// status, dumpuser and clientkick against the players' table.
std::optional<GameServerDouble::Reply> GameServerDouble::playerCommand(const QString& command)
{
    if (!m_hasPlayers)
        return std::nullopt;
    const QString verb = command.section(QLatin1Char(' '), 0, 0);
    const QString rest = command.section(QLatin1Char(' '), 1);
    if (verb == QLatin1String("status"))
        return engineAnswer(statusText(QStringLiteral("omtest"), m_players));
    if (verb == QLatin1String("dumpuser")) {
        const QString handle = firstArgument(rest);
        const Player* p = playerByHandle(handle);
        if (!p)
            return engineAnswer(notOnServerText(handle));
        QByteArray text = "userinfo\n--------\n";
        QList<std::pair<QString, QString>> lines{{QStringLiteral("ip"), p->ip}, {QStringLiteral("name"), p->name}};
        lines += p->userinfo;
        for (const auto& [key, value] : lines)
            text += key.leftJustified(20).toLatin1() + " : " + value.toLatin1() + "\n";
        return engineAnswer(text);
    }
    if (verb == QLatin1String("clientkick")) {
        const QString slot = firstArgument(rest);
        for (Player& p : m_players) {
            if (QString::number(p.num) != slot)
                continue;
            if (p.ping == QLatin1String("ZMBI"))
                return engineAnswer("");
            {
                p.ping = QStringLiteral("ZMBI");
                return engineAnswer("broadcast: print \"\x02" + p.name.toLatin1() + " was kicked\n\"\n");
            }
        }
        return engineAnswer("Client " + slot.toLatin1() + " is not active\n");
    }
    return std::nullopt;
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
        readRequest(r);
        if (!r.statusQuery && !r.console) {
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
    if (auto reply = playerCommand(r.command))
        return *reply;
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
    const bool engine = m_dialect != Dialect::Original;
    if (!cmd.contains(QLatin1Char(' ')) && m_vars.contains(cmd)) {
        const QString value = m_vars.value(cmd);
        if (m_dialect == Dialect::OpenMohaa)
            return {datagram(openMohaaVariableText(cmd, value, m_defaults.value(cmd)))};
        return {datagram(engine ? engineVariableText(cmd, value, m_defaults.value(cmd)) : variableText(cmd, value))};
    }
    static const QString dumpuser = QStringLiteral("dumpuser \"");
    if (engine && r.command.startsWith(dumpuser))
        return engineAnswer(notOnServerText(r.command.mid(dumpuser.size())));
    if (m_dialect == Dialect::OpenMohaa)
        return {datagram("")};
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
