#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include "SkelvarMod/project/builderfiles.h"
#include "tests/support/files.h"

using namespace skelvar::mod;

Q_DECLARE_METATYPE(Switches)
Q_DECLARE_METATYPE(QList<MessageEntry>)
Q_DECLARE_METATYPE(TriggerBoxes)

using skelvar::test::readFile;
using skelvar::test::writeFile;

namespace {

const QByteArray Sep = "----------------------------------------\r\n";

}  // namespace

class TestBuilderFiles : public QObject {
    Q_OBJECT

private slots:
    void switchesSaveThenLoad_data();
    void switchesSaveThenLoad();
    void switchesMalformed_data();
    void switchesMalformed();

    void compatSaveThenLoad();
    void compatTickValues_data();
    void compatTickValues();

    void messagesSaveThenLoad();
    void messagesMalformed_data();
    void messagesMalformed();
    void commandsSaveThenLoad();
    void lineBreaksInValuesKeepTheLayout();

    void mapFixSaveThenLoad();
    void mapFixFolderLoad();
    void mapFixRefusesNamesOutsideTheFolder_data();
    void mapFixRefusesNamesOutsideTheFolder();
    void newMapFixFileName_data();
    void newMapFixFileName();

    void missingAndUnwritableFiles();

    void triggerAndTimeBoxes_data();
    void triggerAndTimeBoxes();
    void boxesFromIncompleteTexts();
};

// --- modskelvar.ini

void TestBuilderFiles::switchesSaveThenLoad_data()
{
    QTest::addColumn<Switches>("switches");
    QTest::addColumn<QByteArray>("expected");

    Switches a;
    a.noFog = 1;
    a.stopForcedModels = 1;
    QTest::newRow("No Fog and Stop Forced Models")
        << a << QByteArray(" 0 \r\n 0 \r\n 1 \r\n 0 \r\n 1 \r\n 0 \r\n 0 \r\n");

    Switches b;
    b.whiteWalls = 1;
    b.thirdPersonView = 2;
    b.wallhack = 1;
    b.serverTime = 1;
    b.nextMap = 2;
    QTest::newRow("line order and greyed") << b << QByteArray(" 2 \r\n 1 \r\n 0 \r\n 1 \r\n 0 \r\n 1 \r\n 2 \r\n");
}

void TestBuilderFiles::switchesSaveThenLoad()
{
    QFETCH(Switches, switches);
    QFETCH(QByteArray, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(SettingsFileName);
    QString error;
    QVERIFY2(saveSwitches(path, switches, &error), qPrintable(error));
    QCOMPARE(readFile(path), expected);
    QCOMPARE(loadSwitches(path), switches);
}

void TestBuilderFiles::switchesMalformed_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<Switches>("expected");

    QTest::newRow("empty") << QByteArray() << Switches{};

    Switches shortFile;
    shortFile.thirdPersonView = 1;
    shortFile.whiteWalls = 2;
    QTest::newRow("two lines") << QByteArray("1\r\n 2") << shortFile;

    Switches garbage;
    garbage.whiteWalls = 1;
    garbage.serverTime = 2;
    QTest::newRow("garbage and out of range lines keep 0")
        << QByteArray("x\r\n  1  \r\n\x01\xff\r\n7\r\n-1\r\n2\n \r\nextra\r\n") << garbage;
}

void TestBuilderFiles::switchesMalformed()
{
    QFETCH(QByteArray, data);
    QFETCH(Switches, expected);
    QCOMPARE(parseSwitches(data), expected);
}

// --- skelvar.dcf

void TestBuilderFiles::compatSaveThenLoad()
{
    const QList<CompatEntry> rows{
        {QStringLiteral("Vote system"), QStringLiteral("vote.scr"), true},
        {QStringLiteral("Spawn protection"), QStringLiteral("spawnprot.scr"), false},
    };
    const QByteArray expected = "Description: Vote system\r\n"
                                "Script: vote.scr\r\n"
                                "Run: 1\r\n" +
                                Sep +
                                "Description: Spawn protection\r\n"
                                "Script: spawnprot.scr\r\n"
                                "Run: 0\r\n" +
                                Sep;
    QTemporaryDir dir;
    const QString path = dir.filePath(CompatFileName);
    QString error;
    QVERIFY2(saveCompat(path, rows, &error), qPrintable(error));
    QCOMPARE(readFile(path), expected);
    QCOMPARE(loadCompat(path), rows);
}

