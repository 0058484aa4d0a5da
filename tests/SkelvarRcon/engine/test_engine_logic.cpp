// The engine's plain parts: reading the server's answers, the detections and
// what a penalty row turns into.

#include "SkelvarRcon/engine/detections.h"
#include "SkelvarRcon/engine/engine.h"
#include "SkelvarRcon/engine/serverparse.h"
#include "SkelvarRcon/store/settings.h"
#include "tests/SkelvarRcon/engine/statusfixture.h"
#include "tests/support/scriptedprompter.h"

#include <QTest>

using namespace skelvar;
using namespace skelvar::rcon;

Q_DECLARE_METATYPE(skelvar::rcon::FiredRule)
using skelvar::test::StatusPlayer;
using skelvar::test::statusRow;

namespace {

// "control=value" pairs; check boxes take 1 or 0.
void apply(Settings& s, const QStringList& changes)
{
    for (const QString& c : changes) {
        const QString name = c.section(QLatin1Char('='), 0, 0);
        const QString value = c.section(QLatin1Char('='), 1);
        if (Settings::formOf(name) == Settings::Form::Text)
            s.setText(name, value);
        else
            s.setChecked(name, value == QLatin1String("1"));
    }
}

lists::SkinList skins(const QStringList& entries)
{
    lists::SkinList l;
    l.entries = entries;
    l.count = int(entries.size());
    l.entries.append(QString());
    return l;
}

// A rule as the detections fire it for a player; the test fills in his name and address.
FiredRule cheatRule(const QString& cheat, const QString& reason, int row)
{
    return {Alert::Cheat, {QString(), QString(), std::nullopt, cheat}, reason, row};
}
FiredRule skinRule(Alert alert, const QString& skin, const QString& reason, int row)
{
    return {alert, {QString(), QString(), skin, std::nullopt}, reason, row};
}
FiredRule slotRule(Alert alert)
{
    return {alert, {QString(), QString(), std::nullopt, std::nullopt}, QStringLiteral("Use of private slot"), 8};
}

using Pairs = QList<std::pair<QString, QString>>;

}  // namespace

