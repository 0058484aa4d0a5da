// The script generator, the package writer and Build Mod.
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>
#include <stdexcept>

#include <sys/resource.h>

#include "SkelvarMod/generator/buildmod.h"
#include "SkelvarMod/generator/scriptgenerator.h"
#include "SkelvarMod/package/czip.h"
#include "modcore_fixture.h"
#include "tests/support/files.h"
#include "tests/support/permissions.h"
#include "zipread.h"

using namespace skelvar::mod;
using namespace modtest;

using Mutate = std::function<void(BuildInputs&)>;
using LineRuns = QList<QByteArrayList>;
using LineSwaps = QList<QPair<QByteArray, QByteArray>>;
Q_DECLARE_METATYPE(Mutate)
Q_DECLARE_METATYPE(LineRuns)

using skelvar::test::readFile;
using skelvar::test::writeFile;

namespace {

// Index of the first place where run stands as consecutive lines, or -1.
qsizetype findRun(const QByteArrayList& lines, const QByteArrayList& run)
{
    for (qsizetype i = 0; i + run.size() <= lines.size(); ++i) {
        qsizetype k = 0;
        while (k < run.size() && lines[i + k] == run[k])
            ++k;
        if (k == run.size())
            return i;
    }
    return -1;
}

MessageEntry msg(const char* type, const char* trigger, const char* priority, const char* text, bool ticked = true)
{
    return {type, trigger, priority, text, ticked};
}

MapFixEntry fix(const char* map, bool ticked = true)
{
    MapFixEntry f;
    f.map = map;
    f.model = "static/crate.tik";
    f.origin = "1 2 3";
    f.angle = "0";
    f.visibility = "show";
    f.ticked = ticked;
    return f;
}

// Writes past the limit fail with EFBIG instead of ending the process, so a
// file can be cut off part way, for root too.
struct FileSizeLimit {
    static void set(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    static void lift()
    {
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
};

const QByteArray TemplateBytes = crlf("// test template\nmain:\nexec global/skelvar.scr\nend\n");

}  // namespace

class TestModCore : public QObject {
    Q_OBJECT

private slots:
    void scriptOfSmallFixture();
    void scriptCases_data();
    void scriptCases();
    void operatorTextStaysOnItsLine_data();
    void operatorTextStaysOnItsLine();
    void backslashesAndSignsAsTheGameReadsThem_data();
    void backslashesAndSignsAsTheGameReadsThem();
    void validation_data();
    void validation();

    void zipProperties();
    void zipEntryNames_data();
    void zipEntryNames();
    void zipRefusesAndKeepsOldArchive_data();
    void zipRefusesAndKeepsOldArchive();
    void zipEventsInOrder();
    void zipDeleteUpdateFreshen();
    void zipLineEndsAndPassword();