void TestBuilderFiles::compatTickValues_data()
{
    QTest::addColumn<QByteArray>("runLine");
    QTest::addColumn<bool>("ticked");
    QTest::newRow("1") << QByteArray("Run: 1") << true;
    QTest::newRow("0") << QByteArray("Run: 0") << false;
    QTest::newRow("-1") << QByteArray("Run: -1") << true;
    QTest::newRow("2.5") << QByteArray("Run:2.5") << true;
    QTest::newRow("True") << QByteArray("Run: True") << true;
    QTest::newRow("False") << QByteArray("Run: False") << false;
    QTest::newRow("word") << QByteArray("Run: yes") << false;
    QTest::newRow("empty") << QByteArray("Run:") << false;
    QTest::newRow("missing line") << QByteArray() << false;
}

void TestBuilderFiles::compatTickValues()
{
    QFETCH(QByteArray, runLine);
    QFETCH(bool, ticked);
    const QByteArray data = "Description: d\r\nScript: s.scr\r\n" + runLine + "\r\n" + Sep;
    const QList<CompatEntry> rows = parseCompat(data);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first(), (CompatEntry{QStringLiteral("d"), QStringLiteral("s.scr"), ticked}));
}

// --- messages.cfg and commands.cfg

void TestBuilderFiles::messagesSaveThenLoad()
{
    const QList<MessageEntry> rows{
        {TypeScheduled, QStringLiteral("At 07:05"), QStringLiteral("High"), QStringLiteral("Server restart soon"),
         true},
        {TypePeriodic, QStringLiteral("10 minutes"), QStringLiteral("Low"), QStringLiteral("Text: vote with !map"),
         false},
        {TypePerMap, QStringLiteral("On dm/mohdm6"), QStringLiteral("Medium"),
         QString::fromLatin1("Caf\xe9 Priority: x"), true},
    };
    const QByteArray expected = "Type: Scheduled\r\n"
                                "Trigger: At 07:05\r\n"
                                "Priority: High\r\n"
                                "Text: Server restart soon\r\n"
                                "Cast: 1\r\n" +
                                Sep +
                                "Type: Periodic\r\n"
                                "Trigger: 10 minutes\r\n"
                                "Priority: Low\r\n"
                                "Text: Text: vote with !map\r\n"
                                "Cast: 0\r\n" +
                                Sep +
                                "Type: Per Map\r\n"
                                "Trigger: On dm/mohdm6\r\n"
                                "Priority: Medium\r\n"
                                "Text: Caf\xe9 Priority: x\r\n"
                                "Cast: 1\r\n" +
                                Sep;
    QTemporaryDir dir;
    const QString path = dir.filePath(MessagesFileName);
    QString error;
    QVERIFY2(saveMessages(path, rows, &error), qPrintable(error));
    QCOMPARE(readFile(path), expected);
    QCOMPARE(loadMessages(path), rows);

    // An empty list gives an empty file, which loads as an empty list.
    QVERIFY(saveMessages(path, {}, &error));
    QVERIFY(QFileInfo::exists(path));
    QCOMPARE(readFile(path), QByteArray());
    QVERIFY(loadMessages(path).isEmpty());
}

