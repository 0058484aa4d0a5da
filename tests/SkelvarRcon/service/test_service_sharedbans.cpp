// The shared ban list between running programs on one database of a private
// PostgreSQL server: RconSkelvar --headless against the game-server double
// next to a monitor in this process, and Ostrel --bans-db. A ban added on
// one monitor kicks its player at the other's next patrol pass, Ostrel's bans
// reach a monitor's Bans list within two seconds, and rconskelvar.conf's
// bans-db is used unless the command line names another database.
#include "SkelvarRcon/app/monitor.h"
#include "SkelvarRcon/penalties/banmatch.h"
#include "SkelvarRcon/service/monitorconfig.h"
#include "lists/pgbanstore.h"
#include "tests/SkelvarRcon/service/servicerig.h"
#include "tests/support/bandatabase.h"
#include "tests/support/files.h"
#include "tests/support/monitorparts.h"
#include "tests/support/monitorprogram.h"
#include "tests/support/postgresserver.h"
#include "tests/support/scriptedprompter.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace skelvar;
using namespace skelvar::rcon;
using lists::BanChange;
using lists::BanDatabase;
using lists::Record;
using test::GameServerDouble;
using test::MonitorProgram;
using test::readFile;
using test::writeFile;

namespace {

const QString& kTiming = test::kServiceTiming;
constexpr int kSyncWaitMs = 15000;

Record ban(const QString& ip)
{
    return {ip, QStringLiteral("n"), QStringLiteral("r"), QStringLiteral("2024-06-15"), QString()};
}

QByteArray line(const QByteArray& ip)
{
    return ip + "\x02n\x02r\x02" + "2024-06-15\x02\r\n";
}

// Bob gives no cause for a penalty.
using Rig = test::ServiceRig;

// A monitor in this process, sharing its Bans list through `db`; no server.
struct LocalMonitor {
    explicit LocalMonitor(const BanDatabase& db)
    {
        MonitorOptions options;
        options.folder = dir.path();
        options.bansDatabase = test::banDatabaseUrl(db);
        monitor = std::make_unique<Monitor>(prompter, options);
        monitor->create();
    }
    bool reachable() const
    {
        return monitor->sharedBans() && monitor->sharedBans()->reach() == SharedBans::Reach::Reachable;
    }
    RecordList& bans() { return monitor->lists.bans(); }

    QTemporaryDir dir;
    test::ScriptedPrompter prompter;
    std::unique_ptr<Monitor> monitor;
};

}  // namespace

