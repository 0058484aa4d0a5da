// The web page's actions against a running Monitor and the UDP double: each
// sends the same datagrams and leaves the same list files, byte for byte, as
// the same action done through Monitor the way the window's controls do it;
// only an admin acts; a request without the session's token, or one the page
// would not send, changes nothing; every action leaves one audit line.
#include "tests/SkelvarRcon/web/webrig.h"
#include "tests/support/files.h"

#include <QJsonArray>

using namespace skelvar;
using namespace skelvar::rcon;
using skelvar::test::GameServerDouble;
using skelvar::test::HttpAnswer;
using skelvar::test::WebRig;

namespace {

const QDateTime kNow(QDate(2026, 3, 1), QTime(10, 0, 0));

const QByteArray kWarnings = "10.7.7.7\x02warned\x02"
                             "Cheat\x02"
                             "2026-02-01\r\n";
const QByteArray kKicks = "10.8.8.8\x02kicked\x02Ping\x02"
                          "2026-02-02\r\n";
const QByteArray kBans = "10.9.9.9\x02"
                         "banned\x02"
                         "Cheat\x02"
                         "2026-02-03\x02\r\n"
                         "[2001:db8::7]\x02six\x02r\x02"
                         "2026-02-04\x02"
                         "2026-12-01\r\n";

// One way of doing an action: through the web API, or through Monitor.
struct Way {
    QByteArray path;
    QJsonObject body;
    std::function<void(Monitor&)> direct;
};

QJsonObject bigName()
{
    return {{"no", "3"}, {"name", "Big Name"}, {"ip", "10.1.2.3"}};
}

QJsonObject record(const char* ip, const char* name, const char* reason, const char* date, const char* until = nullptr)
{
    QJsonObject r{{"ip", ip}, {"name", name}, {"reason", reason}, {"date", date}};
    if (until)
        r.insert("until", until);
    return r;
}

QJsonObject withRecord(const QJsonObject& r)
{
    return {{"record", r}};
}

// The ways of the table below, by name.
QHash<QString, Way> ways()
{
    return {
        {"kick player", {"/api/players/kick", bigName(), [](Monitor& m) { m.actions.kickPlayer(0); }}},
        {"ban player for 7 days",
         {"/api/players/ban",
          [] {
              auto b = bigName();
              b.insert("days", 7);
              return b;
          }(),
          [](Monitor& m) {
              m.settings.setText("Text2", "7");  // typed in the days box, which chooses "For"
              m.actions.banPlayer(0);
          }}},
        {"ban player without end",
         {"/api/players/ban",
          [] {
              auto b = bigName();
              b.insert("days", QJsonValue());
              return b;
          }(),
          [](Monitor& m) {
              m.settings.setChecked("Option1", true);
              m.actions.banPlayer(0);
          }}},
        {"ban player with a reason",
         {"/api/players/ban",
          [] {
              auto b = bigName();
              b.insert("reason", "Wallhack seen");
              return b;
          }(),
          [](Monitor& m) {
              m.settings.setChecked("Option1", true);
              m.actions.banPlayer(0, "Wallhack seen");
          }}},
        {"remove warning",
         {"/api/lists/warnings/remove", withRecord(record("10.7.7.7", "warned", "Cheat", "2026-02-01")),
          [](Monitor& m) { m.actions.press(ListButton::RemoveWarning, 0); }}},
        {"warning to ban",
         {"/api/lists/warnings/convert", withRecord(record("10.7.7.7", "warned", "Cheat", "2026-02-01")),
          [](Monitor& m) { m.actions.press(ListButton::WarningToBan, 0); }}},
        {"remove kick",
         {"/api/lists/kicks/remove", withRecord(record("10.8.8.8", "kicked", "Ping", "2026-02-02")),
          [](Monitor& m) { m.actions.press(ListButton::RemoveKick, 0); }}},
        {"kick to ban",
         {"/api/lists/kicks/convert", withRecord(record("10.8.8.8", "kicked", "Ping", "2026-02-02")),
          [](Monitor& m) { m.actions.press(ListButton::KickToBan, 0); }}},
        {"remove ban",
         {"/api/lists/bans/remove", withRecord(record("10.9.9.9", "banned", "Cheat", "2026-02-03", "")),
          [](Monitor& m) { m.actions.press(ListButton::RemoveBan, 0); }}},
        {"ban subrank",
         {"/api/lists/bans/subrank", withRecord(record("10.9.9.9", "banned", "Cheat", "2026-02-03", "")),
          [](Monitor& m) { m.actions.press(ListButton::BanSubrank, 0); }}},
        {"ban provider",
         {"/api/lists/bans/provider", withRecord(record("10.9.9.9", "banned", "Cheat", "2026-02-03", "")),
          [](Monitor& m) { m.actions.press(ListButton::BanProvider, 0); }}},
        {"add ban by pattern",
         {"/api/bans",
          {{"ip", "172.16.xxx.xxx"}, {"name", "range"}, {"reason", "Spam"}, {"days", 30}},
          [](Monitor& m) {
              addBanUnlessCovered(m.lists.bans(), {"172.16.xxx.xxx", "range", "Spam", "2026-03-01", "2026-03-31"},
                                  m.clock.today());
          }}},
        {"console", {"/api/console", {{"command", "rcon status"}}, [](Monitor& m) { m.consoleEnter("rcon status"); }}},
    };
}

}  // namespace

