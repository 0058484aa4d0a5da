// The monitor's own parts, and the headless program, against the real
// OpenMoHAA dedicated server without the mod: the claim and its release, a
// scan of clients whose names the engine takes alike, kicks, a ban, a server
// restart, and the engine's limit of requests from one address.
//
// Each function starts a server of its own. The engine takes 10 requests from
// one address at once and then one a second, and a monitor's transport starts
// out with the whole burst free: a monitor started on a server that another
// has just used from 127.0.0.1 would lose requests to the limit.

#include "SkelvarRcon/engine/engine.h"
#include "SkelvarRcon/store/settings.h"
#include "lists/records.h"
#include "tests/support/engineparts.h"
#include "tests/support/files.h"
#include "tests/support/openmohaaclient.h"
#include "tests/support/openmohaaserver.h"
#include "tests/support/processes.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <vector>

#include <signal.h>

using namespace skelvar;
using namespace skelvar::rcon;
using skelvar::test::OpenMohaaClient;
using skelvar::test::OpenMohaaServer;

namespace {

// Loopback answers come within milliseconds; the engine's pacing is the real one.
constexpr int kReplyWaitMs = 300;
constexpr int kTickMs = 50;
// The longest a pass may take at the engine's pace of one request a second.
constexpr int kPassTimeoutMs = 60000;
const QByteArray kSkin("allied_glowskin");

// A connect-only client: where it sends from, its name and its allied model.
struct ClientSpec {
    QString address;
    QByteArray name;
    QByteArray model;
};

using Clients = std::vector<std::unique_ptr<OpenMohaaClient>>;

// Names the engine's dumpuser and kick would take alike: by name, "Eve" and
// "ev^1E" are both found in slot 0, and "0" is read as a client number. Only
// the first wears a skin of skins.txt.
const QList<ClientSpec> kTwins{{"127.0.0.3", "Ev^1e", kSkin},
                               {"127.0.0.4", "Eve", "american_army"},
                               {"127.0.0.5", "ev^1E", "american_army"},
                               {"127.0.0.6", "0", "american_army"},
                               {"127.0.0.7", "Big Bob", "american_ranger"}};

// A server of the test's own, running the stand-in for the retail precache
// list as a server without the mod does. Kicked slots stay zombies for half a
// minute (the engine frees them after two seconds), so a status read after
// the pass still shows them. Fails the test when it does not come up.
void startServer(OpenMohaaServer& server)
{
    server.setVariable("sv_zombietime", "30");
    QString error;
    QVERIFY2(server.addPrecacheStandIn(&error), qPrintable(error));
    QVERIFY2(server.start(&error), qPrintable(error));
}

// Connects the clients in order, so the first takes slot 0 and so on.
void connectClients(OpenMohaaServer& server, const QList<ClientSpec>& specs, Clients* clients)
{
    for (const ClientSpec& s : specs) {
        auto client = std::make_unique<OpenMohaaClient>(s.address, quint16(2000 + clients->size()), s.name);
        client->setUserInfo("dm_playermodel", s.model);
        QString error;
        QVERIFY2(client->connectTo(server.port(), &error), qPrintable(error));
        clients->push_back(std::move(client));
    }
    const QByteArray status = server.ask("status");
    for (size_t i = 0; i < clients->size(); ++i)
        QVERIFY2(clients->at(i)->numberIn(status) == int(i), status.constData());
}

// A variable's value as the server prints it to another address; "(unset)"
// when it prints nothing, as for a variable nobody has set.
QString printed(OpenMohaaServer& server, const QString& name)
{
    const QString answer = QString::fromLatin1(server.ask(name));
    if (answer.isEmpty())
        return QStringLiteral("(unset)");
    const QRegularExpression value('^' + QRegularExpression::escape('"' + name + '"') + " is:\"([^\"]*)\"");
    const QRegularExpressionMatch m = value.match(answer);
    return m.hasMatch() ? m.captured(1) : answer;
}

// The status row of a slot, read from another address: "CNCT Name" or "ZMBI"
// and what follows it up to the address; empty when the slot is free.
QString slotRow(const QByteArray& status, int slot)
{
    static const QRegularExpression row(
        QStringLiteral("^ *(\\d+) +-?\\d+ (CNCT|ZMBI|\\d+) (.*?) +\\d+ \\S+ +\\d+ +\\d+$"),
        QRegularExpression::MultilineOption);
    for (auto it = row.globalMatch(QString::fromLatin1(status)); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (m.captured(1).toInt() == slot)
            return (m.captured(2) + ' ' + m.captured(3)).trimmed();
    }
    return {};
}

// What the server ran for 127.0.0.1, from its log: the first word of each
// rcon command (a refused password's too) and each getstatus.
QStringList servedToMonitor(const QByteArray& log)
{
    static const QRegularExpression line(
        QStringLiteral("(?:^|\\n)(?:(?:Bad r|R)con from 127\\.0\\.0\\.1(?::\\d+)?:\\n([^\\n]*)|SV packet "
                       "127\\.0\\.0\\.1(?::\\d+)? : (getstatus)\\b)"));
    QStringList out;
    for (auto it = line.globalMatch(QString::fromLatin1(log)); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out << (m.captured(1).isEmpty() ? m.captured(2) : m.captured(1));
    }
    return out;
}

// A settings file for the headless monitor, pointed at the server, with
// passes only on the first tick.
void writeSettings(const QString& folder, const OpenMohaaServer& server)
{
    Settings settings;
    settings.setText("txtSVR", "127.0.0.1");
    settings.setText("txtPORT", QString::number(server.port()));
    settings.setText("txtPWD", server.password());
    settings.setText("txtMin", "546");
    settings.setText("MinPolt", "32767");
    QString error;
    QVERIFY2(settings.save(QDir(folder).filePath("rconskelvar.ini"), &error), qPrintable(error));
}

// One request of the monitor and the answer its transport took.
struct Exchange {
    QString command;
    QString answer;
};

// The monitor's parts pointed at the real server, at the engine's pace, with
// passes only on the first tick and when the test asks for one. The
// transport's activity.log starts anew with each pass: the rig keeps what it
// held before each reset.
struct Rig : test::EngineParts {
    OpenMohaaServer& game;
    QByteArray transcript;
    QByteArray seen;  // activity.log at the last look