class TestServiceSharedBans : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        SKELVAR_REQUIRE_POSTGRES();
        QString error;
        m_server = test::startPostgresForPrograms(&error);
        QVERIFY2(m_server, qPrintable(error));
    }

    void banOnOneMonitorKicksAtTheOthersPatrol()
    {
        const BanDatabase db = test::freshBanDatabase(*m_server, QStringLiteral("kick_across"));
        LocalMonitor a(db);
        QTRY_VERIFY_WITH_TIMEOUT(a.reachable(), kSyncWaitMs);
        Rig r;
        r.saveSettings();
        MonitorProgram b;
        b.start(r.dir.path(), {"--headless", "--bans-db", test::banDatabaseUrl(db)}, kTiming);
        QTRY_VERIFY2_WITH_TIMEOUT(b.errorText().contains("Patrol pass: 1 player read"), qPrintable(b.errorText()),
                                  kSyncWaitMs);
        QVERIFY(!r.commands().contains("clientkick 4"));

        const QDate today = QDate::currentDate();
        const Record bob{"10.0.0.5", "Bob", "Aimbot", lists::formatDate(today), QString()};
        QElapsedTimer took;
        took.start();
        QCOMPARE(addBanUnlessCovered(a.bans(), bob, today), 0);
        // Two patrol periods at most: the ban arrives, the next pass kicks.
        QTRY_VERIFY2_WITH_TIMEOUT(r.commands().contains("clientkick 4"), qPrintable(b.errorText()), 5000);
        qInfo("kicked by the other monitor %lld ms after the ban", took.elapsed());
        QTRY_COMPARE(readFile(r.path("bans.lst")), lists::recordLine(bob, lists::ListKind::Bans));

        b.signal(SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(b.finished(), 10000);
        QCOMPARE(b.process().exitCode(), 0);
    }

    void ostrelImportReachesAMonitor()
    {
        const BanDatabase db = test::freshBanDatabase(*m_server, QStringLiteral("ostrel_across"));
        LocalMonitor a(db);
        QTRY_VERIFY_WITH_TIMEOUT(a.reachable(), kSyncWaitMs);
        QTemporaryDir ostrel;
        const QString exe = ostrel.filePath("Ostrel");
        QVERIFY(QFile::copy(QStringLiteral(OSTREL_PATH), exe));
        writeFile(ostrel.filePath("bannedip.txt"), "10.0.0.1\r\n10.0.0.2\r\n10.0.3.xxx\r\n");

        QProcess p;
        p.start(exe, {"--bans-db", test::banDatabaseUrl(db)});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        QElapsedTimer took;
        took.start();
        QTRY_COMPARE_WITH_TIMEOUT(a.bans().size(), 3, 2000);
        qInfo("Ostrel's bans reached the monitor %lld ms after it ended", took.elapsed());
        QCOMPARE(a.bans().at(2).ip, QStringLiteral("10.0.3.xxx"));
        QVERIFY(!QFileInfo::exists(ostrel.filePath("bans.lst")));
    }

    // Each database holds one ban; the monitor's bans.lst shows which one it shares.
    void configFileAndCommandLine_data()
    {
        QTest::addColumn<QString>("file");  // %1, %2: the two databases' addresses
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("before");  // bans.lst at the start
        QTest::addColumn<QByteArray>("bans");    // bans.lst once the monitor has read its database
        QTest::addColumn<QString>("told");
        QTest::newRow("the file's key") << "# shared\nbans-db = %1\n"
                                        << QStringList() << QByteArray() << line("10.0.0.1") << QString();
        QTest::newRow("the command line wins")
            << "bans-db = %1\n"
            << QStringList{"--bans-db", "%2"} << QByteArray() << line("10.0.0.2") << QString();
        QTest::newRow("a bad address: bans.lst alone")
            << "bans-db = postgresql://u:pw@127.0.0.1/x\n"
            << QStringList() << line("9.9.9.9") << line("9.9.9.9")
            << "rconskelvar.conf: line 1: bans-db: postgresql://u@127.0.0.1/x: holds a password";
        QTest::newRow("stray bytes: bans.lst alone")
            << "bans-db = %1\n\x01\n"
            << QStringList() << line("9.9.9.9") << line("9.9.9.9") << "rconskelvar.conf not used: ";
    }

    void configFileAndCommandLine()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, bans);
        QFETCH(QString, told);
        const BanDatabase one = test::freshBanDatabase(*m_server, QStringLiteral("conf_one"));
        const BanDatabase two = test::freshBanDatabase(*m_server, QStringLiteral("conf_two"));
        for (const auto& [db, ip] : {std::pair{one, "10.0.0.1"}, std::pair{two, "10.0.0.2"}}) {
            lists::PgBanStore store(db);
            QString error;
            QVERIFY2(store.push({lists::newBanOperation(BanChange::Kind::Add, ban(ip))}, &error), qPrintable(error));
        }
        const auto addresses = [&](QString text) {
            return text.replace("%1", test::banDatabaseUrl(one)).replace("%2", test::banDatabaseUrl(two));
        };
        for (QString& argument : arguments)
            argument = addresses(argument);
        Rig r;
        r.saveSettings();
        writeFile(r.path(kConfigFileName), addresses(file).toUtf8());
        if (!before.isEmpty())
            writeFile(r.path("bans.lst"), before);

        MonitorProgram monitor;
        monitor.start(r.dir.path(), QStringList{"--headless"} + arguments, kTiming);
        QTRY_VERIFY2_WITH_TIMEOUT(monitor.errorText().contains("Patrol pass: 1 player read"),
                                  qPrintable(monitor.errorText()), kSyncWaitMs);
        QVERIFY2(monitor.errorText().contains(told), qPrintable(monitor.errorText()));
        QTRY_COMPARE_WITH_TIMEOUT(readFile(r.path("bans.lst")), bans, 5000);
        monitor.signal(SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(monitor.finished(), 10000);
        QCOMPARE(monitor.process().exitCode(), 0);
        // Neither database got a ban of a monitor that does not share.
        for (const BanDatabase& db : {one, two}) {
            test::TestConnection conn(db);
            QCOMPARE(conn.value("SELECT count(*) FROM skelvar_ban_changes"), QStringLiteral("1"));
        }
    }

private:
    std::unique_ptr<test::PostgresServer> m_server;
};

QTEST_GUILESS_MAIN(TestServiceSharedBans)
#include "test_service_sharedbans.moc"
