// Unusual operator inputs in the builder's files (signs, leading zeros, tabs
// and other blanks, letters beyond ASCII, the longest texts the editors
// take), built by `ModSkelvar --build` as the operator builds them. What the
// builder takes must compile and run in the real OpenMoHAA server without a
// script error (modengine.h), and its numbers and names go out in the exact
// lines given; what it refuses, it refuses naming the row.
//
// Each build the builder takes runs on a server of its own: the engine reads
// a new archive only at its start. The server starts two seconds before the
// script's minute, so the once-a-minute part, which compares the operator's
// intervals and times, runs too. The inputs of one build are all taken, so
// none can hide another's error: any error in the log fails the build.

#include "SkelvarMod/generator/scriptgenerator.h"
#include "modcore_fixture.h"
#include "modengine.h"

using namespace skelvar::mod;
using namespace modtest;

namespace {

// The largest interval the builder takes, in minutes.
const QString kLargestInterval = QStringLiteral("32767");
// The map the test server runs: fixes of this map are spawned at its start.
const QString kRunningMap = QStringLiteral("omtest");

struct OperatorFiles {
    QList<MessageEntry> messages;
    QList<CommandEntry> commands;
    QList<MapFixEntry> mapFixes;
    QList<CompatEntry> compat;  // replaces the shipped list
};

MessageEntry message(const QString& type, const QString& trigger, const QString& text = QStringLiteral("m"))
{
    return {type, trigger, QStringLiteral("Low"), text, true};
}

CommandEntry command(const QString& time, const QString& text = QStringLiteral("set om_ran 1"))
{
    return {time, text, true};
}

// Fixes of the running map are spawned at its start; other maps' fixes are
// only compiled.
MapFixEntry fix(const QString& map, const QString& origin, const QString& angle, const QString& file,
                const QString& model = kStandInModel)
{
    return mapFix(map, model, origin, angle, QStringLiteral("show"), file);
}

CompatEntry script(const QString& description, const QString& name)
{
    return {description, name, true};
}

// Text of `length` characters, cycling through `pattern`; it ends in a full
// stop, as the file reader trims blanks at the end.
QString longText(const QString& pattern, qsizetype length = MaxValueLength)
{
    QString text;
    while (text.size() < length)
        text += pattern;
    text.truncate(length - 1);
    return text + QLatin1Char('.');
}

void writeFiles(const BuilderFolder& folder, const OperatorFiles& files)
{
    QVERIFY(saveMessages(folder.path(MessagesFileName), files.messages));
    QVERIFY(saveCommands(folder.path(CommandsFileName), files.commands));
    QVERIFY(saveCompat(folder.path(CompatFileName), files.compat));
    for (const MapFixEntry& f : files.mapFixes)
        QVERIFY(saveMapFix(folder.dir.path(), f));
}

// The server's stand-ins for what the script asks of it: each additional
// script it runs and each model it spawns.
QList<GameFile> standIns(const BuiltMod& mod)
{
    QList<GameFile> files = standInScripts(mod.execs);
    for (const QString& model : QSet<QString>(mod.models.begin(), mod.models.end()))
        files += standInModel(model);
    return files;
}

}  // namespace

Q_DECLARE_METATYPE(OperatorFiles)

class TestModInputsOpenMohaa : public QObject {
    Q_OBJECT

    QElapsedTimer m_clock;

private slots:
    void initTestCase()
    {
        SKELVAR_REQUIRE_OPENMOHAA();
        m_clock.start();
    }

    void takenInputsRunInTheEngine_data();
    void takenInputsRunInTheEngine();
    void refusedInputsNameTheirRow_data();
    void refusedInputsNameTheirRow();

    void cleanupTestCase() { qInfo("the whole test took %lld s", m_clock.elapsed() / 1000); }
};

