// Each player judged and kicked on his own behalf: the engines find a
// dumpuser or kick target by a name matched case-insensitively and without
// colour codes (the first slot wins) or by a client number, and a slot can
// change hands during a long pass. The double's players answer as they do.

#include "SkelvarRcon/engine/engine.h"
#include "SkelvarRcon/store/liststore.h"
#include "SkelvarRcon/store/recordlist.h"
#include "SkelvarRcon/store/settings.h"
#include "tests/support/engineparts.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

using namespace skelvar;
using namespace skelvar::rcon;
using skelvar::test::GameServerDouble;
using Player = GameServerDouble::Player;

Q_DECLARE_METATYPE(QList<GameServerDouble::Player>)

namespace {

const QString kOriginalVersion = QStringLiteral("Medal of Honor Allied Assault 1.11 win-x86 Mar 2002");
const QString kOpenMohaaVersion =
    QStringLiteral("Medal of Honor Allied Assault 1.12+0.83.0 (OpenMoHAA 0.83.0-unstable+0.) linux-x86_64");
const QString kBanNotice = QStringLiteral("10.0.0.7 was banned from this server on 2024-01-03. Reason: Cheat");

Player player(int num, const QString& name, const QString& ip, bool noFog = false)
{
    Player p;
    p.num = num;
    p.name = name;
    p.ip = ip;
    p.userinfo = {{"dm_playermodel", "american_army"}, {"rate", "25000"}};
    if (noFog)
        p.userinfo.append(std::pair<QString, QString>("r_farplane_nofog", "1"));
    return p;
}

// A monitor with its penalties against an OpenMoHAA-like double whose
// players answer status, dumpuser and clientkick themselves.
struct Rig : test::EngineParts {
    explicit Rig(const QString& version) : EngineParts(40, {5, 5, 30})
    {
        serveFreeServer();
        server.setHandler({});
        server.setDialect(GameServerDouble::Dialect::OpenMohaa);
        server.setVariable("version", version);
        server.setPlayers({});
        // The map the players' status tables name, so no pass follows a map change.
        server.setReply("getstatus", {{QByteArray("\xFF\xFF\xFF\xFF\x01statusResponse\n"
                                                  "\\g_gametypestring\\Free-For-All\\mapname\\omtest\n"),
                                       0}});
        settings.setChecked("Logea", true);
    }
    // The session's first scan and patrol pass, with nothing coming after them.
    void scanOnce()
    {
        settings.setText("txtMin", "546");
        settings.setText("MinPolt", "32767");
        session->autoStart();
        QTRY_VERIFY_WITH_TIMEOUT(scans == 1 && patrols == 1 && idle(), 10000);
    }
    QStringList sent(const QString& prefix) const { return commands().filter(QRegularExpression("^" + prefix)); }
};

}  // namespace

