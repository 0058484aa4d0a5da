// The engine against the UDP game-server double: warm-up and probe, the scan
// and the patrol pass on their schedule, and the exact commands they send.

#include "SkelvarRcon/engine/engine.h"
#include "SkelvarRcon/session/monitorsession.h"
#include "SkelvarRcon/session/skelvarlog.h"
#include "SkelvarRcon/store/liststore.h"
#include "SkelvarRcon/store/recordlist.h"
#include "SkelvarRcon/store/settings.h"
#include "SkelvarRcon/transport/rcontransport.h"
#include "tests/SkelvarRcon/engine/statusfixture.h"
#include "tests/support/monitorparts.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>

using namespace skelvar;
using namespace skelvar::rcon;
using skelvar::test::GameServerDouble;
using skelvar::test::ScriptedPrompter;
using skelvar::test::StatusPlayer;

Q_DECLARE_METATYPE(QList<StatusPlayer>)
Q_DECLARE_METATYPE(skelvar::test::GameServerDouble::Dialect)

namespace {

using Pairs = QList<std::pair<QString, QString>>;

const QStringList kResets{"set sv_skelvar 0", "set nextmap \"\"", "set resetvalue 0"};

const QByteArray kGetStatus(
    "\xFF\xFF\xFF\xFFstatusResponse\n\\g_gametypestring\\Objective-Match\\mapname\\obj/obj_team2\\version\\Medal of "
    "Honor Allied Assault 1.11 win-x86 Mar 2002\\sv_maplist\\obj/obj_team1 obj/obj_team2 obj/obj_team4\n"
    "0 48 \"Big Name\"\n");

Pairs cleanInfo(const QString& name)
{
    return {{"name", name},      {"dm_playermodel", "american_army"}, {"dm_playergermanmodel", "german_wehrmacht"},
            {"r_farplane", "0"}, {"version", "mohaa 1.11 win-x86"},   {"rate", "25000"}};
}

Pairs withLine(Pairs p, const QString& key, const QString& value)
{
    p.append({key, value});
    return p;
}

// One monitor without its window, pointed at a game-server double.
struct Rig : test::MonitorParts {
    std::unique_ptr<Engine> engine;
    QList<bool> passes;  // true = scan, in start order
    int finished = 0;
    int patrolsFinished = 0;
    int scansFinished = 0;

    explicit Rig(int waitMs = 50, int tickMs = 30) : MonitorParts(waitMs)
    {
        session->setTimingForTests({5, 5, tickMs});
        engine = std::make_unique<Engine>(*session, rcon, settings, ui,
                                          EngineServices{&lists, &players, &log, &prompter, nullptr});
        QObject::connect(engine.get(), &Engine::passStarted, engine.get(), [this](bool scan) { passes << scan; });
        QObject::connect(engine.get(), &Engine::passFinished, engine.get(), [this](bool scan) {
            ++finished;
            ++(scan ? scansFinished : patrolsFinished);
        });

        serveFreeServer();
        server.setReply("getstatus", {{kGetStatus, 0}});
        server.setReply("status", GameServerDouble::splitAnswer(test::statusAnswer({}), 1000));
    }
    void serve(const QList<StatusPlayer>& table, int chunk = 1000)
    {
        server.setReply("status", GameServerDouble::splitAnswer(test::statusAnswer(table), chunk));
    }
    void serveInfo(const QString& name, const Pairs& info) { userinfo.insert(name, test::userinfoAnswer(info)); }
    bool idle() { return transportIdle() && !engine->busy(); }
    void stop()
    {
        session->stop();
        QTRY_VERIFY(idle());
    }
};

// The clock commands carry the time of day: "#" stands for any number.
void compareCommands(const QStringList& actual, const QStringList& expected)
{
    QStringList a = actual;
    for (QString& c : a)
        c.replace(QRegularExpression("^(set sv_(minutes|hours)) \\d{1,2}$"), "\\1 #");
    QCOMPARE(a, expected);
}

}  // namespace

