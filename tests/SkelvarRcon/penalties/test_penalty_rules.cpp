// The plain rules of penalties: address matching and its index, the address
// patterns, duplicate bans, escalation over the record lists, and the
// clientban value.
#include "SkelvarRcon/penalties/banmatch.h"
#include "SkelvarRcon/penalties/escalation.h"
#include "SkelvarRcon/penalties/ingameban.h"
#include "SkelvarRcon/store/recordlist.h"

#include <QTest>

using namespace skelvar;
using namespace skelvar::rcon;
using lists::ListKind;
using lists::Record;

namespace {
const QDate kToday(2024, 3, 1);
const QString kTodayText = lists::formatDate(kToday);
const QString X = QStringLiteral("10.0.0.1");
const QString Y = QStringLiteral("10.0.0.2");
const QString Z = QStringLiteral("10.0.0.3");

void fill(RecordList& list, const QStringList& ips)
{
    for (const QString& ip : ips)
        list.add({ip, "someone", "reason", kTodayText, QString()});
}

QStringList ipsOf(const RecordList& list)
{
    QStringList out;
    for (int i = 0; i < list.size(); ++i)
        out << list.at(i).ip;
    return out;
}

QStringList reasonsOf(const RecordList& list)
{
    QStringList out;
    for (int i = 0; i < list.size(); ++i)
        out << list.at(i).reason;
    return out;
}

QStringList repeat(const QString& ip, int n)
{
    QStringList out;
    for (int i = 0; i < n; ++i)
        out << ip;
    return out;
}
}  // namespace

class TestPenaltyRules : public QObject {
    Q_OBJECT

private slots:
    void matching_data()
    {
        QTest::addColumn<QString>("ban");
        QTest::addColumn<QString>("player");
        QTest::addColumn<bool>("matches");
        QTest::newRow("full itself") << "10.1.2.3"
                                     << "10.1.2.3" << true;
        QTest::newRow("full vs longer last group") << "10.1.2.3"
                                                   << "10.1.2.34" << false;
        QTest::newRow("full vs 30s") << "10.1.2.3"
                                     << "10.1.2.30" << false;
        QTest::newRow("loopback") << "127.0.0.1"
                                  << "127.0.0.1" << true;
        QTest::newRow("subrank inside") << "10.1.2.xxx"
                                        << "10.1.2.77" << true;
        QTest::newRow("subrank vs 10.1.20") << "10.1.2.xxx"
                                            << "10.1.20.5" << false;
        QTest::newRow("provider inside") << "10.1.xxx.xxx"
                                         << "10.1.200.9" << true;
        QTest::newRow("provider vs 10.10") << "10.1.xxx.xxx"
                                           << "10.10.1.1" << false;
        QTest::newRow("provider vs 10.10.2.3") << "10.1.xxx.xxx"
                                               << "10.10.2.3" << false;
        QTest::newRow("xxx in the middle") << "10.xxx.2.3"
                                           << "10.99.2.3" << true;
        QTest::newRow("xxx in the middle, other group") << "10.xxx.2.3"
                                                        << "10.99.2.4" << false;
        QTest::newRow("empty record") << ""
                                      << "10.1.2.3" << false;
        QTest::newRow("xxx alone") << "xxx"
                                   << "10.1.2.3" << false;
        QTest::newRow("all xxx") << "xxx.xxx.xxx.xxx"
                                 << "10.1.2.3" << false;
        QTest::newRow("three groups") << "10.1.2"
                                      << "10.1.2.3" << false;
        QTest::newRow("trailing dot prefix") << "10.1.2."
                                             << "10.1.2.3" << false;
        QTest::newRow("word") << "somebody"
                              << "10.1.2.3" << false;
        QTest::newRow("blank around record") << " 10.1.2.3"
                                             << "10.1.2.3" << false;
        QTest::newRow("capital XXX") << "10.1.2.XXX"
                                     << "10.1.2.3" << false;
        QTest::newRow("group over 255") << "10.1.2.300"
                                        << "10.1.2.300" << false;
        QTest::newRow("empty player") << "10.1.2.xxx"
                                      << "" << false;
        QTest::newRow("player text is a pattern") << "10.1.2.xxx"
                                                  << "10.1.2.xxx" << false;
        QTest::newRow("player with port") << "10.1.2.3"
                                          << "10.1.2.3:12203" << false;
        QTest::newRow("ipv6 exact") << "[2001:db8::1]"
                                    << "[2001:db8::1]" << true;
        QTest::newRow("ipv6 other address") << "[2001:db8::1]"
                                            << "[2001:db8::2]" << false;
        QTest::newRow("ipv6 never by a pattern") << "32.1.xxx.xxx"
                                                 << "[2001:db8::1]" << false;
        QTest::newRow("ipv6 ban without brackets") << "2001:db8::1"
                                                   << "[2001:db8::1]" << false;
    }
    void matching()
    {
        QFETCH(QString, ban);
        QFETCH(QString, player);
        QFETCH(bool, matches);
        QCOMPARE(banMatches(ban, player), matches);
        // The index must agree with the rule, surrounded by bans that do not match.
        BanIndex index;
        index.rebuild(
            QList<Record>{{"192.168.7.7", "", "", "", ""}, {ban, "", "", "", ""}, {"172.16.xxx.xxx", "", "", "", ""}});
        QCOMPARE(index.find(player, kToday), matches ? 1 : -1);
    }

