// Remote-console transport: the cost of cleaning and encoding datagrams, and
// what a request costs beyond its fixed reply wait against the UDP double.

#include "SkelvarRcon/transport/rcontransport.h"
#include "tests/support/gameserverdouble.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

using namespace skelvar::rcon;
using skelvar::test::GameServerDouble;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);

    // 10,000 answer datagrams of 1,400 bytes, each cleaned, and as many commands encoded.
    QByteArray body;
    while (body.size() < 1400 - 11)
        body += "12    0   48 Player printer name  0 10.1.2.3:12203  4711 25000\n";
    const QByteArray datagram = GameServerDouble::answer(body.left(1400 - 11));
    constexpr int kCount = 10000;
    qsizetype sink = 0;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < kCount; ++i) {
        sink += cleanReply({datagram}).size();
        sink += encodeRequest(QStringLiteral("dumpuser \"Player printer name"), QStringLiteral("secret")).size();
    }
    const double perDatagramUs = double(t.nsecsElapsed()) / 1000.0 / kCount;
    std::printf("clean+encode: %d datagrams of %d bytes, %.3f us per datagram (target < 2 us) [%lld]\n", kCount,
                int(datagram.size()), perDatagramUs, static_cast<long long>(sink));

    // 20 requests in a row: wall time beyond the fixed wait.
    QTemporaryDir dir;
    GameServerDouble server;
    server.setReply(QStringLiteral("status"), GameServerDouble::splitAnswer(body, 1000));
    // The cost of the wait itself: no rate limit, no pacing.
    server.setRateLimit(0);
    RconTransport rcon;
    rcon.setPacingForTests({0, 0});
    rcon.setActivityLogPath(dir.filePath(QStringLiteral("activity.log")));
    rcon.setTarget({server.host(), server.portText(), server.password()});
    constexpr int kRequests = 20;
    int done = 0;
    QElapsedTimer wall;
    wall.start();
    std::function<void()> next = [&] {
        rcon.request(QStringLiteral("status"), [&](const QString&) {
            if (++done < kRequests)
                next();
            else
                app.quit();
        });
    };
    next();
    app.exec();
    const double meanMs = double(wall.nsecsElapsed()) / 1e6 / kRequests;
    std::printf("requests: %d, mean %.2f ms each, %.2f ms beyond the %d ms wait (target < 5 ms)\n", kRequests, meanMs,
                meanMs - RconTransport::kReplyWaitMs, RconTransport::kReplyWaitMs);
    return 0;
}
