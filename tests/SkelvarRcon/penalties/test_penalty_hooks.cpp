// The penalties' pass hooks and the operator's list actions against the UDP
// game-server double: the exact commands the server receives, in order, and
// what the record lists hold afterwards.
#include "SkelvarRcon/penalties/enforcement.h"
#include "SkelvarRcon/penalties/recordactions.h"
#include "SkelvarRcon/session/monitorsession.h"
#include "SkelvarRcon/session/passcontext.h"
#include "SkelvarRcon/session/skelvarlog.h"
#include "SkelvarRcon/store/liststore.h"
#include "SkelvarRcon/store/recordlist.h"
#include "SkelvarRcon/store/settings.h"
#include "tests/SkelvarRcon/engine/statusfixture.h"
#include "tests/support/engineparts.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace skelvar;
using namespace skelvar::rcon;
using lists::ListKind;
using lists::Record;
using skelvar::test::GameServerDouble;
using skelvar::test::ScriptedPrompter;

Q_DECLARE_METATYPE(QList<PlayerRecord>)
Q_DECLARE_METATYPE(skelvar::lists::Record)

namespace {
constexpr int kWait = 50;
const QDate kToday(2024, 3, 1);
const QString kTodayText = lists::formatDate(kToday);

PlayerRecord player(const QString& num, const QString& ping, const QString& name, const QString& ip,
                    const QString& rate = "25000")
{
    PlayerRecord p;
    p.clientNum = num;
    p.ping = ping;
    p.name = name;
    p.ip = ip;
    p.rate = rate;
    return p;
}

// Enforcement as the engine calls it, noting the notice marker of each player.
struct MarkerHooks : PassHooks {
    explicit MarkerHooks(Enforcement& inner) : inner(inner) {}
    Task<> warnConnection(PassContext& pass, const PlayerRecord& p) override { return inner.warnConnection(pass, p); }
    Task<> escalate(PassContext& pass, PlayerRecord& p) override { return inner.escalate(pass, p); }
    Task<> readInGameBan(PassContext& pass) override { return inner.readInGameBan(pass); }
    Task<> applyInGameBan(PassContext& pass, const PlayerRecord& p) override { return inner.applyInGameBan(pass, p); }
    Task<QString> enforceBans(PassContext& pass, const PlayerRecord& p) override
    {
        const QString marker = co_await inner.enforceBans(pass, p);
        markers << marker;
        co_return marker;
    }
    Task<> renameForSpearhead(PassContext& pass, PlayerRecord& p) override { return inner.renameForSpearhead(pass, p); }
    Task<> checkPing(PassContext& pass, const PlayerRecord& p, const QString& marker) override
    {
        return inner.checkPing(pass, p, marker);
    }
    void finishPingPass(PassContext& pass) override { inner.finishPingPass(pass); }
    bool privateMode() const override { return inner.privateMode(); }

    Enforcement& inner;
    QStringList markers;
};

// The monitor's logic without its window, with the engine and the penalties
// installed. Tests of a single step run it in a pass of their own in a
// session that runs without ticks; patrol tests let the engine claim and
// warm up the double first, on periods so long that only the passes a test
// asks for run.
struct Rig : test::EngineParts {
    enum class Start { Idle, Session, Engine };
    std::unique_ptr<RecordActions> actions;
    std::unique_ptr<MarkerHooks> markerHooks;
    bool spearhead = true;

    explicit Rig(Start start = Start::Session) : EngineParts(kWait, {5, 5, 30})
    {
        clock = Clock([] { return QDateTime(kToday, QTime(12, 0)); });
        hooks->setSpearheadServer([this] { return spearhead; });
        hooks->setRenamePauseForTests(0);
        markerHooks = std::make_unique<MarkerHooks>(*hooks);
        engine->setHooks(markerHooks.get());
        actions = std::make_unique<RecordActions>(*session, settings, lists, players, ui, prompter, &clock);
        serveFreeServer();
        server.setReply("getstatus", {GameServerDouble::datagram("statusResponse\n\\mapname\\obj/obj_team2\n")});
        serveTable({});
        if (start == Start::Engine) {
            startWithoutPasses();
        } else if (start == Start::Session) {
            session->autoStart();
            session->engineTimer()->stop();  // nothing ticks
        }
    }
    QString logText() const
    {
        QFile f(log.path());
        return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()) : QString();
    }
    void serveTable(const QList<PlayerRecord>& table)
    {
        QList<test::StatusPlayer> rows;
        for (const PlayerRecord& p : table)
            rows.append({p.clientNum.toInt(), 0, p.ping, p.name, p.ip.isEmpty() ? QString() : p.ip + ":12203", 0, 4711,
                         p.rate.toInt()});
        server.setReply("status", GameServerDouble::splitAnswer(test::statusAnswer(rows), 1000));
    }
    // A pass of the engine against this table; `statusRead` false is a pass
    // whose status answer did not come.
    void runPatrol(const QList<PlayerRecord>& table, bool statusRead = true, QStringList* markers = nullptr)
    {
        if (statusRead)
            serveTable(table);
        else
            server.setSilent("status");
        markerHooks->markers.clear();
        patrolOnce();
        if (markers)
            *markers = markerHooks->markers;
    }
    // One step of a pass, run on its own.
    PassContext pass() { return PassContext(*session, rcon, settings, log); }
};