class TestWebActions : public QObject {
    Q_OBJECT

    // A monitor, its page and a double with one player in slot 3, and the
    // three lists above. Both ways of every action start from this.
    struct Setup {
        GameServerDouble server;
        std::unique_ptr<WebRig> rig;

        Setup()
        {
            server.setRateLimit(test::kTestRatePeriodMs);
            GameServerDouble::Player p;
            p.num = 3;
            p.name = "Big Name";
            p.ip = "10.1.2.3";
            server.setPlayers({p});
            MonitorOptions o;
            o.replyWaitMs = 40;
            o.timing = {5, 5, 30};
            o.pacing = {RconTransport::kEnginePacing.burst, test::kTestRatePeriodMs};
            o.clock = Clock([] { return kNow; });
            rig = std::make_unique<WebRig>(o, web::WebOptions{}, [](const QString& folder) {
                test::writeFile(folder + "/warnings.lst", kWarnings);
                test::writeFile(folder + "/kicks.lst", kKicks);
                test::writeFile(folder + "/bans.lst", kBans);
            });
            rig->pointAt(server);
            rig->monitor->players.add({"3", "48", "Big Name", "10.1.2.3", "25000", "allied_pilot", "german_scout"});
        }
        // A free server of the game and script the probe expects, for a session.
        void serveGame()
        {
            server.setVariable("sv_skelvar", "0");
            server.setVariable("version", "Medal of Honor Allied Assault 1.11 win-x86 Mar 2002");
            server.setVariable("cheats", "0");
            server.setVariable("versionskelvar", "2.1");
            server.setReply("getstatus", {{QByteArray("\xFF\xFF\xFF\xFFstatusResponse\n\\mapname\\obj/obj_team2"
                                                      "\\version\\Medal of Honor Allied Assault 1.11 win-x86 Mar "
                                                      "2002\n0 48 \"Big Name\"\n"),
                                           0}});
        }
        Monitor& monitor() { return *rig->monitor; }
        // Posts until the monitor is not busy (its buttons are locked while a
        // pass holds the server, as the window's are); the last status.
        int postWhenFree(const QByteArray& path)
        {
            int status = 0;
            for (int i = 0; i < 100; ++i) {
                const HttpAnswer a = rig->post(path);
                status = a.status;
                if (status != 409 || !a.body.contains("busy"))
                    break;
                QTest::qWait(50);
            }
            return status;
        }
        QByteArray file(const char* name) const { return test::readFile(rig->dir.filePath(name)); }
        QList<QByteArray> datagrams() const
        {
            QList<QByteArray> out;
            for (const GameServerDouble::Received& r : server.received())
                out << r.raw;
            return out;
        }
        // Waits until the monitor has nothing more to send and the lists are written.
        void settle()
        {
            QTRY_VERIFY(test::rconIdle(monitor().rcon) && monitor().actions.idle());
            QTest::qWait(50);
        }
    };

private slots:
    void sameAsTheWindow_data()
    {
        QTest::addColumn<QString>("way");
        for (const QString& name : ways().keys())
            QTest::newRow(qPrintable(name)) << name;
    }
    void sameAsTheWindow()
    {
        QFETCH(QString, way);
        const Way w = ways().value(way);

        Setup byWeb;
        byWeb.rig->loginAdmin();
        const HttpAnswer a = byWeb.rig->post(w.path, w.body);
        QVERIFY2(a.status == 200, a.body);
        byWeb.settle();

        Setup byWindow;
        w.direct(byWindow.monitor());
        byWindow.settle();

        QCOMPARE(byWeb.datagrams(), byWindow.datagrams());
        for (const char* file : {"warnings.lst", "kicks.lst", "bans.lst"})
            QCOMPARE(byWeb.file(file), byWindow.file(file));
        QCOMPARE(byWeb.monitor().players.size(), byWindow.monitor().players.size());
        QCOMPARE(byWeb.monitor().settings.handBanForDays(), byWindow.monitor().settings.handBanForDays());
        QCOMPARE(byWeb.monitor().settings.handBanDays(), byWindow.monitor().settings.handBanDays());
        QCOMPARE(byWeb.rig->prompter.boxes(), byWindow.rig->prompter.boxes());
        // The action did something, and said so in one audit line.
        const bool sent = !byWeb.datagrams().isEmpty();
        const bool listsChanged = byWeb.file("warnings.lst") != kWarnings || byWeb.file("kicks.lst") != kKicks ||
                                  byWeb.file("bans.lst") != kBans;
        QVERIFY(sent || listsChanged);
        QList<QByteArray> audit = byWeb.rig->auditLog().split('\n');
        audit.removeIf([](const QByteArray& line) { return !line.contains("\tada\t"); });
        QCOMPARE(audit.size(), 2);  // the login and the action
        QVERIFY2(!audit.last().contains("refused"), audit.last());
    }