void TestBuilderFiles::messagesMalformed_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QList<MessageEntry>>("expected");

    const QByteArray first = "Type: Periodic\r\nTrigger: 5 minutes\r\nPriority: Low\r\nText: one\r\nCast: 1\r\n";
    const MessageEntry one{TypePeriodic, QStringLiteral("5 minutes"), QStringLiteral("Low"), QStringLiteral("one"),
                           true};
    const QByteArray second =
        "Type: Per Map\r\nTrigger: On obj/obj_team2\r\nPriority: High\r\nText: two\r\nCast: 0\r\n";
    const MessageEntry two{TypePerMap, QStringLiteral("On obj/obj_team2"), QStringLiteral("High"),
                           QStringLiteral("two"), false};

    QTest::newRow("empty") << QByteArray() << QList<MessageEntry>{};
    QTest::newRow("only junk") << QByteArray("\x00\xff junk\r\n\r\n", 11) << QList<MessageEntry>{};
    QTest::newRow("truncated after two lines")
        << first + Sep + "Type: Scheduled\r\nTrigger: At 1"
        << QList<MessageEntry>{one, {TypeScheduled, QStringLiteral("At 1"), {}, {}, false}};
    QTest::newRow("last separator missing") << first + Sep + second << QList<MessageEntry>{one, two};
    QTest::newRow("separator lost between records") << first + second + Sep << QList<MessageEntry>{one, two};
    QTest::newRow("stray lines and blank lines")
        << "\r\nhello\r\n" + first + "stray text\r\n" + Sep + "\r\n" + second + Sep + "trailing junk"
        << QList<MessageEntry>{one, two};
    QTest::newRow("tick line alone is no record") << "Cast: 1\r\n" + Sep + first + Sep << QList<MessageEntry>{one};
    QTest::newRow("LF and lone CR line ends")
        << QByteArray("Type: Periodic\nTrigger: 5 minutes\rPriority: Low\nText: one\r\nCast: 1\n")
        << QList<MessageEntry>{one};
    QTest::newRow("label counts only at the start of its line")
        << QByteArray("  Type:Periodic \r\nTrigger: 5 minutes\r\nPriority: Low\r\n"
                      "Text: Cast: 0 Type: x\r\nCast: 1\r\n")
        << QList<MessageEntry>{{TypePeriodic, QStringLiteral("5 minutes"), QStringLiteral("Low"),
                                QStringLiteral("Cast: 0 Type: x"), true}};
}

void TestBuilderFiles::messagesMalformed()
{
    QFETCH(QByteArray, data);
    QFETCH(QList<MessageEntry>, expected);
    QCOMPARE(parseMessages(data), expected);
}

void TestBuilderFiles::commandsSaveThenLoad()
{
    const QList<CommandEntry> rows{
        {QStringLiteral("03:00"), QStringLiteral("map dm/mohdm6"), true},
        {QStringLiteral("23:30"), QStringLiteral("say \"Time: late\""), false},
    };
    const QByteArray expected = "Time: 03:00\r\n"
                                "Command: map dm/mohdm6\r\n"
                                "Cast: 1\r\n" +
                                Sep +
                                "Time: 23:30\r\n"
                                "Command: say \"Time: late\"\r\n"
                                "Cast: 0\r\n" +
                                Sep;
    QTemporaryDir dir;
    const QString path = dir.filePath(CommandsFileName);
    QString error;
    QVERIFY2(saveCommands(path, rows, &error), qPrintable(error));
    QCOMPARE(readFile(path), expected);
    QCOMPARE(loadCommands(path), rows);

    // A short file keeps its whole records and what parses of the last one.
    const QList<CommandEntry> shortRows =
        parseCommands("Time: 1:2\r\nCommand: a\r\nCast: 1\r\n" + Sep + "Time: 3:4\r\n");
    QCOMPARE(shortRows, (QList<CommandEntry>{{QStringLiteral("1:2"), QStringLiteral("a"), true},
                                             {QStringLiteral("3:4"), QString(), false}}));
}

