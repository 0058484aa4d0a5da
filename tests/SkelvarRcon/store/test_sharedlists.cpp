// Lists that other programs write while the monitor holds them: Ostrel's
// import survives the monitor's writes and its exit, and bans written by
// another program are enforced from the next patrol pass.
#include "SkelvarRcon/app/monitor.h"
#include "SkelvarRcon/engine/engine.h"
#include "SkelvarRcon/penalties/enforcement.h"
#include "SkelvarRcon/store/liststore.h"
#include "lists/records.h"
#include "tests/SkelvarRcon/engine/statusfixture.h"
#include "tests/support/engineparts.h"
#include "tests/support/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace skelvar;
using namespace skelvar::rcon;
using skelvar::test::readFile;
using skelvar::test::writeFile;

namespace {

// Changes seen in the folder are not read in during a test, so only the
// merge before a write, or the patrol pass, can bring other programs' lines in.
constexpr int NoSyncDuringTest = 600000;

QByteArray banLine(const QByteArray& ip, const QByteArray& name, const QByteArray& reason, const QDate& day)
{
    return ip + '\x02' + name + '\x02' + reason + '\x02' + day.toString("yyyy-MM-dd").toLatin1() + "\x02\r\n";
}

QStringList addresses(const RecordList& list)
{
    QStringList out;
    for (int row = 0; row < list.size(); ++row)
        out << list.at(row).ip;
    return out;
}

// The penalties in the real engine, on lists read from the rig's folder.
struct PatrolRig : test::EngineParts {
    PatrolRig() : EngineParts(40, {5, 5, 30})
    {
        settings.setText("MinPolt", "2");
        lists.setSyncDelayForTests(NoSyncDuringTest);
        lists.load(QDate::currentDate());
        serveFreeServer();
        server.setVariable("clientban", "-1");
        server.setReply("getstatus", {test::GameServerDouble::datagram("statusResponse\n\\mapname\\obj/obj_team2\n")});
    }
};

}  // namespace

class TestSharedLists : public QObject {
    Q_OBJECT

private slots:
    void ostrelWhileTheMonitorHoldsTheLists()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString ostrel = dir.filePath("Ostrel");
        QVERIFY(QFile::copy(QStringLiteral(OSTREL_PATH), ostrel));
        const QDate today = QDate::currentDate();
        const QByteArray old = banLine("9.9.9.9", "Bob", "Aimbot", today);
        writeFile(dir.filePath("bans.lst"), old);

        test::ScriptedPrompter prompter;
        MonitorOptions options;
        options.folder = dir.path();
        options.clock = Clock([today] { return QDateTime(today, QTime(12, 0)); });
        Monitor monitor(prompter, options);
        QVERIFY(monitor.create().isEmpty());
        monitor.lists.setSyncDelayForTests(NoSyncDuringTest);

        writeFile(dir.filePath("bannedip.txt"), "10.1.2.xxx\r\n1.2.3.4\r\n");
        QProcess import;
        import.start(ostrel, {});
        QVERIFY(import.waitForFinished(20000));
        QCOMPARE(import.exitCode(), 0);
        QCOMPARE(import.readAllStandardOutput(), QByteArray("Appended 2 bans to bans.lst\n"));
        // The date is Ostrel's: a run across midnight cannot be compared.
        if (QDate::currentDate() != today)
            QSKIP("the day changed during the test");

        // The monitor's next change writes the file: the imported bans stay.
        monitor.lists.bans().add({"5.5.5.5", "Zed", "Admin. Ban", lists::formatDate(today), ""});
        const QByteArray expected = banLine("1.2.3.4", "Ostrel-feed", "Autokick", today) +
                                    banLine("10.1.2.xxx", "Ostrel-feed", "Autokick", today) +
                                    banLine("5.5.5.5", "Zed", "Admin. Ban", today) + old;
        QTRY_COMPARE(readFile(dir.filePath("bans.lst")), expected);
        QCOMPARE(addresses(monitor.lists.bans()), (QStringList{"1.2.3.4", "10.1.2.xxx", "5.5.5.5", "9.9.9.9"}));

