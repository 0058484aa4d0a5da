#include "SkelvarRcon/transport/rcontransport.h"

#include "SkelvarRcon/store/controlnames.h"
#include "lists/fileaccess.h"

#include <QHostInfo>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>
#include <QVarLengthArray>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace skelvar::rcon {

namespace {

const QByteArray kPrefix("\xFF\xFF\xFF\xFF\x02", 5);
constexpr int kHeaderLength = 11;  // four 0xFF, the type byte, "print", a line feed
// A console answer's own header; only this is framing inside an answer.
const QByteArrayView kAnswerHeader("\xFF\xFF\xFF\xFF\x01print\n", kHeaderLength);

std::optional<quint16> parsePort(const QString& text)
{
    bool ok = false;
    const uint port = text.trimmed().toUInt(&ok);
    if (!ok || port < 1 || port > 65535)
        return std::nullopt;
    return quint16(port);
}

}  // namespace

QByteArray encodeRequest(const QString& command, const QString& password)
{
    if (command == QLatin1String("getstatus"))
        return kPrefix + QByteArray("getstatus");
    return kPrefix + QByteArray("rcon ") + password.toLatin1() + ' ' + command.toLatin1();
}

namespace {

// Appends one datagram's text to `out`, its framing removed.
void appendStripped(const QByteArray& datagram, QByteArray& out)
{
    if (datagram.size() < kHeaderLength) {
        out += datagram;
        return;
    }
    // The first header goes whatever it holds. After it, "print" is a player's
    // name or a value ("printer" keeps his name); only a whole further header
    // that the datagram carries is framing.
    const QByteArrayView text = QByteArrayView(datagram).sliced(kHeaderLength);
    // memchr for the first 0xFF: far faster than a general substring search.
    const char* base = text.data();
    const qsizetype size = text.size();
    qsizetype from = 0;
    qsizetype at = 0;
    while (at < size) {
        const void* hit = std::memchr(base + at, 0xFF, size_t(size - at));
        if (!hit)
            break;
        at = static_cast<const char*>(hit) - base;
        if (!text.sliced(at).startsWith(kAnswerHeader)) {
            ++at;
            continue;
        }
        out += text.sliced(from, at - from);
        from = at = at + kHeaderLength;
    }
    out += text.sliced(from);
}

}  // namespace

QString stripFraming(const QByteArray& datagram)
{
    QByteArray out;
    appendStripped(datagram, out);
    return QString::fromLatin1(out);
}

QString cleanReply(const QList<QByteArray>& datagrams)
{
    QByteArray joined;
    for (const QByteArray& d : datagrams)
        appendStripped(d, joined);
    // Every line feed becomes carriage return plus line feed.
    const QString plain = QString::fromLatin1(joined);
    QVarLengthArray<qsizetype, 64> feeds;
    for (const char *p = joined.constData(), *e = p + joined.size();
         (p = static_cast<const char*>(std::memchr(p, '\n', size_t(e - p)))); ++p)
        feeds.append(p - joined.constData());
    if (feeds.isEmpty())
        return plain;
    QString text(plain.size() + feeds.size(), Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    const char16_t* in = reinterpret_cast<const char16_t*>(plain.constData());
    qsizetype from = 0;
    for (const qsizetype lf : feeds) {
        std::copy(in + from, in + lf, out);
        out += lf - from;
        *out++ = u'\r';
        *out++ = u'\n';
        from = lf + 1;
    }
    std::copy(in + from, in + plain.size(), out);
    return text;
}

QString rconSafe(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            out += QLatin1Char(' ');
        else if (c == QLatin1Char(';') || c == QLatin1Char('"') || c.unicode() < 0x20)
            continue;
        else
            out += c;
    }
    return out;
}

QString rconArgument(const QString& text)
{
    const QString safe = rconSafe(text);
    if (!safe.contains(QLatin1String("//")) && !safe.contains(QLatin1String("/*")))
        return safe;
    return QLatin1Char('"') + safe + QLatin1Char('"');
}