void TestModInputsOpenMohaa::takenInputsRunInTheEngine_data()
{
    QTest::addColumn<OperatorFiles>("files");
    QTest::addColumn<QStringList>("lines");  // each a whole line of the script, in Latin-1

    QTest::newRow("signs") << OperatorFiles{.messages = {message(TypePeriodic, "+5 minutes"),
                                                         message(TypeScheduled, "At +7:+5")},
                                            .commands = {command("+12:-0", "set om_sign +5")},
                                            .mapFixes = {fix(kRunningMap, "+16 -.5 +8.", "+90", "a.dmf"),
                                                         fix(kRunningMap, "-0 +0 -0", "-0", "b.dmf")}}
                           << QStringList{"if (level.v4 == 5)",
                                          "if ((level.v2 == 7) && (level.v1 == 5))",
                                          "if ((level.v2 == 12) && (level.v1 == 0))",
                                          "thread t6 \"set om_sign +5\"",
                                          "local.v0.origin = ( 16 -0.5 8 )",
                                          "local.v0.angle = 90",
                                          "local.v1.origin = ( -0 0 -0 )",
                                          "local.v1.angle = -0"};

    QTest::newRow("leading zeros")
        << OperatorFiles{.messages = {message(TypePeriodic, "010 minutes"), message(TypePeriodic, "+0007 minutes"),
                                      message(TypeScheduled, "At 007:009")},
                         .commands = {command("00:00")},
                         .mapFixes = {fix(kRunningMap, "0100 -0200 032.50", "-000.25", "a.dmf"),
                                      fix(kRunningMap, "00 -00.0 007.", "0090", "b.dmf")}}
        << QStringList{"if (level.v4 == 10)",
                       "if (level.v5 == 7)",
                       "if ((level.v2 == 7) && (level.v1 == 9))",
                       "if ((level.v2 == 0) && (level.v1 == 0))",
                       "local.v0.origin = ( 100 -200 32.50 )",
                       "local.v0.angle = -0.25",
                       "local.v1.origin = ( 0 -0.0 7 )",
                       "local.v1.angle = 90"};

    // Tabs, no-break spaces and a NUL stay in the files: the reader trims only blanks.
    QTest::newRow("tabs and other blanks")
        << OperatorFiles{.messages = {message(TypePeriodic, "\t5 minutes", "\ttab\tform\ffeed\vvertical\u00a0no-break"),
                                      message(TypePeriodic, "\u00a0 7\t minutes"),
                                      message(TypeScheduled, "At \t07:05\t"),
                                      message(TypePerMap, "On \tdm/mohdm6\t",
                                              QString::fromLatin1("before\0after", 12))},
                         .commands = {command("\t12\t:\v30", "\tsay\tTabbed")},
                         .mapFixes = {fix("\t" + kRunningMap + " ", "16\t-8\u00a0 8", "\t45\t", "a.dmf",
                                          "\t" + kStandInModel + "\t")},
                         .compat = {script("Tabbed name", "\tteambalance.scr\t")}}
        << QStringList{"if (level.v4 == 5)",
                       "iprintln_noloc \"\ttab\tform\ffeed\vvertical\u00a0no-break\"",
                       "if (level.v5 == 7)",
                       "if ((level.v2 == 7) && (level.v1 == 5))",
                       "if ((level.v2 == 12) && (level.v1 == 30))",
                       "thread t6 \"\tsay\tTabbed\"",
                       "if (getcvar(mapname) == \"dm/mohdm6\")",
                       "iprintln_noloc \"before after\"",
                       "if (getcvar(mapname) == \"omtest\")",
                       "local.v0 = spawn static/crate.tik",
                       "local.v0.origin = ( 16 -8 8 )",
                       "local.v0.angle = 45",
                       "exec global/teambalance.scr"};

    // Latin-1 letters as the files hold them, and the UTF-8 bytes an editor
    // of another encoding leaves in them.
    const QString utf8 = QString::fromLatin1(QStringLiteral("Čeština 中文").toUtf8());
    QTest::newRow("letters beyond ASCII")
        << OperatorFiles{.messages = {message(TypePerMap, "On dm/café", "Grüße aus Ñandú"),
                                      message(TypePeriodic, "5 minutes", utf8)},
                         .commands = {command("12:30", "say Ærø " + utf8)},
                         .mapFixes = {mapFix("obj/ñandú", "static/other.tik", "0 0 0", "0", "hide", "a.dmf")},
                         .compat = {script("Überblick " + utf8, "teambalance.scr")}}
        << QStringList{"if (getcvar(mapname) == \"dm/café\")", "iprintln_noloc \"Grüße aus Ñandú\"",
                       "iprintln_noloc \"" + utf8 + "\"", "thread t6 \"say Ærø " + utf8 + "\"",
                       "if (getcvar(mapname) == \"obj/ñandú\")"};

    const QString longMap = longText("dm/a_long_map_name ");
    const QString longModel = "static/" + QString(MaxNameLength - 11, QLatin1Char('m')) + ".tik";
    const QString longCommand = longText("say every word of a very long command ");
    const QString longMessage = longText("Très long message \\ of every kind ");
    // Numbers of as many digits.
    const QString longOrigin = "0 0 1." + QString(MaxValueLength - 6, QLatin1Char('5'));
    const QString longAngle = "-1." + QString(MaxValueLength - 3, QLatin1Char('5'));
    const QString longScript = "operator/" + QString(MaxNameLength - 13, QLatin1Char('s')) + ".scr";
    QTest::newRow("the longest texts")
        << OperatorFiles{.messages = {message(TypePeriodic, kLargestInterval + " minutes", longMessage),
                                      message(TypeScheduled, "At 23:59", longMessage),
                                      message(TypePerMap, "On " + longMap)},
                         .commands = {command("23:59", longCommand)},
                         .mapFixes = {fix(kRunningMap, "-2147483647 2147483647 0.0000000001", "-2147483647", "a.dmf"),
                                      fix(kRunningMap, "1 2 3", "4", "b.dmf", longModel),
                                      fix(kRunningMap, longOrigin, longAngle, "c.dmf")},
                         .compat = {script("Long", longScript)}}
        << QStringList{"if (level.v4 == 32767)",
                       "if ((level.v2 == 23) && (level.v1 == 59))",
                       "thread t6 \"" + longCommand + "\"",
                       "if (getcvar(mapname) == \"" + longMap + "\")",
                       "local.v0.origin = ( -2147483647 2147483647 0.0000000001 )",
                       "local.v0.angle = -2147483647",
                       "local.v1 = spawn " + longModel,
                       "local.v2.origin = ( " + longOrigin + " )",
                       "local.v2.angle = " + longAngle,
                       "exec global/" + longScript};
}