void TestBuilderFiles::lineBreaksInValuesKeepTheLayout()
{
    QTemporaryDir dir;
    QString error;

    const QList<MessageEntry> messages{
        {TypePeriodic, QStringLiteral("5 minutes"), QStringLiteral("Low"),
         QStringLiteral("first\r\nCast: 0\n") + QString::fromLatin1(Sep.trimmed()) + QStringLiteral("\rType: x"), true},
        {TypeScheduled, QStringLiteral("At 1:2"), QStringLiteral("High"), QStringLiteral("next"), true},
    };
    const QString messagesPath = dir.filePath(MessagesFileName);
    QVERIFY2(saveMessages(messagesPath, messages, &error), qPrintable(error));
    QCOMPARE(readFile(messagesPath),
             "Type: Periodic\r\nTrigger: 5 minutes\r\nPriority: Low\r\n"
             "Text: first Cast: 0 ---------------------------------------- Type: x\r\nCast: 1\r\n" +
                 Sep + "Type: Scheduled\r\nTrigger: At 1:2\r\nPriority: High\r\nText: next\r\nCast: 1\r\n" + Sep);
    const QList<MessageEntry> reloaded = loadMessages(messagesPath);
    QCOMPARE(reloaded.size(), 2);
    QCOMPARE(reloaded.at(0).text, QStringLiteral("first Cast: 0 ---------------------------------------- Type: x"));
    QVERIFY(reloaded.at(0).ticked);
    QCOMPARE(reloaded.at(1), messages.at(1));

    const QList<CommandEntry> commands{{QStringLiteral("1:2"), QStringLiteral("say a\nquit"), true}};
    const QString commandsPath = dir.filePath(CommandsFileName);
    QVERIFY(saveCommands(commandsPath, commands, &error));
    QCOMPARE(readFile(commandsPath), "Time: 1:2\r\nCommand: say a quit\r\nCast: 1\r\n" + Sep);

    MapFixEntry fix;
    fix.map = QStringLiteral("dm/mohdm6\nApply: 1");
    fix.author = QStringLiteral("me\r\nMap: obj/other");
    fix.filename = QStringLiteral("fix.dmf");
    QVERIFY(saveMapFix(dir.path(), fix, &error));
    const auto fixBack = loadMapFix(dir.filePath(fix.filename));
    QVERIFY(fixBack.has_value());
    QCOMPARE(fixBack->map, QStringLiteral("dm/mohdm6 Apply: 1"));
    QCOMPARE(fixBack->author, QStringLiteral("me Map: obj/other"));
    QVERIFY(!fixBack->ticked);
}

// --- map fixes

void TestBuilderFiles::mapFixSaveThenLoad()
{
    MapFixEntry fix;
    fix.map = QStringLiteral("dm/mohdm6");
    fix.author = QStringLiteral("Origin: Jo");
    fix.description = QStringLiteral("Blocks the roof hole");
    fix.model = QStringLiteral("static/crate.tik");
    fix.origin = QStringLiteral("512 -128 64");
    fix.angle = QStringLiteral("90");
    fix.visibility = QStringLiteral("hide");
    fix.filename = QStringLiteral("dmmohdm6.dmf");
    fix.ticked = true;

    QTemporaryDir dir;
    QString error;
    QVERIFY2(saveMapFix(dir.path(), fix, &error), qPrintable(error));
    QCOMPARE(readFile(dir.filePath(QStringLiteral("dmmohdm6.dmf"))), QByteArray("Map: dm/mohdm6\r\n"
                                                                                "Author: Origin: Jo\r\n"
                                                                                "Description: Blocks the roof hole\r\n"
                                                                                "Model: static/crate.tik\r\n"
                                                                                "Origin: 512 -128 64\r\n"
                                                                                "Angle: 90\r\n"
                                                                                "Visibility: hide\r\n"
                                                                                "Apply: 1\r\n"));
    QCOMPARE(loadMapFix(dir.filePath(fix.filename)), std::optional<MapFixEntry>(fix));

    fix.ticked = false;
    QVERIFY(saveMapFix(dir.path(), fix, &error));
    QVERIFY(readFile(dir.filePath(fix.filename)).endsWith("Visibility: hide\r\nApply: 0\r\n"));
    QCOMPARE(loadMapFix(dir.filePath(fix.filename)), std::optional<MapFixEntry>(fix));
}

