// The generated mod in the real OpenMoHAA dedicated server (see
// tests/support/openmohaaserver.h). Each build is made by the program the
// operator runs, `ModSkelvar --build`, from the builder's shipped files, and
// its archive goes under the server's main/ as on an installed server; the
// test map's level script runs global/DMprecache.scr, which runs the script.
//
// - The default build, the build with every switch and every additional
//   script ticked, and a build with messages, a scheduled command and map
//   fixes on the map the server runs: the engine's log (developer 1) shows no
//   compile or run-time error, `versionskelvar` reads 2.1 over rcon and
//   `sv_seconds` counts up. Nothing in the log is excused: what only the
//   retail files or the operator's separately installed scripts would give is
//   here as a stand-in of the very name the script asks for (kStandInScripts,
//   kStandInModel), and the test checks that the script asks for exactly those.
// - A scheduled command runs when the script's clock, set over rcon, reaches
//   its time, and sets a variable read back over rcon.
// - The monitor's own parts, at the engine's real request pacing, claim the
//   modded server, see the script running, prime its clock and scan period,
//   get the scan pass acknowledged, and release the server on Stop.
//
// Every server starts with `sv_seconds` near the end of a minute, so the
// script's once-a-minute part runs within seconds instead of a minute. One
// server runs per build; the third build's server serves the scheduled
// command and the monitor in turn.

#include "SkelvarRcon/store/controlnames.h"
#include "SkelvarRcon/transport/rcontransport.h"
#include "modengine.h"
#include "tests/support/engineparts.h"

using namespace skelvar;
using namespace skelvar::mod;
using namespace modtest;

namespace {

// The additional scripts of the shipped skelvar.dcf, which the operator
// installs on the server apart from the mod.
const QStringList kStandInScripts{"teambalance.scr", "spawnprotect.scr", "mapvote.scr", "chatadmin.scr"};
// What the scheduled command does: it sets this variable to "done".
const QString kCommandVariable = QStringLiteral("om_scheduled");

// The script's once-a-minute part runs when its second count passes 59. It
// takes the count from sv_seconds at the map's start.
constexpr int kSecondsBeforeTheMinute = 5;
constexpr int kMinuteWaitMs = 65000;

// The script's clock moves once a minute; the value it gives the minutes.
QString waitForMinute(OpenMohaaServer& server, const QString& minutes, int timeoutMs)
{
    return waitForValue(server, QStringLiteral("sv_minutes"), minutes, timeoutMs);
}

// The script's second count goes up (read twice within one minute).
void verifySecondsCount(OpenMohaaServer& server)
{
    bool ok = false;
    const int first = readValue(server, QStringLiteral("sv_seconds")).toInt(&ok);
    QVERIFY(ok);
    QVERIFY2(first < 55, "too near the end of the minute to see the count go up");
    QTest::qWait(2000);
    const QString later = readValue(server, QStringLiteral("sv_seconds"));
    QVERIFY2(later.toInt() > first, qPrintable(QStringLiteral("sv_seconds %1, then %2").arg(first).arg(later)));
}

}  // namespace

class TestModOpenMohaa : public QObject {
    Q_OBJECT

    QElapsedTimer m_clock;
    // The build with messages, a command and map fixes, its server and the
    // monitor on it, kept from one step to the next.
    BuiltMod m_mapMod;
    std::unique_ptr<BuilderFolder> m_mapBuilder;
    std::unique_ptr<OpenMohaaServer> m_mapServer;
    std::unique_ptr<test::EngineParts> m_monitor;

    void took(const char* what) { qInfo("%s: done %lld s into the test", what, m_clock.elapsed() / 1000); }

private slots:
    void initTestCase()
    {
        SKELVAR_REQUIRE_OPENMOHAA();
        m_clock.start();
    }