QList<Record> bansOf(ListStore& lists)
{
    QList<Record> out;
    for (int i = 0; i < lists.bans().size(); ++i)
        out << lists.bans().at(i);
    return out;
}
}  // namespace

class TestPenaltyHooks : public QObject {
    Q_OBJECT

private slots:
    // ---- scan: escalation and the end-of-step kick ----

    void escalationKicksOncePerPlayer()
    {
        Rig r;
        r.settings.setText("AcWarns", "3");
        r.settings.setText("AcKicks", "2");
        const QString X = "10.0.0.5";
        for (int i = 0; i < 3; ++i)
            r.lists.warnings().add({X, "Bob", "Wallhack", kTodayText, ""});
        r.lists.kicks().add({X, "Bob", "Cheat", kTodayText, ""});
        r.lists.kicks().add({"10.0.0.6", "Ann", "Cheat", kTodayText, ""});

        // Bob was also kicked by a detection in this step; Ann has nothing.
        QList<PlayerRecord> scan{player("7", "40", "Bob", X), player("8", "40", "Ann", "10.0.0.6"),
                                 player("9", "40", "Cy", "10.0.0.9")};
        scan[0].kickFlag = 1;
        r.serveTable(scan);
        PassContext pass = r.pass();
        for (PlayerRecord& p : scan) {
            Task<> t = r.hooks->escalate(pass, p);
            QTRY_VERIFY(t.done());
        }
        QCOMPARE(r.commands(), (QStringList{"status", "clientkick 7"}));
        QCOMPARE(r.lists.warnings().size(), 0);
        QCOMPARE(r.lists.kicks().size(), 1);
        QCOMPARE(r.lists.kicks().at(0).name, QString("Ann"));
        QCOMPARE(bansOf(r.lists), (QList<Record>{{X, "Bob", "2 accumulated kicks", kTodayText, ""}}));
        QCOMPARE(scan[0].kickFlag, qint16(1));
        QCOMPARE(scan[2].kickFlag, qint16(0));
    }

    void endedSessionSendsNoKick()
    {
        Rig r;
        PlayerRecord p = player("7", "40", "Bob", "10.0.0.5");
        p.kickFlag = 1;
        PassContext pass = r.pass();
        r.session->stop();
        QTRY_VERIFY(r.idle());
        r.server.clearReceived();
        Task<> t = r.hooks->escalate(pass, p);
        QTest::qWait(kWait * 2);
        QVERIFY(r.commands().isEmpty());
        // The pass goes no further than the kick it did not send.
        QVERIFY(pass.dropped());
        QVERIFY(!t.done());
    }

    // ---- scan: connection warning ----

    void connectionWarning_data()
    {
        QTest::addColumn<QString>("ping");
        QTest::addColumn<QString>("rate");
        QTest::addColumn<bool>("check6");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<bool>("said");
        QTest::addColumn<bool>("logged");
        QTest::newRow("ping 50 rate 5000") << "50"
                                           << "5000" << true << false << true << true;
        QTest::newRow("ping 99") << "99"
                                 << "25" << true << false << true << true;
        QTest::newRow("rate 5001") << "50"
                                   << "5001" << true << false << false << false;
        QTest::newRow("ping 100") << "100"
                                  << "5000" << true << false << false << false;
        QTest::newRow("connecting") << "CNCT"
                                    << "5000" << true << false << false << false;
        QTest::newRow("rate not a number") << "50"
                                           << "fast" << true << false << false << false;
        QTest::newRow("box off") << "50"
                                 << "5000" << false << false << false << false;
        QTest::newRow("silent still logs") << "50"
                                           << "5000" << true << true << false << true;
    }
    void connectionWarning()
    {
        QFETCH(QString, ping);
        QFETCH(QString, rate);
        QFETCH(bool, check6);
        QFETCH(bool, silent);
        QFETCH(bool, said);
        QFETCH(bool, logged);
        Rig r;
        r.settings.setChecked("Check6", check6);
        r.settings.setChecked("Silent", silent);
        r.settings.setChecked("Logea", true);
        r.settings.setText("Alert5", "Slow link - Player: $name, $name");
        PassContext pass = r.pass();
        Task<> t = r.hooks->warnConnection(pass, player("3", ping, "Bob;quit", "10.0.0.5", rate));
        QTRY_VERIFY(t.done());
        QCOMPARE(r.commands(), said ? QStringList{"say Slow link - Player: Bobquit, Bobquit"} : QStringList{});
        QCOMPARE(r.logText().contains("Slow link - Player: Bob;quit, Bob;quit\r\n"), logged);
    }

    // ---- patrol pass: bans ----