    void theAnswersSayWhatHappened()
    {
        Setup s;
        s.rig->loginAdmin();
        HttpAnswer a = s.rig->post("/api/console", {{"command", "status"}});
        QCOMPARE(a.status, 200);
        QCOMPARE(a.json().value("command").toString(), QString("status"));
        QVERIFY2(a.json().value("answer").toString().contains("Big Name"), a.body);
        const QJsonArray transcript = s.rig->get("/api/console").json().value("entries").toArray();
        QCOMPARE(transcript.size(), 1);
        QCOMPARE(transcript.at(0).toObject().value("command").toString(), QString("status"));

        a = s.rig->post("/api/bans", {{"ip", "10.9.9.9"}});
        QCOMPARE(a.status, 200);
        QCOMPARE(a.json().value("added").toBool(), false);  // banned without end already
        QCOMPARE(s.monitor().lists.bans().size(), 2);
        a = s.rig->post("/api/bans", {{"ip", "[2001:db8::8]"}});
        QCOMPARE(a.json().value("added").toBool(), true);
        const RecordList& bans = s.monitor().lists.bans();
        QCOMPARE(bans.at(bans.size() - 1).ip, QString("[2001:db8::8]"));
        QCOMPARE(bans.at(bans.size() - 1).reason, QString("Admin. Ban"));
        QCOMPARE(bans.at(bans.size() - 1).until, QString());
        QJsonObject ban = bigName();
        ban.insert("reason", " Wallhack seen ");
        QCOMPARE(s.rig->post("/api/players/ban", ban).status, 200);
        s.settle();
        QVERIFY2(s.file("bans.lst")
                     .startsWith("10.1.2.3\x02"
                                 "Big Name\x02Wallhack seen\x02"
                                 "2026-03-01\x02\r\n"),
                 s.file("bans.lst"));
        const QByteArray audit = s.rig->auditLog();
        QVERIFY2(audit.contains("ban player 3 \"Big Name\" (10.1.2.3) without end, reason \"Wallhack seen\"\t"), audit);
        QVERIFY2(audit.contains("\tada\t127.0.0.1\tconsole status\tanswered\r\n"), audit);
        QVERIFY2(audit.contains("\tada\t127.0.0.1\tadd ban \"\" (10.9.9.9) without end\t10.9.9.9 is banned at least as "
                                "long already.\r\n"),
                 audit);
    }