    // The shipped files alone: no switch, message, command, fix or additional script.
    void defaultBuildRunsWithoutScriptErrors()
    {
        BuilderFolder folder;
        folder.prepare();
        const QString archive = folder.build();
        QVERIFY(!archive.isEmpty());
        const BuiltMod mod = readBuild(archive);
        QCOMPARE(mod.entries, (QStringList{kPrecacheEntry, kScriptEntry}));
        QFile shipped(QStringLiteral(MODSKELVAR_DATA "/") + PrecacheTemplateName);
        QVERIFY(shipped.open(QIODevice::ReadOnly));
        QCOMPARE(mod.precache, shipped.readAll());
        QVERIFY(!mod.script.isEmpty());
        // It needs nothing from the server but itself.
        QCOMPARE(mod.execs, QStringList());
        QCOMPARE(mod.models, QStringList());

        const auto server = startModded(mod, {}, kSecondsBeforeTheMinute);
        QVERIFY(server);
        QCOMPARE(waitForValue(*server, "versionskelvar", "2.1", 5000), QStringLiteral("2.1"));
        // The claim variable, the scan period and the reset value exist before any monitor comes.
        QCOMPARE(readValue(*server, "sv_skelvar"), QStringLiteral("0"));
        QCOMPARE(readValue(*server, "scantime"), QStringLiteral("3"));
        QCOMPARE(readValue(*server, "resetvalue"), QStringLiteral("0"));
        // Its once-a-minute part: the clock, unset until now, moves to minute 1.
        QCOMPARE(waitForMinute(*server, "1", (kSecondsBeforeTheMinute + 5) * 1000), QStringLiteral("1"));
        verifySecondsCount(*server);
        verifyNoScriptTrouble(*server);
        took("default build");
    }

    // Every switch and every additional script of the shipped list ticked. The
    // server is claimed with a scan due, so the once-a-minute part takes its
    // probe branch; a rename is asked for, so the rename thread runs; and the
    // ping-screen thread runs once, 15 seconds after the start.
    void everySwitchAndAdditionalScriptRunsWithoutScriptErrors()
    {
        BuilderFolder folder;
        folder.prepare();
        QVERIFY(saveSwitches(folder.path(SettingsFileName), {1, 1, 1, 1, 1, 1, 1}));
        QList<CompatEntry> compat = loadCompat(folder.path(CompatFileName));
        for (CompatEntry& c : compat)
            c.ticked = true;
        QVERIFY(saveCompat(folder.path(CompatFileName), compat));
        const QString archive = folder.build();
        QVERIFY(!archive.isEmpty());
        const BuiltMod mod = readBuild(archive);
        // Exactly the stand-ins' names: nothing else is asked of the server.
        QCOMPARE(mod.execs, kStandInScripts);
        QCOMPARE(mod.models, QStringList());

        const auto server =
            startModded(mod, standInScripts(kStandInScripts), kSecondsBeforeTheMinute,
                        {{"sv_skelvar", "1"}, {"scanpass", "1"}, {"scantime", "1"}, {"nextmap", "omtest"}});
        QVERIFY(server);
        QCOMPARE(waitForValue(*server, "versionskelvar", "2.1", 5000), QStringLiteral("2.1"));
        for (const QString& script : kStandInScripts)
            QCOMPARE(readValue(*server, ranVariable(script)), QStringLiteral("ran"));
        server->ask("set numero 0");
        server->ask("set nombre Renamed");
        QCOMPARE(waitForValue(*server, "nombre", "", 5000), QString());

        QCOMPARE(waitForMinute(*server, "1", (kSecondsBeforeTheMinute + 5) * 1000), QStringLiteral("1"));
        // The scan was due: the script took it up and said so.
        QCOMPARE(readValue(*server, "scanpass"), QStringLiteral("2"));
        verifySecondsCount(*server);
        // The ping-screen thread's first round, 15 s after the start.
        const auto pingScreenRan = [](const QString& v) { return v.toInt() >= 15 - kSecondsBeforeTheMinute + 2; };
        const QString seconds = waitForValue(*server, "sv_seconds", pingScreenRan, 15000);
        QVERIFY2(pingScreenRan(seconds), qPrintable(seconds));
        verifyNoScriptTrouble(*server);
        took("every switch");
    }

