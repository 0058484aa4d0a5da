#include "tests/support/openmohaapacket.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

namespace skelvar::test::openmohaa {

namespace {

constexpr int kMaxAnswerDatagrams = 64;
// The server's allowance per source address: a burst of 10, then one request
// for each period. The period is counted a little longer than the server's
// second, so a request never reaches it early.
constexpr int kBurst = 10;
constexpr int kPeriodMs = 1100;
constexpr int kLongestAllowanceWaitMs = 30000;

const QByteArray kConnectionless("\xFF\xFF\xFF\xFF", 4);
const QByteArray kAnswerPrefix("\xFF\xFF\xFF\xFF\x01", 5);
const QByteArray kPrintLine("print\n");

struct Allowance {
    int used = 0;
    qint64 lastMs = 0;
};

qint64 nowMs()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

void pause(qint64 ms)
{
    QEventLoop loop;
    QTimer::singleShot(int(ms), &loop, &QEventLoop::quit);
    loop.exec();
}

// The server's leaky bucket, kept for one source address: true when one more
// request fits now (and counts it), otherwise how long until it will.
bool takeAllowance(Allowance& a, qint64* waitMs)
{
    const qint64 now = nowMs();
    const qint64 interval = now - a.lastMs;
    const qint64 expired = interval / kPeriodMs;
    const qint64 remainder = interval % kPeriodMs;
    if (expired > a.used) {
        a.used = 0;
        a.lastMs = now;
    } else {
        a.used -= int(expired);
        a.lastMs = now - remainder;
    }
    if (a.used < kBurst) {
        ++a.used;
        return true;
    }
    *waitMs = kPeriodMs - (now - a.lastMs);
    return false;
}

// Waits in the event loop until the source address may send again. The table
// is looked up after each wait, since another helper may send meanwhile.
void waitForAllowance(quint32 source)
{
    static QHash<quint32, Allowance> allowances;
    const QDeadlineTimer deadline(kLongestAllowanceWaitMs);
    qint64 waitMs = 0;
    while (!takeAllowance(allowances[source], &waitMs) && !deadline.hasExpired())
        pause(qMax<qint64>(waitMs, 1));
}

}  // namespace

QByteArray request(const QByteArray& text)
{
    return QByteArray("\xFF\xFF\xFF\xFF\x02", 5) + text;
}

bool waitForDatagram(QUdpSocket& socket, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!socket.hasPendingDatagrams() && !deadline.hasExpired()) {
        QEventLoop loop;
        QObject::connect(&socket, &QUdpSocket::readyRead, &loop, &QEventLoop::quit);
        QTimer::singleShot(int(deadline.remainingTime()), &loop, &QEventLoop::quit);
        loop.exec();
    }
    return socket.hasPendingDatagrams();
}

QList<QByteArray> exchange(QUdpSocket& socket, quint16 port, const QByteArray& datagram)
{
    QList<QByteArray> out;
    while (socket.hasPendingDatagrams())
        socket.receiveDatagram();
    waitForAllowance(socket.localAddress().toIPv4Address());
    if (socket.writeDatagram(datagram, QHostAddress(QHostAddress::LocalHost), port) != datagram.size())
        return out;
    // A connected client also gets the game's own packets, many a second:
    // only connectionless ones are part of the answer, and only they extend
    // the wait.
    QDeadlineTimer deadline(kAnswerWaitMs);
    while (out.size() < kMaxAnswerDatagrams && waitForDatagram(socket, int(deadline.remainingTime()))) {
        while (socket.hasPendingDatagrams()) {
            const QByteArray d = socket.receiveDatagram().data();
            if (!d.startsWith(kConnectionless))
                continue;
            out.append(d);
            deadline.setRemainingTime(kRestWaitMs);
        }
    }
    return out;
}

QByteArray answerText(const QList<QByteArray>& datagrams)
{
    QByteArray text;
    for (QByteArray d : datagrams) {
        if (d.startsWith(kAnswerPrefix))
            d.remove(0, kAnswerPrefix.size());
        if (d.startsWith(kPrintLine))
            d.remove(0, kPrintLine.size());
        text += d;
    }
    return text;
}

}  // namespace skelvar::test::openmohaa
