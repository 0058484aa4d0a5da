#include "SkelvarRcon/transport/rcontransport.h"

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
        return kPrefix + QByteArray(" getstatus");
    return kPrefix + QByteArray(" rcon ") + password.toLatin1() + ' ' + command.toLatin1();
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
    for (const char* p = joined.constData(), *e = p + joined.size();
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

RconTransport::RconTransport(QObject* parent, int replyWaitMs) : QObject(parent), waitMs_(replyWaitMs)
{
    timer2_ = new QTimer(this);
    timer2_->setObjectName(QStringLiteral("Timer2"));
    timer2_->setSingleShot(true);
    // The wait is the same 700 ms every time, never a little less.
    timer2_->setTimerType(Qt::PreciseTimer);
    connect(timer2_, &QTimer::timeout, this, &RconTransport::onWaitOver);
    pacingTimer_ = new QTimer(this);
    pacingTimer_->setSingleShot(true);
    pacingTimer_->setTimerType(Qt::PreciseTimer);
    connect(pacingTimer_, &QTimer::timeout, this, &RconTransport::launch);
    clock_.start();
}

RconTransport::~RconTransport()
{
    if (lookupId_ >= 0)
        QHostInfo::abortHostLookup(lookupId_);
}

void RconTransport::resetActivityLog()
{
    lists::emptyFile(logPath_);
}

void RconTransport::appendLog(const QByteArray& bytes)
{
    // Log trouble never stops a request.
    lists::appendToFile(logPath_, bytes);
}

quint64 RconTransport::request(const QString& command, const RconTarget& target, Callback done, Kind kind)
{
    const quint64 id = nextId_++;
    if (shutDown_) {
        // Nothing goes out after exit began; the caller still gets its (empty) answer.
        callbacks_.insert(id, std::move(done));
        QTimer::singleShot(0, this, [this, id] {
            if (auto cb = callbacks_.take(id))
                cb(QString());
        });
        return id;
    }
    callbacks_.insert(id, std::move(done));
    queue_.push_back({id, command, target, kind});
    if (!current_)
        startNext();
    return id;
}

void RconTransport::cancel(quint64 id)
{
    callbacks_.remove(id);
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        if (it->id == id) {
            queue_.erase(it);
            break;
        }
    }
}

void RconTransport::startNext()
{
    if (queue_.empty() || shutDown_)
        return;
    current_ = queue_.front();
    queue_.pop_front();
    datagrams_.clear();
    peer_.clear();
    peerPort_ = 0;

    appendLog("Rcon request: \r\n" + current_->command.toLatin1() + "\r\n");
    emit requestStarted();

    launch();
}

double RconTransport::tokenPeriodMs() const
{
    return pacing_.periodMs * (100 + kPacingMarginPercent) / 100.0;
}

// The requests in the bucket as we model it at `now`. The server drains one
// per period from the interval between two arrivals; without carrying the
// remainder, our count is never below its count, so a request we let go is
// never one it drops.
int RconTransport::tokensHeld(qint64 now) const
{
    if (lastSendMs_ < 0 || pacing_.periodMs < 1)
        return 0;
    return std::max(0, tokensSpent_ - int((now - lastSendMs_) / tokenPeriodMs()));
}

int RconTransport::pacingDelayMs() const
{
    if (pacing_.burst < 1)
        return 0;
    const qint64 now = clock_.elapsed();
    if (tokensHeld(now) < pacing_.burst)
        return 0;
    const qint64 until = lastSendMs_ + qint64(std::ceil(tokenPeriodMs() * (tokensSpent_ - pacing_.burst + 1)));
    return int(std::max<qint64>(1, until - now));
}

void RconTransport::spendToken()
{
    const qint64 now = clock_.elapsed();
    tokensSpent_ = tokensHeld(now) + 1;
    lastSendMs_ = now;
}