    void buildPacksBothScripts();
    void buildReplacesOldArchives();
    void buildLeavesOperatorFilesAlone();
    void buildFailureKeepsOldArchive_data();
    void buildFailureKeepsOldArchive();
};

void TestModCore::scriptOfSmallFixture()
{
    QCOMPARE(GenerateScript(smallFixture()), smallFixtureScript());
}

void TestModCore::scriptCases_data()
{
    QTest::addColumn<Mutate>("mutate");
    QTest::addColumn<LineRuns>("present");  // each run: consecutive lines
    QTest::addColumn<QByteArrayList>("absent");

    QTest::newRow("everything empty")
        << Mutate([](BuildInputs&) {})
        << LineRuns{{"if (level.v4 != 1)", "{", "level waittill spawn"},
                    {"thread t4", "end", "t2:"},
                    {"if ($player != NULL)", "{", "}", "}", "level.v0 = int ( getcvar(scantime) )"},
                    {"t3:", "end", "t4:", "end", "t5:", "wait 15", "waitframe", "goto t5", "end"},
                    {"t6 local.v0:"},
                    {"stuffcmd (local.v0)"}}
        << QByteArrayList{"thread t5", "level.v4 = int(getcvar (mensa1))"};

    QTest::newRow("two periodic, an unticked one between")
        << Mutate([](BuildInputs& in) {
               in.messages = {msg("Periodic", "5 minutes", "Low", "a"), msg("Periodic", "7 minutes", "Low", "x", false),
                              msg("Periodic", "10 minutes", "Medium", "b")};
           })
        << LineRuns{{"level.v4 = int(getcvar (mensa1))", "level.v5 = int(getcvar (mensa2))",
                     "if ( getcvar (resetvalue) == \"\")"},
                    {"if (level.v6 != 1)", "{", "level waittill spawn"},
                    {"t1:", "if (level.v6 != 1)", "{", "level.v6 = 1"},
                    {"level.v4 = level.v4 + 1", "if (level.v4 == 5)", "{", "waitframe", "iprintln_noloc \"a\"",
                     "level.v4 = 0", "}", "setcvar \"mensa1\" level.v4", "level.v5 = level.v5 + 1",
                     "if (level.v5 == 10)", "{", "waitframe", "iprintlnbold_noloc \"b\"", "level.v5 = 0", "}",
                     "setcvar \"mensa2\" level.v5", "}", "setcvar \"sv_seconds\" level.v3"}}
        << QByteArrayList{"level.v6 = int(getcvar (mensa3))", "iprintln_noloc \"x\""};

    QTest::newRow("type and priority compare exactly")
        << Mutate([](BuildInputs& in) {
               in.messages = {msg("periodic", "5 minutes", "Low", "lower-case type"),
                              msg("Scheduled", "At 23:59", "Urgent", "no such priority"),
                              msg("Per Map", "On obj/obj_team2", "high", "lower-case priority")};
           })
        << LineRuns{{"if (level.v4 != 1)"},
                    {"if ((level.v2 == 23) && (level.v1 == 59))", "{", "waitframe", "}"},
                    {"t3:", "if (getcvar(mapname) == \"obj/obj_team2\")", "{", "wait 10", "waitframe", "}", "end"}}
        << QByteArrayList{"iprintln_noloc \"lower-case type\"", "level.v4 = int(getcvar (mensa1))"};

    QTest::newRow("scheduled hours and minutes are converted")
        << Mutate([](BuildInputs& in) {
               in.messages = {msg("Scheduled", "At 07:05", "Low", "m")};
               in.commands = {{"00:00", "restart", true}, {"9:07", "skipped", false}, {"23:9", "kick all", true}};
           })
        << LineRuns{{"if ((level.v2 == 7) && (level.v1 == 5))", "{", "waitframe", "iprintln_noloc \"m\"", "}",
                     "if ((level.v2 == 0) && (level.v1 == 0))", "{", "waitframe", "thread t6 \"restart\"", "}",
                     "if ((level.v2 == 23) && (level.v1 == 9))", "{", "waitframe", "thread t6 \"kick all\"", "}", "}"}}
        << QByteArrayList{"thread t6 \"skipped\""};

    QTest::newRow("map fixes count from 0, unticked skipped")
        << Mutate([](BuildInputs& in) {
               in.mapFixes = {fix("dm/a"), fix("dm/skip", false), fix("dm/b")};
           })
        << LineRuns{{"if (getcvar(mapname) == \"dm/a\")", "{", "local.v0 = spawn static/crate.tik",
                     "local.v0.origin = ( 1 2 3 )", "local.v0.angle = 0", "local.v0 solid"},
                    {"if (getcvar(mapname) == \"dm/b\")", "{", "local.v1 = spawn static/crate.tik"},
                    {"local.v1 show", "}", "end", "t5:"},
                    {"t6 local.v2:"},
                    {"stuffcmd (local.v2)"}}
        << QByteArrayList{"if (getcvar(mapname) == \"dm/skip\")"};

    QTest::newRow("White Walls alone") << Mutate([](BuildInputs& in) { in.switches.whiteWalls = 1; })
                                       << LineRuns{{"if ($player != NULL)", "{", "$player stufftext (\"set snaps 19\")",
                                                    "$player stufftext (\"setu r_lightmap \" + level.m1)",
                                                    "$player stufftext (\"setu version \" + level.m1)", "waitframe",
                                                    "$player stufftext (\"set snaps 20\")", "}"}}
                                       << QByteArrayList{"thread t5"};

    QTest::newRow("all four probes") << Mutate([](BuildInputs& in) {
        in.switches.noFog = in.switches.whiteWalls = in.switches.thirdPersonView = in.switches.wallhack = 1;
    })
                                     << LineRuns{{"$player stufftext (\"set snaps 19\")",
                                                  "$player stufftext (\"setu r_farplane_nofog \" + level.m1)",
                                                  "$player stufftext (\"setu r_farplane \" + level.m1)",
                                                  "$player stufftext (\"setu r_lightmap \" + level.m1)",
                                                  "$player stufftext (\"setu cg_3rd_person \" + level.m1)",
                                                  "$player stufftext (\"setu r_novis \" + level.m1)",
                                                  "$player stufftext (\"setu version \" + level.m1)"}}
                                     << QByteArrayList{};

    QTest::newRow("greyed switches open the block only")
        << Mutate([](BuildInputs& in) {
               in.switches.noFog = 2;
               in.switches.stopForcedModels = 2;
           })
        << LineRuns{{"{", "$player stufftext (\"set snaps 19\")", "$player stufftext (\"setu version \" + level.m1)"}}
        << QByteArrayList{"$player stufftext (\"setu r_farplane \" + level.m1)", "thread t5",
                          "$player stufftext (\"set cg_forcemodel 0\")"};

    QTest::newRow("15-second tasks") << Mutate([](BuildInputs& in) {
        in.switches.stopForcedModels = 1;
        in.switches.nextMap = 1;
    })
                                     << LineRuns{{"thread t4", "thread t5", "end"},
                                                 {"t5:", "wait 15", "waitframe", "if (getcvar(nextmap) != \"\")",
                                                  "{ level.zov_order15 = \"Next Map: \" + getcvar(nextmap) }", "else",
                                                  "{ level.zov_order15 = \"\" }", "if ($player != NULL)", "{",
                                                  "$player stufftext (\"set cg_forcemodel 0\")", "}", "goto t5"}}
                                     << QByteArrayList{"local.v1 = \"\""};

    QTest::newRow("additional scripts in list order") << Mutate([](BuildInputs& in) {
        in.compat = {{"b", "zeta.scr", true}, {"skip", "no.scr", false}, {"a", "alpha.scr", true}};
    }) << LineRuns{{"}", "exec global/zeta.scr", "exec global/alpha.scr", "if (level.v4 != 1)"}}
                                                      << QByteArrayList{"exec global/no.scr"};

    QTest::newRow("prefix and suffix only at their place")
        << Mutate([](BuildInputs& in) { in.messages = {msg("Per Map", "On dm/On the roof", "Low", "p")}; })
        << LineRuns{{"if (getcvar(mapname) == \"dm/On the roof\")"}} << QByteArrayList{};

    QTest::newRow("Latin-1 text") << Mutate([](BuildInputs& in) {
        in.messages = {msg("Per Map", "On dm/x", "Low", "")};
        in.messages[0].text = QString::fromUtf8("Caf\u00e9 \u00fcber");
    })
                                  << LineRuns{{"iprintln_noloc \"Caf\xe9 \xfc"
                                               "ber\""}}
                                  << QByteArrayList{};
}

void TestModCore::scriptCases()
{
    QFETCH(Mutate, mutate);
    QFETCH(LineRuns, present);
    QFETCH(QByteArrayList, absent);
    BuildInputs in;
    mutate(in);
    const QByteArray script = GenerateScript(in);
    QVERIFY(!script.contains("\n\n") && !script.startsWith("\r\n"));
    QCOMPARE(script.count("\n"), script.count("\r\n"));
    const QByteArrayList lines = scriptLines(script);
    for (const QByteArrayList& run : present)
        QVERIFY2(findRun(lines, run) >= 0, run.join(" | ").constData());
    for (const QByteArray& line : absent)
        QVERIFY2(!lines.contains(line), line.constData());
    // Section order never changes.
    qsizetype last = -1;
    for (const char* label : {"main:", "t1:", "t2:", "t3:", "t4:", "t5:"}) {
        const qsizetype at = lines.indexOf(label);
        QVERIFY2(at > last, label);
        last = at;
    }
}

void TestModCore::operatorTextStaysOnItsLine_data()
{
    QTest::addColumn<Mutate>("mutate");
    QTest::addColumn<QByteArray>("expectedLine");

    QTest::newRow("message text") << Mutate([](BuildInputs& in) {
        in.messages[1].text = "Restart\r\nend\nthread t7 \"now\"";
    }) << QByteArray("locprint 15 200 \"Restart end thread t7 'now'\"");
    QTest::newRow("command") << Mutate([](BuildInputs& in) { in.commands[0].command = "say \"hi\"\rquit"; })
                             << QByteArray("thread t6 \"say 'hi' quit\"");
    QTest::newRow("map fix map and model") << Mutate([](BuildInputs& in) {
        in.mapFixes[0].map = "dm/\"x\nend";
        in.mapFixes[0].model = "a.tik\nthread t7";
    }) << QByteArray("local.v0 = spawn a.tik thread t7");
    QTest::newRow("additional script") << Mutate([](BuildInputs& in) { in.compat[0].script = "x.scr\r\nthread t7"; })
                                       << QByteArray("exec global/x.scr thread t7");
}

void TestModCore::operatorTextStaysOnItsLine()
{
    QFETCH(Mutate, mutate);
    QFETCH(QByteArray, expectedLine);
    BuildInputs in = smallFixture();
    mutate(in);
    const QByteArrayList lines = scriptLines(GenerateScript(in));
    QCOMPARE(lines.size(), scriptLines(smallFixtureScript()).size());
    QVERIFY2(lines.contains(expectedLine), expectedLine.constData());
    for (const QByteArray& l : lines)
        QVERIFY2(l.count('"') % 2 == 0, l.constData());
}

void TestModCore::backslashesAndSignsAsTheGameReadsThem_data()
{
    QTest::addColumn<Mutate>("mutate");
    QTest::addColumn<LineSwaps>("swaps");  // fixture line -> expected line

    QTest::newRow("message ending in a backslash")
        << Mutate([](BuildInputs& in) { in.messages[1].text = "Files are in C:\\mohaa\\"; })
        << LineSwaps{{"locprint 15 200 \"Restart soon\"", "locprint 15 200 \"Files are in C:\\\\mohaa\\\\\""}};
    QTest::newRow("periodic message with escape-like pairs")
        << Mutate([](BuildInputs& in) { in.messages[0].text = "C:\\new\\temp \\\\server"; })
        << LineSwaps{{"iprintln_noloc \"Welcome\"", "iprintln_noloc \"C:\\\\new\\\\temp \\\\\\\\server\""}};
    QTest::newRow("command ending in a backslash")
        << Mutate([](BuildInputs& in) { in.commands[0].command = "echo trailing backslash \\"; })
        << LineSwaps{{"thread t6 \"map dm/mohdm6\"", "thread t6 \"echo trailing backslash \\\\\""}};
    QTest::newRow("map names")
        << Mutate([](BuildInputs& in) {
               in.mapFixes[0].map = "dm\\mohdm6\\";
               in.messages.append(msg("Per Map", "On obj\\team2", "Low", "p"));
           })
        << LineSwaps{{"if (getcvar(mapname) == \"dm/mohdm6\")", "if (getcvar(mapname) == \"dm\\\\mohdm6\\\\\")"},
                     {"t3:", "t3:\r\nif (getcvar(mapname) == \"obj\\\\team2\")\r\n{\r\nwait 10\r\nwaitframe\r\n"
                             "iprintln_noloc \"p\"\r\n}"}};
    QTest::newRow("plus signs dropped") << Mutate([](BuildInputs& in) {
        in.mapFixes[0].origin = "+100 -200 +32";
        in.mapFixes[0].angle = "+90";
    }) << LineSwaps{};
    QTest::newRow("numbers without digits before or after the dot")
        << Mutate([](BuildInputs& in) {
               in.mapFixes[0].origin = " 100  -.5 +32. ";
               in.mapFixes[0].angle = "-.25";
           })
        << LineSwaps{{"local.v0.origin = ( 100 -200 32 )", "local.v0.origin = ( 100 -0.5 32 )"},
                     {"local.v0.angle = 90", "local.v0.angle = -0.25"}};
    QTest::newRow("interval with a sign, leading zeros and blanks")
        << Mutate([](BuildInputs& in) { in.messages[0].trigger = "\t\u00a0+010 minutes"; }) << LineSwaps{};
    QTest::newRow("map-fix numbers with leading zeros") << Mutate([](BuildInputs& in) {
        in.mapFixes[0].origin = "0100 -0200 +032";
        in.mapFixes[0].angle = "0090";
    }) << LineSwaps{};
    QTest::newRow("map-fix numbers of zeros")
        << Mutate([](BuildInputs& in) {
               in.mapFixes[0].origin = "-00.50 000 0007.";
               in.mapFixes[0].angle = "-000";
           })
        << LineSwaps{{"local.v0.origin = ( 100 -200 32 )", "local.v0.origin = ( -0.50 0 7 )"},
                     {"local.v0.angle = 90", "local.v0.angle = -0"}};
    QTest::newRow("names between tabs and blanks")
        << Mutate([](BuildInputs& in) {
               in.compat[0].script = "\tteambalance.scr\t";
               in.mapFixes[0].map = " dm/mohdm6\t";
               in.mapFixes[0].model = "\tstatic/crate.tik ";
               in.messages.append(msg("Per Map", "On \tobj/team2 ", "Low", "p"));
           })
        << LineSwaps{{"t3:", "t3:\r\nif (getcvar(mapname) == \"obj/team2\")\r\n{\r\nwait 10\r\nwaitframe\r\n"
                             "iprintln_noloc \"p\"\r\n}"}};
    // The engine's reader takes a NUL for the end of the script.
    QTest::newRow("NUL in operator text") << Mutate([](BuildInputs& in) {
        in.messages[1].text = QString::fromLatin1("Restart\0soon", 12);
        in.commands[0].command = QString::fromLatin1("map\0dm/mohdm6", 13);
    }) << LineSwaps{};
}

// The whole script, against the fixture's bytes with the named lines changed.
void TestModCore::backslashesAndSignsAsTheGameReadsThem()
{
    QFETCH(Mutate, mutate);
    QFETCH(LineSwaps, swaps);
    BuildInputs in = smallFixture();
    mutate(in);
    QVERIFY2(validateInputs(in).isEmpty(), qPrintable(validateInputs(in).join('\n')));
    QByteArray expected = smallFixtureScript();
    for (const auto& [from, to] : swaps) {
        const QByteArray line = from + "\r\n";
        QCOMPARE(expected.count(line), 1);
        expected.replace(line, to + "\r\n");
    }
    QCOMPARE(GenerateScript(in), expected);
}

void TestModCore::validation_data()
{
    QTest::addColumn<Mutate>("mutate");
    QTest::addColumn<QString>("problem");  // part of the message; empty: valid

    QTest::newRow("fixture is valid") << Mutate([](BuildInputs&) {}) << QString();
    QTest::newRow("line break is not a problem")
        << Mutate([](BuildInputs& in) { in.messages[0].text = "a\r\nb"; }) << QString();
    QTest::newRow("blanks around numbers") << Mutate([](BuildInputs& in) {
        in.messages[1].trigger = "At  7: 05";
        in.commands[0].time = " 0:0 ";
    }) << QString();
    QTest::newRow("broken row unticked") << Mutate([](BuildInputs& in) {
        in.commands.append({"late", "say \"x\"", false});
        in.mapFixes.append(MapFixEntry{});
    }) << QString();
    QTest::newRow("quote in text") << Mutate([](BuildInputs& in) { in.messages[1].text = "say \"hi\""; })
                                   << "Message 2 (Scheduled At 07:05): the text holds a double quote";
    QTest::newRow("scheduled minute not a number")
        << Mutate([](BuildInputs& in) { in.messages[1].trigger = "At 07:xx"; }) << "Message 2";
    QTest::newRow("scheduled hour 24") << Mutate([](BuildInputs& in) { in.messages[1].trigger = "At 24:00"; })
                                       << "Message 2";
    QTest::newRow("scheduled without colon")
        << Mutate([](BuildInputs& in) { in.messages[1].trigger = "At 0705"; }) << "Message 2";
    QTest::newRow("periodic not a number")
        << Mutate([](BuildInputs& in) { in.messages[0].trigger = "ten minutes"; }) << "Message 1";
    QTest::newRow("periodic zero") << Mutate([](BuildInputs& in) { in.messages[0].trigger = "0 minutes"; })
                                   << "Message 1";
    QTest::newRow("per map without map") << Mutate([](BuildInputs& in) {
        in.messages.append(msg("Per Map", "On ", "Low", "x"));
    }) << "Message 3";
    QTest::newRow("command time") << Mutate([](BuildInputs& in) { in.commands[0].time = "12.30"; }) << "Command 1";
    QTest::newRow("command quote") << Mutate([](BuildInputs& in) { in.commands[0].command = "say \"x"; })
                                   << "Command 1 (say \"x): the command holds a double quote";
    QTest::newRow("fix empty model") << Mutate([](BuildInputs& in) { in.mapFixes[0].model = " "; })
                                     << "Map fix 1 (dm/mohdm6 Crate on the roof): the model is empty";
    QTest::newRow("fix empty map") << Mutate([](BuildInputs& in) { in.mapFixes[0].map.clear(); }) << "Map fix 1";
    QTest::newRow("fix origin of two") << Mutate([](BuildInputs& in) { in.mapFixes[0].origin = "1 2"; }) << "Map fix 1";
    QTest::newRow("fix origin in parentheses")
        << Mutate([](BuildInputs& in) { in.mapFixes[0].origin = "( 1 2 3 )"; }) << "Map fix 1";
    QTest::newRow("fix empty angle") << Mutate([](BuildInputs& in) { in.mapFixes[0].angle.clear(); }) << "Map fix 1";
    QTest::newRow("fix angle not a number")
        << Mutate([](BuildInputs& in) { in.mapFixes[0].angle = "nan"; }) << "Map fix 1";
    QTest::newRow("fix signed numbers") << Mutate([](BuildInputs& in) {
        in.mapFixes[0].origin = "+1 -2 +.5";
        in.mapFixes[0].angle = " +90 ";
    }) << QString();
    QTest::newRow("fix plain model path")
        << Mutate([](BuildInputs& in) { in.mapFixes[0].model = "models/a_b-c.9/x.TIK"; }) << QString();
    for (const char* model :
         {"static/my bush:{1}.tik", "a.tik\nthread t7", "a\\b.tik", "./crate.tik", "-crate.tik", "//crate.tik"})
        QTest::newRow(qPrintable(QString("fix model ") + model))
            << Mutate([model](BuildInputs& in) { in.mapFixes[0].model = model; })
            << "Map fix 1 (dm/mohdm6 Crate on the roof): the model must be a plain path";
    for (const char* origin : {"1 2 ++3", "1 2 3x", "1 2 ."})
        QTest::newRow(qPrintable(QString("fix origin ") + origin))
            << Mutate([origin](BuildInputs& in) { in.mapFixes[0].origin = origin; })
            << "Map fix 1 (dm/mohdm6 Crate on the roof): the origin must be three numbers";
    for (const char* angle : {"+-90", "90deg", "+"})
        QTest::newRow(qPrintable(QString("fix angle ") + angle))
            << Mutate([angle](BuildInputs& in) { in.mapFixes[0].angle = angle; })
            << "Map fix 1 (dm/mohdm6 Crate on the roof): the angle must be a number";
    QTest::newRow("fix numbers at the engine's limit") << Mutate([](BuildInputs& in) {
        in.mapFixes[0].origin = "-2147483647 02147483647 2147483647.9";
        in.mapFixes[0].angle = "-2147483647";
    }) << QString();
    QTest::newRow("fix origin beyond the engine's whole numbers")
        << Mutate([](BuildInputs& in) { in.mapFixes[0].origin = "0 2147483648 0"; })
        << "Map fix 1 (dm/mohdm6 Crate on the roof): the origin's numbers must lie between -2147483647 and 2147483647.";
    QTest::newRow("fix angle beyond the engine's whole numbers")
        << Mutate([](BuildInputs& in) { in.mapFixes[0].angle = "-99999999999"; })
        << "Map fix 1 (dm/mohdm6 Crate on the roof): the angle must lie between -2147483647 and 2147483647.";
    QTest::newRow("the longest values") << Mutate([](BuildInputs& in) {
        in.messages[1].text = QString(MaxValueLength, 'x');
        in.commands[0].command = QString(MaxValueLength, 'x');
        in.mapFixes[0].map = "dm/" + QString(MaxValueLength - 3, 'x');
        in.mapFixes[0].model = "static/" + QString(MaxNameLength - 11, 'x') + ".tik";
        in.compat[0].script = "\t" + QString(MaxNameLength - 4, 'x') + ".scr";
    }) << QString();
    QTest::newRow("message text beyond the longest")
        << Mutate([](BuildInputs& in) { in.messages[1].text = QString(MaxValueLength + 1, 'x'); })
        << "Message 2 (Scheduled At 07:05): the text is longer than 1000 characters.";
    QTest::newRow("model beyond the longest")
        << Mutate([](BuildInputs& in) { in.mapFixes[0].model = "static/" + QString(MaxNameLength - 10, 'x') + ".tik"; })
        << "Map fix 1 (dm/mohdm6 Crate on the roof): the model is longer than 56 characters.";
    QTest::newRow("script name beyond the longest")
        << Mutate([](BuildInputs& in) { in.compat[0].script = QString(MaxNameLength - 3, 'x') + ".scr"; })
        << "Additional script 1 (Team balance): the script name is longer than 56 characters.";
    QTest::newRow("fix quote in map") << Mutate([](BuildInputs& in) { in.mapFixes[0].map = "dm/\"a"; }) << "Map fix 1";
    QTest::newRow("fix visibility") << Mutate([](BuildInputs& in) { in.mapFixes[0].visibility.clear(); })
                                    << "Map fix 1";
    QTest::newRow("additional script empty")
        << Mutate([](BuildInputs& in) { in.compat[0].script.clear(); }) << "Additional script 1 (Team balance)";
    QTest::newRow("additional script with a blank")
        << Mutate([](BuildInputs& in) { in.compat[0].script = "team balance.scr"; })
        << "Additional script 1 (Team balance): the script name must be a plain path";
}

void TestModCore::validation()
{
    QFETCH(Mutate, mutate);
    QFETCH(QString, problem);
    BuildInputs in = smallFixture();
    mutate(in);
    const QStringList problems = validateInputs(in);
    if (problem.isEmpty()) {
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
    } else {
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problems[0].startsWith(problem), qPrintable(problems[0]));
    }
}

void TestModCore::zipProperties()
{
    cZip z;
    QCOMPARE(z.MessageLevel(), 2);
    QVERIFY(!z.StoreDirectories() && !z.StoreFolderNames() && !z.RecurseSubDirs() && !z.Encrypt());
    for (int level : {0, 1, 2}) {
        z.setMessageLevel(level);
        QCOMPARE(z.MessageLevel(), level);
    }
    QCOMPARE(z.FileSpecCount(), 0);
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, z.FileSpec(1));
    z.AddFileSpec("a");
    z.AddFileSpec("b\\*.*");
    QCOMPARE(z.FileSpecCount(), 2);
    QCOMPARE(z.FileSpec(2), QString("b\\*.*"));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, z.FileSpec(0));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, z.FileSpec(3));
    z.ClearFileSpecs();
    QCOMPARE(z.FileSpecCount(), 0);
}