RconTransport::RconTransport(QObject* parent, int replyWaitMs) : QObject(parent), m_waitMs(replyWaitMs)
{
    m_replyTimer = new QTimer(this);
    m_replyTimer->setObjectName(QLatin1String(control::rconTimer));
    m_replyTimer->setSingleShot(true);
    // The wait is the same 700 ms every time, never a little less.
    m_replyTimer->setTimerType(Qt::PreciseTimer);
    connect(m_replyTimer, &QTimer::timeout, this, &RconTransport::onWaitOver);
    m_pacingTimer = new QTimer(this);
    m_pacingTimer->setSingleShot(true);
    m_pacingTimer->setTimerType(Qt::PreciseTimer);
    connect(m_pacingTimer, &QTimer::timeout, this, &RconTransport::launch);
    m_clock.start();
}

RconTransport::~RconTransport()
{
    if (m_lookupId >= 0)
        QHostInfo::abortHostLookup(m_lookupId);
}

void RconTransport::resetActivityLog()
{
    lists::emptyFile(m_logPath);
}

void RconTransport::appendLog(const QByteArray& bytes)
{
    // Log trouble never stops a request.
    lists::appendToFile(m_logPath, bytes);
}

quint64 RconTransport::request(const QString& command, const RconTarget& target, Callback done, Kind kind)
{
    const quint64 id = m_nextId++;
    if (m_shutDown) {
        // Nothing goes out after exit began; the caller still gets its (empty) answer.
        m_callbacks.insert(id, std::move(done));
        QTimer::singleShot(0, this, [this, id] {
            if (auto cb = m_callbacks.take(id))
                cb(Reply());
        });
        return id;
    }
    m_callbacks.insert(id, std::move(done));
    m_queue.push_back({id, command, target, kind});
    if (!m_current)
        startNext();
    return id;
}

void RconTransport::cancel(quint64 id)
{
    m_callbacks.remove(id);
    for (auto it = m_queue.begin(); it != m_queue.end(); ++it) {
        if (it->id == id) {
            m_queue.erase(it);
            break;
        }
    }
}

void RconTransport::startNext()
{
    if (m_queue.empty() || m_shutDown)
        return;
    m_current = m_queue.front();
    m_queue.pop_front();
    m_datagrams.clear();
    m_peer.clear();
    m_peerPort = 0;

    appendLog("Rcon request: \r\n" + m_current->command.toLatin1() + "\r\n");
    emit requestStarted();

    launch();
}

double RconTransport::tokenPeriodMs() const
{
    return m_pacing.periodMs * (100 + kPacingMarginPercent) / 100.0;
}

// The requests in the bucket as we model it at `now`. The server drains one
// per period from the interval between two arrivals; without carrying the
// remainder, our count is never below its count, so a request we let go is
// never one it drops.
int RconTransport::tokensHeld(qint64 now) const
{
    if (m_lastSendMs < 0 || m_pacing.periodMs < 1)
        return 0;
    return std::max(0, m_tokensSpent - int((now - m_lastSendMs) / tokenPeriodMs()));
}

int RconTransport::pacingDelayMs() const
{
    if (m_pacing.burst < 1)
        return 0;
    const qint64 now = m_clock.elapsed();
    if (tokensHeld(now) < m_pacing.burst)
        return 0;
    const qint64 until = m_lastSendMs + qint64(std::ceil(tokenPeriodMs() * (m_tokensSpent - m_pacing.burst + 1)));
    return int(std::max<qint64>(1, until - now));
}

void RconTransport::spendToken()
{
    const qint64 now = m_clock.elapsed();
    m_tokensSpent = tokensHeld(now) + 1;
    m_lastSendMs = now;
}