        Task<> exit = monitor.exit();
        QTRY_VERIFY(monitor.exited());
        QCOMPARE(readFile(dir.filePath("bans.lst")), expected);
        QVERIFY(prompter.shown.isEmpty());
    }

    // Monitors that share one bans.lst through links: another monitor's
    // write replaces the links' target, in a folder of its own, and its bans
    // show here soon, not only at the next patrol pass. Only that folder sees
    // a target made after the start, and a replace while the file watch still
    // sits on an earlier target that a reader keeps open.
    void bansWrittenThroughAnotherLinkShow_data()
    {
        QTest::addColumn<bool>("targetAtStart");
        QTest::addColumn<bool>("readerKeepsItOpen");
        QTest::newRow("target replaced while a reader keeps the old one") << true << true;
        QTest::newRow("target made after the start") << false << false;
    }
    void bansWrittenThroughAnotherLinkShow()
    {
        QFETCH(bool, targetAtStart);
        QFETCH(bool, readerKeepsItOpen);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QDate today = QDate::currentDate();
        const QString shared = dir.filePath("shared/bans.lst");
        QVERIFY(QDir(dir.path()).mkpath("shared"));
        if (targetAtStart)
            writeFile(shared, banLine("9.9.9.9", "Old", "Aimbot", today));
        for (const char* folder : {"a", "b"}) {
            QVERIFY(QDir(dir.path()).mkdir(folder));
            QVERIFY(QFile::link("../shared/bans.lst", dir.filePath(QString(folder) + "/bans.lst")));
        }
        ListStore store;
        store.setFolder(dir.filePath("a"));
        store.setSyncDelayForTests(10);
        QVERIFY(store.load(today).isEmpty());
        QFile reader(shared);
        if (readerKeepsItOpen)
            QVERIFY(reader.open(QIODevice::ReadOnly));

        const auto held = [&store] {
            QStringList ips = addresses(store.bans());
            ips.sort();
            return ips;
        };
        QStringList expected = targetAtStart ? QStringList{"9.9.9.9"} : QStringList();
        for (const char* ip : {"1.1.1.1", "2.2.2.2"}) {
            QVERIFY(lists::appendRecords(dir.filePath("b/bans.lst"),
                                         {{ip, "Other", "Admin. Ban", lists::formatDate(today), ""}},
                                         lists::ListKind::Bans));
            expected.append(ip);
            expected.sort();
            QTRY_COMPARE_WITH_TIMEOUT(held(), expected, 2000);
        }
        QVERIFY(QFileInfo(dir.filePath("a/bans.lst")).isSymLink());
    }

    void anotherProgramsBanIsEnforcedAtTheNextPatrol()
    {
        PatrolRig r;
        r.server.setReply("status", test::GameServerDouble::splitAnswer(
                                        test::statusAnswer({{4, 0, "50", "Bob", "10.0.0.7:12203"}}), 1000));
        r.userinfo.insert("Bob", test::userinfoAnswer({{"name", "Bob"}, {"rate", "25000"}}));
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.patrols >= 1 && r.idle(), 5000);
        QVERIFY(!r.commands().contains("clientkick 4"));

        const QDate today = QDate::currentDate();
        QVERIFY(lists::appendRecords(r.lists.filePath(lists::ListKind::Bans),
                                     {{"10.0.0.7", "Ostrel-feed", "Autokick", lists::formatDate(today), ""}},
                                     lists::ListKind::Bans));
        QTRY_VERIFY_WITH_TIMEOUT(r.commands().contains("clientkick 4"), 5000);
        r.session->stop();
        QTRY_VERIFY(r.idle());
        QVERIFY(r.commands().contains("say 10.0.0.7 was banned from this server on " + lists::formatDate(today) +
                                      ". Reason: Autokick"));
        QCOMPARE(addresses(r.lists.bans()), QStringList{"10.0.0.7"});
    }
};

QTEST_GUILESS_MAIN(TestSharedLists)
#include "test_sharedlists.moc"