    void startScanAndStop()
    {
        Setup s;
        s.serveGame();
        s.server.setPlayers({});  // a scan with nobody to read ends at once
        s.rig->loginAdmin();
        QCOMPARE(s.rig->post("/api/session/scan").status, 409);  // not running
        QCOMPARE(s.rig->post("/api/session/stop").status, 409);
        QCOMPARE(s.rig->post("/api/session/start").status, 200);
        QTRY_VERIFY(s.monitor().session.claimed());
        QCOMPARE(s.rig->post("/api/session/start").status, 409);  // running: a scan is asked for by name
        s.server.clearReceived();
        QCOMPARE(s.postWhenFree("/api/session/scan"), 200);
        QTRY_VERIFY(s.server.commands().contains("status"));
        // Stop waits, as the window's button does, while a pass holds the server.
        QCOMPARE(s.postWhenFree("/api/session/stop"), 200);
        QTRY_VERIFY(!s.monitor().session.running());
        QTRY_COMPARE(s.server.commands().mid(s.server.commands().size() - 3),
                     (QStringList{"set sv_skelvar 0", "set nextmap \"\"", "set resetvalue 0"}));
        const QByteArray audit = s.rig->auditLog();
        for (const char* line : {"session start\tMonitoring starts.", "session scan\tA scan starts at the next tick.",
                                 "session stop\tMonitoring stops.", "session scan\trefused: Not monitoring"})
            QVERIFY2(audit.contains(line), line);
    }