void RconTransport::launch()
{
    if (!m_current || m_shutDown)
        return;
    // The time between two requests is the longer of the answer window and
    // the bucket's wait.
    if (const int delay = pacingDelayMs(); delay > 0) {
        m_pacingTimer->start(delay);
        return;
    }
    // A fresh socket per request: a datagram that arrives late for an earlier
    // request reaches the old, closed port and can never be taken as this answer.
    delete m_socket;
    m_socket = new QUdpSocket(this);
    connect(m_socket, &QUdpSocket::readyRead, this, &RconTransport::onReadyRead);

    m_replyTimer->start(m_waitMs);

    const auto port = parsePort(m_current->target.port);
    const QString host = m_current->target.host.trimmed();
    if (!port || host.isEmpty())
        return;  // nothing can be sent; the wait runs out with an empty answer
    m_peerPort = *port;
    QHostAddress addr;
    if (addr.setAddress(host)) {
        sendDatagram(addr);
    } else {
        m_lookupId = QHostInfo::lookupHost(host, this, &RconTransport::onHostFound);
    }
}

void RconTransport::onHostFound(const QHostInfo& info)
{
    if (info.lookupId() != m_lookupId)
        return;
    m_lookupId = -1;
    if (!m_current || !m_replyTimer->isActive())
        return;
    const auto addresses = info.addresses();
    for (const QHostAddress& a : addresses) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol) {
            sendDatagram(a);
            return;
        }
    }
    if (!addresses.isEmpty())
        sendDatagram(addresses.first());
}

void RconTransport::sendDatagram(const QHostAddress& addr)
{
    m_peer = addr;
    const bool v6 = addr.protocol() == QAbstractSocket::IPv6Protocol;
    if (!m_socket->bind(v6 ? QHostAddress(QHostAddress::AnyIPv6) : QHostAddress(QHostAddress::AnyIPv4), 0))
        return;
    spendToken();
    m_socket->writeDatagram(encodeRequest(m_current->command, m_current->target.password), addr, m_peerPort);
}

void RconTransport::onReadyRead()
{
    takeDatagrams(qobject_cast<QUdpSocket*>(sender()));
}

void RconTransport::takeDatagrams(QUdpSocket* sock)
{
    if (!sock || sock->state() != QAbstractSocket::BoundState)
        return;  // nothing was sent from it
    while (sock->hasPendingDatagrams()) {
        const QNetworkDatagram d = sock->receiveDatagram();
        if (sock != m_socket || !m_current || m_peer.isNull())
            continue;
        // Only the server we asked can answer.
        if (d.senderPort() != m_peerPort || !d.senderAddress().isEqual(m_peer, QHostAddress::ConvertV4MappedToIPv4))
            continue;
        m_datagrams.append(d.data());
    }
}

void RconTransport::onWaitOver()
{
    if (!m_current)
        return;
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    if (m_socket) {
        // An answer that came within the wait while the event loop was busy
        // elsewhere is still an answer.
        takeDatagrams(m_socket);
        m_socket->close();
    }
    const bool silent = m_datagrams.isEmpty();
    const QString answer = cleanReply(m_datagrams);
    m_datagrams.clear();
    Pending done = *m_current;
    m_current.reset();
    emit requestFinished();
    appendLog("Rcon output:\r\n" + answer.toLatin1() + "\r\n");
    const quint64 id = done.id;

    if (silent && done.kind == Kind::Read && m_callbacks.contains(id)) {
        if (!done.retried) {
            // Once more, after the pacing wait, ahead of anything queued.
            done.retried = true;
            m_queue.push_front(done);
            startNext();
            return;
        }
        emit readUnanswered(done.command);
    }
    if (silent)
        ++m_unanswered;

    // The caller resumes from the event loop, after the next request is out.
    QTimer::singleShot(0, this, [this, id, answer, silent] {
        if (auto cb = m_callbacks.take(id))
            cb(Reply{answer, !silent});
    });
    startNext();
}

void RconTransport::shutdown()
{
    m_shutDown = true;
    m_queue.clear();
    m_replyTimer->stop();
    m_pacingTimer->stop();
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    if (m_current) {
        m_current.reset();
        emit requestFinished();
    }
    if (m_socket)
        m_socket->close();
    // Waiting callers get an empty answer so their coroutines can finish.
    const auto ids = m_callbacks.keys();
    for (quint64 id : ids) {
        QTimer::singleShot(0, this, [this, id] {
            if (auto cb = m_callbacks.take(id))
                cb(Reply());
        });
    }
}

}  // namespace skelvar::rcon