void RconTransport::launch()
{
    if (!current_ || shutDown_)
        return;
    // The time between two requests is the longer of the answer window and
    // the bucket's wait.
    if (const int delay = pacingDelayMs(); delay > 0) {
        pacingTimer_->start(delay);
        return;
    }
    // A fresh socket per request: a datagram that arrives late for an earlier
    // request reaches the old, closed port and can never be taken as this answer.
    delete socket_;
    socket_ = new QUdpSocket(this);
    connect(socket_, &QUdpSocket::readyRead, this, &RconTransport::onReadyRead);

    timer2_->start(waitMs_);

    const auto port = parsePort(current_->target.port);
    const QString host = current_->target.host.trimmed();
    if (!port || host.isEmpty())
        return;  // nothing can be sent; the wait runs out with an empty answer
    peerPort_ = *port;
    QHostAddress addr;
    if (addr.setAddress(host)) {
        sendDatagram(addr);
    } else {
        lookupId_ = QHostInfo::lookupHost(host, this, &RconTransport::onHostFound);
    }
}

void RconTransport::onHostFound(const QHostInfo& info)
{
    if (info.lookupId() != lookupId_)
        return;
    lookupId_ = -1;
    if (!current_ || !timer2_->isActive())
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
    peer_ = addr;
    const bool v6 = addr.protocol() == QAbstractSocket::IPv6Protocol;
    if (!socket_->bind(v6 ? QHostAddress(QHostAddress::AnyIPv6) : QHostAddress(QHostAddress::AnyIPv4), 0))
        return;
    spendToken();
    socket_->writeDatagram(encodeRequest(current_->command, current_->target.password), addr, peerPort_);
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
        if (sock != socket_ || !current_ || peer_.isNull())
            continue;
        // Only the server we asked can answer.
        if (d.senderPort() != peerPort_ || !d.senderAddress().isEqual(peer_, QHostAddress::ConvertV4MappedToIPv4))
            continue;
        datagrams_.append(d.data());
    }
}

void RconTransport::onWaitOver()
{
    if (!current_)
        return;
    if (lookupId_ >= 0) {
        QHostInfo::abortHostLookup(lookupId_);
        lookupId_ = -1;
    }
    if (socket_) {
        // An answer that came within the wait while the event loop was busy
        // elsewhere is still an answer.
        takeDatagrams(socket_);
        socket_->close();
    }
    const bool silent = datagrams_.isEmpty();
    const QString answer = cleanReply(datagrams_);
    datagrams_.clear();
    Pending done = *current_;
    current_.reset();
    emit requestFinished();
    appendLog("Rcon output:\r\n" + answer.toLatin1() + "\r\n");
    const quint64 id = done.id;

    if (silent && done.kind == Kind::Read && callbacks_.contains(id)) {
        if (!done.retried) {
            // Once more, after the pacing wait, ahead of anything queued.
            done.retried = true;
            queue_.push_front(done);
            startNext();
            return;
        }
        emit readUnanswered(done.command);
    }
    if (silent)
        ++unanswered_;

    // The caller resumes from the event loop, after the next request is out.
    QTimer::singleShot(0, this, [this, id, answer] {
        if (auto cb = callbacks_.take(id))
            cb(answer);
    });
    startNext();
}

void RconTransport::shutdown()
{
    shutDown_ = true;
    queue_.clear();
    timer2_->stop();
    pacingTimer_->stop();
    if (lookupId_ >= 0) {
        QHostInfo::abortHostLookup(lookupId_);
        lookupId_ = -1;
    }
    if (current_) {
        current_.reset();
        emit requestFinished();
    }
    if (socket_)
        socket_->close();
    // Waiting callers get an empty answer so their coroutines can finish.
    const auto ids = callbacks_.keys();
    for (quint64 id : ids) {
        QTimer::singleShot(0, this, [this, id] {
            if (auto cb = callbacks_.take(id))
                cb(QString());
        });
    }
}

}  // namespace skelvar::rcon
