// Times the shared ban list on a private PostgreSQL server (the tests' own,
// tests/support/postgresserver.h): Ostrel --bans-db importing 100,000
// addresses into an empty database, a monitor's first load of those 100,000
// bans, and the time from a ban added on one monitor to its arrival in
// another's Bans list, both holding the 100,000, over 100 bans.
#include "SkelvarRcon/app/monitor.h"
#include "SkelvarRcon/penalties/banmatch.h"
#include "tests/support/postgresserver.h"
#include "tests/support/scriptedprompter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace skelvar;
using namespace skelvar::rcon;

namespace {

constexpr int kCount = 100000;
constexpr int kArrivals = 100;
constexpr int kWaitMs = 30000;

QString urlOf(const test::PostgresServer& server)
{
    return QStringLiteral("postgresql://%1@%2:%3/%4")
        .arg(server.userName(), server.host())
        .arg(server.port())
        .arg(server.databaseName());
}

// Runs the event loop until `done` holds or kWaitMs pass; false on the timeout.
template <typename Done>
bool waitFor(const RecordList& list, Done done)
{
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > kWaitMs)
            return false;
        QEventLoop loop;
        QObject::connect(&list, &RecordList::changed, &loop, &QEventLoop::quit);
        QTimer::singleShot(50, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// A monitor without a server, sharing its Bans list.
struct SharingMonitor {
    explicit SharingMonitor(const QString& url)
    {
        MonitorOptions options;
        options.folder = dir.path();
        options.bansDatabase = url;
        monitor = std::make_unique<Monitor>(prompter, options);
    }
    RecordList& bans() { return monitor->lists.bans(); }

    QTemporaryDir dir;
    test::ScriptedPrompter prompter;
    std::unique_ptr<Monitor> monitor;
};

bool importWithOstrel(const QString& url, double* ms)
{
    QTemporaryDir dir;
    const QString exe = dir.filePath(QStringLiteral("Ostrel"));
    if (!QFile::copy(QStringLiteral(OSTREL_PATH), exe))
        return false;
    QByteArray input;
    input.reserve(kCount * 16);
    for (int i = 0; i < kCount; ++i)
        input += "10." + QByteArray::number(i / 65536) + '.' + QByteArray::number(i / 256 % 256) + '.' +
                 QByteArray::number(i % 256) + "\r\n";
    QFile file(dir.filePath(QStringLiteral("bannedip.txt")));
    if (!file.open(QIODevice::WriteOnly) || file.write(input) != input.size())
        return false;
    file.close();
    QElapsedTimer t;
    t.start();
    QProcess ostrel;
    ostrel.start(exe, {QStringLiteral("--bans-db"), url});
    if (!ostrel.waitForFinished(60000) || ostrel.exitCode() != 0) {
        std::fprintf(stderr, "bench_sharedbans: Ostrel failed: %s\n", ostrel.readAllStandardError().constData());
        return false;
    }
    *ms = t.nsecsElapsed() / 1e6;
    std::printf("Ostrel: %s", ostrel.readAllStandardOutput().constData());
    return true;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (const QString missing = test::missingPostgres(); !missing.isEmpty()) {
        std::fprintf(stderr, "bench_sharedbans: %s\n", qPrintable(missing));
        return 1;
    }
    QString error;
    const std::unique_ptr<test::PostgresServer> server = test::startPostgresForPrograms(&error);
    if (!server) {
        std::fprintf(stderr, "bench_sharedbans: %s\n", qPrintable(error));
        return 1;
    }
    const QString url = urlOf(*server);

    double importMs = 0;
    if (!importWithOstrel(url, &importMs))
        return 1;
    std::printf("Ostrel --bans-db, %d addresses into an empty database: %.0f ms (target < 5000 ms)\n", kCount,
                importMs);

    SharingMonitor a(url);
    QElapsedTimer t;
    t.start();
    a.monitor->create();
    if (!waitFor(a.bans(), [&] { return a.bans().size() == kCount; })) {
        std::fprintf(stderr, "bench_sharedbans: the first load did not finish (%d bans)\n", a.bans().size());
        return 1;
    }
    std::printf("first load of %d bans by a monitor: %.0f ms (target < 1000 ms)\n", kCount, t.nsecsElapsed() / 1e6);

    SharingMonitor b(url);
    b.monitor->create();
    if (!waitFor(b.bans(), [&] { return b.bans().size() == kCount; }))
        return 1;
    const QDate today = QDate::currentDate();
    std::vector<double> arrivals;
    for (int i = 0; i < kArrivals; ++i) {
        const QString ip = QStringLiteral("172.16.0.%1").arg(i);
        const int wanted = b.bans().size() + 1;
        t.restart();
        addBanUnlessCovered(a.bans(), {ip, QStringLiteral("n"), QStringLiteral("r"), lists::formatDate(today), {}},
                            today);
        if (!waitFor(b.bans(), [&] { return b.bans().size() == wanted; })) {
            std::fprintf(stderr, "bench_sharedbans: ban %d did not arrive\n", i);
            return 1;
        }
        arrivals.push_back(t.nsecsElapsed() / 1e6);
    }
    std::vector<double> sorted = arrivals;
    std::sort(sorted.begin(), sorted.end());
    std::printf("a ban from one monitor to the other's list, both with %d bans, over %d bans: median %.1f ms "
                "(target < 200 ms), worst %.1f ms (target < 1000 ms)\n",
                kCount, kArrivals, sorted[sorted.size() / 2], sorted.back());
    return 0;
}
