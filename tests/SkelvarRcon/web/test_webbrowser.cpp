// The web page in a real browser: RconSkelvar --headless --web against the
// game-server double, headless Chromium driven by webbrowser.py through
// chromedriver. Login, a player joining live after a scan asked for on the
// page, a markup name shown as text, a ban with a reason and a kick from
// Players, a record list's button, the ban list's search, the mini console,
// a setting changed, logout, and a viewer's masked page; and the monitor's
// CPU while the page stays open and nothing happens.
#include "SkelvarRcon/store/settings.h"
#include "tests/support/files.h"
#include "tests/support/gameserverdouble.h"
#include "tests/support/monitorparts.h"
#include "tests/support/monitorprogram.h"
#include "tests/support/processes.h"
#include "tests/support/requiredserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>
#include <tuple>
#include <unistd.h>

using skelvar::test::GameServerDouble;
using skelvar::test::MonitorProgram;

namespace {

// Ticks of the documented second, so that the idle monitor is measured as it
// runs; only the waits for the double's answers are short.
const QString kTiming = QStringLiteral("reply=40,warmup=5,follow=5,pace=%1").arg(skelvar::test::kTestRatePeriodMs);
const QString kXssName = QStringLiteral("<img src=x onerror=alert(1)>");
constexpr double kIdleCpuLimitPercent = 1.0;
constexpr int kIdleMeasureMs = 10000;

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool answers(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

// Python with Selenium's bindings: Debian's own interpreter first, since a
// python3 earlier in PATH may not see Debian's packages.
QString seleniumPython()
{
    for (const QString& python : {QStringLiteral("/usr/bin/python3"), QStandardPaths::findExecutable("python3")}) {
        if (python.isEmpty() || !QFile::exists(python))
            continue;
        QProcess probe;
        probe.start(python, {"-c", "import selenium"});
        if (probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0)
            return python;
    }
    return {};
}

// chromedriver and the browsers it started, ended by their process ids
// however the test ends.
class Chromedriver {
public:
    ~Chromedriver() { stop(); }
    void start(quint16 port)
    {
        m_process.setProcessEnvironment(skelvar::test::environmentWithoutDisplay());
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("chromedriver"), {QStringLiteral("--port=%1").arg(port)});
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        for (const qint64 pid : skelvar::test::descendantProcessIds(m_process.processId()))
            ::kill(pid_t(pid), SIGKILL);
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    QList<qint64> children() { return skelvar::test::descendantProcessIds(m_process.processId()); }

private:
    QProcess m_process;
};

}  // namespace

class TestWebBrowser : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QString missing;
        if (QStandardPaths::findExecutable("chromium").isEmpty() ||
            QStandardPaths::findExecutable("chromedriver").isEmpty() || seleniumPython().isEmpty())
            missing = QStringLiteral("no WebDriver server to test against: the browser test needs Chromium, its "
                                     "chromedriver and Python's Selenium (apt-get install chromium chromium-driver "
                                     "python3-selenium)");
        SKELVAR_REQUIRE_SERVER(missing);
    }

    void pageInABrowser()
    {
        skelvar::test::MonitorParts r(40);
        r.server.setVariable("sv_skelvar", "0");
        r.server.setVariable("version", "Medal of Honor Allied Assault 1.11 win-x86 Mar 2002");
        r.server.setVariable("cheats", "0");
        r.server.setVariable("versionskelvar", "2.1");
        r.server.setVariable("sv_hostname", "Browser Test Host");
        r.server.setReply("getstatus", {GameServerDouble::datagram("statusResponse\n\\mapname\\obj/obj_team2\n")});
        r.server.setPlayers({});
        r.settings.setText("txtMin", "3");
        r.settings.setText("MinPolt", "30");
        const QString folder = r.dir.path();
        QVERIFY(r.settings.save(QDir(folder).filePath("rconskelvar.ini")));
        QFile oldBans(QDir(folder).filePath("bans.lst"));
        QVERIFY(oldBans.open(QIODevice::WriteOnly));
        oldBans.write("9.9.9.9\x02"
                      "Eve\x02"
                      "Aimbot\x02"
                      "2024-01-01\x02"
                      "\r\n");
        oldBans.close();

        for (const auto& [name, role, password] :
             {std::tuple{"ada", "admin", "browser pw"}, std::tuple{"vic", "viewer", "viewer pw"}}) {
            MonitorProgram account;
            account.start(folder, {"--web-user", name, "--role", role}, kTiming);
            account.process().write(QByteArray(password) + '\n');
            account.process().closeWriteChannel();
            QVERIFY(account.process().waitForFinished(15000));
            QCOMPARE(account.process().exitCode(), 0);
        }

        const quint16 webPort = freePort();
        MonitorProgram monitor;
        monitor.start(folder, {"--headless", "--web", QStringLiteral("127.0.0.1:%1").arg(webPort)}, kTiming);
        QTRY_VERIFY2_WITH_TIMEOUT(answers(webPort), qPrintable(monitor.errorText()), 10000);

        const quint16 driverPort = freePort();
        Chromedriver driver;
        driver.start(driverPort);
        QTRY_VERIFY_WITH_TIMEOUT(answers(driverPort), 10000);

        QTemporaryDir profile;
        const QString screenshot = QDir(QCoreApplication::applicationDirPath()).filePath("test_webbrowser.png");
        QFile::remove(screenshot);
        QProcess script;
        script.setProcessEnvironment(skelvar::test::environmentWithoutDisplay());
        script.start(seleniumPython(),
                     {QStringLiteral(WEBBROWSER_SCRIPT), QStringLiteral("http://127.0.0.1:%1").arg(driverPort),
                      QStringLiteral("http://127.0.0.1:%1/").arg(webPort), "ada", "browser pw", "vic", "viewer pw",
                      profile.path(), screenshot});
        QByteArray said;
        QByteArray errors;
        double idlePercent = -1;
        QElapsedTimer timer;
        timer.start();
        // The script's steps, answered as they come; it ends by itself.
        while (script.state() != QProcess::NotRunning || script.bytesAvailable()) {
            QVERIFY2(timer.elapsed() < 50000, qPrintable("the browser script hangs: " + said + errors));
            script.waitForReadyRead(20);
            QCoreApplication::processEvents();
            errors += script.readAllStandardError();
            if (!script.canReadLine())
                continue;
            const QByteArray line = script.readLine().trimmed();
            said += line + '\n';
            if (line == "step players") {
                GameServerDouble::Player bob;
                bob.num = 0;
                bob.name = "Bob";
                bob.ip = "10.0.0.5";
                GameServerDouble::Player markup;
                markup.num = 1;
                markup.name = kXssName;
                markup.ip = "10.0.0.6";
                r.server.setPlayers({bob, markup});
                script.write("go\n");
            } else if (line == "step idle") {
                const qint64 pid = monitor.process().processId();
                const double before = skelvar::test::cpuSeconds(pid);
                QElapsedTimer idle;
                idle.start();
                QTest::qWait(kIdleMeasureMs);
                idlePercent = (skelvar::test::cpuSeconds(pid) - before) * 100000.0 / double(idle.elapsed());
                script.write("go\n");
            }
        }
        errors += script.readAllStandardError();
        if (!errors.isEmpty())
            qWarning("the browser script said: %s", errors.constData());
        QVERIFY2(script.exitStatus() == QProcess::NormalExit && script.exitCode() == 0,
                 qPrintable(said + monitor.errorText()));
        QVERIFY2(said.endsWith("done\n"), qPrintable(said + errors));
        QVERIFY2(driver.children().isEmpty(), "the browser outlived its session");
        driver.stop();

        qInfo("monitor's CPU while idle with the page open: %.2f %%; screenshot: %s", idlePercent,
              qPrintable(screenshot));
        QVERIFY(idlePercent >= 0);
        QVERIFY2(idlePercent < kIdleCpuLimitPercent, qPrintable(QString::number(idlePercent)));
        QVERIFY(QFile::exists(screenshot));

        // The page's ban is the window's: Bob in bans.lst with its reason and no end.
        const QByteArray banned = skelvar::test::readFile(QDir(folder).filePath("bans.lst"));
        QVERIFY2(banned.contains("10.0.0.5\x02"
                                 "Bob\x02Wallhack seen\x02"),
                 banned.constData());
        QVERIFY2(banned.contains("9.9.9.xxx\x02"
                                 "Eve\x02"),
                 banned.constData());
        QVERIFY(skelvar::test::readFile(QDir(folder).filePath("kicks.lst"))
                    .startsWith("10.0.0.6\x02" + kXssName.toUtf8() +
                                "\x02"
                                "Admin. Kick\x02"));
        // The ping kick ticked and its limit typed on the page: Check2, Text5, Text6.
        const QByteArray ini = skelvar::test::readFile(QDir(folder).filePath("rconskelvar.ini"));
        QVERIFY2(ini.contains("\x02"
                              "1\x02"
                              "250\x02"
                              "4\x02"),
                 ini.constData());
    }
};

QTEST_GUILESS_MAIN(TestWebBrowser)
#include "test_webbrowser.moc"