    // Messages of all three kinds, a scheduled command and map fixes, on the
    // map the server runs. The monitor comes first; the clock is set for the
    // scheduled command after its priming, and one minute of the script then
    // runs the command and acknowledges the scan pass.
    void mapBuildRunsAndTheMonitorClaimsIt()
    {
        m_mapBuilder = std::make_unique<BuilderFolder>();
        BuilderFolder& folder = *m_mapBuilder;
        folder.prepare();
        const QString map = QStringLiteral("omtest");  // the map OpenMohaaServer runs
        QVERIFY(saveMessages(folder.path(MessagesFileName),
                             {{TypePeriodic, "1 minutes", "Low", "Every minute", true},
                              {TypeScheduled, "At 12:30", "High", "Half past twelve", true},
                              {TypePerMap, "On " + map, "Medium", "Welcome to " + map, true},
                              {TypePerMap, "On dm/mohdm6", "Medium", "Not this map", true}}));
        QVERIFY(saveCommands(folder.path(CommandsFileName), {{"12:30", "set " + kCommandVariable + " done", true}}));
        for (const MapFixEntry& fix : {mapFix(map, kStandInModel, "100 -200 32", "90", "hide", "crate.dmf"),
                                       mapFix(map, kStandInModel, "+16 .5 -8", "-45.5", "show", "block.dmf"),
                                       mapFix("dm/mohdm6", "static/other.tik", "0 0 0", "0", "show", "other.dmf")})
            QVERIFY(saveMapFix(folder.dir.path(), fix));
        const QString archive = folder.build();
        QVERIFY(!archive.isEmpty());
        m_mapMod = readBuild(archive);
        QCOMPARE(m_mapMod.execs, QStringList());
        // The fixes of this map are spawned; the other map's model is never asked for.
        QCOMPARE(m_mapMod.models, (QStringList{kStandInModel, kStandInModel, "static/other.tik"}));

        // Half a minute leaves the monitor time to claim and prime first.
        m_mapServer = startModded(m_mapMod, standInModel(kStandInModel), 30);
        QVERIFY(m_mapServer);
        OpenMohaaServer& server = *m_mapServer;
        QCOMPARE(waitForValue(server, "versionskelvar", "2.1", 5000), QStringLiteral("2.1"));

        // The monitor's parts, pacing their requests as the engine takes them.
        m_monitor = std::make_unique<test::EngineParts>(300, rcon::EngineTiming{5, 5, 1000});
        test::EngineParts& monitor = *m_monitor;
        monitor.rcon.setPacingForTests(rcon::RconTransport::kEnginePacing);
        monitor.clock = rcon::Clock([] { return QDateTime(QDate(2024, 1, 3), QTime(7, 4, 10)); });
        monitor.settings.setText(rcon::control::serverAddress, "127.0.0.1");
        monitor.settings.setText(rcon::control::serverPort, QString::number(server.port()));
        monitor.settings.setText(rcon::control::rconPassword, server.password());
        monitor.settings.setText(rcon::control::scanMinutes, "5");
        monitor.settings.setText(rcon::control::patrolSeconds, "32767");
        monitor.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(monitor.scans >= 1 && monitor.patrols >= 1 && monitor.idle(), 30000);
        QVERIFY(monitor.session->claimed());
        QVERIFY2(monitor.prompter.shown.isEmpty(), qPrintable(monitor.prompter.shown.value(0).text));

        QCOMPARE(readValue(server, "sv_skelvar"), QStringLiteral("1"));
        QCOMPARE(monitor.ui.text(rcon::control::modSkelvarState), QStringLiteral("ModSkelvar - Running"));
        QVERIFY(monitor.ui.isVisible(rcon::control::modSkelvarRunningIcon));
        QVERIFY(!monitor.ui.isVisible(rcon::control::modSkelvarStoppedIcon));
        // The priming: the next map (the map itself, with no map list), the
        // monitor's clock and its scan period.
        QCOMPARE(readValue(server, "nextmap"), map);
        QCOMPARE(readValue(server, "sv_minutes"), QStringLiteral("4"));
        QCOMPARE(readValue(server, "sv_hours"), QStringLiteral("7"));
        QCOMPARE(readValue(server, "scantime"), QStringLiteral("5"));
        took("monitor claimed and primed");
    }