class TestEngineLogic : public QObject {
    Q_OBJECT

private slots:
    void parseStatusLine_data()
    {
        QTest::addColumn<QString>("row");
        QTest::addColumn<bool>("parses");
        QTest::addColumn<QStringList>("fields");  // clientNum, score, ping, name, lastMsg, ip, rate

        auto row = [](int num, int score, QString ping, QString name, QString addr) {
            return statusRow({num, score, ping, name, addr, 0, 4711, 25000});
        };
        QTest::newRow("blanks in name")
            << QStringLiteral("  3    12   48 Big Name              0 10.1.2.3:12203         4711 25000") << true
            << QStringList{"3", "12", "48", "Big Name", "0", "10.1.2.3", "25000"};
        QTest::newRow("connecting") << row(4, 0, "CNCT", "Newbie", "10.0.0.4:12203") << true
                                    << QStringList{"4", "0", "CNCT", "Newbie", "0", "10.0.0.4", "25000"};
        QTest::newRow("zombie keeps only the first columns") << row(5, 3, "ZMBI", "Gone", "10.0.0.5:12203") << true
                                                             << QStringList{"5", "3", "ZMBI", "", "", "", "25000"};
        QTest::newRow("local player") << row(0, 7, "0", "Host", "loopback") << true
                                      << QStringList{"0", "7", "0", "Host", "0", "127.0.0.1", "25000"};
        QTest::newRow("negative score, long name")
            << row(11, -4, "999", "a b c d e f g h i j k", "1.2.3.4:1") << true
            << QStringList{"11", "-4", "999", "a b c d e f g h i j k", "0", "1.2.3.4", "25000"};
        // OpenMoHAA widens its columns: a long name pushes the row right, an
        // IPv6 client widens the address column to 38.
        QTest::newRow("wide name") << QStringLiteral(
                                          "  2     5   48 AVeryLongPlayerName20 0 10.1.2.3:12203        4711 25000")
                                   << true
                                   << QStringList{"2", "5", "48", "AVeryLongPlayerName20", "0", "10.1.2.3", "25000"};
        QTest::newRow("ipv6 client")
            << QStringLiteral(
                   "  3     0   61 Six                   12 [2001:db8::1]:12203                    4711 25000")
            << true << QStringList{"3", "0", "61", "Six", "12", "[2001:db8::1]", "25000"};
        QTest::newRow("ipv4 client beside an ipv6 one")
            << QStringLiteral(
                   "  4     0   61 Four                  12 10.0.0.4:12203                         4711 25000")
            << true << QStringList{"4", "0", "61", "Four", "12", "10.0.0.4", "25000"};
        QTest::newRow("ipv6 without port")
            << QStringLiteral("  3     0   61 Six  12 [2001:db8::1]  4711 25000") << false << QStringList{};
        QTest::newRow("cut off in the name") << QStringLiteral("  7     0   50 Some") << false << QStringList{};
        QTest::newRow("cut off in the address")
            << QStringLiteral("  7     0   50 Some Name          0 10.0.0.") << false << QStringList{};
        QTest::newRow("cut off in the client port")
            << QStringLiteral("  7     0   50 Some Name          0 10.0.0.1:12203       47") << false << QStringList{};
        QTest::newRow("address without port") << row(2, 0, "50", "Who", "somewhere") << false << QStringList{};
        QTest::newRow("heading") << QStringLiteral(
                                        "num score ping name            lastmsg address               qport rate")
                                 << false << QStringList{};
        QTest::newRow("rule") << QStringLiteral(
                                     "--- ----- ---- --------------- ------- --------------------- ----- -----")
                              << false << QStringList{};
        QTest::newRow("empty") << QString() << false << QStringList{};
        QTest::newRow("bad ping") << row(1, 0, "fast", "Bob", "1.2.3.4:5") << false << QStringList{};
        // Only the table's padding blanks are taken off a name: no word is
        // left between ping and lastmsg for an empty name, and a tab, a
        // no-break space or a carriage return at either end is the player's.
        QTest::newRow("empty name") << row(6, 0, "50", "", "10.0.0.6:12203") << true
                                    << QStringList{"6", "0", "50", "", "0", "10.0.0.6", "25000"};
        QTest::newRow("empty name, connecting") << row(6, 0, "CNCT", "", "10.0.0.6:12203") << true
                                                << QStringList{"6", "0", "CNCT", "", "0", "10.0.0.6", "25000"};
        const QString nbsp(QChar(0xA0));
        QTest::newRow("no-break space at the end")
            << row(7, 0, "50", "Bob" + nbsp, "10.0.0.7:12203") << true
            << QStringList{"7", "0", "50", "Bob" + nbsp, "0", "10.0.0.7", "25000"};
        QTest::newRow("tab first") << row(8, 0, "50", "\tBob", "10.0.0.8:12203") << true
                                   << QStringList{"8", "0", "50", "\tBob", "0", "10.0.0.8", "25000"};
        QTest::newRow("carriage return last") << row(9, 0, "50", "Bob\r", "10.0.0.9:12203") << true
                                              << QStringList{"9", "0", "50", "Bob\r", "0", "10.0.0.9", "25000"};

        // Every awkward name comes back whole and moves no other column.
        int n = 0;
        for (const QString& name : test::awkwardNames()) {
            ++n;
            const QString addr = QStringLiteral("10.0.%1.%2:12203").arg(n).arg(n * 7);
            QTest::newRow(qPrintable(QStringLiteral("awkward %1").arg(n)))
                << statusRow({n, n * 3, QString::number(n * 10), name, addr, n, 1000 + n, 5000 + n}) << true
                << QStringList{QString::number(n),       QString::number(n * 3),
                               QString::number(n * 10),  name,
                               QString::number(n),       QStringLiteral("10.0.%1.%2").arg(n).arg(n * 7),
                               QString::number(5000 + n)};
        }
    }
    void parseStatusLine()
    {
        QFETCH(QString, row);
        QFETCH(bool, parses);
        QFETCH(QStringList, fields);
        const auto p = ParseStatusLine(row);
        QCOMPARE(p.has_value(), parses);
        if (!p)
            return;
        QCOMPARE((QStringList{p->clientNum, p->score, p->ping, p->name, p->lastMsg, p->ip, p->rate}), fields);
    }