    // A new period or server typed on the page ends the session, as typing in
    // the window's box does; the boxes are locked while a request runs.
    void aSettingsEditEndsTheSession_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("value");
        QTest::newRow("patrol period") << "MinPolt"
                                       << "60";
        QTest::newRow("server port") << "txtPORT"
                                     << "1";
    }
    void aSettingsEditEndsTheSession()
    {
        QFETCH(QString, control);
        QFETCH(QString, value);
        Setup s;
        s.serveGame();
        s.rig->loginAdmin();
        s.monitor().session.start();
        QTRY_VERIFY(s.monitor().session.claimed());
        int status = 0;
        for (int i = 0; i < 100 && status != 200; ++i) {
            const HttpAnswer a = s.rig->post("/api/settings", {{"values", QJsonObject{{control, value}}}});
            status = a.status;
            QVERIFY2(status == 200 || (status == 409 && a.body.contains("waits for the server")), a.body);
            if (status != 200)
                QTest::qWait(20);
        }
        QCOMPARE(status, 200);
        QCOMPARE(s.monitor().settings.text(control), value);
        QTRY_VERIFY(!s.monitor().session.running());
    }

    void aNoticeWhenTheServerStopsAnswering()
    {
        Setup s;
        s.serveGame();
        s.rig->loginViewer();
        s.monitor().session.start();
        QTRY_VERIFY(s.monitor().session.claimed());
        QCOMPARE(s.rig->get("/api/status").json().value("answering").toBool(), true);
        s.server.setAnswering(false);
        s.monitor().engine.patrolAtNextTickForTests();
        QTRY_VERIFY_WITH_TIMEOUT(!s.rig->get("/api/status").json().value("answering").toBool(), 5000);
        QVERIFY(s.rig->get("/api/status").json().value("notice").toString().contains("does not answer"));
        s.server.setAnswering(true);
        s.monitor().engine.patrolAtNextTickForTests();
        QTRY_VERIFY_WITH_TIMEOUT(s.rig->get("/api/status").json().value("answering").toBool(), 5000);
    }

    void refusedRequestsChangeNothing_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("viewer");
        QTest::addColumn<bool>("token");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("audited");  // refused by an action, not before one
        const QByteArray kick = R"({"no":"3","name":"Big Name","ip":"10.1.2.3"})";
        const QByteArray ban = R"({"record":{"ip":"10.9.9.9","name":"banned","reason":"Cheat","date":"2026-02-03",)"
                               R"("until":""}})";
        QTest::newRow("viewer kicks") << QByteArray("/api/players/kick") << kick << true << true << 403 << true;
        QTest::newRow("viewer removes") << QByteArray("/api/lists/bans/remove") << ban << true << true << 403 << true;
        QTest::newRow("viewer starts") << QByteArray("/api/session/start") << QByteArray("{}") << true << true << 403
                                       << true;
        QTest::newRow("viewer console") << QByteArray("/api/console") << QByteArray(R"({"command":"status"})") << true
                                        << true << 403 << true;
        QTest::newRow("no token") << QByteArray("/api/players/kick") << kick << false << false << 403 << false;
        QTest::newRow("not JSON") << QByteArray("/api/players/kick") << QByteArray("{no:3") << false << true << 400
                                  << false;
        QTest::newRow("JSON array") << QByteArray("/api/players/kick") << QByteArray("[]") << false << true << 400
                                    << false;
        QTest::newRow("gone player") << QByteArray("/api/players/kick")
                                     << QByteArray(R"({"no":"3","name":"Other","ip":"10.1.2.3"})") << false << true
                                     << 409 << true;
        QTest::newRow("slot as number") << QByteArray("/api/players/kick")
                                        << QByteArray(R"({"no":3,"name":"Big Name","ip":"10.1.2.3"})") << false << true
                                        << 400 << true;
        for (const char* days : {"0", "3651", "1.5", "-2", "\"7\"", "1e9"})
            QTest::newRow(qPrintable(QString("ban days %1").arg(days)))
                << QByteArray("/api/players/ban")
                << QByteArray(R"({"no":"3","name":"Big Name","ip":"10.1.2.3","days":)") + days + "}" << false << true
                << 400 << true;
        QTest::newRow("add ban of a word")
            << QByteArray("/api/bans") << QByteArray(R"({"ip":"hello"})") << false << true << 400 << true;
        QTest::newRow("add ban of all") << QByteArray("/api/bans") << QByteArray(R"({"ip":"xxx.xxx.xxx.xxx"})") << false
                                        << true << 400 << true;
        QTest::newRow("add ban, long name")
            << QByteArray("/api/bans") << QByteArray(R"({"ip":"10.0.0.9","name":")") + QByteArray(200, 'n') + "\"}"
            << false << true << 400 << true;
        QTest::newRow("unknown record") << QByteArray("/api/lists/bans/remove")
                                        << QByteArray(R"({"record":{"ip":"10.9.9.9","name":"banned","reason":"Cheat",)"
                                                      R"("date":"2026-02-03","until":"2030-01-01"}})")
                                        << false << true << 409 << true;
        QTest::newRow("record without date")
            << QByteArray("/api/lists/bans/remove")
            << QByteArray(R"({"record":{"ip":"10.9.9.9","name":"banned","reason":"Cheat","until":""}})") << false
            << true << 400 << true;
        QTest::newRow("unknown list") << QByteArray("/api/lists/friends/remove") << ban << false << true << 404 << true;
        QTest::newRow("no convert on bans")
            << QByteArray("/api/lists/bans/convert") << ban << false << true << 404 << true;
        QTest::newRow("IPv6 subrank")
            << QByteArray("/api/lists/bans/subrank")
            << QByteArray(R"({"record":{"ip":"[2001:db8::7]","name":"six","reason":"r","date":"2026-02-04",)"
                          R"("until":"2026-12-01"}})")
            << false << true << 422 << true;
        QTest::newRow("unknown action") << QByteArray("/api/players/mute") << kick << false << true << 404 << true;
        QTest::newRow("two-line command") << QByteArray("/api/console") << QByteArray(R"({"command":"status\nquit"})")
                                          << false << true << 400 << true;
        QTest::newRow("empty command") << QByteArray("/api/console") << QByteArray(R"({"command":" "})") << false
                                       << true << 400 << true;
    }
    void refusedRequestsChangeNothing()
    {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, body);
        QFETCH(bool, viewer);
        QFETCH(bool, token);
        QFETCH(int, status);
        QFETCH(bool, audited);
        Setup s;
        viewer ? s.rig->loginViewer() : s.rig->loginAdmin();
        if (!token)
            s.rig->csrf.clear();
        const HttpAnswer a = s.rig->request("POST", path, body);
        QCOMPARE(a.status, status);
        QVERIFY(a.json().contains("error"));
        QTest::qWait(100);
        QCOMPARE(s.datagrams(), QList<QByteArray>());
        QCOMPARE(s.file("warnings.lst"), kWarnings);
        QCOMPARE(s.file("kicks.lst"), kKicks);
        QCOMPARE(s.file("bans.lst"), kBans);
        QCOMPARE(s.monitor().players.size(), 1);
        QVERIFY(!s.monitor().session.running());
        QCOMPARE(s.rig->prompter.shown.size(), 0);
        // Refusals by the actions are written down too; the ones before them
        // (token, JSON) reach no action.
        QCOMPARE(s.rig->auditLog().count("\trefused: "), audited ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestWebActions)
#include "test_webactions.moc"