class TestEnginePasses : public QObject {
    Q_OBJECT

private slots:
    void fullScanOfThreePlayers_data()
    {
        QTest::addColumn<bool>("original");
        QTest::newRow("engine: colour codes, rate limit") << false;
        QTest::newRow("original server: no codes, no limit") << true;
    }
    void fullScanOfThreePlayers()
    {
        QFETCH(bool, original);
        Rig r;
        if (original) {
            r.server.setDialect(GameServerDouble::Dialect::Original);
            r.server.setRateLimit(0);
        }
        r.serve({{0, 5, "48", "Big Name", "10.0.0.1:12203"},
                 {1, 9, "61", "^1Cheat^7er", "10.0.0.2:12203"},
                 {2, 0, "CNCT", "Warned", "10.0.0.3:12203"}});
        r.serveInfo("Big Name", cleanInfo("Big Name"));
        r.serveInfo("^1Cheat^7er", withLine(cleanInfo("^1Cheat^7er"), "r_farplane_nofog", "1"));
        r.serveInfo("Warned", withLine(cleanInfo("Warned"), "r_lightmap", "1"));
        r.settings.setChecked(Settings::penaltyRow(2).warning, true);  // White Walls: a warning only
        bool freshTableForPatrol = false;
        QObject::connect(r.engine.get(), &Engine::passStarted, r.engine.get(),
                         [&](bool scan) { freshTableForPatrol = !scan && r.engine->statusText().isEmpty(); });

        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.patrolsFinished == 1, 5000);
        QTRY_VERIFY(r.idle());
        compareCommands(r.commands(), {"sv_skelvar",
                                       "set sv_skelvar 1",
                                       "version",
                                       "cheats",
                                       "versionskelvar",
                                       "zovplinketversion",
                                       "getstatus",
                                       "set nextmap obj/obj_team4",
                                       "set sv_minutes #",
                                       "set sv_hours #",
                                       "set scantime 3",
                                       "set scanpass 1",
                                       "set resetvalue hacked",
                                       "status",
                                       "sv_skelvar",
                                       "dumpuser \"Big Name",
                                       "dumpuser \"^1Cheat^7er",
                                       "say Cheat Detected!! Player: ^1Cheat^7er Cheat: NoFog IP: 10.0.0.2",
                                       "status",
                                       "clientkick 1",
                                       "dumpuser \"Warned",
                                       "say Cheat Detected!! Player: Warned Cheat: WhiteWalls IP: 10.0.0.3",
                                       "status",
                                       "sv_skelvar"});
        QCOMPARE(r.passes, (QList<bool>{true, false}));
        QVERIFY(freshTableForPatrol);
        // activity.log holds the traffic since the last pass began: the patrol's.
        QFile activity(r.dir.filePath("activity.log"));
        QVERIFY(activity.open(QIODevice::ReadOnly));
        const QByteArray traffic = activity.readAll();
        QVERIFY(traffic.startsWith("Rcon request: \r\nstatus\r\n"));
        QVERIFY(!traffic.contains("dumpuser"));
        QVERIFY(!traffic.contains("getstatus"));

        QCOMPARE(r.players.size(), 3);
        const PlayerRow& big = r.players.at(0);
        QCOMPARE((QStringList{big.no, big.ping, big.name, big.ip, big.rate, big.alliedSkin, big.axisSkin}),
                 (QStringList{"0", "48", "Big Name", "10.0.0.1", "25000", "american_army", "german_wehrmacht"}));
        QCOMPARE(r.players.at(2).ping, QString("CNCT"));

        const QString today = lists::formatDate(QDate::currentDate());
        QCOMPARE(r.lists.kicks().records(),
                 (QList<lists::Record>{{"10.0.0.2", "^1Cheat^7er", "Cheat: NoFog", today, ""}}));
        QCOMPARE(r.lists.warnings().records(),
                 (QList<lists::Record>{{"10.0.0.3", "Warned", "Cheat: WhiteWalls", today, ""}}));
        QCOMPARE(r.lists.bans().size(), 0);
        QCOMPARE(r.logLines(), (QStringList{"Cheat Detected!! Player: ^1Cheat^7er Cheat: NoFog IP: 10.0.0.2",
                                            "Cheat Detected!! Player: Warned Cheat: WhiteWalls IP: 10.0.0.3"}));

        QCOMPARE(r.ui.text("Command1"), QString("Start"));
        // A regular tick may already have come after the pass.
        QVERIFY(QStringList({"Last Data Retrieval: 0 seconds ago", "Last Data Retrieval: 1 seconds ago"})
                    .contains(r.ui.text("Label18")));
        QCOMPARE(r.ui.text("Label21"), QString("Server: Running - Now playing: obj/obj_team2 on objective match"));
        for (const QString& c : UiState::passLockedControls())
            QVERIFY2(r.ui.isEnabled(c), qPrintable(c));
        QVERIFY(r.session->engineTimer()->isActive());
        // Set by the passes; a regular tick may have counted down since.
        QVERIFY(r.engine->scanCountdown() > 170 && r.engine->scanCountdown() <= 180);
        QVERIFY(r.engine->patrolCountdown() > 35 && r.engine->patrolCountdown() <= 45);
        QCOMPARE(r.ui.maximum("scanpro"), 180);
        QCOMPARE(r.ui.maximum("kickpro"), 45);