void TestModCore::zipEntryNames_data()
{
    QTest::addColumn<QString>("spec");
    QTest::addColumn<bool>("folders");
    QTest::addColumn<bool>("recurse");
    QTest::addColumn<bool>("dirs");
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("backslash spec, bare names")
        << "global\\*.*" << false << false << false << false << QStringList{"a.scr", "b.scr", "noext"};
    QTest::newRow("folder names kept") << "global/*.*" << true << false << false << false
                                       << QStringList{"global/a.scr", "global/b.scr", "global/noext"};
    QTest::newRow("pattern with recursion") << "global/*.scr" << true << true << false << false
                                            << QStringList{"global/a.scr", "global/b.scr", "global/sub/c.scr"};
    QTest::newRow("hidden files on request")
        << "global/*" << true << false << false << true
        << QStringList{"global/.hidden", "global/a.scr", "global/b.scr", "global/noext"};
    QTest::newRow("folder with directory entries")
        << "global" << true << true << true << false
        << QStringList{"global/", "global/a.scr", "global/b.scr", "global/noext", "global/sub/", "global/sub/c.scr"};
    QTest::newRow("single file") << "global/sub/c.scr" << true << false << false << false
                                 << QStringList{"global/sub/c.scr"};
}

void TestModCore::zipEntryNames()
{
    QFETCH(QString, spec);
    QFETCH(bool, folders);
    QFETCH(bool, recurse);
    QFETCH(bool, dirs);
    QFETCH(bool, hidden);
    QFETCH(QStringList, names);

    QTemporaryDir tmp;
    for (const char* f : {"global/a.scr", "global/b.scr", "global/noext", "global/sub/c.scr", "global/.hidden"})
        writeFile(tmp.filePath(f), QByteArray("content of ") + f);
    cZip z;
    z.setZipFile(tmp.filePath("out.zip"));
    z.setBasePath(tmp.path());
    z.setStoreFolderNames(folders);
    z.setRecurseSubDirs(recurse);
    z.setStoreDirectories(dirs);
    z.setIncludeSystemAndHiddenFiles(hidden);
    z.AddFileSpec(spec);
    QVERIFY2(z.Zip(), qPrintable(z.LastError()));
    const ZipContent zc = readZip(tmp.filePath("out.zip"));
    QVERIFY(zc.opened);
    QStringList got = zc.names();
    got.sort();
    QCOMPARE(got, names);
    if (folders)
        for (const QString& n : names)
            if (!n.endsWith('/'))
                QCOMPARE(zc.content(n), "content of " + n.toLatin1());
}

