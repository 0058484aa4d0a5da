// RconSkelvar started as a real program against the game-server double: the
// headless mode from the claim to a stop signal, its exit statuses, a second
// signal during the stop, and the window program's clean stop. And --init,
// which writes the settings for a first start without a window.
#include "SkelvarRcon/service/headless.h"
#include "SkelvarRcon/store/settings.h"
#include "tests/SkelvarRcon/service/servicerig.h"
#include "tests/support/files.h"
#include "tests/support/monitorparts.h"
#include "tests/support/monitorprogram.h"
#include "tests/support/permissions.h"
#include "tests/support/processes.h"

#include <QDate>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <memory>

#include <signal.h>

using namespace skelvar;
using namespace skelvar::rcon;
using skelvar::test::GameServerDouble;
using skelvar::test::MonitorProgram;
using skelvar::test::readFile;
using skelvar::test::writeFile;

namespace {

const QStringList kResets{"set sv_skelvar 0", "set nextmap \"\"", "set resetvalue 0"};

// The service rig's Bob shows no fog; row 1 gives a warning for it.
struct Rig : test::ServiceRig {
    Rig() : ServiceRig(Info{{"r_farplane_nofog", "1"}}) { settings.setChecked(Settings::penaltyRow(1).warning, true); }
    QStringList lastCommands(int n) const { return server.commands().mid(server.commands().size() - n); }
};

const QString& kTiming = test::kServiceTiming;

// A settings file's line written with '|' for each 0x02, which no value here holds.
QByteArray settingsLine(const QByteArray& values)
{
    return QByteArray(values).replace('|', '\x02');
}

// The 70 values after the server's address, port and password at their
// defaults, to the end of the line.
const QByteArray kDefaultsAfterPassword =
    "3|45|1|Warning: Possible non-optimized connection - Player: $name|1|0|3|-1|0|"
    "1|0|-1|0|0|1|0|-1|0|0|1|0|-1|0|0|1|0|-1|0|0|1|0|-1|0|0|1|0|-1|0|0|1|0|-1|0|0|"
    "Cheat Detected!! Player: $name Cheat: $cheat IP: $IP|[MyClan]|KuTrob|"
    "Server will be private in $time seconds, public players please leave|"
    "0|-1|0|0|0|0|0|-1|0|0|"
    "Warning: Public client using private slot. Player: $name|"
    "Warning: Public slot used by private player. Player: $name|"
    "Warning: Public client using reserved skin. Player: $name Skin: $skin|0|3|"
    "$ip was banned from this server on $date. Reason: $reason|0|0|160|4|"
    "Ping Kick: Ping>$ping on $scans consecutive scans - Player: $name|1|\r\n";

// The same values as an operator changed them: a scan every 7 minutes, no
// log, the first row banning for 14 days, another clan tag and alert, the
// ping kick on at 250, no Spearhead compatibility.
const QByteArray kOwnAfterPassword = "7|45|1|Warning: Possible non-optimized connection - Player: $name|0|0|3|-1|0|"
                                     "1|0|0|-1|14|1|0|-1|0|0|1|0|-1|0|0|1|0|-1|0|0|1|0|-1|0|0|1|0|-1|0|0|1|0|-1|0|0|"
                                     "Cheater: $name ($cheat)|[Old]|KuTrob|"
                                     "Server will be private in $time seconds, public players please leave|"
                                     "0|-1|0|0|0|0|0|-1|0|0|"
                                     "Warning: Public client using private slot. Player: $name|"
                                     "Warning: Public slot used by private player. Player: $name|"
                                     "Warning: Public client using reserved skin. Player: $name Skin: $skin|0|3|"
                                     "$ip was banned from this server on $date. Reason: $reason|0|1|250|4|"
                                     "Ping Kick: Ping>$ping on $scans consecutive scans - Player: $name|0|\r\n";

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

// RconSkelvar with the arguments and the bytes on its standard input; it
// must end by itself.
void runToEnd(MonitorProgram& program, const QString& folder, const QStringList& arguments, const QByteArray& input)
{
    program.start(folder, arguments, kTiming);
    program.process().write(input);
    program.process().closeWriteChannel();
    QVERIFY(program.process().waitForFinished(10000));
    QCOMPARE(program.process().exitStatus(), QProcess::NormalExit);
}

}  // namespace