        r.server.clearReceived();
        r.stop();
        QCOMPARE(r.commands(), kResets);
        QCOMPARE(r.players.size(), 0);
    }

    void probeReadsTheServer_data()
    {
        QTest::addColumn<bool>("rich");
        QTest::newRow("windows, nothing running, no getstatus") << false;
        QTest::newRow("linux spearhead with both mods") << true;
    }
    void probeReadsTheServer()
    {
        QFETCH(bool, rich);
        Rig r;
        QStringList expected{"version", "cheats", "versionskelvar", "zovplinketversion", "getstatus"};
        if (rich) {
            r.server.setVariable("version", "Medal of Honor Spearhead 2.15 linux-i386 Dec 2002");
            r.server.setVariable("zovplinketversion", "1.3");
            r.server.setReply(
                "getstatus", {{QByteArray("\xFF\xFF\xFF\xFFstatusResponse\n\\mapname\\Obj/Obj_Team1\\g_gametypestring\\"
                                          "Objective-Match\\version\\Medal of Honor Spearhead 2.15 linux-i386 Dec "
                                          "2002\\sv_maplist\\obj/obj_team1 obj/obj_team2\n"),
                               0}});
            expected << "set nextmap obj/obj_team2";
        } else {
            r.server.setVariable("cheats", "1");
            r.server.removeVariable("versionskelvar");
            r.server.setSilent("getstatus");
            expected << "getstatus";  // a silent read is asked once more
            r.settings.setChecked("Cheats_6", false);
            r.settings.setText("txtMin", "5");
        }
        expected << "set sv_minutes #"
                 << "set sv_hours #" << (rich ? "set scantime 3" : "set scantime 5") << "set scanpass 1"
                 << (rich ? "set resetvalue hacked" : "set resetvalue 0");

        r.session->start();
        QTRY_COMPARE(r.ui.text("Command1"), QString("Warming"));
        QTRY_VERIFY_WITH_TIMEOUT(!r.afterWarmup().isEmpty() || r.commands().contains("status"), 5000);
        QVERIFY(r.commands().size() >= expected.size() + 2);
        compareCommands(r.commands().mid(2, expected.size()), expected);

        QVERIFY(!r.ui.isVisible("Picture1"));
        QCOMPARE(r.ui.text("Label35"), rich ? QString("Server OS: Linux") : QString("Server OS: Windows"));
        QCOMPARE(r.ui.isVisible("Image2"), !rich);
        QCOMPARE(r.ui.isVisible("Image5"), rich);
        QCOMPARE(r.ui.text("Label23"), rich ? QString("Cheats - Disabled") : QString("Cheats - Enabled!!"));
        QCOMPARE(r.ui.isVisible("Image1_0"), !rich);
        QCOMPARE(r.ui.isVisible("Image1_1"), rich);
        QCOMPARE(r.ui.text("Label25"), rich ? QString("ModSkelvar - Running") : QString("ModSkelvar - Not Running"));
        QCOMPARE(r.ui.isVisible("Image3_0"), !rich);
        QCOMPARE(r.ui.isVisible("Image3_1"), rich);
        QCOMPARE(r.ui.text("Label26"), rich ? QString("Zov Plinket - Running") : QString("Zov Plinket - Not Running"));
        QCOMPARE(r.ui.isVisible("Image4_0"), !rich);
        QCOMPARE(r.ui.isVisible("Image4_1"), rich);
        QCOMPARE(r.ui.text("Label21"), rich ? QString("Server: Running - Now playing: obj/obj_team1 on objective match")
                                            : QString("No answer from the server to: getstatus"));
        QCOMPARE(r.logLines(), rich ? QStringList() : QStringList{"No answer from the server to: getstatus"});
        QCOMPARE(r.engine->currentMap(), rich ? QString("obj/obj_team1") : QString());
        QCOMPARE(r.engine->spearheadServer(), rich);
        r.stop();
    }

    void passesKeepTheirSchedule()
    {
        // Scan every 60 regular ticks, patrol every 3; a 3 ms tick stands for the second.
        Rig r(3, 3);
        r.settings.setText("txtMin", "1");
        r.settings.setText("MinPolt", "3");
        QList<std::pair<int, bool>> starts;  // regular tick, scan?
        bool timerStoppedInPasses = true;
        QObject::connect(r.engine.get(), &Engine::passStarted, r.engine.get(), [&](bool scan) {
            starts.append({r.engine->regularTicks(), scan});
            timerStoppedInPasses = timerStoppedInPasses && !r.session->engineTimer()->isActive();
            // A bad period typed during the session keeps the last good one.
            if (scan)
                r.settings.setText("txtMin", "abc");
        });

        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.engine->regularTicks() >= 64 && !r.engine->busy(), 10000);
        r.stop();

        // The wait may see the engine idle only some passes after tick 64.
        QList<std::pair<int, bool>> expected{{1, true}, {1, false}};
        for (int t = 4; t <= r.engine->regularTicks(); t += 3) {
            if (t % 60 == 1)
                expected.append({t, true});
            expected.append({t, false});
        }
        QCOMPARE(starts, expected);
        QVERIFY(timerStoppedInPasses);
        // The warm-up came first, on the first tick.
        const QStringList all = r.commands();
        QVERIFY(all.indexOf("set resetvalue hacked") < all.indexOf("status"));
        QCOMPARE(r.prompter.shown.size(), 1);
        QCOMPARE(r.prompter.shown[0].title, QString("Invalid value"));
    }

    void aPassOutlastingTicksNeverOverlaps()
    {
        Rig r(30, 5);
        r.serve({{0, 0, "50", "A", "10.0.0.1:1"}, {1, 0, "50", "B", "10.0.0.2:1"}});
        r.serveInfo("A", cleanInfo("A"));
        r.serveInfo("B", cleanInfo("B"));
        int running = 0;
        int maxRunning = 0;
        QList<int> ticksAtStart, ticksAtEnd;
        QObject::connect(r.engine.get(), &Engine::passStarted, r.engine.get(), [&](bool) {
            maxRunning = qMax(maxRunning, ++running);
            ticksAtStart << r.engine->regularTicks();
            // Stray ticks while the pass runs must start nothing.
            r.session->engineTimer()->start(1);
        });
        QObject::connect(r.engine.get(), &Engine::passFinished, r.engine.get(), [&](bool) {
            --running;
            ticksAtEnd << r.engine->regularTicks();
        });
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.patrolsFinished >= 1, 5000);
        r.stop();
        QCOMPARE(maxRunning, 1);
        QCOMPARE(r.passes, (QList<bool>{true, false}));
        QCOMPARE(ticksAtStart, (QList<int>{1, 1}));
        QCOMPARE(ticksAtEnd, (QList<int>{1, 1}));
        QCOMPARE(r.commands().count("status"), 2);
        QCOMPARE(r.commands().count("dumpuser \"A"), 1);
    }

    void statusOverSeveralDatagrams_data()
    {
        QTest::addColumn<bool>("firstOnly");
        QTest::newRow("whole table") << false;
        QTest::newRow("first datagram only") << true;
    }
    void statusOverSeveralDatagrams()
    {
        QFETCH(bool, firstOnly);
        Rig r;
        QList<StatusPlayer> table;
        const QStringList& names = test::awkwardNames();
        for (int i = 0; i < names.size(); ++i)
            table.append(
                {i, i, QString::number(20 + i), names[i], QStringLiteral("10.1.0.%1:12203").arg(i), i, 1000, 5000 + i});
        const QByteArray text = test::statusAnswer(table);
        const GameServerDouble::Reply parts = GameServerDouble::splitAnswer(text, 1000);
        QVERIFY(parts.size() >= 2);
        if (firstOnly)
            r.server.setReply("status", {parts.first()});
        else
            r.server.setReply("status", parts);
        // Every player asked for answers with his own table, whatever became
        // of his name on the way.
        r.server.setHandler([&names](const GameServerDouble::Received& q) -> std::optional<GameServerDouble::Reply> {
            static const QString ask = "dumpuser \"";
            if (!q.command.startsWith(ask))
                return std::nullopt;
            const QString asked = q.command.mid(ask.size());
            const auto named =
                std::find_if(names.begin(), names.end(), [&](const QString& n) { return rconSafe(n) == asked; });
            const QString name = named == names.end() ? asked : *named;
            return GameServerDouble::Reply{GameServerDouble::datagram(test::userinfoAnswer(cleanInfo(name)))};
        });

        // The rows that arrived whole; the one cut at the datagram's end is not a player.
        const QList<QByteArray> lines = text.left(firstOnly ? 1000 : text.size()).split('\n');
        const int whole = int(lines.size()) - 3 - (firstOnly ? 1 : 2);
        QVERIFY(!firstOnly || (whole > 3 && whole < names.size()));
        QVERIFY(!firstOnly || !lines.last().isEmpty());

        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.scansFinished == 1, 5000);
        QCOMPARE(r.players.size(), whole);
        for (int i = 0; i < whole; ++i) {
            const PlayerRow& row = r.players.at(i);
            QCOMPARE(row.name, names[i]);
            QCOMPARE(row.ip, QStringLiteral("10.1.0.%1").arg(i));
            QCOMPARE(row.rate, QString::number(5000 + i));
        }
        r.stop();
    }

    void playerTextCannotAddCommands()
    {
        Rig r;
        const QString quoted = "x\";quit;\"";
        const QString broken = "evil\rname";
        r.serve({{0, 0, "50", quoted, "10.0.0.1:1"}, {1, 0, "50", broken, "10.0.0.2:1"}});
        // Asked for by their names as sent; their tables name them as the status does.
        r.serveInfo("xquit", withLine(cleanInfo(quoted), "r_farplane_nofog", "1"));
        r.serveInfo("evil name", withLine(cleanInfo(broken), "r_farplane_nofog", "1"));
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.patrolsFinished == 1, 5000);
        r.stop();
        QCOMPARE(
            r.afterWarmup().mid(0, 10),
            (QStringList{"status", "sv_skelvar", "dumpuser \"xquit",
                         "say Cheat Detected!! Player: xquit Cheat: NoFog IP: 10.0.0.1", "status", "clientkick 0",
                         "dumpuser \"evil name", "say Cheat Detected!! Player: evil name Cheat: NoFog IP: 10.0.0.2",
                         "status", "clientkick 1"}));
        for (const GameServerDouble::Received& q : r.server.received()) {
            QVERIFY2(!q.raw.contains(';') && !q.raw.contains('\n') && !q.raw.contains('\r'), q.raw.constData());
            QVERIFY2(q.raw.count('"') <= (q.command.startsWith("set nextmap") ? 2 : 1), q.raw.constData());
        }
        // The records keep the name, less what would break the list file's line.
        QCOMPARE(r.lists.kicks().size(), 2);
        QCOMPARE(r.lists.kicks().at(0).name, quoted);
        QCOMPARE(r.lists.kicks().at(1).name, QString("evilname"));
    }

    // dumpuser asks by the name as sent: players whose names go out alike
    // would get one another's answers, and so one another's penalties.
    void namesAskedAlikeAreNotAskedFor_data()
    {
        QTest::addColumn<QList<StatusPlayer>>("table");
        QTest::addColumn<QStringList>("sent");    // after the scan's "status" and its claim check
        QTest::addColumn<QStringList>("kicked");  // addresses in kicks.lst
        QTest::addColumn<QStringList>("log");
        const QString fog = "say Cheat Detected!! Player: %1 Cheat: NoFog IP: %2";
        const QString twin = "Not scanned: more than one player is named Twin";
        QTest::newRow("same name") << QList<StatusPlayer>{{0, 0, "50", "Twin", "10.0.0.1:1"},
                                                          {1, 0, "50", "Solo", "10.0.0.2:1"},
                                                          {2, 0, "50", "Twin", "10.0.0.3:1"},
                                                          {3, 0, "ZMBI", "Twin", "10.0.0.4:1"}}
                                   << QStringList{"dumpuser \"Solo"} << QStringList{} << QStringList{twin, twin};
        QTest::newRow("alike once cleaned")
            << QList<StatusPlayer>{{0, 0, "50", "Bob;", "10.0.0.1:1"},      {1, 0, "50", "Bob", "10.0.0.2:1"},
                                   {2, 0, "50", "Twin\"", "10.0.0.3:1"},    {3, 0, "50", "Twin;", "10.0.0.4:1"},
                                   {4, 0, "50", "Big\rName", "10.0.0.5:1"}, {5, 0, "50", "Big Name", "10.0.0.6:1"},
                                   {6, 0, "50", "Twin;;", "10.0.0.7:1"}}
            // Bob and Big Name go out as they are and get their own answers.
            << QStringList{"dumpuser \"Bob", fog.arg("Bob", "10.0.0.2"), "status", "clientkick 1",
                           "dumpuser \"Big Name"}
            << QStringList{"10.0.0.2"}
            << QStringList{"Not scanned: the name Bob; is asked for as Bob, and so is another player's",
                           "Cheat Detected!! Player: Bob Cheat: NoFog IP: 10.0.0.2",
                           "Not scanned: the name Twin\" is asked for as Twin, and so is another player's",
                           "Not scanned: the name Twin; is asked for as Twin, and so is another player's",
                           // skelvar.log writes a line break as a blank
                           "Not scanned: the name Big Name is asked for as Big Name, and so is another player's",
                           "Not scanned: the name Twin;; is asked for as Twin, and so is another player's"};
    }
    void namesAskedAlikeAreNotAskedFor()
    {
        QFETCH(QList<StatusPlayer>, table);
        QFETCH(QStringList, sent);
        QFETCH(QStringList, kicked);
        QFETCH(QStringList, log);
        Rig r;
        r.serve(table);
        for (const QString& cheater : {"Twin", "Bob"})
            r.serveInfo(cheater, withLine(cleanInfo(cheater), "r_farplane_nofog", "1"));
        for (const QString& clean : {"Solo", "Big Name"})
            r.serveInfo(clean, cleanInfo(clean));
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.patrolsFinished == 1, 5000);
        r.stop();
        QCOMPARE(r.afterWarmup(),
                 (QStringList{"status", "sv_skelvar"} + sent + QStringList{"status", "sv_skelvar"} + kResets));
        QStringList kicks;
        for (const lists::Record& k : r.lists.kicks().records())
            kicks << k.ip;
        QCOMPARE(kicks, kicked);
        QCOMPARE(r.logLines(), log);
    }

    void penaltyRowDecides_data()
    {
        QTest::addColumn<QStringList>("changes");  // control=value
        QTest::addColumn<QStringList>("sent");     // after dumpuser
        QTest::addColumn<QString>("list");         // w, k, b or empty
        QTest::addColumn<int>("untilDays");        // -1: no end
        QTest::addColumn<int>("logLines");
        const QString say = "say Cheat Detected!! Player: Bob Cheat: NoFog IP: 10.0.0.5";
        const PenaltyRowNames row1 = Settings::penaltyRow(1);
        QTest::newRow("silent: only the log") << QStringList{"Silent=1"} << QStringList{} << "" << -1 << 1;
        QTest::newRow("warning") << QStringList{row1.warning + "=1"} << QStringList{say} << "w" << -1 << 1;
        QTest::newRow("kick, no log") << QStringList{"Logea=0"} << QStringList{say, "status", "clientkick 4"} << "k"
                                      << -1 << 0;
        QTest::newRow("ban 7 days") << QStringList{row1.ban + "=1", row1.days + "=7"}
                                    << QStringList{say, "status", "clientkick 4"} << "b" << 7 << 1;
        QTest::newRow("ban 00 has no end") << QStringList{row1.ban + "=1", row1.days + "=00"}
                                           << QStringList{say, "status", "clientkick 4"} << "b" << -1 << 1;
    }
    void penaltyRowDecides()
    {
        QFETCH(QStringList, changes);
        QFETCH(QStringList, sent);
        QFETCH(QString, list);
        QFETCH(int, untilDays);
        QFETCH(int, logLines);
        Rig r;
        for (const QString& c : changes) {
            const QString name = c.section('=', 0, 0), value = c.section('=', 1);
            if (Settings::formOf(name) == Settings::Form::Text)
                r.settings.setText(name, value);
            else
                r.settings.setChecked(name, value == "1");
        }
        r.serve({{4, 0, "50", "Bob", "10.0.0.5:12203"}});
        r.serveInfo("Bob", withLine(cleanInfo("Bob"), "r_farplane_nofog", "1"));
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.scansFinished == 1, 5000);
        r.stop();
        QCOMPARE(r.afterWarmup().mid(3, sent.size() + 1), sent + QStringList{"status"});
        QCOMPARE(r.lists.warnings().size(), list == "w" ? 1 : 0);
        QCOMPARE(r.lists.kicks().size(), list == "k" ? 1 : 0);
        QCOMPARE(r.lists.bans().size(), list == "b" ? 1 : 0);
        if (list == "b")
            QCOMPARE(r.lists.bans().at(0).until,
                     untilDays < 0 ? QString() : lists::formatDate(QDate::currentDate().addDays(untilDays)));
        QCOMPARE(r.logLines().size(), logLines);
    }

    void banOverAnExistingBanAddsNoRow()
    {
        Rig r;
        const PenaltyRowNames row1 = Settings::penaltyRow(1);
        r.settings.setChecked(row1.ban, true);
        r.settings.setText(row1.days, "7");
        r.lists.bans().add({"10.0.0.5", "Bob", "Admin. Ban", "2026-01-01", ""});
        r.serve({{4, 0, "50", "Bob", "10.0.0.5:12203"}});
        r.serveInfo("Bob", withLine(cleanInfo("Bob"), "r_farplane_nofog", "1"));
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.scansFinished == 1, 5000);
        r.stop();
        // Said and kicked all the same, but the ban without end stays the only row.
        QVERIFY(r.commands().contains("clientkick 4"));
        QCOMPARE(r.lists.bans().size(), 1);
        QCOMPARE(r.lists.bans().at(0).reason, QString("Admin. Ban"));
    }

    // Stop pressed while a pass waits for an answer: no line of the pass runs
    // after it, so the three resets are all that follows that request.
    void stopDuringAPassSendsOnlyTheResets_data()
    {
        QTest::addColumn<QString>("stopAt");  // the request during whose wait Stop is pressed
        QTest::addColumn<int>("records");     // made before the stop
        QTest::newRow("warm-up probe") << "cheats" << 0;
        QTest::newRow("scan's status table") << "status" << 0;
        QTest::newRow("a player's user info") << "dumpuser \"Big Name" << 0;
        QTest::newRow("a detection's alert") << "say " << 0;
        QTest::newRow("patrol's status table, second read") << "status#2" << 1;
    }
    void stopDuringAPassSendsOnlyTheResets()
    {
        QFETCH(QString, stopAt);
        QFETCH(int, records);
        const bool second = stopAt.endsWith("#2");
        const QString command = second ? stopAt.chopped(2) : stopAt;
        Rig r;
        r.serve({{0, 5, "48", "Big Name", "10.0.0.1:12203"}, {1, 9, "61", "Other", "10.0.0.2:12203"}});
        r.serveInfo("Big Name", withLine(cleanInfo("Big Name"), "r_farplane_nofog", "1"));
        r.serveInfo("Other", cleanInfo("Other"));
        int seen = 0;
        int stoppedAt = -1;
        int finishedAtStop = -1;
        QObject::connect(&r.server, &GameServerDouble::datagramReceived, r.engine.get(), [&] {
            const QStringList c = r.commands();
            if (stoppedAt < 0 && !c.isEmpty() && c.last().startsWith(command) && ++seen == (second ? 2 : 1)) {
                stoppedAt = int(c.size()) - 1;
                finishedAtStop = r.finished;
                r.session->stop();
            }
        });
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(stoppedAt >= 0 && r.idle(), 5000);
        QTest::qWait(200);
        QCOMPARE(r.commands().mid(stoppedAt + 1), kResets);
        QCOMPARE(r.lists.warnings().size() + r.lists.kicks().size() + r.lists.bans().size(), records);
        // What the stop reset, the pass did not show again.
        QCOMPARE(r.ui.text("Label21"), QString("Server not running!!"));
        QCOMPARE(r.ui.text("Label23"), QString("Cheats: ?"));
        QVERIFY(!r.engine->busy());
        QVERIFY(!r.session->engineTimer()->isActive());
        QCOMPARE(r.finished, finishedAtStop);  // the pass did not get to its end
    }

    void emptyStatusKeepsThePlayers()
    {
        Rig r;
        r.serve({{0, 0, "50", "Bob", "10.0.0.5:1"}});
        r.serveInfo("Bob", cleanInfo("Bob"));
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.patrolsFinished == 1 && r.idle(), 5000);
        QCOMPARE(r.players.size(), 1);

        r.server.setSilent("status");
        r.server.clearReceived();
        r.session->start();  // during a session: scan at the next tick
        QTRY_VERIFY_WITH_TIMEOUT(r.patrolsFinished == 2 && r.idle(), 5000);
        // The scan finds no table, and neither does the patrol (each asks
        // twice): no map check, no check of the claim.
        QCOMPARE(r.commands(), (QStringList{"set scanpass 1", "status", "status", "status", "status"}));
        QCOMPARE(r.players.size(), 1);
        QCOMPARE(r.ui.text("Command1"), QString("Start"));
        QVERIFY(r.engine->scanCountdown() > 170 && r.engine->scanCountdown() <= 180);
        r.stop();
    }

    void dumpuserWithoutUserInfo_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::newRow("not on the server") << false;
        QTest::newRow("silent twice") << true;
    }
    void dumpuserWithoutUserInfo()
    {
        // Either way Gone is dropped from the scan; only silence is retried and told.
        QFETCH(bool, silent);
        Rig r;
        r.serve({{0, 0, "50", "Gone", "10.0.0.1:1"}, {1, 0, "50", "Here", "10.0.0.2:1"}});
        if (silent)
            r.lostUsers << "Gone";  // otherwise the double says he is not on the server
        r.serveInfo("Here", cleanInfo("Here"));
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.scansFinished == 1 && r.idle(), 5000);
        QCOMPARE(r.players.size(), 1);
        QCOMPARE(r.players.at(0).name, QString("Here"));
        QCOMPARE(r.afterWarmup().count("dumpuser \"Gone"), silent ? 2 : 1);
        const QString notice = "No answer from the server to: dumpuser \"Gone";
        QCOMPARE(r.logLines(), silent ? QStringList{notice} : QStringList());
        QCOMPARE(r.ui.text("Label21"),
                 silent ? notice : QString("Server: Running - Now playing: obj/obj_team2 on objective match"));
        QCOMPARE(r.rcon.unansweredCount(), silent ? 1 : 0);

        // A pass that gets all its answers puts the state line back.
        r.lostUsers.clear();
        r.userinfo.insert("Gone", test::userinfoAnswer(cleanInfo("Gone")));
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.scansFinished == 2 && r.idle(), 5000);
        QCOMPARE(r.ui.text("Label21"), QString("Server: Running - Now playing: obj/obj_team2 on objective match"));
        QCOMPARE(r.players.size(), 2);
        r.stop();
    }

    void restartedServerIsClaimedAgain_data()
    {
        QTest::addColumn<bool>("unset");
        QTest::addColumn<bool>("byScan");
        QTest::newRow("claim unset, patrol pass") << true << false;
        QTest::newRow("claim back at 0, patrol pass") << false << false;
        QTest::newRow("claim unset, scan goes on with its players") << true << true;
    }
    void restartedServerIsClaimedAgain()
    {
        QFETCH(bool, unset);
        QFETCH(bool, byScan);
        Rig r;
        r.serve({{0, 0, "50", "Bob", "10.0.0.5:1"}});
        r.serveInfo("Bob", cleanInfo("Bob"));
        // Either a patrol pass at every tick, or passes only when asked for.
        r.settings.setText("MinPolt", byScan ? "300" : "1");
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.patrolsFinished >= 1 && r.idle(), 5000);
        QCOMPARE(r.server.variable("sv_skelvar"), QString("1"));
        const QString running = r.ui.text("Label21");

        // The server process stops: the next pass gets no answer at all.
        r.server.setAnswering(false);
        const int before = r.patrolsFinished;
        if (byScan)
            r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.patrolsFinished >= before + 1 && (!byScan || r.idle()), 5000);
        QVERIFY(r.ui.text("Label21").startsWith("Server not answering since "));
        QCOMPARE(r.logLines().filter("Server not answering since ").size(), 1);

        // It comes back with none of the variables the monitor had set.
        for (const char* v : {"scantime", "scanpass", "resetvalue", "nextmap", "sv_minutes", "sv_hours"})
            r.server.removeVariable(v);
        if (unset)
            r.server.removeVariable("sv_skelvar");
        else
            r.server.setVariable("sv_skelvar", "0");
        r.server.clearReceived();
        r.server.setAnswering(true);
        // Back within the first whole pass after its return.
        const int back = r.patrolsFinished;
        if (byScan)
            r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.patrolsFinished >= back + (byScan ? 1 : 2), 5000);
        r.session->engineTimer()->stop();
        QTRY_VERIFY(r.idle());
        QStringList sent = r.commands();
        if (byScan)
            QCOMPARE(sent.takeFirst(), QString("set scanpass 1"));
        sent.removeAll("status");
        QStringList expected{"sv_skelvar",           "set sv_skelvar 1", "getstatus",      "set nextmap obj/obj_team4",
                             "set sv_minutes #",     "set sv_hours #",   "set scantime 3", "set scanpass 1",
                             "set resetvalue hacked"};
        if (byScan)
            expected << "dumpuser \"Bob";
        compareCommands(sent.mid(0, expected.size()), expected);
        QCOMPARE(sent.count("set sv_skelvar 1"), 1);  // taken back without asking, once
        QCOMPARE(r.server.variable("sv_skelvar"), QString("1"));
        QCOMPARE(r.server.variable("scantime"), QString("3"));
        QCOMPARE(r.server.variable("resetvalue"), QString("hacked"));
        QCOMPARE(r.server.variable("nextmap"), QString("obj/obj_team4"));
        QVERIFY(r.server.hasVariable("sv_hours"));
        QVERIFY(r.prompter.shown.isEmpty());
        QCOMPARE(r.ui.text("Label21"), running);
        QCOMPARE(r.logLines().mid(1),
                 (QStringList{"Server answering again",
                              "Server restarted: claimed again and the script's variables set anew"}));
        r.stop();
    }

    // A server back with another rcon password refuses every command: it is
    // no restart to take back, and neither the claim nor the script's
    // variables are sent to it.
    void refusedPasswordIsNoRestart_data()
    {
        QTest::addColumn<bool>("byScan");
        QTest::newRow("patrol pass after silence") << false;
        QTest::newRow("scan") << true;
    }
    void refusedPasswordIsNoRestart()
    {
        QFETCH(bool, byScan);
        Rig r;
        r.settings.setText("MinPolt", byScan ? "300" : "1");
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.patrolsFinished >= 1 && r.idle(), 5000);
        if (!byScan) {
            // Down for a pass: the next one reads the claim again.
            r.server.setAnswering(false);
            QTRY_VERIFY_WITH_TIMEOUT(r.ui.text("Label21").startsWith("Server not answering since "), 5000);
        }
        r.server.setPassword("changed");
        r.server.clearReceived();
        r.server.setAnswering(true);
        const int back = r.patrolsFinished;
        if (byScan)
            r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.patrolsFinished >= back + (byScan ? 1 : 2), 5000);
        r.session->engineTimer()->stop();
        QTRY_VERIFY(r.idle());
        const QStringList sent = r.commands();
        QVERIFY2(sent.contains("sv_skelvar"), qPrintable(sent.join(", ")));
        // The forced scan's own request aside, nothing is set.
        for (const QString& c : sent)
            QVERIFY2(!c.startsWith("set ") || c == "set scanpass 1", qPrintable(c));
        QVERIFY(r.logLines().filter("Server restarted").isEmpty());
        r.stop();
    }

    // A server that restarts between two patrol passes answers the next
    // status as before, with the claim gone: that pass takes it back and
    // primes the script, while a claim still held costs only its read.
    void claimGoneSincePatrolPassIsTakenBack_data()
    {
        QTest::addColumn<GameServerDouble::Dialect>("dialect");
        QTest::addColumn<QString>("claim");  // sv_skelvar after the restart; empty: unset
        QTest::addColumn<bool>("reclaimed");
        QTest::newRow("back at 0") << GameServerDouble::Dialect::Engine << "0" << true;
        QTest::newRow("unset, original console: Unknown command") << GameServerDouble::Dialect::Original << "" << true;
        QTest::newRow("unset, OpenMoHAA: an empty print") << GameServerDouble::Dialect::OpenMohaa << "" << true;
        QTest::newRow("still held") << GameServerDouble::Dialect::Engine << "1" << false;
    }
    void claimGoneSincePatrolPassIsTakenBack()
    {
        QFETCH(GameServerDouble::Dialect, dialect);
        QFETCH(QString, claim);
        QFETCH(bool, reclaimed);
        Rig r;
        r.server.setDialect(dialect);
        r.serve({{0, 0, "50", "Bob", "10.0.0.5:1"}});
        r.serveInfo("Bob", cleanInfo("Bob"));
        // The longest periods: only the passes the test asks for run.
        r.settings.setText("txtMin", "546");
        r.settings.setText("MinPolt", "32767");
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.patrolsFinished == 1 && r.idle(), 5000);
        QCOMPARE(r.server.variable("sv_skelvar"), QString("1"));
        const QString running = r.ui.text("Label21");

        // Restarted between the passes, with no pass finding it silent.
        const QStringList script{"scantime", "scanpass", "resetvalue", "nextmap", "sv_minutes", "sv_hours"};
        if (reclaimed)
            for (const QString& v : script)
                r.server.removeVariable(v);
        if (claim.isEmpty())
            r.server.removeVariable("sv_skelvar");
        else
            r.server.setVariable("sv_skelvar", claim);
        r.server.clearReceived();
        r.engine->patrolAtNextTickForTests();
        QTRY_VERIFY_WITH_TIMEOUT(r.patrolsFinished == 2 && r.idle(), 5000);
        r.session->engineTimer()->stop();

        QStringList expected{"status", "sv_skelvar"};
        if (reclaimed)
            expected << "set sv_skelvar 1"
                     << "getstatus"
                     << "set nextmap obj/obj_team4"
                     << "set sv_minutes #"
                     << "set sv_hours #"
                     << "set scantime 546"
                     << "set scanpass 1"
                     << "set resetvalue hacked";
        compareCommands(r.commands(), expected);
        QCOMPARE(r.server.variable("sv_skelvar"), QString("1"));
        QCOMPARE(r.server.variable("scantime"), QString("546"));
        QCOMPARE(r.server.variable("scanpass"), QString("1"));
        QCOMPARE(r.server.variable("resetvalue"), QString("hacked"));
        QCOMPARE(r.server.variable("nextmap"), QString("obj/obj_team4"));
        QVERIFY(r.server.hasVariable("sv_minutes") && r.server.hasVariable("sv_hours"));
        QVERIFY(r.prompter.shown.isEmpty());
        QCOMPARE(r.ui.text("Label21"), running);
        QCOMPARE(r.logLines(), reclaimed
                                   ? QStringList{"Server restarted: claimed again and the script's variables set anew"}
                                   : QStringList());
        r.stop();
    }

    void privateModeKicksWithoutRecord()
    {
        struct PrivateHooks : DefaultPassHooks {
            bool privateMode() const override { return true; }
        };
        Rig r;
        PrivateHooks hooks;
        r.engine->setHooks(&hooks);
        r.settings.setText("txtPRP", "Secret");
        r.serve({{0, 0, "50", "Public", "10.0.0.1:1"}, {1, 0, "50", "Member", "10.0.0.2:1"}});
        r.serveInfo("Public", cleanInfo("Public"));
        r.serveInfo("Member", withLine(cleanInfo("Member"), "password", "secret"));
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.scansFinished == 1 && r.idle(), 5000);
        QCOMPARE(r.afterWarmup().mid(0, 6), (QStringList{"status", "sv_skelvar", "dumpuser \"Public", "status",
                                                         "clientkick 0", "dumpuser \"Member"}));
        QCOMPARE(r.lists.kicks().size(), 0);
        QVERIFY(r.logLines().isEmpty());

        // The countdown's end asks for a scan at the next tick.
        QVERIFY(r.engine->scanCountdown() > 170);
        r.engine->scanAtNextTick();
        QTRY_VERIFY_WITH_TIMEOUT(r.scansFinished == 2, 5000);
        r.stop();
        r.engine->setHooks(nullptr);
    }

    void patrolRefreshesOnAMapChange_data()
    {
        QTest::addColumn<QString>("statusMap");
        QTest::addColumn<bool>("refresh");
        QTest::newRow("same map") << "obj/obj_team2" << false;
        QTest::newRow("letter case differs") << "OBJ/obj_team2" << true;
        QTest::newRow("new map") << "obj/obj_team4" << true;
    }
    void patrolRefreshesOnAMapChange()
    {
        QFETCH(QString, statusMap);
        QFETCH(bool, refresh);
        Rig r;
        r.server.setReply("status", {GameServerDouble::datagram(test::statusAnswer({}, statusMap))});
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.patrolsFinished == 1 && r.idle(), 5000);
        r.stop();
        QStringList expected{"status", "sv_skelvar", "status", "sv_skelvar"};
        if (refresh)
            expected << "getstatus"
                     << "set nextmap obj/obj_team4"
                     << "set sv_minutes #"
                     << "set sv_hours #";
        compareCommands(r.afterWarmup(), expected + kResets);
    }
};

QTEST_GUILESS_MAIN(TestEnginePasses)
#include "test_engine_passes.moc"