    explicit Rig(OpenMohaaServer& server) : EngineParts(kReplyWaitMs, {5, 5, kTickMs}), game(server)
    {
        rcon.setPacingForTests(RconTransport::kEnginePacing);
        settings.setText("txtSVR", "127.0.0.1");
        settings.setText("txtPORT", QString::number(game.port()));
        settings.setText("txtPWD", game.password());
        settings.setText("txtMin", "546");
        settings.setText("MinPolt", "32767");
        // Each request's line is in the log when it starts; a pass's last
        // answer when the pass ends.
        QObject::connect(&rcon, &RconTransport::requestStarted, engine.get(), [this] { follow(); });
        QObject::connect(engine.get(), &Engine::passFinished, engine.get(), [this] { follow(); });
    }

    void follow()
    {
        const QByteArray now = test::readFile(dir.filePath("activity.log"));
        transcript += now.startsWith(seen) ? now.mid(seen.size()) : now;
        seen = now;
    }
    QList<Exchange> exchanges()
    {
        follow();
        QList<Exchange> out;
        const QString text = QString::fromLatin1(transcript);
        for (const QString& part : text.split(QStringLiteral("Rcon request: \r\n"), Qt::SkipEmptyParts)) {
            const qsizetype end = part.indexOf(QStringLiteral("\r\n"));
            // The log closes each answer with a line end of its own.
            QString answer = part.mid(end + 2);
            answer.chop(2);
            static const QString kOutput = QStringLiteral("Rcon output:\r\n");
            out.append({part.left(end), answer.startsWith(kOutput) ? answer.mid(kOutput.size()) : QString()});
        }
        return out;
    }
    QStringList sent()
    {
        QStringList out;
        for (const Exchange& e : exchanges())
            out << e.command;
        return out;
    }
    QStringList sentMatching(const QString& pattern) { return sent().filter(QRegularExpression(pattern)); }
    QString answerTo(const QString& command)
    {
        for (const Exchange& e : exchanges())
            if (e.command == command)
                return e.answer;
        return QStringLiteral("(not sent)");
    }
    QByteArray skelvarLog() const { return test::readFile(dir.filePath("skelvar.log")); }

    // Every request the monitor sent reached the server and was run: its log
    // has each one from 127.0.0.1, in order, and none dropped by its limit.
    void verifyNothingLost()
    {
        QStringList words;
        for (const QString& command : sent())
            words << command.section(' ', 0, 0);
        QTRY_COMPARE(servedToMonitor(game.log()), words);
        QVERIFY(!game.log().contains("rate limit from 127.0.0.1"));
        QCOMPARE(rcon.unansweredCount(), 0);
        QVERIFY2(!skelvarLog().contains("No answer"), skelvarLog().constData());
    }