    void bansAreToldAndKickedOnce()
    {
        Rig r(Rig::Start::Engine);
        r.settings.setChecked("Silent", true);  // does not apply to ban notices
        r.settings.setChecked("Logea", true);
        r.lists.bans().add({"10.1.2.xxx", "Ann", "Pattern", "2024-01-02", ""});
        r.lists.bans().add({"10.1.2.3", "Bob", "Exact", "2024-01-03", ""});
        r.lists.bans().add({"10.1.2.3", "Bob", "Old", "2024-01-01", lists::formatDate(kToday)});
        r.lists.bans().add({"10.5.5.5", "Dan", "Ended", "2024-01-01", lists::formatDate(kToday.addDays(-3))});
        r.lists.bans().add({"", "Nobody", "Empty", "2024-01-01", ""});
        r.lists.bans().add({"[2001:db8::1]", "Sam", "Six", "2024-01-04", ""});

        QStringList markers;
        r.runPatrol({player("3", "CNCT", "Bob", "10.1.2.3"), player("4", "50", "Cy", "10.1.3.34"),
                     player("6", "ZMBI", "", ""), player("5", "50", "Eve", "10.1.2.77"),
                     player("8", "50", "Dan", "10.5.5.5"), player("7", "50", "Sam", "[2001:db8::1]")},
                    true, &markers);
        const QString exact = "10.1.2.3 was banned from this server on 2024-01-03. Reason: Exact";
        const QString pattern = "10.1.2.xxx was banned from this server on 2024-01-02. Reason: Pattern";
        const QString v6 = "[2001:db8::1] was banned from this server on 2024-01-04. Reason: Six";
        QCOMPARE(r.commands(),
                 (QStringList{"clientban", "status", "sv_skelvar", "status", "say " + exact, "clientkick 3", "status",
                              "say " + pattern, "clientkick 5", "status", "say " + v6, "clientkick 7"}));
        QCOMPARE(markers, (QStringList{exact, "", pattern, "", v6}));
        QCOMPARE(r.logText().count("\r\n"), 3);
        QVERIFY(r.logText().contains(exact));
        // The record that bans nobody is shown to the operator, once; the IPv6 ban is no such record.
        QTRY_COMPARE(r.prompter.titles(), QStringList{"Ban records not enforced"});
        QCOMPARE(r.prompter.shown.first().text,
                 QString("These ban records hold no address or address pattern and ban nobody:\n(empty)"));
        r.server.clearReceived();
        r.runPatrol({player("3", "50", "Bob", "10.1.2.3")});
        QCOMPARE(r.commands(),
                 (QStringList{"clientban", "status", "sv_skelvar", "status", "say " + exact, "clientkick 3"}));
        QTest::qWait(10);
        QCOMPARE(r.prompter.shown.size(), 1);
    }

    void banListChangesReachTheNextPass()
    {
        Rig r(Rig::Start::Engine);
        r.runPatrol({player("3", "50", "Bob", "10.1.2.3")});
        r.lists.bans().add({"10.1.xxx.xxx", "Bob", "Later", "2024-02-02", ""});
        r.server.clearReceived();
        r.runPatrol({player("3", "50", "Bob", "10.1.2.3")});
        QCOMPARE(r.commands(), (QStringList{"clientban", "status", "sv_skelvar", "status",
                                            "say 10.1.xxx.xxx was banned from this server on 2024-02-02. Reason: Later",
                                            "clientkick 3"}));
        r.lists.bans().removeAt(0);
        r.server.clearReceived();
        r.runPatrol({player("3", "50", "Bob", "10.1.2.3")});
        QCOMPARE(r.commands(), (QStringList{"clientban", "status", "sv_skelvar"}));
    }

    // ---- patrol pass: in-game ban ----