void TestModInputsOpenMohaa::takenInputsRunInTheEngine()
{
    QFETCH(OperatorFiles, files);
    QFETCH(QStringList, lines);
    BuilderFolder folder;
    folder.prepare();
    writeFiles(folder, files);
    const QString archive = folder.build();
    QVERIFY(!archive.isEmpty());
    const BuiltMod mod = readBuild(archive);

    const auto server = startModded(mod, standIns(mod), 2);
    QVERIFY(server);
    const QString version = waitForValue(*server, "versionskelvar", "2.1", 5000);
    QVERIFY2(version == QLatin1String("2.1"), qPrintable("the script did not start (versionskelvar " + version +
                                                         "); the engine says:\n" + scriptTrouble(server->log())));
    for (const QString& name : mod.execs)
        QCOMPARE(readValue(*server, ranVariable(name)), QStringLiteral("ran"));
    // The once-a-minute part ran through: the clock moved on and the second count started again.
    QCOMPARE(waitForValue(*server, "sv_minutes", "1", 5000), QStringLiteral("1"));
    const auto counting = [](const QString& v) { return v.toInt() >= 1 && v.toInt() < 30; };
    const QString seconds = waitForValue(*server, "sv_seconds", counting, 3000);
    QVERIFY2(counting(seconds), qPrintable(seconds));
    verifyNoScriptTrouble(*server);

    const QByteArrayList written = scriptLines(mod.script);
    for (const QString& line : lines)
        QVERIFY2(written.contains(line.toLatin1()), qPrintable(line.left(200)));
    qInfo("%s: done %lld s into the test", QTest::currentDataTag(), m_clock.elapsed() / 1000);
}