void TestModCore::zipRefusesAndKeepsOldArchive_data()
{
    QTest::addColumn<QStringList>("specs");
    QTest::addColumn<bool>("recurse");
    QTest::addColumn<QString>("error");

    QTest::newRow("missing file") << QStringList{"a.txt", "missing.txt"} << false << "name not matched: missing.txt";
    QTest::newRow("pattern matching nothing") << QStringList{"*.pk3"} << false << "name not matched: *.pk3";
    QTest::newRow("two files, one bare name") << QStringList{"*.txt"} << true << "two files would be stored as a.txt";
}

void TestModCore::zipRefusesAndKeepsOldArchive()
{
    QFETCH(QStringList, specs);
    QFETCH(bool, recurse);
    QFETCH(QString, error);
    QTemporaryDir tmp;
    writeFile(tmp.filePath("a.txt"), "a");
    writeFile(tmp.filePath("sub/a.txt"), "other a");
    writeFile(tmp.filePath("old.zip"), "not touched");
    cZip z;
    z.setZipFile(tmp.filePath("old.zip"));
    z.setBasePath(tmp.path());
    z.setRecurseSubDirs(recurse);
    for (const QString& s : specs)
        z.AddFileSpec(s);
    QVERIFY(!z.Zip());
    QVERIFY2(z.LastError().startsWith(error), qPrintable(z.LastError()));
    QCOMPARE(readFile(tmp.filePath("old.zip")), QByteArray("not touched"));
}

