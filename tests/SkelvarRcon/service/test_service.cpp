// RconSkelvar started as a real program against the game-server double: the
// headless mode from the claim to a stop signal, its exit statuses, a second
// signal during the stop, and the window program's clean stop.
#include "SkelvarRcon/service/headless.h"
#include "SkelvarRcon/store/settings.h"
#include "tests/SkelvarRcon/engine/statusfixture.h"
#include "tests/support/files.h"
#include "tests/support/monitorparts.h"
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
using skelvar::test::readFile;
using skelvar::test::writeFile;

namespace {

const QStringList kResets{"set sv_skelvar 0", "set nextmap \"\"", "set resetvalue 0"};

// The monitor as a child process, in the rig's folder. Ended by its id if a
// test leaves it running.
class MonitorProgram {
public:
    ~MonitorProgram()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // No display at all; the window gets the offscreen platform.
    void start(const QString& folder, const QStringList& arguments, const QString& timing, bool window = false)
    {
        QProcessEnvironment env = skelvar::test::environmentWithoutDisplay();
        if (window)
            env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("SKELVAR_TEST_TIMING", timing);
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(folder);
        m_process.start(QStringLiteral(RCONSKELVAR_PATH), arguments);
    }
    bool finished() const { return m_process.state() == QProcess::NotRunning; }
    void signal(int number) const { ::kill(pid_t(m_process.processId()), number); }
    QString errorText()
    {
        m_error += m_process.readAllStandardError();
        return QString::fromUtf8(m_error);
    }
    QProcess& process() { return m_process; }

private:
    QProcess m_process;
    QByteArray m_error;
};

// The parts' server, free and running the script, with one player who shows
// no fog; row 1 gives a warning for it. Periods of one minute and two seconds.
struct Rig : test::MonitorParts {
    Rig() : MonitorParts(40)
    {
        serveFreeServer();
        server.setReply("getstatus", {GameServerDouble::datagram("statusResponse\n\\mapname\\obj/obj_team2\n")});
        server.setReply(
            "status", GameServerDouble::splitAnswer(test::statusAnswer({{4, 0, "50", "Bob", "10.0.0.5:12203"}}), 1000));
        userinfo.insert("Bob", test::userinfoAnswer({{"name", "Bob"}, {"r_farplane_nofog", "1"}, {"rate", "25000"}}));
        settings.setChecked(Settings::penaltyRow(1).warning, true);
        settings.setText("txtMin", "1");
        settings.setText("MinPolt", "2");
    }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    void saveSettings() { QVERIFY(settings.save(path("rconskelvar.ini"))); }
    QStringList lastCommands(int n) const { return server.commands().mid(server.commands().size() - n); }
};

// The transport paced like the rig's double.
const QString kTiming = QStringLiteral("reply=40,warmup=5,follow=5,tick=10,pace=%1").arg(test::kTestRatePeriodMs);

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