    // Several bans for one address: the most specific active one speaks.
    void indexPicksTheMostSpecificActiveBan()
    {
        const QString yesterday = lists::formatDate(kToday.addDays(-1));
        const QString tomorrow = lists::formatDate(kToday.addDays(1));
        const QList<Record> bans{
            {"10.1.xxx.xxx", "a", "provider", "", ""},
            {"10.1.2.3", "b", "expired", "", yesterday},
            {"10.1.2.xxx", "c", "subrank", "", ""},
            {"10.1.2.3", "d", "ends today", "", lists::formatDate(kToday)},
            {"10.1.2.3", "e", "exact", "", tomorrow},
            {"10.1.2.xxx", "f", "second subrank", "", ""},
            {"", "g", "empty", "", ""},
            {"xxx.xxx.xxx.xxx", "h", "everyone", "", ""},
            {"10.9.9.9", "i", "bad until", "", "not a date"},
        };
        BanIndex index;
        index.rebuild(bans);
        QCOMPARE(index.find("10.1.2.3", kToday), 4);
        QCOMPARE(index.find("10.1.2.4", kToday), 2);
        QCOMPARE(index.find("10.1.7.4", kToday), 0);
        QCOMPARE(index.find("10.9.9.9", kToday), 8);  // an Until that is no date never ends
        QCOMPARE(index.find("11.1.2.3", kToday), -1);
        // The day after tomorrow the exact ban has ended too.
        QCOMPARE(index.find("10.1.2.3", kToday.addDays(2)), 2);
        QVERIFY(index.hasActiveExact("10.1.2.3", kToday));
        QVERIFY(!index.hasActiveExact("10.1.2.3", kToday.addDays(1)));
        QCOMPARE(index.unusable(), (QStringList{"", "xxx.xxx.xxx.xxx"}));
    }