    void inGameBan_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("alreadyBanned");
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QList<Record>>("bans");
        const QStringList read{"clientban", "set clientban -1", "status", "sv_skelvar"};
        const QString notice = "say 10.1.2.5 was banned from this server on " + kTodayText + ". Reason: ";
        auto bob = [](const QString& reason) { return QList<Record>{{"10.1.2.5", "Bob", reason, kTodayText, ""}}; };
        QTest::newRow("with reason") << "5@Team killing" << false
                                     << read + QStringList{"status", notice + "Team killing", "clientkick 5"}
                                     << bob("Team killing");
        QTest::newRow("without reason") << "5" << false
                                        << read + QStringList{"status", notice + "Admin.Ban", "clientkick 5"}
                                        << bob("Admin.Ban");
        QTest::newRow("injected reason") << "5@TK;quit" << false
                                         << read + QStringList{"status", notice + "TKquit", "clientkick 5"}
                                         << bob("TKquit");
        QTest::newRow("not on the server") << "9@Team killing" << false << read << QList<Record>{};
        QTest::newRow("malformed") << "5 kick 6@x" << false << read << QList<Record>{};
        QTest::newRow("idle") << "-1" << false << QStringList{"clientban", "status", "sv_skelvar"} << QList<Record>{};
        QTest::newRow("already banned") << "5@Again" << true
                                        << read + QStringList{"status", notice + "First", "clientkick 5"}
                                        << bob("First");
        // A row without an address would ban nobody.
        QTest::newRow("no readable address") << "7@Team killing" << false << read << QList<Record>{};
    }
    void inGameBan()
    {
        QFETCH(QString, value);
        QFETCH(bool, alreadyBanned);
        QFETCH(QStringList, commands);
        QFETCH(QList<Record>, bans);
        Rig r(Rig::Start::Engine);
        r.server.setVariable("clientban", value);
        if (alreadyBanned)
            r.lists.bans().add({"10.1.2.5", "Bob", "First", kTodayText, ""});
        r.runPatrol({player("5", "50", "Bob", "10.1.2.5"), player("6", "50", "Ann", "10.1.2.6"),
                     player("7", "0", "Bot", "bot")});
        QCOMPARE(r.commands(), commands);
        QCOMPARE(bansOf(r.lists), bans);
        QCOMPARE(r.server.variable("clientban"), QString("-1"));
        QVERIFY(r.hooks->pendingInGameBans().isEmpty());
    }

    // A request read in a pass without a status table waits for the next
    // table, and then bans only the player who held the slot before it.
    void inGameBanWaitsForAStatusTable_data()
    {
        QTest::addColumn<QList<PlayerRecord>>("before");  // the table of the pass before the request
        QTest::addColumn<bool>("readWithTable");          // the request's own pass reads `later`
        QTest::addColumn<QList<PlayerRecord>>("later");
        QTest::addColumn<QString>("banned");  // name in the ban row; empty: no ban
        QTest::addColumn<QString>("logged");
        const PlayerRecord bob = player("5", "50", "Bob", "10.1.2.5");
        const PlayerRecord ann = player("6", "50", "Ann", "10.1.2.6");
        const QString dropped = "In-game ban of client 5 for Team killing dropped: ";
        const QString gone = dropped + "the slot no longer holds Bob (10.1.2.5)";
        QTest::newRow("same player") << QList{bob, ann} << false << QList{ann, bob} << "Bob"
                                     << "";
        QTest::newRow("newcomer in the slot")
            << QList{bob, ann} << false << QList{player("5", "50", "Eve", "10.9.9.9"), ann} << "" << gone;
        QTest::newRow("same name, other address")
            << QList{bob} << false << QList{player("5", "50", "Bob", "10.7.7.7")} << "" << gone;
        QTest::newRow("slot empty") << QList{bob, ann} << false << QList{ann} << "" << gone;
        QTest::newRow("slot empty before the request")
            << QList{ann} << false << QList{bob} << "" << dropped + "nobody was seen in the slot when it was asked for";
        QTest::newRow("renamed for Spearhead in between")
            << QList{player("5", "50", "Big Name", "10.1.2.5")} << false
            << QList{player("5", "50", "Big_Name", "10.1.2.5")} << "Big_Name"
            << "";
        QTest::newRow("the request's own table decides")
            << QList{player("5", "50", "Eve", "10.9.9.9")} << true << QList{bob} << "Bob"
            << "";
    }
    void inGameBanWaitsForAStatusTable()
    {
        QFETCH(QList<PlayerRecord>, before);
        QFETCH(bool, readWithTable);
        QFETCH(QList<PlayerRecord>, later);
        QFETCH(QString, banned);
        QFETCH(QString, logged);
        Rig r(Rig::Start::Engine);
        r.runPatrol(before);
        r.server.setVariable("clientban", "5@Team killing");
        if (!readWithTable) {
            r.server.clearReceived();
            r.runPatrol({}, false);  // the status answer did not come, nor its second try
            QCOMPARE(r.commands(), (QStringList{"clientban", "set clientban -1", "status", "status"}));
            QCOMPARE(r.hooks->pendingInGameBans().size(), 1);
        }
        r.server.clearReceived();
        r.runPatrol(later);
        QVERIFY(r.hooks->pendingInGameBans().isEmpty());
        const QString notice = "say 10.1.2.5 was banned from this server on " + kTodayText + ". Reason: Team killing";
        QStringList sent{"clientban"};
        if (readWithTable)
            sent << "set clientban -1";
        // Every patrol pass reads the claim after its status table.
        sent << "status"
             << "sv_skelvar";
        if (!banned.isEmpty())
            sent << "status" << notice << "clientkick 5";
        QCOMPARE(r.commands(), sent);
        const QList<Record> bans{{"10.1.2.5", banned, "Team killing", kTodayText, ""}};
        QCOMPARE(bansOf(r.lists), banned.isEmpty() ? QList<Record>{} : bans);
        QCOMPARE(r.logText().count(" dropped: "), logged.isEmpty() ? 0 : 1);
        QVERIFY(r.logText().contains(logged + "\r\n"));
    }

    // ---- patrol pass: Spearhead rename ----

    void rename_data()
    {
        QTest::addColumn<bool>("spearhead");
        QTest::addColumn<bool>("check3");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QString>("nameAfter");
        QTest::newRow("two words") << true << true << "Big Name" << QStringList{"set numero 4", "set nombre Big_Name"}
                                   << "Big_Name";
        QTest::newRow("injection") << true << true << "Big \"x\";quit"
                                   << QStringList{"set numero 4", "set nombre Big_xquit"} << "Big_\"x\";quit";
        QTest::newRow("one word") << true << true << "Bob" << QStringList{} << "Bob";
        QTest::newRow("not Spearhead") << false << true << "Big Name" << QStringList{} << "Big Name";
        QTest::newRow("box off") << true << false << "Big Name" << QStringList{} << "Big Name";
    }
    void rename()
    {
        QFETCH(bool, spearhead);
        QFETCH(bool, check3);
        QFETCH(QString, name);
        QFETCH(QStringList, commands);
        QFETCH(QString, nameAfter);
        Rig r;
        r.spearhead = spearhead;
        r.settings.setChecked("Check3", check3);
        PlayerRecord p = player("4", "50", name, "10.0.0.4");
        PassContext pass = r.pass();
        Task<> t = r.hooks->renameForSpearhead(pass, p);
        QCOMPARE(p.name, nameAfter);  // later steps of the pass see the new name at once
        QTRY_VERIFY(t.done());
        QCOMPARE(r.commands(), commands);
    }

    void renamePausesBeforeTheNextRequest()
    {
        constexpr int pause = 300;
        Rig r(Rig::Start::Engine);
        r.hooks->setRenamePauseForTests(pause);
        r.runPatrol({player("4", "50", "Big Name", "10.0.0.4"), player("5", "50", "Two Words", "10.0.0.5")});
        QCOMPARE(r.commands(), (QStringList{"clientban", "status", "sv_skelvar", "set numero 4", "set nombre Big_Name",
                                            "set numero 5", "set nombre Two_Words"}));
        const auto& got = r.server.received();
        QVERIFY(got[3].atMs - got[2].atMs < pause);
        QVERIFY2(got[5].atMs - got[4].atMs >= pause - 20, qPrintable(QString::number(got[5].atMs - got[4].atMs)));
    }

    // ---- patrol pass: ping kick ----

    void pingKick_data()
    {
        QTest::addColumn<QString>("limit");
        QTest::addColumn<QString>("scans");
        QTest::addColumn<QStringList>("pings");  // one per pass
        QTest::addColumn<int>("kickedAt");       // pass index, -1: never
        QTest::newRow("four over") << "160"
                                   << "4" << QStringList{"200", "200", "200", "200"} << 3;
        QTest::newRow("three over") << "160"
                                    << "4" << QStringList{"200", "200", "200"} << -1;
        QTest::newRow("a low pass restarts")
            << "160"
            << "4" << QStringList{"200", "200", "150", "200", "200", "200", "200"} << 6;
        QTest::newRow("at the limit is not over") << "160"
                                                  << "2" << QStringList{"160", "160", "160"} << -1;
        QTest::newRow("connecting restarts") << "160"
                                             << "2" << QStringList{"200", "CNCT", "200", "200"} << 3;
        QTest::newRow("one scan kicks at the second") << "160"
                                                      << "1" << QStringList{"200", "200"} << 1;
        QTest::newRow("limit not a number") << "fast"
                                            << "2" << QStringList{"200", "200", "200"} << -1;
        QTest::newRow("ping not a number") << "160"
                                           << "2" << QStringList{"999999", "999999", "999999"} << -1;
    }
    void pingKick()
    {
        QFETCH(QString, limit);
        QFETCH(QString, scans);
        QFETCH(QStringList, pings);
        QFETCH(int, kickedAt);
        Rig r(Rig::Start::Engine);
        r.settings.setChecked("Check2", true);
        r.settings.setChecked("Logea", true);
        r.settings.setText("Text5", limit);
        r.settings.setText("Text6", scans);
        const QString notice = QString("Ping Kick: Ping>%1 on %2 consecutive scans - Player: Bob").arg(limit, scans);
        for (int pass = 0; pass < pings.size(); ++pass) {
            r.server.clearReceived();
            r.runPatrol({player("3", pings[pass], "Bob", "10.0.0.3"), player("4", "20", "Ann", "10.0.0.4")});
            const QStringList read{"clientban", "status", "sv_skelvar"};
            const QStringList expected =
                pass == kickedAt ? read + QStringList{"status", "say " + notice, "clientkick 3"} : read;
            QCOMPARE(r.commands(), expected);
        }
        QCOMPARE(r.logText().contains(notice), kickedAt >= 0);
    }

    // Player text in the ping kick and ban notices cannot end the "say" or add
    // a command of its own.
    void noticesAreCleaned_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("banReason");  // empty: no ban, the ping kick speaks
        QTest::addColumn<QString>("said");
        const QString ping = "say Ping Kick: Ping>160 on 1 consecutive scans - Player: ";
        QTest::newRow("ping kick, quotes and semicolons") << "x\";quit;\""
                                                          << "" << ping + "xquit";
        QTest::newRow("ping kick, carriage return") << "evil\rname"
                                                    << "" << ping + "evil name";
        QTest::newRow("ban notice, quotes and semicolons")
            << "Bob"
            << "TK\";quit;\""
            << "say 10.0.0.3 was banned from this server on 2024-01-03. Reason: TKquit";
    }
    void noticesAreCleaned()
    {
        QFETCH(QString, name);
        QFETCH(QString, banReason);
        QFETCH(QString, said);
        Rig r(Rig::Start::Engine);
        r.settings.setChecked("Check2", true);
        r.settings.setText("Text6", "1");
        if (!banReason.isEmpty())
            r.lists.bans().add({"10.0.0.3", "Bob", banReason, "2024-01-03", ""});
        for (int pass = 0; pass < 2; ++pass)
            r.runPatrol({player("3", "300", name, "10.0.0.3")});
        // A ban is told at every pass; the ping kick comes at the second one.
        QCOMPARE(r.commands().filter("say "), QStringList(banReason.isEmpty() ? 1 : 2, said));
        for (const GameServerDouble::Received& q : r.server.received())
            QVERIFY2(!q.raw.contains(';') && !q.raw.contains('"') && !q.raw.contains('\r') && !q.raw.contains('\n'),
                     q.raw.constData());
    }

    void pingKickSkipsBannedPlayersAndForgetsWhenOff()
    {
        Rig r(Rig::Start::Engine);
        r.settings.setChecked("Check2", true);
        r.settings.setText("Text6", "2");
        r.runPatrol({player("3", "300", "Bob", "10.0.0.3")});
        QCOMPARE(r.hooks->pingTable().value("10.0.0.3"), 1);
        // Kicked for a ban in this pass: no ping notice on top.
        r.lists.bans().add({"10.0.0.3", "Bob", "Ban", kTodayText, ""});
        r.server.clearReceived();
        r.runPatrol({player("3", "300", "Bob", "10.0.0.3")});
        QCOMPARE(r.commands().filter("Ping Kick").size(), 0);
        QVERIFY(r.hooks->pingTable().isEmpty());
        r.lists.bans().removeAt(0);

        r.runPatrol({player("3", "300", "Bob", "10.0.0.3")});
        QCOMPARE(r.hooks->pingTable().value("10.0.0.3"), 1);
        r.settings.setChecked("Check2", false);
        r.runPatrol({player("3", "300", "Bob", "10.0.0.3")});
        QVERIFY(r.hooks->pingTable().isEmpty());
    }

    // ---- private mode ----

    void privateCountdown()
    {
        Rig r(Rig::Start::Idle);  // said whether or not a session runs
        r.hooks->setCountdownIntervalForTests(kWait * 5);
        int scansStarted = 0;
        r.hooks->setStartScan([&] {
            ++scansStarted;
            // The last notice is already queued ahead of the scan's requests.
            QCOMPARE(r.rcon.busy() || r.rcon.queued() > 0, true);
        });
        r.settings.setText("Alert6", "Private in $time s ($time)");
        r.hooks->makePrivate();
        QCOMPARE(r.hooks->privateCountdown(), 60);
        QTest::qWait(kWait / 2);
        r.hooks->makePrivate();           // a click while it counts changes nothing
        QVERIFY(r.commands().isEmpty());  // the first notice comes one interval after the click
        QTRY_VERIFY(r.hooks->privateMode());
        QVERIFY(!r.hooks->countdownTimer()->isActive());
        QTRY_VERIFY(r.idle());
        QStringList expected;
        for (int t = 60; t > 0; t -= 10)
            expected << QString("say Private in %1 s (%1)").arg(t);
        QCOMPARE(r.commands(), expected);
        QCOMPARE(scansStarted, 1);
        QCOMPARE(r.hooks->countdownTimer()->objectName(), QString("Timer4"));
        QCOMPARE(Enforcement::kCountdownIntervalMs, 10000);

        // Again while on: another countdown, and the mode stays on.
        r.server.clearReceived();
        r.hooks->makePrivate();
        QVERIFY(r.hooks->privateMode());
        QTRY_COMPARE(scansStarted, 2);
        QTRY_VERIFY(r.idle());
        QCOMPARE(r.commands(), expected);
    }

    // ---- the operator's list actions ----

    void kickAndBanByHand_data()
    {
        QTest::addColumn<bool>("ban");
        QTest::addColumn<bool>("forDays");
        QTest::addColumn<QString>("days");
        QTest::addColumn<Record>("record");
        QTest::newRow("kick") << false << false << "3" << Record{"10.0.0.5", "Bob", "Admin. Kick", kTodayText, ""};
        QTest::newRow("ban indefinitely")
            << true << false << "3" << Record{"10.0.0.5", "Bob", "Admin. Ban", kTodayText, ""};
        QTest::newRow("ban for 3 days") << true << true << "3"
                                        << Record{"10.0.0.5", "Bob", "Admin. Ban", kTodayText,
                                                  lists::formatDate(QDate(2024, 3, 4))};
    }
    void kickAndBanByHand()
    {
        QFETCH(bool, ban);
        QFETCH(bool, forDays);
        QFETCH(QString, days);
        QFETCH(Record, record);
        Rig r;
        r.settings.setChecked(forDays ? "Option2" : "Option1", true);
        r.settings.setText("Text2", days);
        r.players.add({"3", "40", "Bob", "10.0.0.5", "25000", "", ""});
        r.players.add({"4", "40", "Ann", "10.0.0.6", "25000", "", ""});
        // The server's status still shows Bob in slot 3 when the kick reads it.
        r.serveTable({player("3", "40", "Bob", "10.0.0.5"), player("4", "40", "Ann", "10.0.0.6")});
        r.actions->playersRowClicked();
        for (const QString& c : UiState::playerControls())
            QVERIFY(r.ui.isVisible(c));

        r.rcon.request("status", [](const QString&) {});  // the click's kick has to wait behind it
        ban ? r.actions->banPlayer(0) : r.actions->kickPlayer(0);
        // A scan rebuilds Players while the kick waits: the kick keeps the row it had.
        r.players.clear();
        r.players.add({"3", "40", "Cy", "10.0.0.7", "25000", "", ""});
        QTRY_VERIFY(r.actions->idle());
        QCOMPARE(r.commands(), (QStringList{"status", "status", "clientkick 3"}));

        RecordList& list = ban ? r.lists.bans() : r.lists.kicks();
        QCOMPARE(list.size(), 1);
        QCOMPARE(list.at(0), record);
        for (const QString& c : UiState::playerControls())
            QVERIFY(!r.ui.isVisible(c));
    }

    void handButtonsOnMissingRows()
    {
        Rig r;
        r.players.add({"3", "40", "Bob", "10.0.0.5", "25000", "", ""});
        r.lists.bans().add({"10.0.0.5", "Bob", "Ban", kTodayText, ""});
        r.actions->kickPlayer(1);
        r.actions->banPlayer(-1);
        r.actions->removeRecord(ListKind::Bans, 1);
        r.actions->convertToBan(ListKind::Kicks, 0);
        r.actions->widenBan(3, RecordActions::Widen::Subrank);
        QTest::qWait(kWait * 2);
        QVERIFY(r.commands().isEmpty());
        QCOMPARE(r.players.size(), 1);
        QCOMPARE(bansOf(r.lists), (QList<Record>{{"10.0.0.5", "Bob", "Ban", kTodayText, ""}}));
        QCOMPARE(r.lists.kicks().size(), 0);
    }

    void banByHandRefusesBadDaysAndDuplicates()
    {
        Rig r;
        r.players.add({"3", "40", "Bob", "10.0.0.5", "25000", "", ""});
        r.players.add({"3", "40", "Bob", "10.0.0.5", "25000", "", ""});
        r.serveTable({player("3", "40", "Bob", "10.0.0.5")});
        r.settings.setChecked("Option2", true);
        r.settings.setText("Text2", "many");
        r.actions->banPlayer(0);
        QCOMPARE(r.prompter.titles(), QStringList{"Ban not made"});
        QCOMPARE(r.players.size(), 2);
        QCOMPARE(r.lists.bans().size(), 0);

        r.settings.setChecked("Option1", true);
        r.actions->banPlayer(0);
        r.actions->banPlayer(0);
        QTRY_VERIFY(r.actions->idle());
        QCOMPARE(r.commands(), (QStringList{"status", "status", "clientkick 3", "clientkick 3"}));
        QCOMPARE(r.lists.bans().size(), 1);
    }

    void rowClicksShowTheirListsButtons()
    {
        Rig r;
        const QStringList all{"Command5", "Command6", "Option1",   "Option2",   "Text2",     "Command7",
                              "Command8", "Command9", "Command10", "Command15", "Command11", "Command14"};
        auto visible = [&] {
            QStringList v;
            for (const QString& c : all)
                if (r.ui.isVisible(c))
                    v << c;
            return v;
        };
        QCOMPARE(visible(), QStringList{});
        r.actions->recordRowClicked(ListKind::Bans);
        QCOMPARE(visible(), (QStringList{"Command7", "Command8", "Command9"}));
        r.actions->recordRowClicked(ListKind::Kicks);
        QCOMPARE(visible(), (QStringList{"Command10", "Command15"}));
        r.actions->playersRowClicked();
        r.actions->recordRowClicked(ListKind::Warnings);
        QCOMPARE(visible(),
                 (QStringList{"Command5", "Command6", "Option1", "Option2", "Text2", "Command11", "Command14"}));
    }

    void removeAndConvert()
    {
        Rig r;
        r.lists.warnings().add({"10.0.0.5", "Bob", "Wallhack", "2024-01-01", ""});
        r.lists.kicks().add({"10.0.0.6", "Ann", "Cheat", "2024-01-01", ""});
        r.lists.kicks().add({"10.0.0.7", "Cy", "Cheat", "2024-01-01", ""});
        r.lists.bans().add({"10.0.0.6", "Ann", "Older", "2024-01-01", ""});

        r.actions->recordRowClicked(ListKind::Warnings);
        r.actions->convertToBan(ListKind::Warnings, 0);
        QCOMPARE(r.lists.warnings().size(), 0);
        QVERIFY(!r.ui.isVisible("Command11") && !r.ui.isVisible("Command14"));
        // Ann is banned for good already: her kick goes, no second ban row.
        r.actions->convertToBan(ListKind::Kicks, 0);
        QCOMPARE(bansOf(r.lists), (QList<Record>{{"10.0.0.5", "Bob", "Admin. Ban", kTodayText, ""},
                                                 {"10.0.0.6", "Ann", "Older", "2024-01-01", ""}}));
        r.actions->recordRowClicked(ListKind::Kicks);
        r.actions->removeRecord(ListKind::Kicks, 0);
        QCOMPARE(r.lists.kicks().size(), 0);
        QVERIFY(!r.ui.isVisible("Command10") && !r.ui.isVisible("Command15"));
        r.actions->recordRowClicked(ListKind::Bans);
        r.actions->removeRecord(ListKind::Bans, 1);
        QCOMPARE(bansOf(r.lists), (QList<Record>{{"10.0.0.5", "Bob", "Admin. Ban", kTodayText, ""}}));
        QVERIFY(!r.ui.isVisible("Command7"));
        QTest::qWait(kWait * 2);
        QVERIFY(r.commands().isEmpty());
    }

    void widenBans_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<bool>("provider");
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("refused");
        QTest::newRow("subrank") << "10.1.2.3" << false << "10.1.2.xxx" << false;
        QTest::newRow("provider") << "10.1.2.3" << true << "10.1.xxx.xxx" << false;
        QTest::newRow("provider of subrank") << "10.1.2.xxx" << true << "10.1.xxx.xxx" << false;
        QTest::newRow("every address") << "xxx.xxx.1.2" << true << "xxx.xxx.1.2" << true;
        QTest::newRow("too few groups") << "10.1" << false << "10.1" << true;
        QTest::newRow("not an address") << "some.body.here" << false << "some.body.here" << true;
    }
    void widenBans()
    {
        QFETCH(QString, ip);
        QFETCH(bool, provider);
        QFETCH(QString, after);
        QFETCH(bool, refused);
        Rig r;
        r.lists.bans().add({ip, "Bob", "Cheat", "2024-01-01", ""});
        r.actions->recordRowClicked(ListKind::Bans);
        r.actions->widenBan(0, provider ? RecordActions::Widen::Provider : RecordActions::Widen::Subrank);
        QCOMPARE(bansOf(r.lists), (QList<Record>{{after, "Bob", "Cheat", "2024-01-01", ""}}));
        QCOMPARE(r.prompter.titles(), refused ? QStringList{"Ban not widened"} : QStringList{});
        QCOMPARE(r.ui.isVisible("Command8"), refused);
    }

    void widenIntoAnIdenticalBanMerges()
    {
        Rig r;
        r.lists.bans().add({"10.1.2.3", "Bob", "Cheat", "2024-01-01", ""});
        r.lists.bans().add({"10.1.2.xxx", "Ann", "Cheat", "2024-01-01", ""});
        r.actions->widenBan(0, RecordActions::Widen::Subrank);
        QCOMPARE(bansOf(r.lists), (QList<Record>{{"10.1.2.xxx", "Ann", "Cheat", "2024-01-01", ""}}));
    }

    void checkBoxes_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("needs");  // the box that must not be empty, or ""
        QTest::addColumn<QStringList>("controls");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::newRow("Check1") << "Check1"
                                << "txtTAG" << QStringList{"Alert1", "Alert2"} << "No tag provided!!"
                                << "Reserved slots can't be checked without an appropiate tag";
        QTest::newRow("Check5") << "Check5"
                                << "txtPRP" << QStringList{"Label16", "Label17", "Alert4"} << "No password provided!!"
                                << "Reserved skins can't be checked without an appropiate password";
        QTest::newRow("Check2") << "Check2"
                                << "" << QStringList{"Text7"} << ""
                                << "";
        QTest::newRow("Check6") << "Check6"
                                << "" << QStringList{"Alert5"} << ""
                                << "";
    }
    void checkBoxes()
    {
        QFETCH(QString, box);
        QFETCH(QString, needs);
        QFETCH(QStringList, controls);
        QFETCH(QString, title);
        QFETCH(QString, text);
        Rig r;
        auto click = [&](bool on) {
            r.settings.setChecked(box, on);
            if (box == "Check1")
                r.actions->privateClientsToggled();
            if (box == "Check2")
                r.actions->pingKickToggled();
            if (box == "Check5")
                r.actions->reservedSkinsToggled();
            if (box == "Check6")
                r.actions->connectionWarningToggled();
        };
        auto enabled = [&](bool on) {
            for (const QString& c : controls)
                if (r.ui.isEnabled(c, !on) != on)
                    return false;
            return true;
        };
        if (!needs.isEmpty())
            r.settings.setText(needs, "filled");
        click(true);
        QVERIFY(enabled(true));
        click(false);
        QVERIFY(enabled(false));
        QVERIFY(r.prompter.shown.isEmpty());
        if (needs.isEmpty())
            return;

        r.settings.setText(needs, "");
        click(true);
        QCOMPARE(r.prompter.shown.size(), 1);
        QCOMPARE(r.prompter.shown[0].title, title);
        QCOMPARE(r.prompter.shown[0].text, text);
        QCOMPARE(r.prompter.shown[0].icon, Prompter::Icon::Critical);
        QVERIFY(!r.settings.isChecked(box));
        QVERIFY(enabled(false));
    }
};

QTEST_GUILESS_MAIN(TestPenaltyHooks)
#include "test_penalty_hooks.moc"