void TestBuilderFiles::mapFixFolderLoad()
{
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("b.dmf")),
              "Map: obj/obj_team1\r\nAuthor: B\r\nDescription: d\r\nModel: m\r\nOrigin: 1 2 3\r\n"
              "Angle: 0\r\nVisibility: show\r\nApply: True\r\n");
    // Short: only the first two lines made it.
    writeFile(dir.filePath(QStringLiteral("a.dmf")), "Map: dm/mohdm1\r\nAuthor: A");
    const QByteArray junk("\x00\x01 not a fix\r\n", 14);
    writeFile(dir.filePath(QStringLiteral("c.dmf")), junk);
    writeFile(dir.filePath(QStringLiteral("empty.dmf")), "");
    writeFile(dir.filePath(QStringLiteral("notes.txt")), "Map: dm/ignored\r\n");
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.dmf")));

    const QList<MapFixEntry> rows = loadMapFixes(dir.path());
    QCOMPARE(rows.size(), 2);

    MapFixEntry a;
    a.map = QStringLiteral("dm/mohdm1");
    a.author = QStringLiteral("A");
    a.filename = QStringLiteral("a.dmf");
    QCOMPARE(rows.at(0), a);

    QCOMPARE(rows.at(1).map, QStringLiteral("obj/obj_team1"));
    QCOMPARE(rows.at(1).origin, QStringLiteral("1 2 3"));
    QCOMPARE(rows.at(1).visibility, QStringLiteral("show"));
    QCOMPARE(rows.at(1).filename, QStringLiteral("b.dmf"));
    QVERIFY(rows.at(1).ticked);

    // Files that did not load are left as they were.
    QCOMPARE(readFile(dir.filePath(QStringLiteral("c.dmf"))), junk);
}

void TestBuilderFiles::mapFixRefusesNamesOutsideTheFolder_data()
{
    QTest::addColumn<QString>("filename");
    QTest::newRow("empty") << QString();
    QTest::newRow("parent") << QStringLiteral("../escape.dmf");
    QTest::newRow("sub folder") << QStringLiteral("sub/escape.dmf");
    QTest::newRow("backslash") << QStringLiteral("..\\escape.dmf");
    QTest::newRow("another file of the builder") << QStringLiteral("modskelvar.ini");
    QTest::newRow("suffix only") << QStringLiteral(".dmf");
}