void TestModCore::zipEventsInOrder()
{
    QTemporaryDir tmp;
    writeFile(tmp.filePath("w/one.txt"), "1");
    writeFile(tmp.filePath("w/two.txt"), "2");
    cZip z;
    z.setZipFile(tmp.filePath("out.zip"));
    z.setBasePath(tmp.path());
    z.AddFileSpec("w/*.*");
    QStringList log;
    QString cancelAt;
    connect(&z, &cZip::Cancel, this, [&](const QString& m, bool& cancel) {
        log << "cancel " + QFileInfo(m).fileName();
        cancel = !cancelAt.isEmpty() && m.endsWith(cancelAt);
    });
    connect(&z, &cZip::Progress, this, [&](int count, const QString& m) {
        QCOMPARE(count, 1);
        log << "progress " + m;
    });
    QVERIFY(z.Zip());
    QCOMPARE(log, (QStringList{"cancel one.txt", "progress   adding: one.txt", "cancel two.txt",
                               "progress   adding: two.txt"}));
    const QByteArray packed = readFile(tmp.filePath("out.zip"));

    // Stopped at the second item: nothing of this run reaches the archive.
    log.clear();
    writeFile(tmp.filePath("w/one.txt"), "changed");
    cancelAt = "two.txt";
    QVERIFY(!z.Zip());
    QCOMPARE(z.LastError(), QString("cancelled"));
    QCOMPARE(readFile(tmp.filePath("out.zip")), packed);
    QCOMPARE(log.first(), QString("cancel one.txt"));

    // Quiet: no message lines, the archive all the same.
    log.clear();
    cancelAt.clear();
    z.setMessageLevel(1);
    QVERIFY(z.Zip());
    QCOMPARE(log, (QStringList{"cancel one.txt", "cancel two.txt"}));
    QCOMPARE(readZip(tmp.filePath("out.zip")).content("one.txt"), QByteArray("changed"));
}