void TestModInputsOpenMohaa::refusedInputsNameTheirRow_data()
{
    QTest::addColumn<OperatorFiles>("files");
    QTest::addColumn<QStringList>("refusals");  // each the row's name and the start of its problem

    const QString interval = QStringLiteral("the interval must be");
    auto periodic = [](const QString& trigger) {
        return OperatorFiles{.messages = {message(TypePeriodic, "5 minutes"), message(TypePeriodic, trigger)}};
    };
    QTest::newRow("interval in words") << periodic("five minutes")
                                       << QStringList{"Message 2 (Periodic five minutes): " + interval};
    QTest::newRow("interval of a signed zero")
        << periodic("-0 minutes") << QStringList{"Message 2 (Periodic -0 minutes): " + interval};
    QTest::newRow("interval beyond the largest")
        << periodic("32768 minutes") << QStringList{"Message 2 (Periodic 32768 minutes): " + interval};
    QTest::newRow("interval with a fraction")
        << periodic("2.5 minutes") << QStringList{"Message 2 (Periodic 2.5 minutes): " + interval};
    QTest::newRow("interval with two signs")
        << periodic("+-5 minutes") << QStringList{"Message 2 (Periodic +-5 minutes): " + interval};
    QTest::newRow("tab before the unit") << periodic("5\tminutes")
                                         << QStringList{"Message 2 (Periodic 5\tminutes): " + interval};

    const QString time = QStringLiteral("the time must be hour:minute");
    QTest::newRow("scheduled hour 24") << OperatorFiles{.messages = {message(TypeScheduled, "At 24:00")}}
                                       << QStringList{"Message 1 (Scheduled At 24:00): " + time};
    QTest::newRow("scheduled minute with a fraction")
        << OperatorFiles{.messages = {message(TypeScheduled, "At 7:05.5")}}
        << QStringList{"Message 1 (Scheduled At 7:05.5): " + time};
    QTest::newRow("command time with a dot")
        << OperatorFiles{.commands = {command("12:30"), command("12.30", "say late")}}
        << QStringList{"Command 2 (say late): " + time};
    QTest::newRow("command time of a negative hour")
        << OperatorFiles{.commands = {command("-1:30", "say early")}} << QStringList{"Command 1 (say early): " + time};

    const QString secondFix = QStringLiteral("Map fix 2 (dm/x In the way): ");
    auto fixes = [](const MapFixEntry& bad) {
        return OperatorFiles{.mapFixes = {fix("dm/fine", "1 2 3", "4", "a.dmf"), bad}};
    };
    QTest::newRow("origin with an exponent")
        << fixes(fix("dm/x", "1e3 0 0", "0", "b.dmf")) << QStringList{secondFix + "the origin must be three numbers"};
    // The engine reads a whole number into a 32-bit int.
    QTest::newRow("origin beyond the engine's whole numbers")
        << fixes(fix("dm/x", "2147483648 0 0", "0", "b.dmf"))
        << QStringList{secondFix + "the origin's numbers must lie between -2147483647 and 2147483647."};
    QTest::newRow("angle beyond the engine's whole numbers")
        << fixes(fix("dm/x", "0 0 0", "-2147483648.5", "b.dmf"))
        << QStringList{secondFix + "the angle must lie between -2147483647 and 2147483647."};
    QTest::newRow("angle with a comma") << fixes(fix("dm/x", "0 0 0", "4,5", "b.dmf"))
                                        << QStringList{secondFix + "the angle must be a number."};
    const QString plainModel = QStringLiteral("the model must be a plain path");
    QTest::newRow("model with a letter beyond ASCII")
        << fixes(fix("dm/x", "0 0 0", "0", "b.dmf", "static/café.tik")) << QStringList{secondFix + plainModel};
    // The engine reads a model after `spawn` as one word only from a letter, digit or _ on.
    for (const char* model : {"./crate.tik", "-crate.tik", "//crate.tik"})
        QTest::newRow(qPrintable(QStringLiteral("model %1").arg(model)))
            << fixes(fix("dm/x", "0 0 0", "0", "b.dmf", model)) << QStringList{secondFix + plainModel};

    const QString plainScript = QStringLiteral("the script name must be a plain path");
    QTest::newRow("script name with a letter beyond ASCII")
        << OperatorFiles{.compat = {script("Fine", "teambalance.scr"), script("Café", "café.scr")}}
        << QStringList{"Additional script 2 (Café): " + plainScript};
    QTest::newRow("script name with a tab inside")
        << OperatorFiles{.compat = {script("Team balance", "team\tbalance.scr")}}
        << QStringList{"Additional script 1 (Team balance): " + plainScript};

    // One character beyond the longest value, in each list; the row names
    // hold the whole value.
    const qsizetype beyond = MaxValueLength + 1;
    const QString tooLong = QStringLiteral("is longer than %1 characters.").arg(MaxValueLength);
    const QString longMap = longText("dm/long_map ", beyond), longCommand = longText("say a long command ", beyond);
    QTest::newRow("message text and map beyond the longest")
        << OperatorFiles{.messages = {message(TypePeriodic, "5 minutes", longText("text ", beyond)),
                                      message(TypePerMap, "On " + longMap)}}
        << QStringList{"Message 1 (Periodic 5 minutes): the text " + tooLong,
                       "Message 2 (Per Map On " + longMap + "): the map " + tooLong};
    QTest::newRow("command beyond the longest")
        << OperatorFiles{.commands = {command("12:30", longCommand)}}
        << QStringList{"Command 1 (" + longCommand + "): the command " + tooLong};
    QTest::newRow("map fix values beyond the longest")
        << OperatorFiles{.mapFixes = {fix(longMap, "0 0 0", "0", "a.dmf"),
                                      fix("dm/x", "0 0 0", "0", "b.dmf",
                                          "static/" + QString(MaxNameLength - 10, QLatin1Char('m')) + ".tik"),
                                      fix("dm/x", "0 0 1." + QString(beyond - 6, QLatin1Char('5')), "0", "c.dmf"),
                                      fix("dm/x", "0 0 0", "1." + QString(beyond - 2, QLatin1Char('5')), "d.dmf")}}
        << QStringList{"Map fix 1 (" + longMap + " In the way): the map " + tooLong,
                       "Map fix 2 (dm/x In the way): the model is longer than 56 characters.",
                       "Map fix 3 (dm/x In the way): the origin " + tooLong,
                       "Map fix 4 (dm/x In the way): the angle " + tooLong};
    QTest::newRow("script name beyond the longest")
        << OperatorFiles{.compat = {script("Long",
                                           "operator/" + QString(MaxNameLength - 12, QLatin1Char('s')) + ".scr")}}
        << QStringList{"Additional script 1 (Long): the script name is longer than 56 characters."};

    QTest::newRow("a row of every list at once")
        << OperatorFiles{.messages = {message(TypePeriodic, "0 minutes")},
                         .commands = {command("25:00", "say late")},
                         .mapFixes = {fix("dm/x", "1 2", "0", "b.dmf")},
                         .compat = {script("Blank", " ")}}
        << QStringList{"Message 1 (Periodic 0 minutes): " + interval, "Command 1 (say late): " + time,
                       "Map fix 1 (dm/x In the way): the origin must be three numbers",
                       "Additional script 1 (Blank): the script name is empty."};
}

void TestModInputsOpenMohaa::refusedInputsNameTheirRow()
{
    QFETCH(OperatorFiles, files);
    QFETCH(QStringList, refusals);
    BuilderFolder folder;
    folder.prepare();
    writeFiles(folder, files);
    const BuildRun run = folder.run();
    QVERIFY(run.ended);
    QCOMPARE(run.exitCode, 1);
    for (const QString& refusal : refusals)
        QVERIFY2(run.said.contains(refusal), qPrintable(refusal.right(200) + "\nnot in:\n" + run.said.right(700)));
    QVERIFY(!QFile::exists(folder.archive()));
}

QTEST_GUILESS_MAIN(TestModInputsOpenMohaa)
#include "test_mod_inputs_openmohaa.moc"