void TestBuilderFiles::mapFixRefusesNamesOutsideTheFolder()
{
    QFETCH(QString, filename);
    QTemporaryDir top;
    const QString folder = top.filePath(QStringLiteral("builder"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/sub")));
    writeFile(folder + QStringLiteral("/modskelvar.ini"), " 1 \r\n");

    MapFixEntry fix;
    fix.map = QStringLiteral("dm/x");
    fix.filename = filename;
    QString error;
    QVERIFY(!saveMapFix(folder, fix, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFileInfo::exists(top.filePath(QStringLiteral("escape.dmf"))));
    QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/sub/escape.dmf")));
    QCOMPARE(readFile(folder + QStringLiteral("/modskelvar.ini")), QByteArray(" 1 \r\n"));
}

void TestBuilderFiles::newMapFixFileName_data()
{
    QTest::addColumn<QString>("map");
    QTest::addColumn<QStringList>("onDisk");
    QTest::addColumn<QStringList>("inList");
    QTest::addColumn<QString>("expected");

    const QStringList none;
    const QString dm6 = QStringLiteral("dm/mohdm6");
    QStringList upTo100{QStringLiteral("dmmohdm6.dmf")};
    for (int n = 1; n <= 100; ++n)
        upTo100 << QStringLiteral("dmmohdm6%1.dmf").arg(n);

    QTest::newRow("folder slash dropped") << dm6 << none << none << "dmmohdm6.dmf";
    QTest::newRow("file exists") << dm6 << QStringList{"dmmohdm6.dmf"} << none << "dmmohdm61.dmf";
    QTest::newRow("two exist") << dm6 << QStringList{"dmmohdm6.dmf", "dmmohdm61.dmf"} << none << "dmmohdm62.dmf";
    QTest::newRow("second new fix of one run") << dm6 << none << QStringList{"dmmohdm6.dmf"} << "dmmohdm61.dmf";
    QTest::newRow("disk and list together")
        << dm6 << QStringList{"dmmohdm6.dmf"} << QStringList{"dmmohdm61.dmf"} << "dmmohdm62.dmf";
    QTest::newRow("gap is reused") << dm6 << QStringList{"dmmohdm6.dmf", "dmmohdm62.dmf"} << none << "dmmohdm61.dmf";
    QTest::newRow("past 100") << dm6 << upTo100 << none << "dmmohdm6101.dmf";
    QTest::newRow("case differs") << dm6 << QStringList{"DMmohdm6.DMF"} << QStringList{"DMMOHDM61.dmf"}
                                  << "dmmohdm62.dmf";
    QTest::newRow("blanks") << "obj/my new map" << none << none << "objmy-new-map.dmf";
    QTest::newRow("parent folders") << "../../etc/passwd" << none << none << "____etcpasswd.dmf";
    QTest::newRow("backslashes") << "..\\..\\dm\\mohdm6" << none << none << "____dmmohdm6.dmf";
    QTest::newRow("leading dot") << ".hidden" << none << none << "_hidden.dmf";
    QTest::newRow("refused characters") << "dm/a:b*c?d<e>f|g\"h\tz" << none << none << "dma_b_c_d_e_f_g_h_z.dmf";
    QTest::newRow("empty map") << "" << none << none << "unnamed.dmf";
    QTest::newRow("only slashes") << "//" << none << none << "unnamed.dmf";
    QTest::newRow("device name") << "con" << none << none << "con_.dmf";
    QTest::newRow("device name with number") << "com" << QStringList{"com.dmf"} << none << "com1_.dmf";
    QTest::newRow("long name cut") << QString(300, QLatin1Char('a')) << none << none
                                   << QString(100, QLatin1Char('a')) + ".dmf";
}

void TestBuilderFiles::newMapFixFileName()
{
    QFETCH(QString, map);
    QFETCH(QStringList, onDisk);
    QFETCH(QStringList, inList);
    QFETCH(QString, expected);

    QTemporaryDir top;
    const QString folder = top.filePath(QStringLiteral("builder"));
    QVERIFY(QDir().mkpath(folder));
    for (const QString& name : onDisk)
        writeFile(QDir(folder).filePath(name), "x");

    const QString name = skelvar::mod::newMapFixFileName(folder, map, inList);
    QCOMPARE(name, expected);

    // The name really is a new file directly in the folder that loads back.
    MapFixEntry fix;
    fix.map = map;
    fix.filename = name;
    QString error;
    QVERIFY2(saveMapFix(folder, fix, &error), qPrintable(error));
    QCOMPARE(QDir(top.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"builder"});
    const auto back = loadMapFix(QDir(folder).filePath(name));
    QVERIFY(back.has_value());
    QCOMPARE(back->filename, name);
}

// --- failures

void TestBuilderFiles::missingAndUnwritableFiles()
{
    QTemporaryDir dir;
    QString error;

    // Missing files are no error and give empty state.
    QCOMPARE(loadSwitches(dir.filePath(SettingsFileName), &error), Switches{});
    QVERIFY(loadCompat(dir.filePath(CompatFileName), &error).isEmpty());
    QVERIFY(loadMessages(dir.filePath(MessagesFileName), &error).isEmpty());
    QVERIFY(loadCommands(dir.filePath(CommandsFileName), &error).isEmpty());
    QVERIFY(!loadMapFix(dir.filePath(QStringLiteral("none.dmf")), &error).has_value());
    QVERIFY(loadMapFixes(dir.filePath(QStringLiteral("no-such-folder"))).isEmpty());
    QVERIFY(error.isEmpty());

    // A path that cannot be read is reported, so the caller can keep the file.
    QVERIFY(QDir(dir.path()).mkdir(MessagesFileName));
    QVERIFY(loadMessages(dir.filePath(MessagesFileName), &error).isEmpty());
    QVERIFY(!error.isEmpty());

    // Saves that cannot be done report it and write nothing.
    const QString missingFolder = dir.filePath(QStringLiteral("gone"));
    const QList<MessageEntry> one{
        {TypePeriodic, QStringLiteral("1 minutes"), QStringLiteral("Low"), QStringLiteral("t"), true}};
    struct Save {
        const char* what;
        std::function<bool(QString*)> run;
    };
    const QList<Save> saves{
        {"ini", [&](QString* e) { return saveSwitches(missingFolder + "/" + SettingsFileName, {}, e); }},
        {"dcf", [&](QString* e) { return saveCompat(missingFolder + "/" + CompatFileName, {}, e); }},
        {"messages", [&](QString* e) { return saveMessages(dir.filePath(MessagesFileName), one, e); }},
        {"commands", [&](QString* e) { return saveCommands(missingFolder + "/" + CommandsFileName, {}, e); }},
        {"map fix",
         [&](QString* e) {
             MapFixEntry fix;
             fix.filename = QStringLiteral("a.dmf");
             return saveMapFix(missingFolder, fix, e);
         }},
    };
    for (const Save& save : saves) {
        error.clear();
        QVERIFY2(!save.run(&error), save.what);
        QVERIFY2(!error.isEmpty(), save.what);
    }
    QVERIFY(!QFileInfo::exists(missingFolder));
    QVERIFY(QFileInfo(dir.filePath(MessagesFileName)).isDir());
}

// --- the editors' boxes

void TestBuilderFiles::triggerAndTimeBoxes_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<TriggerBoxes>("boxes");
    QTest::addColumn<QString>("trigger");

    QTest::newRow("periodic") << TypePeriodic << TriggerBoxes{"10", {}, {}, {}} << "10 minutes";
    QTest::newRow("scheduled") << TypeScheduled << TriggerBoxes{{}, "07", "05", {}} << "At 07:05";
    QTest::newRow("per map") << TypePerMap << TriggerBoxes{{}, {}, {}, "dm/mohdm6"} << "On dm/mohdm6";
    QTest::newRow("map name holding On ")
        << TypePerMap << TriggerBoxes{{}, {}, {}, "obj/On At minutes"} << "On obj/On At minutes";
    QTest::newRow("periodic holding minutes")
        << TypePeriodic << TriggerBoxes{"5 minutes", {}, {}, {}} << "5 minutes minutes";
    QTest::newRow("scheduled as typed") << TypeScheduled << TriggerBoxes{{}, "At ", "x", {}} << "At At :x";
}

void TestBuilderFiles::triggerAndTimeBoxes()
{
    QFETCH(QString, type);
    QFETCH(TriggerBoxes, boxes);
    QFETCH(QString, trigger);
    QCOMPARE(triggerText(type, boxes), trigger);
    QCOMPARE(triggerBoxes(type, trigger), boxes);
    if (type == TypeScheduled) {
        const QString time = timeText(boxes.hour, boxes.minute);
        QCOMPARE(QStringLiteral("At ") + time, trigger);
        QCOMPARE(timeBoxes(time), (TimeBoxes{boxes.hour, boxes.minute}));
    }
}

void TestBuilderFiles::boxesFromIncompleteTexts()
{
    // Hand-edited rows: a missing part comes back empty, nothing crashes.
    QCOMPARE(timeBoxes(QStringLiteral("12")), (TimeBoxes{QStringLiteral("12"), QString()}));
    QCOMPARE(timeBoxes(QString()), (TimeBoxes{}));
    QCOMPARE(timeBoxes(QStringLiteral("1:2:3")), (TimeBoxes{QStringLiteral("1"), QStringLiteral("2")}));
    QCOMPARE(triggerBoxes(TypeScheduled, QStringLiteral("At 7")), (TriggerBoxes{{}, QStringLiteral("7"), {}, {}}));
    QCOMPARE(triggerBoxes(TypePeriodic, QStringLiteral("15")), (TriggerBoxes{QStringLiteral("15"), {}, {}, {}}));
    QCOMPARE(triggerBoxes(QStringLiteral("Weekly"), QStringLiteral("On x")), TriggerBoxes{});
    QCOMPARE(triggerText(QStringLiteral("Weekly"), TriggerBoxes{"1", "2", "3", "4"}), QString());
}

QTEST_GUILESS_MAIN(TestBuilderFiles)
#include "test_builderfiles.moc"