void TestModCore::zipDeleteUpdateFreshen()
{
    QTemporaryDir tmp;
    const QString archive = tmp.filePath("out.zip");
    writeFile(tmp.filePath("a.txt"), "a1");
    writeFile(tmp.filePath("b.txt"), "b1");
    const QDateTime past = QDateTime::currentDateTime().addSecs(-3600);
    for (const char* f : {"a.txt", "b.txt"}) {
        QFile file(tmp.filePath(f));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(past, QFileDevice::FileModificationTime));
    }
    cZip z;
    z.setZipFile(archive);
    z.setBasePath(tmp.path());
    z.AddFileSpec("*.txt");
    QVERIFY(z.Zip());

    // a.txt newer, b.txt rewritten with its old time, c.txt new.
    writeFile(tmp.filePath("a.txt"), "a2");
    writeFile(tmp.filePath("b.txt"), "b2");
    {
        QFile file(tmp.filePath("b.txt"));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(past, QFileDevice::FileModificationTime));
    }
    writeFile(tmp.filePath("c.txt"), "c1");

    z.setFreshenFiles(true);
    QVERIFY2(z.Zip(), qPrintable(z.LastError()));
    ZipContent zc = readZip(archive);
    QCOMPARE(zc.names(), (QStringList{"a.txt", "b.txt"}));
    QCOMPARE(zc.content("a.txt"), QByteArray("a2"));
    QCOMPARE(zc.content("b.txt"), QByteArray("b1"));

    z.setFreshenFiles(false);
    z.setUpdateOnlyIfNewer(true);
    QVERIFY(z.Zip());
    zc = readZip(archive);
    QCOMPARE(zc.names(), (QStringList{"a.txt", "b.txt", "c.txt"}));
    QCOMPARE(zc.content("b.txt"), QByteArray("b1"));

    z.setUpdateOnlyIfNewer(false);
    z.ClearFileSpecs();
    z.AddFileSpec("?.TXT");  // no such entry: case counts in entry names
    QVERIFY(!z.Delete());
    QCOMPARE(readZip(archive).names().size(), 3);
    z.ClearFileSpecs();
    z.AddFileSpec("b.*");
    QVERIFY(z.Delete());
    QCOMPARE(readZip(archive).names(), (QStringList{"a.txt", "c.txt"}));

    // Without append, update or freshen a Zip writes the archive anew.
    z.ClearFileSpecs();
    z.AddFileSpec("b.txt");
    QVERIFY(z.Zip());
    QCOMPARE(readZip(archive).names(), QStringList{"b.txt"});
    z.setAllowAppend(true);
    z.ClearFileSpecs();
    z.AddFileSpec("c.txt");
    QVERIFY(z.Zip());
    QCOMPARE(readZip(archive).names(), (QStringList{"b.txt", "c.txt"}));
}