    // An index moved along by inserted and removed rows answers as one built
    // anew from the list: the same rows, the most specific and the active
    // ban first, also when an address loses its last record.
    void indexFollowsInsertedAndRemovedRows_data()
    {
        QTest::addColumn<QList<Record>>("inserted");  // put in at `at`
        QTest::addColumn<int>("at");
        QTest::addColumn<int>("removedFrom");  // then taken out; -1: none
        QTest::addColumn<int>("removedCount");
        const QString yesterday = lists::formatDate(kToday.addDays(-1));
        const Record exact{"10.1.2.3", "n", "exact", "", ""};
        QTest::newRow("an address before all") << QList<Record>{exact} << 0 << -1 << 0;
        QTest::newRow("a pattern in the middle") << QList<Record>{{"10.1.xxx.xxx", "n", "p", "", ""}} << 3 << -1 << 0;
        QTest::newRow("an ended twin before the running one")
            << QList<Record>{{"10.1.2.3", "n", "old", "", yesterday}} << 1 << -1 << 0;
        QTest::newRow("several at the end, one bans nobody")
            << QList<Record>{exact, {"[2001:db8::1]", "n", "v6", "", ""}, {"nobody", "n", "w", "", ""}} << 6 << -1 << 0;
        QTest::newRow("the first row") << QList<Record>{} << 0 << 0 << 1;
        QTest::newRow("the only record of an address") << QList<Record>{} << 0 << 2 << 1;
        QTest::newRow("two in the middle") << QList<Record>{} << 0 << 2 << 2;
        QTest::newRow("the last rows") << QList<Record>{} << 0 << 4 << 2;
        QTest::newRow("put in, then a row above taken out") << QList<Record>{exact} << 4 << 1 << 2;
    }
    void indexFollowsInsertedAndRemovedRows()
    {
        QFETCH(QList<Record>, inserted);
        QFETCH(int, at);
        QFETCH(int, removedFrom);
        QFETCH(int, removedCount);
        const QString tomorrow = lists::formatDate(kToday.addDays(1));
        QList<Record> list{{"10.1.2.xxx", "a", "", "", ""},    {"10.1.2.3", "b", "", "", tomorrow},
                           {"10.9.9.9", "c", "", "", ""},      {"10.1.2.3", "d", "", "", ""},
                           {"[2001:db8::1]", "e", "", "", ""}, {"10.9.xxx.xxx", "f", "", "", ""}};
        BanIndex moved;
        moved.rebuild(list);
        list.insert(at, inserted.size(), Record());
        for (int i = 0; i < inserted.size(); ++i)
            list[at + i] = inserted[i];
        moved.insertRows(at, inserted);
        if (removedFrom >= 0) {
            list.remove(removedFrom, removedCount);
            moved.removeRows(removedFrom, removedCount);
        }
        BanIndex built;
        built.rebuild(list);
        QCOMPARE(moved.size(), built.size());
        for (const QDate& day : {kToday, kToday.addDays(2)}) {
            for (const QString& player :
                 {"10.1.2.3", "10.1.2.4", "10.1.7.7", "10.9.9.9", "10.9.1.1", "[2001:db8::1]", "11.0.0.1"}) {
                QCOMPARE(moved.find(player, day), built.find(player, day));
                QCOMPARE(moved.hasActiveExact(player, day), built.hasActiveExact(player, day));
            }
        }
        for (const QString& text : built.unusable())
            QVERIFY(moved.unusable().contains(text));
    }

    // A record is reported as banning nobody exactly when no player matches it.
    void unusableBans_data()
    {
        QTest::addColumn<QString>("ban");
        QTest::addColumn<QString>("bannedPlayer");  // empty: the record bans nobody
        QTest::newRow("full address") << "10.1.2.3"
                                      << "10.1.2.3";
        QTest::newRow("pattern") << "10.1.xxx.xxx"
                                 << "10.1.200.9";
        QTest::newRow("ipv6") << "[2001:db8::1]"
                              << "[2001:db8::1]";
        QTest::newRow("ipv6 with a zone") << "[fe80::1%eth0]"
                                          << "[fe80::1%eth0]";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("word") << "somebody"
                              << "";
        QTest::newRow("all xxx") << "xxx.xxx.xxx.xxx"
                                 << "";
        QTest::newRow("group over 255") << "10.1.2.300"
                                        << "";
        QTest::newRow("ipv6 without brackets") << "2001:db8::1"
                                               << "";
        QTest::newRow("brackets around no address") << "[2001:db8::g]"
                                                    << "";
        QTest::newRow("brackets around ipv4") << "[10.1.2.3]"
                                              << "";
        QTest::newRow("empty brackets") << "[]"
                                        << "";
    }
    void unusableBans()
    {
        QFETCH(QString, ban);
        QFETCH(QString, bannedPlayer);
        BanIndex index;
        index.rebuild(QList<Record>{{ban, "", "", "", ""}});
        QCOMPARE(index.unusable(), bannedPlayer.isEmpty() ? QStringList{ban} : QStringList{});
        if (!bannedPlayer.isEmpty())
            QCOMPARE(index.find(bannedPlayer, kToday), 0);
    }