    // The first tick runs a scan and then a patrol pass.
    bool startAndPassOnce()
    {
        lists.load(QDate::currentDate());
        session->start();
        return QTest::qWaitFor([this] { return (patrols >= 1 || !session->running()) && idle(); }, kPassTimeoutMs) &&
               session->running();
    }
    bool patrolOnce()
    {
        const int before = patrols;
        engine->patrolAtNextTickForTests();
        return QTest::qWaitFor([&] { return (patrols > before || !session->running()) && idle(); }, kPassTimeoutMs) &&
               session->running();
    }
};

// RconSkelvar --headless in a folder, ended by its process id if a test
// leaves it running.
class HeadlessMonitor {
public:
    ~HeadlessMonitor() { end(); }

    void start(const QString& folder, const QString& timing)
    {
        m_error.clear();
        QProcessEnvironment env = test::environmentWithoutDisplay();
        env.insert("SKELVAR_TEST_TIMING", timing);
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(folder);
        m_process.start(QStringLiteral(RCONSKELVAR_PATH), {"--headless"});
        m_process.waitForStarted(5000);
    }
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    void signal(int number) const { ::kill(pid_t(m_process.processId()), number); }
    bool waitForEnd(int timeoutMs) { return m_process.waitForFinished(timeoutMs) || !running(); }
    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    QString errorText()
    {
        m_error += m_process.readAllStandardError();
        return QString::fromUtf8(m_error);
    }
    void end()
    {
        if (!running())
            return;
        signal(SIGKILL);
        m_process.waitForFinished(5000);
    }

private:
    QProcess m_process;
    QByteArray m_error;
};

}  // namespace

class TestEngineOpenMohaa : public QObject {
    Q_OBJECT

    QElapsedTimer m_clock;

private slots:
    void initTestCase() { SKELVAR_REQUIRE_OPENMOHAA(); }
    void init() { m_clock.start(); }
    void cleanup()
    {
        const QByteArray tag = QTest::currentDataTag() ? QByteArray(" (") + QTest::currentDataTag() + ')' : "";
        qInfo("%s%s took %lld ms", QTest::currentTestFunction(), tag.constData(), m_clock.elapsed());
    }

    void wrongPasswordEndsTheStart()
    {
        OpenMohaaServer server;
        startServer(server);
        Rig r(server);
        r.settings.setText("txtPWD", "not" + server.password());
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(!r.session->running() && r.idle(), 10000);
        QCOMPARE(r.prompter.titles(), QStringList{"Bad rcon password!"});
        QCOMPARE(r.sent(), QStringList{"sv_skelvar"});
        QCOMPARE(r.answerTo("sv_skelvar"), QString("Bad rconpassword.\r\n"));
        QCOMPARE(printed(server, "sv_skelvar"), QString("(unset)"));
        QCOMPARE(servedToMonitor(server.log()), QStringList{"sv_skelvar"});
    }

    void startClaimsAndStopReleases()
    {
        OpenMohaaServer server;
        startServer(server);
        // What an earlier session left, for the stop to reset.
        server.ask("set nextmap omtest");
        server.ask("set resetvalue hacked");
        Rig r(server);
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.session->claimed() || !r.session->running(), 10000);
        QCOMPARE(r.prompter.titles(), QStringList());
        QCOMPARE(printed(server, "sv_skelvar"), QString("1"));