    // The command at 12:30 runs on the server console when the script's
    // clock, set to 12:29 over rcon, moves on.
    void scheduledCommandRunsWhenTheScriptClockReachesIt()
    {
        QVERIFY(m_mapServer);
        OpenMohaaServer& server = *m_mapServer;
        QCOMPARE(readValue(server, kCommandVariable), QStringLiteral("<unset>"));
        server.ask("set sv_hours 12");
        server.ask("set sv_minutes 29");
        QCOMPARE(waitForMinute(server, "30", kMinuteWaitMs), QStringLiteral("30"));
        QCOMPARE(readValue(server, "sv_hours"), QStringLiteral("12"));
        // The command thread waits a frame before it runs the command.
        const QString ran = waitForValue(server, kCommandVariable, "done", 3000);
        QVERIFY2(ran == QLatin1String("done"),
                 qPrintable(QStringLiteral("the script's clock reached 12:30 but the command did not run (%1 is %2) "
                                           "on the server of version %3")
                                .arg(kCommandVariable, ran, readValue(server, "version"))));
        // The periodic message of every minute showed and started counting again.
        QCOMPARE(readValue(server, "mensa1"), QStringLiteral("0"));
        verifySecondsCount(server);
        took("scheduled command");
    }

    // The script reads scanpass once a minute and writes 2 when it took up
    // the monitor's 1.
    void scriptAcknowledgesTheScanPass()
    {
        QVERIFY(m_mapServer && m_monitor);
        QCOMPARE(waitForValue(*m_mapServer, "scanpass", "2", kMinuteWaitMs), QStringLiteral("2"));
        took("scan pass acknowledged");
    }

    void stopReleasesTheServer()
    {
        QVERIFY(m_mapServer && m_monitor);
        test::EngineParts& monitor = *m_monitor;
        monitor.session->stop();
        QTRY_VERIFY_WITH_TIMEOUT(!monitor.session->running() && monitor.idle(), 10000);
        OpenMohaaServer& server = *m_mapServer;
        QCOMPARE(readValue(server, "sv_skelvar"), QStringLiteral("0"));
        QCOMPARE(readValue(server, "resetvalue"), QStringLiteral("0"));
        QCOMPARE(readValue(server, "nextmap"), QString());
        took("stop");
    }

    // Everything the build's script did on this server: the map fixes at the
    // start, the per-map message after 10 s, a minute with its scheduled and
    // periodic messages and its command, and the monitor's claim and release.
    void mapBuildRanWithoutScriptErrors()
    {
        QVERIFY(m_mapServer);
        verifyNoScriptTrouble(*m_mapServer);
        // The engine names a model first loaded after the map's start: the fixes were spawned.
        QVERIFY2(m_mapServer->log().contains("cache models/" + kStandInModel.toLatin1()),
                 m_mapServer->log().right(3000).constData());
    }

    void cleanupTestCase()
    {
        m_monitor.reset();
        m_mapServer.reset();
        qInfo("the whole test took %lld s", m_clock.elapsed() / 1000);
    }
};

QTEST_GUILESS_MAIN(TestModOpenMohaa)
#include "test_mod_openmohaa.moc"