    void playerRowsOfAnAnswer()
    {
        const QString text = QString::fromLatin1(test::statusAnswer({{0, 1, "40", "One", "1.1.1.1:1"},
                                                                     {1, 2, "50", "Two", "2.2.2.2:2"}}))
                                 .replace("\n", "\r\n");
        QStringList names;
        for (const QString& r : statusPlayerRows(text))
            if (auto p = ParseStatusLine(r))
                names << p->name;
        QCOMPARE(names, (QStringList{"One", "Two"}));
        QCOMPARE(StatusMapName(text), QString("obj/obj_team2"));
        // Refusals and short answers hold no players.
        QVERIFY(statusPlayerRows("Bad rconpassword.\r\n").isEmpty());
        QVERIFY(statusPlayerRows("map: x\r\nnum\r\n---\r\n").filter(QRegularExpression("\\S")).isEmpty());
    }

    void computeNextMap_data()
    {
        QTest::addColumn<QString>("map");
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("next");
        QTest::newRow("middle") << "b"
                                << "a b c"
                                << "c";
        QTest::newRow("last wraps to first") << "c"
                                             << "a b c"
                                             << "a";
        QTest::newRow("not in list") << "d"
                                     << "a b c"
                                     << "";
        QTest::newRow("empty list keeps the map") << "b"
                                                  << ""
                                                  << "b";
        QTest::newRow("inside a longer name") << "a"
                                              << "ab a b"
                                              << "b";
        QTest::newRow("start of the entry before it") << "dm/mohdm1"
                                                      << "dm/mohdm1b dm/mohdm2 dm/mohdm1 dm/mohdm6"
                                                      << "dm/mohdm6";
        QTest::newRow("only inside a longer name") << "dm/mohdm1"
                                                   << "dm/mohdm1b dm/mohdm2"
                                                   << "dm/mohdm2";
        QTest::newRow("occurs twice") << "a"
                                      << "a b a c"
                                      << "b";
        QTest::newRow("two blanks after") << "a"
                                          << "a  b"
                                          << "b";
        QTest::newRow("only map") << "a"
                                  << "a"
                                  << "a";
        QTest::newRow("no map named") << ""
                                      << "a b"
                                      << "";
        QTest::newRow("real names") << "obj/obj_team2"
                                    << "obj/obj_team1 obj/obj_team2 obj/obj_team4"
                                    << "obj/obj_team4";
    }
    void computeNextMap()
    {
        QFETCH(QString, map);
        QFETCH(QString, list);
        QFETCH(QString, next);
        QCOMPARE(ComputeNextMap(map, list), next);
    }