class TestService : public QObject {
    Q_OBJECT

private slots:
    void headlessMonitorsUntilSigterm()
    {
        Rig r;
        r.saveSettings();
        const QByteArray settingsBefore = readFile(r.path("rconskelvar.ini"));
        const QByteArray oldBan = "9.9.9.9\x02"
                                  "Eve\x02"
                                  "Aimbot\x02"
                                  "2024-01-01\x02"
                                  "\r\n";
        writeFile(r.path("bans.lst"), oldBan);

        MonitorProgram monitor;
        monitor.start(r.dir.path(), {"--headless"}, kTiming);
        QTRY_VERIFY_WITH_TIMEOUT(monitor.errorText().contains("Scan: 1 player read, 0 answers lost, 1 penalty given") &&
                                     monitor.errorText().contains("Patrol pass: 1 player read"),
                                 15000);
        QVERIFY(!monitor.finished());
        QVERIFY(r.commands().contains("set sv_skelvar 1"));
        QVERIFY(r.commands().contains("dumpuser \"Bob"));
        QCOMPARE(r.server.variable("sv_skelvar"), QString("1"));

        monitor.signal(SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(monitor.finished(), 10000);
        QCOMPARE(monitor.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(monitor.process().exitCode(), 0);
        QCOMPARE(r.lastCommands(3), kResets);
        QCOMPARE(r.server.variable("sv_skelvar"), QString("0"));

        // Nothing lost: the settings as they were, the old ban, the new warning.
        QCOMPARE(readFile(r.path("rconskelvar.ini")), settingsBefore);
        QCOMPARE(readFile(r.path("bans.lst")), oldBan);
        const QByteArray today = lists::formatDate(QDate::currentDate()).toLatin1();
        QCOMPARE(readFile(r.path("warnings.lst")), "10.0.0.5\x02"
                                                   "Bob\x02"
                                                   "Cheat: NoFog\x02" +
                                                       today + "\r\n");

        // Every line starts with the local time; the alert, the status and the summaries are there.
        const QString err = monitor.errorText();
        const QRegularExpression stamped(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d \\S"));
        for (const QString& line : err.split('\n', Qt::SkipEmptyParts))
            QVERIFY2(stamped.match(line).hasMatch(), qPrintable(line));
        QVERIFY(err.contains(" Cheat Detected!! Player: Bob Cheat: NoFog IP: 10.0.0.5\n"));
        QVERIFY(err.contains(" Status: Server: Running - Now playing: obj/obj_team2"));
        QVERIFY(err.contains(" Status: Server not running!!\n"));
    }

    void claimOutcomes_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("claim");  // sv_skelvar on the server; empty: the server is silent
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("wrong password") << "wrong"
                                        << "0" << QStringList{} << 2 << "Rcon password is incorrect!";
        QTest::newRow("held") << ""
                              << "1" << QStringList{} << 3 << "Answered No, the safe answer (start with --force";
        QTest::newRow("held, forced") << ""
                                      << "1" << QStringList{"--force"} << 0 << "Answered Yes (--force)";
        QTest::newRow("offline") << ""
                                 << "" << QStringList{} << 4 << "Server offline!: Server is not responding!";
    }
    void claimOutcomes()
    {
        QFETCH(QString, password);
        QFETCH(QString, claim);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        Rig r;
        if (!password.isEmpty())
            r.settings.setText("txtPWD", password);
        if (claim.isEmpty())
            r.server.setHandler([](const GameServerDouble::Received&) { return GameServerDouble::Reply{}; });
        else
            r.server.setVariable("sv_skelvar", claim);
        r.saveSettings();

        MonitorProgram monitor;
        monitor.start(r.dir.path(), QStringList{"--headless"} + arguments, kTiming);
        if (exitCode == 0) {
            QTRY_VERIFY_WITH_TIMEOUT(r.commands().contains("set sv_skelvar 1"), 10000);
            monitor.signal(SIGTERM);
        }
        QTRY_VERIFY_WITH_TIMEOUT(monitor.finished(), 10000);
        QCOMPARE(monitor.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(monitor.process().exitCode(), exitCode);
        QVERIFY2(monitor.errorText().contains(message), qPrintable(monitor.errorText()));
        if (exitCode != 0) {
            // Nothing claimed, so nothing reset either.
            QVERIFY(!r.commands().contains("set sv_skelvar 1"));
            QVERIFY(!r.commands().contains("set resetvalue 0"));
        } else {
            QCOMPARE(r.lastCommands(3), kResets);
        }
    }

    void startFailures_data()
    {
        QTest::addColumn<QString>("settingsFolder");  // a folder in place of rconskelvar.ini
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("settings unreadable")
            << "rconskelvar.ini" << QStringList{} << "rconskelvar.ini could not be read";
        QTest::newRow("no such folder") << "" << QStringList{"--config", "missing"} << "missing is not a folder";
    }
    void startFailures()
    {
        QFETCH(QString, settingsFolder);
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        Rig r;
        if (!settingsFolder.isEmpty())
            QVERIFY(QDir(r.dir.path()).mkdir(settingsFolder));
        MonitorProgram monitor;
        monitor.start(r.dir.path(), QStringList{"--headless"} + arguments, kTiming);
        QTRY_VERIFY_WITH_TIMEOUT(monitor.finished(), 10000);
        QCOMPARE(monitor.process().exitCode(), 1);
        QVERIFY2(monitor.errorText().contains(message), qPrintable(monitor.errorText()));
        QVERIFY(r.commands().isEmpty());
    }

    // The lists and settings are replaced through new files, so the folder must take them.
    void folderWithoutWriteAccess()
    {
        QTemporaryDir scratch;
        HonourPermissions honour;
        if (!HonourPermissions::effective(scratch.path()))
            QSKIP("permission bits are not enforced here");
        const QString folder = scratch.filePath("monitor");
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        MonitorCommandLine line;
        line.headless = true;
        line.monitor.folder = folder;
        const int status = runHeadless(line);
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QCOMPARE(status, 1);
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList{});
    }

    // Every stop signal, and the window program too, ends the session like Exit.
    void stopSignalsReleaseTheServer_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<bool>("window");
        QTest::addColumn<bool>("held");  // the window asks "Already Monitored!" and waits
        QTest::newRow("headless, SIGINT") << int(SIGINT) << false << false;
        QTest::newRow("headless, SIGHUP") << int(SIGHUP) << false << false;
        QTest::newRow("window, SIGTERM") << int(SIGTERM) << true << false;
        QTest::newRow("window, SIGTERM during a question") << int(SIGTERM) << true << true;
    }
    void stopSignalsReleaseTheServer()
    {
        QFETCH(int, signalNumber);
        QFETCH(bool, window);
        QFETCH(bool, held);
        Rig r;
        if (held)
            r.server.setVariable("sv_skelvar", "1");
        r.settings.setChecked("SoS", true);  // the window starts on its own
        r.saveSettings();
        MonitorProgram monitor;
        monitor.start(r.dir.path(), window ? QStringList{} : QStringList{"--headless"}, kTiming, window);
        if (held) {
            QTRY_VERIFY_WITH_TIMEOUT(r.commands().contains("sv_skelvar"), 10000);
            QTest::qWait(300);  // the question is up
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(r.commands().contains("status"), 10000);
        }
        monitor.signal(signalNumber);
        QTRY_VERIFY_WITH_TIMEOUT(monitor.finished(), 5000);
        QCOMPARE(monitor.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(monitor.process().exitCode(), 0);
        // A held server was never claimed: it keeps the other monitor's claim.
        QCOMPARE(r.lastCommands(3) == kResets, !held);
        QCOMPARE(r.server.variable("sv_skelvar"), QString(held ? "1" : "0"));
        QCOMPARE(readFile(r.path("rconskelvar.ini")).count('\x02'), 73);
        QVERIFY(QFileInfo::exists(r.path("warnings.lst")));
    }

    // The first start without a window: the settings from the command line
    // and standard input, then the program ends without monitoring.
    void initWritesTheSettings_data()
    {
        QTest::addColumn<QByteArray>("existing");  // rconskelvar.ini before; empty: none
        QTest::addColumn<bool>("config");          // the folder given by --config, not the working folder
        QTest::addColumn<QString>("server");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QString>("message");
        QTest::newRow("new folder") << QByteArray() << false << "10.1.2.3:28960" << QByteArray("s3cret\n")
                                    << settingsLine("10.1.2.3|28960|s3cret|" + kDefaultsAfterPassword)
                                    << "every other setting at its default";
        QTest::newRow("--config, IPv6, CR LF ending")
            << QByteArray() << true << "[::1]:12203" << QByteArray("pass word\r\n")
            << settingsLine("::1|12203|pass word|" + kDefaultsAfterPassword) << "Wrote ";
        QTest::newRow("existing file keeps its other values")
            << settingsLine("127.0.0.1|12203|old|" + kOwnAfterPassword) << false << "game.example.org:12204"
            << QByteArray("n3w\nnot read\n") << settingsLine("game.example.org|12204|n3w|" + kOwnAfterPassword)
            << "every other setting is kept as it was";
        QTest::newRow("existing file, --config")
            << settingsLine("127.0.0.1|12203|old|" + kOwnAfterPassword) << true << "10.0.0.1:1"
            << QByteArray("caf\xc3\xa9") << settingsLine("10.0.0.1|1|caf\xe9|" + kOwnAfterPassword) << "Updated ";
    }
    void initWritesTheSettings()
    {
        QFETCH(QByteArray, existing);
        QFETCH(bool, config);
        QFETCH(QString, server);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        QFETCH(QString, message);
        QTemporaryDir cwd;
        const QString folder = config ? cwd.filePath("monitor") : cwd.path();
        QVERIFY(QDir().mkpath(folder));
        if (!existing.isEmpty())
            writeFile(folder + "/rconskelvar.ini", existing);
        QStringList arguments{"--headless", "--init", server};
        if (config)
            arguments << "--config" << folder;

        MonitorProgram program;
        runToEnd(program, cwd.path(), arguments, input);
        QCOMPARE(program.process().exitCode(), 0);
        QCOMPARE(readFile(folder + "/rconskelvar.ini"), expected);
        const QString err = program.errorText();
        QVERIFY2(err.contains(message) && err.contains("rconskelvar.ini"), qPrintable(err));
        // Nothing was monitored: no log, list or activity file beside it.
        QCOMPARE(entriesOf(folder), QStringList{"rconskelvar.ini"});
        if (config)
            QCOMPARE(entriesOf(cwd.path()), QStringList{"monitor"});
    }

    void initRefusesBadInput_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<bool>("existing");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("usage");  // the usage follows the message
        const auto init = [](const QString& server) { return QStringList{"--headless", "--init", server}; };
        QTest::newRow("port 0") << init("10.0.0.1:0") << QByteArray("pw\n") << false << "from 1 to 65535" << true;
        QTest::newRow("port 65536") << init("10.0.0.1:65536") << QByteArray("pw\n") << true << "from 1 to 65535"
                                    << true;
        QTest::newRow("port not a number") << init("10.0.0.1:12x") << QByteArray("pw\n") << false << "'12x'" << true;
        QTest::newRow("no port") << init("10.0.0.1") << QByteArray("pw\n") << true << "is not HOST:PORT" << true;
        QTest::newRow("empty port") << init("10.0.0.1:") << QByteArray("pw\n") << false << "from 1 to 65535" << true;
        QTest::newRow("no host") << init(":12203") << QByteArray("pw\n") << true << "host is missing" << true;
        QTest::newRow("IPv6 without brackets")
            << init("::1:12203") << QByteArray("pw\n") << false << "[::1]:12203" << true;
        QTest::newRow("brackets without a port")
            << init("[::1]") << QByteArray("pw\n") << true << "[IPv6]:PORT" << true;
        QTest::newRow("brackets without IPv6")
            << init("[10.0.0.1]:12203") << QByteArray("pw\n") << false << "not an IPv6 address" << true;
        QTest::newRow("host with the separator") << init("a\x02"
                                                         "b:12203")
                                                 << QByteArray("pw\n") << true << "field separator" << true;
        QTest::newRow("host with a line break")
            << init("a\nb:12203") << QByteArray("pw\n") << false << "line break" << true;
        QTest::newRow("host with a blank") << init("a b:12203") << QByteArray("pw\n") << true << "blank" << true;
        QTest::newRow("no value") << QStringList{"--headless", "--init"} << QByteArray() << false << "--init" << true;
        QTest::newRow("no input") << init("10.0.0.1:12203") << QByteArray() << true << "no rcon password" << false;
        QTest::newRow("empty password") << init("10.0.0.1:12203") << QByteArray("\nsecret\n") << false
                                        << "password is empty" << false;
        QTest::newRow("password with the separator")
            << init("10.0.0.1:12203") << QByteArray("pa\x02ss\n") << true << "field separator" << false;
        QTest::newRow("password with a CR")
            << init("10.0.0.1:12203") << QByteArray("pa\rss\n") << false << "line break" << false;
        QTest::newRow("password beyond Latin-1")
            << init("10.0.0.1:12203") << QByteArray("pa\xe2\x82\xacss\n") << true << "Latin-1" << false;
    }
    void initRefusesBadInput()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(bool, existing);
        QFETCH(QString, message);
        QFETCH(bool, usage);
        QTemporaryDir folder;
        const QByteArray before = settingsLine("127.0.0.1|12203|old|" + kOwnAfterPassword);
        if (existing)
            writeFile(folder.filePath("rconskelvar.ini"), before);

        MonitorProgram program;
        runToEnd(program, folder.path(), arguments, input);
        QCOMPARE(program.process().exitCode(), 2);
        const QString err = program.errorText();
        QVERIFY2(err.contains(message), qPrintable(err));
        QCOMPARE(err.contains("\n\nUsage: "), usage);
        QCOMPARE(entriesOf(folder.path()), existing ? QStringList{"rconskelvar.ini"} : QStringList{});
        if (existing)
            QCOMPARE(readFile(folder.filePath("rconskelvar.ini")), before);
    }