void TestModCore::zipLineEndsAndPassword()
{
    QTemporaryDir tmp;
    writeFile(tmp.filePath("t.txt"), "a\nb\r\nc\n");
    writeFile(tmp.filePath("bin.dat"), QByteArray("x\n\0y\n", 6));
    cZip z;
    z.setZipFile(tmp.filePath("out.zip"));
    z.setBasePath(tmp.path());
    z.AddFileSpec("t.txt");
    z.AddFileSpec("bin.dat");
    z.setConvertLFToCRLF(true);
    QVERIFY(z.Zip());
    ZipContent zc = readZip(tmp.filePath("out.zip"));
    QCOMPARE(zc.content("t.txt"), QByteArray("a\r\nb\r\nc\r\n"));
    QCOMPARE(zc.content("bin.dat"), QByteArray("x\n\0y\n", 6));
    z.setConvertLFToCRLF(false);
    z.setConvertCRLFToLF(true);
    QVERIFY(z.Zip());
    QCOMPARE(readZip(tmp.filePath("out.zip")).content("t.txt"), QByteArray("a\nb\nc\n"));
    z.setConvertCRLFToLF(false);

    if (!zip_encryption_method_supported(ZIP_EM_AES_256, 1) && !zip_encryption_method_supported(ZIP_EM_TRAD_PKWARE, 1))
        QSKIP("this libzip cannot encrypt");
    z.setEncrypt(true);
    int asked = 0;
    connect(&z, &cZip::PasswordRequest, this, [&](QString&, bool&) { ++asked; });
    const QByteArray before = readFile(tmp.filePath("out.zip"));
    auto refuse = connect(&z, &cZip::PasswordRequest, this, [](QString&, bool& cancel) { cancel = true; });
    QVERIFY(!z.Zip());
    QCOMPARE(readFile(tmp.filePath("out.zip")), before);
    disconnect(refuse);
    connect(&z, &cZip::PasswordRequest, this, [](QString& pw, bool&) { pw = "secret"; });
    QVERIFY(z.Zip());
    QCOMPARE(asked, 2);
    QCOMPARE(readZip(tmp.filePath("out.zip")).content("t.txt"), QByteArray("<unreadable>"));
    QCOMPARE(readZip(tmp.filePath("out.zip"), "secret").content("t.txt"), QByteArray("a\nb\r\nc\n"));
}

namespace {

struct Program {
    QTemporaryDir dir;
    QStringList opened;
    Program() { writeFile(dir.filePath("skelvar.precache"), TemplateBytes); }
    QString path(const QString& rel) const { return dir.filePath(rel); }
    BuildOptions options()
    {
        return {dir.path(), [this](const QString& folder) { opened << folder; }};
    }
    QStringList archives() const
    {
        return QDir(path("Generated Mod")).entryList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot);
    }
};

}  // namespace

void TestModCore::buildPacksBothScripts()
{
    Program p;
    const BuildResult r = BuildMod(smallFixture(), p.options());
    QVERIFY2(r.ok, qPrintable(r.message));
    QCOMPARE(r.archivePath, p.path("Generated Mod/zzzzz-skelvar.pk3"));
    const ZipContent zc = readZip(r.archivePath);
    QVERIFY(zc.opened);
    QCOMPARE(zc.names(), (QStringList{"global/DMprecache.scr", "global/skelvar.scr"}));
    QCOMPARE(zc.content("global/DMprecache.scr"), TemplateBytes);
    QCOMPARE(zc.content("global/skelvar.scr"), smallFixtureScript());
    QVERIFY(!QFileInfo::exists(p.path("global")));
    QCOMPARE(p.archives(), QStringList{"zzzzz-skelvar.pk3"});
    QCOMPARE(p.opened, QStringList{p.path("Generated Mod")});

    // Folder opening switched off: the build does the same, opens nothing.
    BuildOptions quiet{p.dir.path(), {}};
    QVERIFY(BuildMod(smallFixture(), quiet).ok);
    QCOMPARE(p.opened.size(), 1);
}