    void getStatusAnswers_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("expected");  // game type, map, map list, spearhead
        QTest::newRow("spearhead, list last")
            << QString("\xFF\xFF\xFF\xFFstatusResponse\r\n\\g_gametypestring\\Objective-Match-Round\\mapname\\obj/"
                       "obj_team2\\version\\Medal of Honor Spearhead 2.15 win-x86 Mar 2003\\sv_maplist\\obj/obj_team1 "
                       "obj/obj_team2\r\n0 50 \"Player\"\r\n")
                   .toLower()
            << QStringList{"objective match round", "obj/obj_team2", "obj/obj_team1 obj/obj_team2", "1"};
        QTest::newRow("allied assault, key twice")
            << QString("statusResponse\r\n\\mapname\\dm/mohdm1\\version\\Medal of Honor Allied Assault 1.11 "
                       "linux-i386\\mapname\\dm/mohdm2\\g_gametypestring\\Free-For-All\\sv_maplist\\ dm/mohdm1\\")
                   .toLower()
            << QStringList{"free for all", "dm/mohdm2", " dm/mohdm1", "0"};
        QTest::newRow("key without value")
            << QString("statusresponse\r\n\\sv_maplist\\a b\\mapname") << QStringList{"", "", "a b", "0"};
        QTest::newRow("no keys") << QString("something else") << QStringList{"", "", "", "0"};
    }
    void getStatusAnswers()
    {
        QFETCH(QString, answer);
        QFETCH(QStringList, expected);
        const ServerInfo info = parseGetStatus(answer);
        QCOMPARE((QStringList{info.gameType, info.map, info.mapList, info.spearhead ? "1" : "0"}), expected);
    }

    void probeAnswers()
    {
        QVERIFY(serverIsLinux("\"version\" is:\"Medal of Honor Allied Assault 1.11 LINUX-i386 Jul 2002\""));
        QVERIFY(!serverIsLinux("\"version\" is:\"Medal of Honor Allied Assault 1.11 win-x86 Mar 2002\""));
        QVERIFY(!serverIsLinux(""));
        QVERIFY(cheatsDisabled("\"cheats\" is:\"0\" default:\"0\"\r\n"));
        QVERIFY(!cheatsDisabled("\"cheats\" is:\"1\" default:\"0\"\r\n"));
        QVERIFY(cheatsDisabled("\"cheats\" is:\"0^7\", the default\r\n"));
        QVERIFY(!cheatsDisabled("\"cheats\" is:\"1^7\" default:\"0^7\"\r\n"));
        QVERIFY(!cheatsDisabled(""));
        QVERIFY(!cheatsDisabled("\"cheats\""));  // too few pieces
        QVERIFY(scriptRunning("\"versionskelvar\" is:\"2.1\" default:\"\"\r\n"));
        QVERIFY(!scriptRunning("Unknown command \"versionskelvar\"\r\n"));
        QVERIFY(!scriptRunning("UNKNOWN"));
        QVERIFY(!scriptRunning(""));
    }

    void userinfoSkins()
    {
        const QString info = QString::fromLatin1(test::userinfoAnswer({{"name", "dm_playermodel: fake"},
                                                                       {"dm_playermodel", "american_army"},
                                                                       {"dm_playergermanmodel", "german_wehrmacht"},
                                                                       {"dm_playermodel", "  us_ranger "}}))
                                 .replace("\n", "\r\n");
        QCOMPARE(rcon::userinfoSkins(info), (std::pair<QString, QString>{"us_ranger", "german_wehrmacht"}));
        QCOMPARE(rcon::userinfoSkins("dm_playermodel\r\n"), (std::pair<QString, QString>{}));
    }

    void substitutionOrder_data()
    {
        QTest::addColumn<QString>("templ");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("skin");
        QTest::addColumn<QString>("cheat");
        QTest::addColumn<QString>("filled");
        const QString alert3 = "Cheat Detected!! Player: $name Cheat: $cheat IP: $IP";
        QTest::newRow("default cheat template") << alert3 << "Bob"
                                                << ""
                                                << "NoFog"
                                                << "Cheat Detected!! Player: Bob Cheat: NoFog IP: 10.0.0.5";
        QTest::newRow("name holding $IP") << alert3 << "I am $IP"
                                          << ""
                                          << "NoFog"
                                          << "Cheat Detected!! Player: I am 10.0.0.5 Cheat: NoFog IP: 10.0.0.5";
        QTest::newRow("name holding $cheat") << alert3 << "$cheat"
                                             << ""
                                             << "WhiteWalls"
                                             << "Cheat Detected!! Player: WhiteWalls Cheat: WhiteWalls IP: 10.0.0.5";
        QTest::newRow("cheat holding $name stays") << "$cheat"
                                                   << "Bob"
                                                   << ""
                                                   << "$name"
                                                   << "$name";
        QTest::newRow("lower-case $ip stays") << "$ip $IP $Name"
                                              << "Bob"
                                              << ""
                                              << "x"
                                              << "$ip 10.0.0.5 $Name";
        QTest::newRow("every occurrence") << "$name/$name $skin$skin"
                                          << "B"
                                          << "s"
                                          << ""
                                          << "B/B ss";
        QTest::newRow("skin template leaves $cheat") << "$skin $cheat"
                                                     << "B"
                                                     << "s"
                                                     << ""
                                                     << "s $cheat";
        QTest::newRow("no placeholders") << "Hello"
                                         << "B"
                                         << ""
                                         << "c"
                                         << "Hello";
    }
    void substitutionOrder()
    {
        QFETCH(QString, templ);
        QFETCH(QString, name);
        QFETCH(QString, skin);
        QFETCH(QString, cheat);
        QFETCH(QString, filled);
        AlertSubstitutions s{name, "10.0.0.5", std::nullopt, std::nullopt};
        if (!skin.isEmpty())
            s.skin = skin;
        if (!cheat.isEmpty())
            s.cheat = cheat;
        QCOMPARE(fillAlert(templ, s), filled);
    }

    void detections_data()
    {
        QTest::addColumn<QStringList>("changes");
        QTest::addColumn<QString>("name");
        QTest::addColumn<Pairs>("info");
        QTest::addColumn<QStringList>("reserved");
        QTest::addColumn<QStringList>("suspicious");
        QTest::addColumn<bool>("privateMode");
        QTest::addColumn<QList<FiredRule>>("fired");
        QTest::addColumn<bool>("privateKick");

        const QStringList none;
        const QList<FiredRule> nothing;
        const Pairs clean{{"name", "Bob"}, {"dm_playermodel", "american_army"}, {"r_farplane", "0"}};
        auto with = [&](std::pair<QString, QString> extra) {
            Pairs p = clean;
            p.append(extra);
            return p;
        };

        QTest::newRow("clean player") << none << "Bob" << clean << none << none << false << nothing << false;

        // Each cheat rule, with its box ticked and unticked.
        struct Cheat {
            const char* tag;
            const char* box;
            std::pair<QString, QString> line;
            FiredRule fired;
        };
        const QList<Cheat> cheats{
            {"nofog", "Cheats_0", {"r_farplane_nofog", "1"}, cheatRule("NoFog", "Cheat: NoFog", 1)},
            {"chameleon",
             "Cheats_6",
             {"cg_f0rc3M0d31", "1"},
             cheatRule("Modified Binaries/Chameleon?", "Cheat: Modified Binaries/Chameleon?", 7)},
            {"clearview",
             "Cheats_0",
             {"r_farplane", "5000"},
             cheatRule("NoFog(Clearview)", "Cheat: NoFog(Clearview)", 1)},
            {"whitewalls", "Cheats_1", {"r_lightmap", "1"}, cheatRule("WhiteWalls", "Cheat: WhiteWalls", 2)},
            {"3rd person", "Cheats_3", {"cg_3rd_person", "1"}, cheatRule("3rd Person", "Cheat: 3rd Person", 4)},
            {"wallhack", "Cheats_2", {"r_novis", "1"}, cheatRule("Wallhack", "Cheat: WallHack/DoorHack", 3)},
            {"modified",
             "Cheats_6",
             {"r_novis", "hacked"},
             cheatRule("Modified binaries!!", "Cheat: Modified binaries!!", 7)},
            {"aimbot allied",
             "Cheats_4",
             {"dm_playermodel", "tiedie"},
             cheatRule("OGC Aimbot", "Cheat: OGC Aimbot", 5)},
            {"aimbot axis",
             "Cheats_4",
             {"dm_playergermanmodel", "german_oakleave"},
             cheatRule("OGC Aimbot", "Cheat: OGC Aimbot", 5)},
        };
        for (const Cheat& c : cheats) {
            Pairs info{{"name", "Bob"}, c.line};
            if (c.line.first != "r_farplane")
                info.append(std::pair<QString, QString>("r_farplane", "0"));
            QTest::newRow(c.tag) << none << "Bob" << info << none << none << false << QList<FiredRule>{c.fired}
                                 << false;
            QTest::newRow(qPrintable(QString(c.tag) + " unticked"))
                << QStringList{QString(c.box) + "=0"} << "Bob" << info << none << none << false << nothing << false;
        }
        QTest::newRow("clearview: value beginning with 0 is fine")
            << none << "Bob" << Pairs{{"r_farplane", "0.5"}} << none << none << false << nothing << false;
        QTest::newRow("hacked farplane: clearview and modified")
            << none << "Bob" << Pairs{{"r_farplane", "hacked"}} << none << none << false
            << QList<FiredRule>{cheatRule("NoFog(Clearview)", "Cheat: NoFog(Clearview)", 1),
                                cheatRule("Modified binaries!!", "Cheat: Modified binaries!!", 7)}
            << false;
        QTest::newRow("cheat text inside the name")
            << none << "r_novis              : 1" << with({"name", "r_novis              : 1"}) << none << none << false
            << nothing << false;

        // Suspicious skins.
        QTest::newRow("suspicious skin as written")
            << none << "Bob" << with({"dm_playergermanmodel", "glowskin"}) << none << QStringList{"x", " GlowSkin "}
            << false << QList<FiredRule>{cheatRule("Cheatskin:  GlowSkin ", "Cheatskin:  GlowSkin ", 6)} << false;
        QTest::newRow("suspicious skin unticked")
            << QStringList{"Cheats_5=0"} << "Bob" << with({"dm_playergermanmodel", "glowskin"}) << none
            << QStringList{"glowskin"} << false << nothing << false;
        QTest::newRow("tiedie belongs to the aimbot rule")
            << none << "Bob" << Pairs{{"dm_playermodel", "tiedie"}, {"r_farplane", "0"}} << none
            << QStringList{"tiedie", "german_oakleave"} << false
            << QList<FiredRule>{cheatRule("OGC Aimbot", "Cheat: OGC Aimbot", 5)} << false;
        QTest::newRow("blank skin entry matches nothing")
            << none << "Bob" << with({"cl_empty", ""}) << QStringList{"", "  "} << QStringList{" ", ""} << false
            << nothing << false;
        QTest::newRow("skin in the name only")
            << none << "Bob glowskin" << Pairs{{"name", "bob glowskin"}, {"r_farplane", "0"}} << none
            << QStringList{"glowskin"} << false << nothing << false;

        // Reserved skins.
        const QStringList reservedOn{"Check5=1", "txtTAG=[MyClan]", "txtPRP=secret"};
        const Pairs twoModels{
            {"name", "Bob"}, {"dm_playermodel", "clan_a"}, {"dm_playergermanmodel", "clan_b"}, {"r_farplane", "0"}};
        QTest::newRow("reserved: first of two in file order")
            << reservedOn << "Bob" << twoModels << QStringList{"Clan_B", "clan_a"} << none << false
            << QList<FiredRule>{skinRule(Alert::ReservedSkin, "Clan_B", "Use of reserved skin", 9)} << false;
        QTest::newRow("reserved: clan member may wear it")
            << reservedOn << "[MyClan]Bob" << Pairs{{"name", "[myclan]bob"}, {"dm_playermodel", "clan_a"}}
            << QStringList{"clan_a"} << none << false << nothing << false;
        QTest::newRow("reserved: unticked") << QStringList{"txtTAG=[MyClan]"} << "Bob" << twoModels
                                            << QStringList{"clan_a"} << none << false << nothing << false;
        QTest::newRow("reserved: last line without line break")
            << reservedOn << "Bob" << Pairs{{"dm_playermodel", "clan_a"}} << QStringList{"clan_a"} << none << false
            << nothing << false;

        // Private slots.
        const QStringList privateSlots{"Check1=1", "txtTAG=[MyClan]", "txtPRP=Secret"};
        QTest::newRow("clan player without password")
            << privateSlots << "[MyClan]Joe" << Pairs{{"name", "[myclan]joe"}} << none << none << false
            << QList<FiredRule>{slotRule(Alert::PublicSlot)} << false;
        QTest::newRow("clan player with password")
            << privateSlots << "[MyClan]Joe" << Pairs{{"name", "[myclan]joe"}, {"password", "secret"}} << none << none
            << false << nothing << false;
        QTest::newRow("public player with password")
            << privateSlots << "Bob" << Pairs{{"name", "bob"}, {"password", "secret"}} << none << none << false
            << QList<FiredRule>{slotRule(Alert::PrivateSlot)} << false;
        QTest::newRow("public player without password")
            << privateSlots << "Bob" << Pairs{{"name", "bob"}} << none << none << false << nothing << false;
        QTest::newRow("password in the name is no password")
            << privateSlots << "Bob secret" << Pairs{{"name", "bob secret"}} << none << none << false << nothing
            << false;
        QTest::newRow("private rules off")
            << QStringList{"txtTAG=[MyClan]", "txtPRP=Secret"} << "[MyClan]Joe" << Pairs{{"name", "[myclan]joe"}}
            << none << none << false << nothing << false;
        QTest::newRow("empty password: no private rule")
            << QStringList{"Check1=1", "txtTAG=[MyClan]", "txtPRP="} << "Bob" << Pairs{{"name", "bob"}} << none << none
            << false << nothing << false;
        QTest::newRow("empty tag: no private rule")
            << QStringList{"Check1=1", "txtTAG=", "txtPRP=Secret"} << "Bob" << Pairs{{"name", "bob"}} << none << none
            << false << nothing << false;

        // Private mode.
        QTest::newRow("private mode kicks without password")
            << QStringList{"txtPRP=Secret"} << "Bob" << Pairs{{"name", "bob"}} << none << none << true << nothing
            << true;
        QTest::newRow("private mode keeps the password holder")
            << QStringList{"txtPRP=Secret"} << "Bob" << Pairs{{"name", "bob"}, {"password", "SECRET"}} << none << none
            << true << nothing << false;

        // The macos-ppc build: only the private-slot and reserved-skin rules.
        QTest::newRow("mac client skips cheats")
            << reservedOn << "Bob"
            << Pairs{{"name", "bob"},
                     {"version", "mohaa macos-ppc 1.11"},
                     {"r_novis", "1"},
                     {"dm_playermodel", "clan_a"}}
            << QStringList{"clan_a"} << QStringList{"clan_a"} << false
            << QList<FiredRule>{skinRule(Alert::ReservedSkin, "clan_a", "Use of reserved skin", 9)} << false;
        QTest::newRow("macos-ppc in the name is no exemption")
            << none << "macos-ppc version" << Pairs{{"name", "macos-ppc version"}, {"r_novis", "1"}} << none << none
            << false << QList<FiredRule>{cheatRule("Wallhack", "Cheat: WallHack/DoorHack", 3)} << false;
    }
    void detections()
    {
        QFETCH(QStringList, changes);
        QFETCH(QString, name);
        QFETCH(Pairs, info);
        QFETCH(QStringList, reserved);
        QFETCH(QStringList, suspicious);
        QFETCH(bool, privateMode);
        QFETCH(QList<FiredRule>, fired);
        QFETCH(bool, privateKick);

        Settings settings;
        apply(settings, changes);
        PlayerRecord p;
        p.name = name;
        p.ip = "10.0.0.5";
        // The last line of a real answer ends with a line break; a case may drop it.
        QString text = QString::fromLatin1(test::userinfoAnswer(info)).replace("\n", "\r\n");
        if (QByteArray(QTest::currentDataTag()).contains("without line break"))
            text.chop(2);
        p.userinfoText = text.toLower();

        const Verdict v = runDetections(p, settings, skins(reserved), skins(suspicious), privateMode);
        QList<FiredRule> expected = fired;
        for (FiredRule& r : expected) {
            r.subs.name = name;
            r.subs.ip = "10.0.0.5";
        }
        QCOMPARE(v.rules, expected);
        QCOMPARE(v.privateKick, privateKick);
    }

    void penaltyRows_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("days");
        QTest::addColumn<int>("list");
        QTest::addColumn<int>("untilDays");  // -1000: no end
        QTest::addColumn<bool>("kick");
        const int W = int(Settings::Penalty::Warning), K = int(Settings::Penalty::Kick),
                  B = int(Settings::Penalty::Ban);
        const int noEnd = -1000;
        QTest::newRow("warning") << W << "7" << int(lists::ListKind::Warnings) << noEnd << false;
        QTest::newRow("kick") << K << "7" << int(lists::ListKind::Kicks) << noEnd << true;
        QTest::newRow("ban 7 days") << B << "7" << int(lists::ListKind::Bans) << 7 << true;
        QTest::newRow("ban 0") << B << "0" << int(lists::ListKind::Bans) << noEnd << true;
        QTest::newRow("ban 00") << B << "00" << int(lists::ListKind::Bans) << noEnd << true;
        QTest::newRow("ban blank 0") << B << " 0" << int(lists::ListKind::Bans) << noEnd << true;
        QTest::newRow("ban negative") << B << "-3" << int(lists::ListKind::Bans) << -3 << true;
        QTest::newRow("ban not a number") << B << "abc" << int(lists::ListKind::Bans) << noEnd << true;
        QTest::newRow("ban out of range") << B << "40000" << int(lists::ListKind::Bans) << noEnd << true;
    }
    void penaltyRows()
    {
        QFETCH(int, choice);
        QFETCH(QString, days);
        QFETCH(int, list);
        QFETCH(int, untilDays);
        QFETCH(bool, kick);
        const QDate today(2026, 3, 30);
        PlayerRecord p;
        p.name = "Bob";
        p.ip = "10.0.0.5";
        const PenaltyOutcome out = penaltyFor(Settings::Penalty(choice), days, p, "Cheat: NoFog", today);
        QCOMPARE(int(out.list), list);
        QCOMPARE(out.kick, kick);
        const QString until = untilDays == -1000 ? QString() : lists::formatDate(today.addDays(untilDays));
        QCOMPARE(out.record, (lists::Record{"10.0.0.5", "Bob", "Cheat: NoFog", "2026-03-30", until}));
    }

    void periodBoxKeepsTheLastGoodValue()
    {
        Settings settings;
        test::ScriptedPrompter prompter;
        PeriodBox box(&Settings::scanMinutes, 3, 546, "kept %1");
        const QStringList typed{"3", "abc", "abc", "0", "5", "-1", "547", " 546 ", "", "2"};
        const QList<int> expected{3, 3, 3, 3, 5, 5, 5, 546, 546, 2};
        QList<int> got;
        for (const QString& t : typed) {
            settings.setText("txtMin", t);
            got << box.read(settings, &prompter);
        }
        QCOMPARE(got, expected);
        // One notice per run of bad values.
        QCOMPARE(prompter.shown.size(), 3);
        QCOMPARE(prompter.shown[0].text, QString("kept 3"));
        QCOMPARE(prompter.shown[1].text, QString("kept 5"));
        QCOMPARE(prompter.shown[2].text, QString("kept 546"));
    }
};

QTEST_GUILESS_MAIN(TestEngineLogic)
#include "test_engine_logic.moc"
