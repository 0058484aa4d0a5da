#include "tests/support/enginebridge.h"

#include <QDateTime>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QTimer>
#include <QUdpSocket>

namespace skelvar::test {

namespace {

const QByteArray kOutOfBand("\xFF\xFF\xFF\xFF", 4);
const QByteArray kEnginePrint("\xFF\xFF\xFF\xFFprint\n", 10);
const QByteArray kTargetPrint("\xFF\xFF\xFF\xFF\x01print\n", 11);

// The engine's row: "%2i %5i %4i " (or CNCT/ZMBI), the name padded to 16
// printable characters, "^7" and the address padded to 39, then " %5i" rate.
const QRegularExpression
    kEngineRow(QStringLiteral("^\\s*(\\d+)\\s+(-?\\d+)\\s+(\\d+|CNCT|ZMBI)\\s(.*)\\^7(\\S+)\\s+(\\d+)\\s*$"));

QString targetRow(const QRegularExpressionMatch& m, const QString& address)
{
    const int num = m.captured(1).toInt();
    return QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
        .arg(num, 3)
        .arg(m.captured(2).toInt(), 5)
        .arg(m.captured(3), 4)
        .arg(m.captured(4).trimmed(), -15)
        .arg(0, 7)
        .arg(address, -21)
        .arg(1024 + num, 5)
        .arg(m.captured(6), 5);
}

}  // namespace

EngineBridge::EngineBridge(quint16 serverPort, QObject* parent, int lifetimeMs)
    : QObject(parent), m_front(new QUdpSocket(this)), m_back(new QUdpSocket(this)), m_serverPort(serverPort),
      m_started(QDateTime::currentMSecsSinceEpoch())
{
    m_front->bind(QHostAddress(QHostAddress::LocalHost), 0);
    m_back->bind(QHostAddress(QHostAddress::LocalHost), 0);
    connect(m_front, &QUdpSocket::readyRead, this, &EngineBridge::onClientDatagram);
    connect(m_back, &QUdpSocket::readyRead, this, &EngineBridge::onServerDatagram);
    // Stops by itself, whatever the test does.
    QTimer::singleShot(lifetimeMs, this, [this] {
        m_front->close();
        m_back->close();
    });
}

EngineBridge::~EngineBridge() = default;

quint16 EngineBridge::port() const
{
    return m_front->localPort();
}

QStringList EngineBridge::unanswered() const
{
    QStringList out;
    for (const Exchange& e : m_exchanges)
        if (e.answers == 0)
            out << e.command;
    return out;
}

QByteArray EngineBridge::toEngineRequest(const QByteArray& datagram)
{
    // The target game's servers skip one byte after the four 0xFF, whatever
    // it is; ioquake3 expects none. Everything after it goes on as it came,
    // a blank too, which breaks rcon on ioquake3 as it does on OpenMoHAA.
    if (!datagram.startsWith(kOutOfBand) || datagram.size() <= kOutOfBand.size())
        return datagram;
    return kOutOfBand + datagram.mid(kOutOfBand.size() + 1);
}

QString EngineBridge::toTargetStatus(const QString& engineLines,
                                     const std::function<QString(const QString&)>& addressOf)
{
    QString out;
    for (const QString& line : engineLines.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("cl score ping name"))) {
            out += QStringLiteral("num score ping name            lastmsg address               qport rate");
        } else if (line.startsWith(QLatin1String("-- -----"))) {
            out += QStringLiteral("--- ----- ---- --------------- ------- --------------------- ----- -----");
        } else if (const auto m = kEngineRow.match(line); m.hasMatch()) {
            const QString address = m.captured(5);
            out += targetRow(m, address == QLatin1String("bot") ? addressOf(m.captured(4).trimmed()) : address);
        } else {
            out += line;
        }
        out += QLatin1Char('\n');
    }
    out.chop(1);  // the split gave one piece more than there were line feeds
    return out;
}

QString EngineBridge::toTargetUserinfo(const QString& engineLines)
{
    QStringList lines = engineLines.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        const qsizetype blank = line.indexOf(QLatin1Char(' '));
        if (blank <= 0 || line.startsWith(QLatin1String("userinfo")))
            continue;
        // The name is padded to 20 and followed by one blank; a longer name by one blank.
        const qsizetype value = std::max<qsizetype>(blank, 20) + 1;
        if (value > line.size())
            continue;
        line = line.left(blank).leftJustified(21) + QStringLiteral(": ") + line.mid(value);
    }
    return lines.join(QLatin1Char('\n'));
}

QString EngineBridge::madeUpAddress(const QString& name)
{
    auto it = m_botAddresses.find(name);
    if (it == m_botAddresses.end()) {
        // From .101 up: this machine itself may hold a low address of the range.
        it = m_botAddresses.insert(name, QStringLiteral("192.0.2.%1").arg(101 + m_botAddresses.size()));
    }
    return *it;
}

void EngineBridge::onClientDatagram()
{
    while (m_front->hasPendingDatagrams()) {
        const QNetworkDatagram d = m_front->receiveDatagram();
        m_clientHost = d.senderAddress();
        m_clientPort = quint16(d.senderPort());
        const QByteArray request = toEngineRequest(d.data());

        Exchange e;
        e.atMs = QDateTime::currentMSecsSinceEpoch() - m_started;
        const QString text = QString::fromLatin1(request.mid(kOutOfBand.size()));
        if (text.startsWith(QLatin1String("rcon ")))
            e.command = text.section(QLatin1Char(' '), 2);
        else
            e.command = text;
        m_statusAnswer = e.command == QLatin1String("status");
        m_userinfoAnswer = e.command.startsWith(QLatin1String("dumpuser "));
        m_statusCarry.clear();
        m_exchanges.append(e);
        m_back->writeDatagram(request, QHostAddress(QHostAddress::LocalHost), m_serverPort);
    }
}

void EngineBridge::onServerDatagram()
{
    while (m_back->hasPendingDatagrams()) {
        const QNetworkDatagram d = m_back->receiveDatagram();
        if (quint16(d.senderPort()) != m_serverPort || m_clientPort == 0)
            continue;
        if (!m_exchanges.isEmpty())
            ++m_exchanges.last().answers;
        QByteArray reply = d.data();
        if (reply.startsWith(kEnginePrint)) {
            QString text = QString::fromLatin1(reply.mid(kEnginePrint.size()));
            if (m_statusAnswer) {
                // Rows are rewritten whole: a row cut between two datagrams
                // waits for the rest of it.
                text.prepend(m_statusCarry);
                const qsizetype cut = text.lastIndexOf(QLatin1Char('\n')) + 1;
                m_statusCarry = text.mid(cut);
                text = toTargetStatus(text.left(cut),
                                      [this](const QString& name) { return madeUpAddress(name) + ":27960"; });
                if (text.isEmpty())
                    continue;
            } else if (m_userinfoAnswer) {
                text = toTargetUserinfo(text);
            }
            reply = kTargetPrint + text.toLatin1();
        }
        m_front->writeDatagram(reply, m_clientHost, m_clientPort);
    }
}

}  // namespace skelvar::test