void TestModCore::buildReplacesOldArchives()
{
    Program p;
    writeFile(p.path("Generated Mod/zzzzz-skelvar.pk3"), "old junk");
    writeFile(p.path("Generated Mod/another.PK3"), "old mod");
    writeFile(p.path("Generated Mod/readme.txt"), "kept");
    cZip windowZip;  // the window's writer, reused between builds
    QVERIFY(BuildMod(smallFixture(), p.options(), &windowZip).ok);
    QCOMPARE(p.archives(), (QStringList{"readme.txt", "zzzzz-skelvar.pk3"}));

    BuildInputs second;
    second.commands = {{"1:02", "say second", true}};
    QVERIFY(BuildMod(second, p.options(), &windowZip).ok);
    QCOMPARE(p.archives(), (QStringList{"readme.txt", "zzzzz-skelvar.pk3"}));
    const ZipContent zc = readZip(p.path("Generated Mod/zzzzz-skelvar.pk3"));
    QCOMPARE(zc.names().size(), 2);
    QCOMPARE(zc.content("global/skelvar.scr"), GenerateScript(second));
    QVERIFY(zc.content("global/skelvar.scr").contains("thread t6 \"say second\"\r\n"));
}

void TestModCore::buildLeavesOperatorFilesAlone()
{
    Program p;
    writeFile(p.path("global/mine.scr"), "operator's own");
    QVERIFY(BuildMod(smallFixture(), p.options()).ok);
    QCOMPARE(readZip(p.path("Generated Mod/zzzzz-skelvar.pk3")).names(),
             (QStringList{"global/DMprecache.scr", "global/skelvar.scr"}));
    QCOMPARE(QDir(p.path("global")).entryList(QDir::Files), QStringList{"mine.scr"});
    QCOMPARE(readFile(p.path("global/mine.scr")), QByteArray("operator's own"));

    // A "global" that is a link to another folder is never written through.
    Program q;
    QTemporaryDir elsewhere;
    writeFile(elsewhere.filePath("keep.scr"), "outside");
    QVERIFY(QFile::link(elsewhere.path(), q.path("global")));
    const BuildResult r = BuildMod(smallFixture(), q.options());
    QVERIFY(!r.ok);
    QVERIFY2(r.message.contains("global"), qPrintable(r.message));
    QCOMPARE(QDir(elsewhere.path()).entryList(QDir::Files), QStringList{"keep.scr"});
    QVERIFY(q.opened.isEmpty());
}

void TestModCore::buildFailureKeepsOldArchive_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");  // part of the result's message
    for (const char* kind :
         {"read-only output folder", "temporary name taken", "packing cancelled", "write fails part way"})
        QTest::newRow(kind) << QString(kind) << "could not be written";
    QTest::newRow("invalid row") << "invalid row"
                                 << "Command 1 (say \"x\"): the command holds a double quote";
    QTest::newRow("template missing") << "template missing"
                                      << "skelvar.precache";
}

void TestModCore::buildFailureKeepsOldArchive()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    Program p;
    QVERIFY(BuildMod(smallFixture(), p.options()).ok);
    const QString archive = p.path("Generated Mod/zzzzz-skelvar.pk3");
    const QByteArray old = readFile(archive);
    p.opened.clear();

    BuildInputs in = smallFixture();
    in.commands[0].command = "say \"x\"";  // shipped as-is unless validated
    in.commands[0].ticked = kind == "invalid row";
    cZip zip;
    HonourPermissions honour;
    if (kind == "read-only output folder") {
        if (!HonourPermissions::effective(p.path(".")))
            QSKIP("permission bits are not enforced here");
        QFile::setPermissions(p.path("Generated Mod"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    } else if (kind == "temporary name taken") {
        writeFile(p.path("Generated Mod/zzzzz-skelvar.pk3.part/x"), "in the way");
    } else if (kind == "packing cancelled") {
        connect(&zip, &cZip::Cancel, this, [](const QString&, bool& cancel) { cancel = true; });
    } else if (kind == "write fails part way") {
        // A template that does not compress, and a file-size limit once the
        // scripts are in place: the archive's write stops after 64 KiB.
        QByteArray big(256 * 1024, Qt::Uninitialized);
        QRandomGenerator noise(13);
        noise.fillRange(reinterpret_cast<quint32*>(big.data()), big.size() / 4);
        writeFile(p.path("skelvar.precache"), big);
        connect(&zip, &cZip::Cancel, this, [](const QString&, bool&) { FileSizeLimit::set(64 * 1024); });
    } else if (kind == "template missing") {
        QFile::remove(p.path("skelvar.precache"));
    }

    const BuildResult r = BuildMod(in, p.options(), &zip);
    FileSizeLimit::lift();
    QFile::setPermissions(p.path("Generated Mod"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QVERIFY(!r.ok);
    QVERIFY2(r.message.contains(message), qPrintable(r.message));
    QCOMPARE(readFile(archive), old);
    if (kind == "write fails part way")
        QVERIFY2(zip.LastError().startsWith("cannot write"), qPrintable(zip.LastError()));
    if (kind != "temporary name taken")
        QCOMPARE(p.archives(), QStringList{"zzzzz-skelvar.pk3"});  // no partial file left behind
    QVERIFY(!QFileInfo::exists(p.path("global")));
    QVERIFY(p.opened.isEmpty());
}

QTEST_GUILESS_MAIN(TestModCore)
#include "test_modcore.moc"