    void patterns_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("subrank");
        QTest::addColumn<QString>("provider");
        QTest::newRow("full") << "10.1.2.3"
                              << "10.1.2.xxx"
                              << "10.1.xxx.xxx";
        QTest::newRow("other") << "192.168.0.15"
                               << "192.168.0.xxx"
                               << "192.168.xxx.xxx";
        QTest::newRow("already subrank") << "10.1.2.xxx"
                                         << "10.1.2.xxx"
                                         << "10.1.xxx.xxx";
        QTest::newRow("already provider") << "10.1.xxx.xxx"
                                          << "10.1.xxx.xxx"
                                          << "10.1.xxx.xxx";
        QTest::newRow("two groups") << "10.1"
                                    << "10.1"
                                    << "10.1.xxx.xxx";
        QTest::newRow("one group") << "10"
                                   << "10"
                                   << "10";
        QTest::newRow("empty") << ""
                               << ""
                               << "";
    }
    void patterns()
    {
        QFETCH(QString, ip);
        QFETCH(QString, subrank);
        QFETCH(QString, provider);
        QCOMPARE(SubrankPattern(ip), subrank);
        QCOMPARE(ProviderPattern(ip), provider);
    }

    void duplicateBans_data()
    {
        QTest::addColumn<QString>("existingIp");
        QTest::addColumn<int>("existingDays");  // -1: no end; otherwise Until = today + days
        QTest::addColumn<QString>("newIp");
        QTest::addColumn<int>("newDays");
        QTest::addColumn<bool>("added");
        QTest::newRow("same, no end") << "10.1.2.3" << -1 << "10.1.2.3" << -1 << false;
        QTest::newRow("timed under no end") << "10.1.2.3" << -1 << "10.1.2.3" << 3 << false;
        QTest::newRow("same end") << "10.1.2.3" << 3 << "10.1.2.3" << 3 << false;
        QTest::newRow("shorter") << "10.1.2.3" << 5 << "10.1.2.3" << 3 << false;
        QTest::newRow("longer") << "10.1.2.3" << 3 << "10.1.2.3" << 5 << true;
        QTest::newRow("no end over timed") << "10.1.2.3" << 3 << "10.1.2.3" << -1 << true;
        QTest::newRow("existing ended") << "10.1.2.3" << 0 << "10.1.2.3" << -1 << true;
        QTest::newRow("other address") << "10.1.2.3" << -1 << "10.1.2.4" << -1 << true;
    }
    void duplicateBans()
    {
        QFETCH(QString, existingIp);
        QFETCH(int, existingDays);
        QFETCH(QString, newIp);
        QFETCH(int, newDays);
        QFETCH(bool, added);
        auto until = [](int days) { return days < 0 ? QString() : lists::formatDate(kToday.addDays(days)); };
        RecordList bans(ListKind::Bans);
        bans.add({existingIp, "old", "r", kTodayText, until(existingDays)});
        const int row = addBanUnlessCovered(bans, {newIp, "new", "r", kTodayText, until(newDays)}, kToday);
        QCOMPARE(row >= 0, added);
        QCOMPARE(bans.size(), added ? 2 : 1);
    }

    void escalation_data()
    {
        QTest::addColumn<QString>("acWarns");
        QTest::addColumn<QString>("acKicks");
        QTest::addColumn<QStringList>("warnings");
        QTest::addColumn<QStringList>("kicks");
        QTest::addColumn<QStringList>("warningsLeft");
        QTest::addColumn<QStringList>("kickReasons");  // of the player's kick rows afterwards
        QTest::addColumn<QStringList>("banReasons");
        QTest::addColumn<bool>("kick");
        const QStringList none;
        QTest::newRow("warnings off") << "0"
                                      << "3" << repeat(X, 5) << none << repeat(X, 5) << none << none << false;
        QTest::newRow("X X Y Y Y Z") << "2"
                                     << "3" << QStringList{X, X, Y, Y, Y, Z} << none << QStringList{Y, Y, Y, Z}
                                     << QStringList{"2 accumulated warnings"} << none << true;
        QTest::newRow("five of two") << "2"
                                     << "3" << repeat(X, 5) << none << repeat(X, 1)
                                     << QStringList{"2 accumulated warnings", "2 accumulated warnings"} << none << true;
        QTest::newRow("below threshold") << "3"
                                         << "3" << repeat(X, 2) << none << repeat(X, 2) << none << none << false;
        QTest::newRow("warnings make the kick that bans")
            << "3"
            << "2" << repeat(X, 3) << QStringList{X, Y} << none << none << QStringList{"2 accumulated kicks"} << true;
        QTest::newRow("kicks of any origin")
            << "0"
            << "3" << none << repeat(X, 3) << none << none << QStringList{"3 accumulated kicks"} << true;
        QTest::newRow("box text kept in reason")
            << " 2"
            << "3" << repeat(X, 2) << none << none << QStringList{" 2 accumulated warnings"} << none << true;
        QTest::newRow("case and blanks differ") << "1"
                                                << "1" << QStringList{X + " ", " " + X} << QStringList{"10.0.0.01"}
                                                << QStringList{" " + X, X + " "} << none << none << false;
        QTest::newRow("threshold not a number")
            << "abc"
            << "" << repeat(X, 3) << repeat(X, 3) << repeat(X, 3) << QStringList{"r", "r", "r"} << none << false;
        QTest::newRow("threshold out of 16 bits")
            << "40000"
            << "-2" << repeat(X, 3) << repeat(X, 3) << repeat(X, 3) << QStringList{"r", "r", "r"} << none << false;
        QTest::newRow("threshold above 101")
            << "150"
            << "3" << repeat(X, 151) << none << repeat(X, 1) << QStringList{"150 accumulated warnings"} << none << true;
    }
    void escalation()
    {
        QFETCH(QString, acWarns);
        QFETCH(QString, acKicks);
        QFETCH(QStringList, warnings);
        QFETCH(QStringList, kicks);
        QFETCH(QStringList, warningsLeft);
        QFETCH(QStringList, kickReasons);
        QFETCH(QStringList, banReasons);
        QFETCH(bool, kick);
        RecordList w(ListKind::Warnings), k(ListKind::Kicks), b(ListKind::Bans);
        fill(w, warnings);
        for (const QString& ip : kicks)
            k.add({ip, "someone", "r", kTodayText, QString()});
        const QStringList othersKicks = [&] {
            QStringList o;
            for (const QString& ip : kicks)
                if (ip != X)
                    o << ip;
            return o;
        }();

        const EscalationStep step = escalateRecords(w, k, b, acWarns, acKicks, X, "Bob", kToday);
        QCOMPARE(step.kick, kick);
        QCOMPARE(ipsOf(w), warningsLeft);

        QStringList playerKicks, otherKicks;
        for (int i = 0; i < k.size(); ++i) {
            if (k.at(i).ip == X) {
                playerKicks << k.at(i).reason;
                if (k.at(i).reason.contains("accumulated")) {
                    QCOMPARE(k.at(i).name, QString("Bob"));
                    QCOMPARE(k.at(i).date, kTodayText);
                }
            } else {
                otherKicks << k.at(i).ip;
            }
        }
        QCOMPARE(playerKicks, kickReasons);
        QCOMPARE(otherKicks, othersKicks);
        QCOMPARE(reasonsOf(b), banReasons);
        for (int i = 0; i < b.size(); ++i) {
            QCOMPARE(b.at(i).ip, X);
            QCOMPARE(b.at(i).name, QString("Bob"));
            QCOMPARE(b.at(i).date, kTodayText);
            QVERIFY(b.at(i).until.isEmpty());
        }
    }

    // A player banned for good already keeps one ban row; his kicks still go.
    void escalationAddsNoDuplicateBan()
    {
        RecordList w(ListKind::Warnings), k(ListKind::Kicks), b(ListKind::Bans);
        fill(k, repeat(X, 2));
        b.add({X, "Bob", "Cheat", kTodayText, QString()});
        const EscalationStep step = escalateRecords(w, k, b, "0", "2", X, "Bob", kToday);
        QVERIFY(step.kick);
        QCOMPARE(k.size(), 0);
        QCOMPARE(reasonsOf(b), QStringList{"Cheat"});
    }

    void clientBan_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("set");
        QTest::addColumn<QString>("target");  // empty: no usable request
        QTest::addColumn<QString>("reason");
        auto var = [](const char* v) {
            return QString("\"clientban\" is:\"%1\" default:\"\"\n").arg(QString::fromLatin1(v));
        };
        QTest::newRow("number and reason") << var("5@Team killing") << true << "5"
                                           << "Team killing";
        QTest::newRow("number only") << var("5") << true << "5"
                                     << "Admin.Ban";
        QTest::newRow("second @ ends reason") << var("12@one@two") << true << "12"
                                              << "one";
        QTest::newRow("empty reason") << var("5@") << true << "5"
                                      << "Admin.Ban";
        QTest::newRow("idle") << var("-1") << false << ""
                              << "";
        QTest::newRow("idle, colour-coded") << "\"clientban\" is:\"-1^7\" default:\"-1^7\"\n"
                                            << false << ""
                                            << "";
        QTest::newRow("request, colour-coded") << "\"clientban\" is:\"5@Team killing^7\", the default\n"
                                               << true << "5"
                                               << "Team killing";
        QTest::newRow("empty value") << var("") << false << ""
                                     << "";
        QTest::newRow("no answer") << "" << false << ""
                                   << "";
        QTest::newRow("too short") << "\"clientban\" is:" << false << ""
                                   << "";
        QTest::newRow("unknown variable") << "Unknown command \"clientban\"\n"
                                          << false << ""
                                          << "";
        QTest::newRow("command in reason") << var("5@x;quit") << true << "5"
                                           << "xquit";
        QTest::newRow("line break and separator in reason") << var("5@bad\x02\nreason\r") << true << "5"
                                                            << "bad reason";
        QTest::newRow("target not a number") << var("abc@x") << true << ""
                                             << "";
        QTest::newRow("command in target") << var("5;quit@x") << true << ""
                                           << "";
        QTest::newRow("negative target") << var("-5@x") << true << ""
                                         << "";
        QTest::newRow("huge target") << var("12345") << true << ""
                                     << "";
    }
    void clientBan()
    {
        QFETCH(QString, answer);
        QFETCH(bool, set);
        QFETCH(QString, target);
        QFETCH(QString, reason);
        const ClientBanValue v = parseClientBan(answer);
        QCOMPARE(v.set, set);
        QCOMPARE(v.request.has_value(), !target.isEmpty());
        if (v.request) {
            QCOMPARE(v.request->target, target);
            QCOMPARE(v.request->reason, reason);
        }
    }
};

QTEST_GUILESS_MAIN(TestPenaltyRules)
#include "test_penalty_rules.moc"