    // The file layer's policy holds for --init as for every save.
    void initLeavesWhatItMayNotReplace_data()
    {
        QTest::addColumn<bool>("folderInPlace");  // else a file that grants no write access
        QTest::addColumn<QString>("message");
        QTest::newRow("write-protected file") << false << "Cannot write";
        QTest::newRow("folder in its place") << true << "Cannot read";
    }
    void initLeavesWhatItMayNotReplace()
    {
        QFETCH(bool, folderInPlace);
        QFETCH(QString, message);
        QTemporaryDir folder;
        const QString path = folder.filePath("rconskelvar.ini");
        const QByteArray before = settingsLine("127.0.0.1|12203|old|" + kOwnAfterPassword);
        if (folderInPlace) {
            QVERIFY(QDir().mkdir(path));
        } else {
            writeFile(path, before);
            QVERIFY(
                QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
        }
        MonitorProgram program;
        runToEnd(program, folder.path(), {"--headless", "--init", "10.0.0.1:12203"}, "new\n");
        QCOMPARE(program.process().exitCode(), 1);
        QVERIFY2(program.errorText().contains(message), qPrintable(program.errorText()));
        QCOMPARE(entriesOf(folder.path()), QStringList{"rconskelvar.ini"});
        if (folderInPlace)
            QVERIFY(QFileInfo(path).isDir());
        else
            QCOMPARE(readFile(path), before);
    }

    void secondSignalEndsTheStopAtOnce()
    {
        Rig r;
        r.saveSettings();
        MonitorProgram monitor;
        // Long reply waits, so the three resets take seconds.
        monitor.start(r.dir.path(), {"--headless"},
                      QStringLiteral("reply=1000,warmup=5,follow=5,tick=10,pace=%1").arg(test::kTestRatePeriodMs));
        QTRY_VERIFY_WITH_TIMEOUT(r.commands().contains("set sv_skelvar 1"), 15000);
        monitor.signal(SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(r.commands().contains("set sv_skelvar 0"), 10000);
        QElapsedTimer sinceSecond;
        sinceSecond.start();
        monitor.signal(SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(monitor.finished(), 10000);
        QVERIFY2(sinceSecond.elapsed() < 900, "the second signal waited for the resets");
        QCOMPARE(monitor.process().exitCode(), 128 + SIGTERM);
        QVERIFY(!r.commands().contains("set resetvalue 0"));
    }
};

QTEST_GUILESS_MAIN(TestService)
#include "test_service.moc"