        r.session->stop();
        QTRY_VERIFY_WITH_TIMEOUT(!r.session->running() && r.idle(), 10000);
        QCOMPARE(r.sent().mid(r.sent().size() - 3),
                 (QStringList{"set sv_skelvar 0", "set nextmap \"\"", "set resetvalue 0"}));
        QCOMPARE(printed(server, "sv_skelvar"), QString("0"));
        QCOMPARE(printed(server, "nextmap"), QString());
        QCOMPARE(printed(server, "resetvalue"), QString("0"));
    }

    // A monitor killed without its stop left its claim on the server; started
    // again from its folder, it knows the claim as its own.
    void headlessMonitorTakesItsClaimBackAndReleasesOnSigterm()
    {
        OpenMohaaServer server;
        startServer(server);
        server.ask("set nextmap omtest");
        server.ask("set resetvalue hacked");
        QTemporaryDir folder;
        writeSettings(folder.path(), server);
        HeadlessMonitor monitor;
        // A reply wait of a second keeps the first run within the engine's
        // allowance of a request a second, so the second run finds its burst
        // free for 127.0.0.1.
        monitor.start(folder.path(), "reply=1000,warmup=5,follow=5,tick=50");
        QTRY_VERIFY_WITH_TIMEOUT(monitor.errorText().contains(" Status: Warming engine...") || !monitor.running(),
                                 15000);
        QVERIFY2(monitor.running(), qPrintable(monitor.errorText()));
        QCOMPARE(printed(server, "sv_skelvar"), QString("1"));
        const QString holder = printed(server, "sv_skelvarholder");
        QVERIFY2(QRegularExpression("^[0-9a-f]{16}$").match(holder).hasMatch(), qPrintable(holder));
        monitor.signal(SIGKILL);
        QVERIFY(monitor.waitForEnd(5000));
        QCOMPARE(printed(server, "sv_skelvar"), QString("1"));

        monitor.start(folder.path(), QStringLiteral("reply=%1,warmup=5,follow=5,tick=50").arg(kReplyWaitMs));
        QTRY_VERIFY_WITH_TIMEOUT(monitor.errorText().contains(" Status: Warming engine...") || !monitor.running(),
                                 15000);
        QVERIFY2(monitor.running(), qPrintable(monitor.errorText()));
        QVERIFY2(!monitor.errorText().contains(MonitorSession::alreadyMonitoredTitle()),
                 qPrintable(monitor.errorText()));
        QCOMPARE(printed(server, "sv_skelvar"), QString("1"));
        QCOMPARE(printed(server, "sv_skelvarholder"), holder);

        monitor.signal(SIGTERM);
        QVERIFY(monitor.waitForEnd(10000));
        QCOMPARE(monitor.exitStatus(), QProcess::NormalExit);
        QVERIFY2(monitor.exitCode() == 0, qPrintable(monitor.errorText()));
        QCOMPARE(printed(server, "sv_skelvar"), QString("0"));
        QCOMPARE(printed(server, "nextmap"), QString());
        QCOMPARE(printed(server, "resetvalue"), QString("0"));
    }

    // Asked by client number, each of the twins is judged on his own table.
    // On Warning the cheater stays in his slot while the others are asked; on
    // Kick the slot is read again and he is kicked before they are. Over the
    // scan and two patrol passes the engine's limit drops nothing.
    void scanJudgesEachPlayerOnHisOwnTable_data()
    {
        QTest::addColumn<int>("penalty");
        QTest::addColumn<QString>("list");
        QTest::newRow("warning") << int(Settings::Penalty::Warning) << "warnings.lst";
        QTest::newRow("kick") << int(Settings::Penalty::Kick) << "kicks.lst";
    }
    void scanJudgesEachPlayerOnHisOwnTable()
    {
        QFETCH(int, penalty);
        QFETCH(QString, list);
        const bool kick = Settings::Penalty(penalty) == Settings::Penalty::Kick;
        OpenMohaaServer server;
        startServer(server);
        Clients clients;
        connectClients(server, kTwins, &clients);
        Rig r(server);
        test::writeFile(r.dir.filePath("skins.txt"), kSkin + "\r\n");
        r.settings.setPenaltyChoice(Detection::GlowingSkins, Settings::Penalty(penalty));
        QVERIFY(r.startAndPassOnce());
        QVERIFY(r.patrolOnce());
        QCOMPARE(r.prompter.titles(), QStringList());

        QCOMPARE(r.sentMatching("^dumpuser "),
                 (QStringList{"dumpuser 0", "dumpuser 1", "dumpuser 2", "dumpuser 3", "dumpuser 4"}));
        QCOMPARE(r.players.size(), int(kTwins.size()));
        for (int i = 0; i < r.players.size(); ++i) {
            QCOMPARE(r.players.at(i).name, QString::fromLatin1(kTwins[i].name));
            QCOMPARE(r.players.at(i).ip, kTwins[i].address);
            QCOMPARE(r.players.at(i).alliedSkin, QString::fromLatin1(kTwins[i].model));
        }
        QVERIFY2(!r.skelvarLog().contains("Not scanned"), r.skelvarLog().constData());

        const QString alert = "Cheat Detected!! Player: Ev^1e Cheat: Cheatskin: " + kSkin + " IP: 127.0.0.3";
        QCOMPARE(r.sentMatching("^say "), QStringList{"say " + alert});
        QVERIFY2(r.answerTo("say " + alert).startsWith("console: " + alert), qPrintable(r.answerTo("say " + alert)));
        const QByteArray today = lists::formatDate(QDate::currentDate()).toLatin1();
        const QByteArray record = QByteArrayList{"127.0.0.3", "Ev^1e", "Cheatskin: " + kSkin, today}.join('\x02');
        QTRY_COMPARE(test::readFile(r.dir.filePath(list)), record + "\r\n");
        QCOMPARE(r.lists.warnings().size() + r.lists.kicks().size() + r.lists.bans().size(), 1);

        const QStringList sent = r.sent();
        QCOMPARE(sent.filter(QRegularExpression("^clientkick ")), kick ? QStringList{"clientkick 0"} : QStringList());
        const QByteArray status = server.ask("status");
        if (kick) {
            // The slot was read again just before the kick.
            QCOMPARE(sent.at(sent.indexOf("clientkick 0") - 1), QString("status"));
            QVERIFY2(r.answerTo("clientkick 0").contains("Ev^1e was kicked"), qPrintable(r.answerTo("clientkick 0")));
            QCOMPARE(slotRow(status, 0), QString("ZMBI"));
        } else {
            QCOMPARE(slotRow(status, 0), QString("CNCT Ev^1e"));
        }
        for (int i = 1; i < int(kTwins.size()); ++i)
            QCOMPARE(slotRow(status, i), "CNCT " + QString::fromLatin1(kTwins[i].name));

        r.verifyNothingLost();
    }

    // A ban another program writes into bans.lst while the monitor runs.
    void banIsEnforcedAtTheNextPatrolPass()
    {
        OpenMohaaServer server;
        startServer(server);
        Clients clients;
        connectClients(server,
                       {{"127.0.0.3", "Eve", "american_army"},
                        {"127.0.0.4", "Big Bob", "american_army"},
                        {"127.0.0.5", "ev^1E", "american_army"}},
                       &clients);
        Rig r(server);
        QVERIFY(r.startAndPassOnce());
        QCOMPARE(r.prompter.titles(), QStringList());
        QCOMPARE(r.sentMatching("^(say|clientkick) "), QStringList());

        const QString today = lists::formatDate(QDate::currentDate());
        QString error;
        QVERIFY2(lists::appendRecords(r.dir.filePath("bans.lst"), {{"127.0.0.4", "Bob", "Aimbot", today, QString()}},
                                      lists::ListKind::Bans, &error),
                 qPrintable(error));
        QVERIFY(r.patrolOnce());
        const QString notice = "127.0.0.4 was banned from this server on " + today + ". Reason: Aimbot";
        QCOMPARE(r.sentMatching("^(say|clientkick) "), (QStringList{"say " + notice, "clientkick 1"}));
        QVERIFY2(r.answerTo("say " + notice).startsWith("console: " + notice), qPrintable(r.answerTo("say " + notice)));
        QVERIFY2(r.answerTo("clientkick 1").contains("Big Bob was kicked"), qPrintable(r.answerTo("clientkick 1")));
        QVERIFY(r.skelvarLog().contains(notice.toLatin1()));
        const QByteArray status = server.ask("status");
        QCOMPARE(slotRow(status, 1), QString("ZMBI"));
        QCOMPARE(slotRow(status, 0), QString("CNCT Eve"));
        QCOMPARE(slotRow(status, 2), QString("CNCT ev^1E"));
    }

    // Restarted between two patrol passes, the server has forgotten the claim
    // and every variable the monitor set.
    void restartedServerIsClaimedAgainWithinOnePatrolPass()
    {
        OpenMohaaServer server;
        startServer(server);
        Rig r(server);
        QVERIFY(r.startAndPassOnce());
        QCOMPARE(printed(server, "scantime"), QString("546"));
        QString error;
        QVERIFY2(server.restart(&error), qPrintable(error));
        QCOMPARE(printed(server, "sv_skelvar"), QString("(unset)"));

        const qsizetype before = r.sent().size();
        QVERIFY(r.patrolOnce());
        QCOMPARE(r.prompter.titles(), QStringList());
        QVERIFY2(printed(server, "sv_skelvar") == "1",
                 qPrintable("the patrol pass sent: " + r.sent().mid(before).join(QStringLiteral(", "))));
        const QList<std::pair<QString, QString>> primed{
            {"scantime", "546"}, {"scanpass", "1"}, {"resetvalue", "hacked"}, {"nextmap", "omtest"}};
        for (const auto& [name, value] : primed)
            QCOMPARE(printed(server, name), value);
        QVERIFY2(r.skelvarLog().contains(" Server restarted: "), r.skelvarLog().constData());
    }
};

QTEST_GUILESS_MAIN(TestEngineOpenMohaa)
#include "test_engine_openmohaa.moc"