class TestEnginePlayers : public QObject {
    Q_OBJECT

private slots:
    // A cheater on slot 0 and players the engines mistake for him: his case
    // and colour twins, and a name of digits that is his client number.
    void twinsAreJudgedOnTheirOwnTable_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("kick");
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<int>("skipped");  // tables of another player, logged
        const QStringList byName{"dumpuser \"Ev^1e", "dumpuser \"Eve", "dumpuser \"ev^1E", "dumpuser \"0",
                                 "dumpuser \"Big Bob"};
        const QStringList byNumber{"dumpuser 0", "dumpuser 1", "dumpuser 2", "dumpuser 3", "dumpuser 4"};
        QTest::newRow("original server, by name, warning") << kOriginalVersion << false << byName << 3;
        QTest::newRow("original server, by name, kick") << kOriginalVersion << true << byName << 3;
        QTest::newRow("OpenMoHAA, by number, warning") << kOpenMohaaVersion << false << byNumber << 0;
        QTest::newRow("OpenMoHAA, by number, kick") << kOpenMohaaVersion << true << byNumber << 0;
    }
    void twinsAreJudgedOnTheirOwnTable()
    {
        QFETCH(QString, version);
        QFETCH(bool, kick);
        QFETCH(QStringList, asked);
        QFETCH(int, skipped);
        Rig r(version);
        if (!kick)
            r.settings.setChecked(Settings::penaltyRow(Settings::rowOf(Detection::NoFog)).warning, true);
        r.server.setPlayers({player(0, "Ev^1e", "10.0.0.1", true), player(1, "Eve", "10.0.0.2"),
                             player(2, "ev^1E", "10.0.0.3"), player(3, "0", "10.0.0.4"),
                             player(4, "Big Bob", "10.0.0.5")});
        r.scanOnce();

        QCOMPARE(r.sent("dumpuser "), asked);
        QCOMPARE(r.sent("say "), QStringList{"say Cheat Detected!! Player: Ev^1e Cheat: NoFog IP: 10.0.0.1"});
        QCOMPARE(r.sent("clientkick "), kick ? QStringList{"clientkick 0"} : QStringList());
        RecordList& records = kick ? r.lists.kicks() : r.lists.warnings();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.at(0).ip, QString("10.0.0.1"));
        QCOMPARE(records.at(0).name, QString("Ev^1e"));
        QCOMPARE((kick ? r.lists.warnings() : r.lists.kicks()).size(), 0);
        QCOMPARE(r.logLines().filter(QRegularExpression("^Not scanned: the table asked for .* names Ev\\^1e$")).size(),
                 skipped);
        // Every player whose own table was read is listed, the twins too.
        QCOMPARE(r.players.size(), 5 - skipped);
    }

    // A ban enforced at a patrol pass: the slot is read again before the
    // kick, and a kick the server refuses is no ban enforced.
    void kickChecksTheSlotFirst_data()
    {
        QTest::addColumn<QString>("seen");       // slot 3 in the pass's own table
        QTest::addColumn<QList<Player>>("now");  // the players when the kick is due
        QTest::addColumn<QByteArray>("kickAnswer");
        QTest::addColumn<QStringList>("after");  // the commands after the pass's status and claim check
        QTest::addColumn<QStringList>("log");
        const QStringList kicked{"status", "say " + kBanNotice, "clientkick 3"};
        QTest::newRow("still his") << QString("Bob") << QList<Player>{player(3, "Bob", "10.0.0.7")} << QByteArray()
                                   << kicked << QStringList{kBanNotice};
        QTest::newRow("taken by another")
            << QString("Bob") << QList<Player>{player(3, "Alice", "10.0.0.8")} << QByteArray() << QStringList{"status"}
            << QStringList{"Not kicked: client 3 Bob (10.0.0.7), the slot now holds "
                           "Alice (10.0.0.8)"};
        QTest::newRow("taken by his twin")
            << QString("Bob") << QList<Player>{player(3, "bob", "10.0.0.7")} << QByteArray() << QStringList{"status"}
            << QStringList{"Not kicked: client 3 Bob (10.0.0.7), the slot now holds "
                           "bob (10.0.0.7)"};
        QTest::newRow("left") << QString("Bob") << QList<Player>{} << QByteArray() << QStringList{"status"}
                              << QStringList{"Not kicked: client 3 Bob (10.0.0.7) has left"};
        QTest::newRow("refused") << QString("Bob") << QList<Player>{player(3, "Bob", "10.0.0.7")}
                                 << QByteArray("Client 3 is not active\n") << kicked
                                 << QStringList{"Not kicked: client 3 Bob (10.0.0.7), the server said: Client 3 is "
                                                "not active"};
        // The Spearhead rename reached the server between the two tables, or
        // the record carries it and the server not yet.
        QTest::newRow("renamed since") << QString("Big Bob") << QList<Player>{player(3, "Big_Bob", "10.0.0.7")}
                                       << QByteArray() << kicked << QStringList{kBanNotice};
        QTest::newRow("rename still due") << QString("Big_Bob") << QList<Player>{player(3, "Big Bob", "10.0.0.7")}
                                          << QByteArray() << kicked << QStringList{kBanNotice};
    }
    void kickChecksTheSlotFirst()
    {
        QFETCH(QString, seen);
        QFETCH(QList<Player>, now);
        QFETCH(QByteArray, kickAnswer);
        QFETCH(QStringList, after);
        QFETCH(QStringList, log);
        Rig r(kOpenMohaaVersion);
        r.startWithoutPasses();
        r.lists.bans().add({"10.0.0.7", "Bob", "Cheat", "2024-01-03", ""});
        // The pass's own table shows Bob; when the kick is due the slot is as `now`.
        r.server.queueReply("status", GameServerDouble::engineAnswer(
                                          GameServerDouble::statusText("omtest", {player(3, seen, "10.0.0.7")})));
        r.server.setPlayers(now);
        if (!kickAnswer.isEmpty())
            r.server.setReply("clientkick 3", {GameServerDouble::datagram(kickAnswer)});
        r.patrolOnce();

        QCOMPARE(r.commands(), (QStringList{"clientban", "status", "sv_skelvar"} + after));
        QCOMPARE(r.logLines(), log);
    }

    // A status answer of several datagrams lost one in the middle: Alice's
    // row, cut at the end of the datagram before it, joined the rest of Bob's
    // row and parses cleanly with Bob's address. Neither her scan nor the ban
    // of his address may hit her.
    void splicedRowHitsNobody()
    {
        Rig r(kOpenMohaaVersion);
        const Player alice = player(3, "Alice", "10.0.0.8", true);
        const Player bob = player(4, "Bob", "10.0.0.7");
        r.server.setPlayers({alice, bob});
        r.lists.bans().add({"10.0.0.7", "Bob", "Cheat", "2024-01-03", ""});
        const QByteArray whole = GameServerDouble::statusText("omtest", {alice, bob});
        const qsizetype aliceRow = whole.indexOf("  3 ");
        const qsizetype bobRow = whole.indexOf("  4 ");
        const qsizetype cut = whole.indexOf("10.0.0.8") - 3 - aliceRow;  // inside the lastmsg column
        const GameServerDouble::Reply spliced{GameServerDouble::datagram(whole.left(aliceRow + cut)),
                                              GameServerDouble::datagram(whole.mid(bobRow + cut))};
        r.server.queueReply("status", spliced);  // the scan's table
        r.server.queueReply("status", spliced);  // the patrol pass's
        r.scanOnce();

        QCOMPARE(r.sent("dumpuser "), QStringList{"dumpuser 3"});
        QCOMPARE(r.sent("say "), QStringList());
        QCOMPARE(r.sent("clientkick "), QStringList());
        QCOMPARE(r.lists.warnings().size() + r.lists.kicks().size(), 0);
        QCOMPARE(r.lists.bans().size(), 1);
        QCOMPARE(
            r.logLines(),
            (QStringList{"Not scanned: the table of Alice (client 3) gives the address 10.0.0.8, the status 10.0.0.7",
                         "Not kicked: client 3 Alice (10.0.0.7), the slot now holds Alice (10.0.0.8)"}));
    }

    // The engines read "//" and "/*" outside quotes as a comment: a notice or
    // a rename that carries such a name goes out quoted, whole.
    void commentMarksInNamesGoOutWhole_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("say");
        QTest::newRow("slashes") << "Ev//il"
                                 << "say \"Cheat Detected!! Player: Ev//il Cheat: NoFog IP: 10.0.0.1\"";
        QTest::newRow("block comment") << "A/*b"
                                       << "say \"Cheat Detected!! Player: A/*b Cheat: NoFog IP: 10.0.0.1\"";
        QTest::newRow("a single slash") << "a/b"
                                        << "say Cheat Detected!! Player: a/b Cheat: NoFog IP: 10.0.0.1";
    }
    void commentMarksInNamesGoOutWhole()
    {
        QFETCH(QString, name);
        QFETCH(QString, say);
        Rig r(kOpenMohaaVersion);
        r.settings.setChecked(Settings::penaltyRow(Settings::rowOf(Detection::NoFog)).warning, true);
        r.server.setPlayers({player(0, name, "10.0.0.1", true)});
        r.scanOnce();
        QCOMPARE(r.sent("say "), QStringList{say});
    }
};

QTEST_GUILESS_MAIN(TestEnginePlayers)
#include "test_engine_players.moc"
