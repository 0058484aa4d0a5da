// The builder's project without a window: load and save of its folder, the
// editors' commits, map-fix file names, deleting rows and what the operator
// is told.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "SkelvarMod/project/builderfiles.h"
#include "SkelvarMod/project/builderproject.h"
#include "tests/support/files.h"
#include "tests/support/scriptedprompter.h"

Q_DECLARE_METATYPE(skelvar::mod::BuilderList)

using namespace skelvar::mod;
using skelvar::Prompter;
using skelvar::test::readFile;
using skelvar::test::ScriptedPrompter;
using skelvar::test::writeFile;

namespace {

const QByteArray Sep = "----------------------------------------\r\n";
const QByteArray OneScript = "Description: Team balance\r\nScript: teambalance.scr\r\nRun: 1\r\n" + Sep;
const QByteArray FixOnDisk = "Map: dm/mohdm6\r\nAuthor: a\r\nDescription: on disk\r\nModel: m.tik\r\n"
                             "Origin: 0 0 0\r\nAngle: 0\r\nVisibility: show\r\nApply: 1\r\n";
const QString NoPath = QStringLiteral("You haven't selected a path for your map ('dm/' or 'obj/'). ");

struct Folder {
    QTemporaryDir dir;
    ScriptedPrompter prompter;
    std::unique_ptr<BuilderProject> project;

    QString path(const QString& name) const { return dir.filePath(name); }
    BuilderProject& load()
    {
        project = std::make_unique<BuilderProject>(dir.path(), prompter);
        project->load();
        return *project;
    }
};

MapFixEntry fix(const QString& map, const QString& description)
{
    MapFixEntry f;
    f.map = map;
    f.author = QStringLiteral("Op");
    f.description = description;
    f.model = QStringLiteral("static/crate.tik");
    f.origin = QStringLiteral("100 -200 32");
    f.angle = QStringLiteral("90");
    f.visibility = QStringLiteral("hide");
    return f;
}

QStringList fileNames(const BuilderProject& p)
{
    QStringList names;
    for (const MapFixEntry& f : p.mapFixes())
        names << f.filename;
    return names;
}

}  // namespace

class TestBuilderProject : public QObject {
    Q_OBJECT

private slots:
    void firstStart_data();
    void firstStart();
    void loadThenSaveKeepsEveryFile();
    void mapFixFileNames();
    void mapFixRefusals_data();
    void mapFixRefusals();
    void messageAndCommandCommits();
    void deleteSelected_data();
    void deleteSelected();
    void failuresAreTold();
};

void TestBuilderProject::firstStart_data()
{
    QTest::addColumn<bool>("shippedScripts");
    QTest::newRow("only skelvar.dcf beside the program") << true;
    QTest::newRow("no file at all") << false;
}

void TestBuilderProject::firstStart()
{
    QFETCH(bool, shippedScripts);
    Folder f;
    if (shippedScripts)
        writeFile(f.path("skelvar.dcf"), OneScript);
    BuilderProject& p = f.load();
    QCOMPARE(p.switches(), Switches{});
    QCOMPARE(p.rowCount(BuilderList::Compat), shippedScripts ? 1 : 0);
    QCOMPARE(p.loadErrors().size(), shippedScripts ? 0 : 1);

    p.setTicked(BuilderList::Compat, 0, false);
    QVERIFY(p.save());
    QCOMPARE(readFile(f.path("modskelvar.ini")), QByteArray(" 0 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n"));
    QCOMPARE(readFile(f.path("messages.cfg")), QByteArray());
    QCOMPARE(readFile(f.path("commands.cfg")), QByteArray());
    // A missing list of scripts is not replaced by an empty one.
    QCOMPARE(QFileInfo::exists(f.path("skelvar.dcf")), shippedScripts);
    if (shippedScripts)
        QCOMPARE(readFile(f.path("skelvar.dcf")),
                 "Description: Team balance\r\nScript: teambalance.scr\r\nRun: 0\r\n" + Sep);
    QVERIFY(f.prompter.shown.isEmpty());
}

void TestBuilderProject::loadThenSaveKeepsEveryFile()
{
    Folder f;
    // No Fog and Stop Forced Models ticked; the file lists Check3, Check2, Check1, Check4 .. Check7.
    const QByteArray ini = " 0 \r\n 0 \r\n 1 \r\n 0 \r\n 1 \r\n 0 \r\n 2 \r\n";
    const QByteArray messages =
        "Type: Scheduled\r\nTrigger: At 07:05\r\nPriority: High\r\nText: first\r\nCast: 1\r\n" + Sep +
        "Type: Per Map\r\nTrigger: On dm/mohdm6\r\nPriority: Low\r\nText: t\r\nCast: 0\r\n" + Sep;
    const QByteArray commands = "Time: 12:30\r\nCommand: say one\r\nCast: 0\r\n" + Sep;
    writeFile(f.path("modskelvar.ini"), ini);
    writeFile(f.path("dmmohdm6.dmf"), FixOnDisk);
    writeFile(f.path("messages.cfg"), messages);
    writeFile(f.path("commands.cfg"), commands);
    writeFile(f.path("skelvar.dcf"), OneScript);
    BuilderProject& p = f.load();

    Switches expected;
    expected.noFog = expected.stopForcedModels = 1;
    expected.nextMap = 2;
    QCOMPARE(p.switches(), expected);
    QCOMPARE(p.messages().size(), 2);
    QCOMPARE(p.messages()[1], (MessageEntry{"Per Map", "On dm/mohdm6", "Low", "t", false}));
    QCOMPARE(p.commands(), (QList<CommandEntry>{{"12:30", "say one", false}}));
    QCOMPARE(fileNames(p), QStringList{"dmmohdm6.dmf"});

    QVERIFY(p.save());
    QCOMPARE(readFile(f.path("modskelvar.ini")), ini);
    QCOMPARE(readFile(f.path("dmmohdm6.dmf")), FixOnDisk);
    QCOMPARE(readFile(f.path("messages.cfg")), messages);
    QCOMPARE(readFile(f.path("commands.cfg")), commands);
    QCOMPARE(readFile(f.path("skelvar.dcf")), OneScript);
}

void TestBuilderProject::mapFixFileNames()
{
    Folder f;
    writeFile(f.path("dmmohdm6.dmf"), FixOnDisk);
    BuilderProject& p = f.load();

    // Two new fixes for one map in one run, while the first name is on disk.
    QVERIFY(p.commitMapFix(fix("dm/mohdm6", "first new")));
    QVERIFY(p.commitMapFix(fix("dm/mohdm6", "second new")));
    QVERIFY(p.commitMapFix(fix("dm/map with blanks", "blanks")));
    QCOMPARE(fileNames(p), (QStringList{"dmmohdm6.dmf", "dmmohdm61.dmf", "dmmohdm62.dmf", "dmmap-with-blanks.dmf"}));
    QVERIFY(!p.mapFixes()[1].ticked);  // new fixes start unticked
    QVERIFY(f.prompter.shown.isEmpty());

    // An edit keeps the row, its tick and its file even when the map changes.
    p.setTicked(BuilderList::MapFixes, 1, true);
    p.selectRow(BuilderList::MapFixes, 1);
    MapFixEntry edited = p.mapFixes()[1];
    edited.map = QStringLiteral("dm/mohdm4");
    QVERIFY(p.commitMapFix(edited));
    QCOMPARE(p.mapFixes()[1].filename, QString("dmmohdm61.dmf"));
    QVERIFY(p.mapFixes()[1].ticked);
    QCOMPARE(p.mapFixes().size(), 4);

    // A map without its folder is saved, with a warning, and named inside the folder.
    p.clearSelection(BuilderList::MapFixes);
    QVERIFY(p.commitMapFix(fix("..\\..\\outside map", "escape attempt")));
    QCOMPARE(f.prompter.titles(), QStringList{"Warning!"});
    QCOMPARE(f.prompter.shown[0].text, NoPath + "Fix won't get applied.");
    const QString outside = p.mapFixes().last().filename;
    QVERIFY2(!outside.contains('/') && !outside.contains('\\') && !outside.contains("..") && outside.endsWith(".dmf"),
             qPrintable(outside));

    // Saving writes each row to the file it was given, nothing else.
    QVERIFY(p.save());
    QCOMPARE(readFile(f.path("dmmohdm61.dmf")),
             QByteArray("Map: dm/mohdm4\r\nAuthor: Op\r\nDescription: first new\r\nModel: static/crate.tik\r\n"
                        "Origin: 100 -200 32\r\nAngle: 90\r\nVisibility: hide\r\nApply: 1\r\n"));
    QStringList expected = fileNames(p);
    expected.sort(Qt::CaseInsensitive);
    QStringList onDisk = QDir(f.dir.path()).entryList({"*.dmf"});
    onDisk.sort(Qt::CaseInsensitive);
    QCOMPARE(onDisk, expected);
}

void TestBuilderProject::mapFixRefusals_data()
{
    QTest::addColumn<bool>("editRow");  // edit the loaded fix, else add a new one
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("origin");
    QTest::addColumn<QString>("angle");
    QTest::addColumn<QString>("refusal");  // empty: saved

    QTest::newRow("new, model with blank, colon and braces")
        << false << "static/my bush:{1}.tik"
        << "1 2 3"
        << "0"
        << "Map fix 2 (dm/mohdm6 new): the model must be a plain path of letters, digits and _ - . /, starting with "
           "a letter, digit or _.";
    QTest::newRow("edit, origin and angle")
        << true << "m.tik"
        << "1 2 3)"
        << "90;"
        << "Map fix 1 (dm/mohdm6 on disk): the origin must be three numbers separated by blanks.\n"
           "Map fix 1 (dm/mohdm6 on disk): the angle must be a number.";
    QTest::newRow("new, empty values") << false << ""
                                       << " "
                                       << ""
                                       << "Map fix 2 (dm/mohdm6 new): the model is empty.\n"
                                          "Map fix 2 (dm/mohdm6 new): the origin is empty.\n"
                                          "Map fix 2 (dm/mohdm6 new): the angle is empty.";
    QTest::newRow("new, signed numbers are fine") << false << "static/crate.tik"
                                                  << "+1 -2 +3"
                                                  << "+90" << QString();
}

void TestBuilderProject::mapFixRefusals()
{
    QFETCH(bool, editRow);
    QFETCH(QString, model);
    QFETCH(QString, origin);
    QFETCH(QString, angle);
    QFETCH(QString, refusal);
    Folder f;
    writeFile(f.path("dmmohdm6.dmf"), FixOnDisk);
    BuilderProject& p = f.load();
    const QList<MapFixEntry> before = p.mapFixes();
    MapFixEntry entry = editRow ? before[0] : fix("dm/mohdm6", "new");
    if (editRow)
        p.selectRow(BuilderList::MapFixes, 0);
    entry.model = model;
    entry.origin = origin;
    entry.angle = angle;

    const bool saved = p.commitMapFix(entry);
    QCOMPARE(saved, refusal.isEmpty());
    if (saved) {
        QVERIFY(f.prompter.shown.isEmpty());
        QCOMPARE(p.mapFixes().size(), 2);
        return;
    }
    QCOMPARE(f.prompter.shown.size(), 1);
    QCOMPARE(f.prompter.shown[0].title, QString("Map Fixes"));
    QCOMPARE(f.prompter.shown[0].icon, Prompter::Icon::Warning);
    QCOMPARE(f.prompter.shown[0].text, "The fix was not saved. Please correct it first:\n" + refusal);
    QCOMPARE(p.mapFixes(), before);
}

void TestBuilderProject::messageAndCommandCommits()
{
    Folder f;
    writeFile(f.path("messages.cfg"),
              "Type: Periodic\r\nTrigger: 10 minutes\r\nPriority: Urgent\r\nText: old\r\nCast: 0\r\n" + Sep);
    BuilderProject& p = f.load();

    // An edit without a selected priority keeps the row's own, and ticks it.
    p.selectRow(BuilderList::Messages, 0);
    p.commitMessage({"Periodic", "5 minutes", QString(), "new text"});
    QCOMPARE(p.messages(), (QList<MessageEntry>{{"Periodic", "5 minutes", "Urgent", "new text", true}}));

    // Without a selection a row is added; a per-map message without the
    // map's folder is kept, with a warning.
    p.clearSelection(BuilderList::Messages);
    p.commitMessage({"Per Map", "On mohdm6", "High", "hello"});
    QCOMPARE(p.messages().size(), 2);
    QCOMPARE(p.messages()[1], (MessageEntry{"Per Map", "On mohdm6", "High", "hello", true}));
    QCOMPARE(f.prompter.shown.size(), 1);
    QCOMPARE(f.prompter.shown[0].text, NoPath + "Message won't be displayed.");
    p.commitMessage({"Per Map", "On dm/mohdm6", "High", "with folder"});
    QCOMPARE(f.prompter.shown.size(), 1);

    p.commitCommand({"23:59", "say hi"});
    p.setTicked(BuilderList::Commands, 0, false);
    p.selectRow(BuilderList::Commands, 0);
    p.commitCommand({"23:58", "say hi"});
    QCOMPARE(p.commands(), (QList<CommandEntry>{{"23:58", "say hi", true}}));
}

void TestBuilderProject::deleteSelected_data()
{
    QTest::addColumn<BuilderList>("list");
    QTest::newRow("messages") << BuilderList::Messages;
    QTest::newRow("commands") << BuilderList::Commands;
}

void TestBuilderProject::deleteSelected()
{
    QFETCH(BuilderList, list);
    Folder f;
    BuilderProject& p = f.load();
    for (const char* text : {"one", "two", "three"}) {
        if (list == BuilderList::Messages)
            p.commitMessage({"Periodic", "1 minutes", "Low", text});
        else
            p.commitCommand({"1:00", text});
    }
    QVERIFY(!p.deleteSelected(list));  // nothing selected
    p.selectRow(list, 1);
    QCOMPARE(p.selectedRow(list), std::optional<qsizetype>(1));
    QVERIFY(p.deleteSelected(list));
    QCOMPARE(p.rowCount(list), 2);
    QCOMPARE(p.selectedRow(list), std::nullopt);
    // The stale row is not taken again: a second delete removes nothing.
    QVERIFY(!p.deleteSelected(list));
    const QString last = list == BuilderList::Messages ? p.messages().last().text : p.commands().last().command;
    QCOMPARE(last, QString("three"));
    // Out of range selections are ignored.
    p.selectRow(list, 2);
    QCOMPARE(p.selectedRow(list), std::nullopt);
}

void TestBuilderProject::failuresAreTold()
{
    Folder f;
    writeFile(f.path("skelvar.dcf"), OneScript);
    writeFile(f.path("modskelvar.ini"), " 1 \r\n");
    // A write-protected file is never replaced, also not for root.
    QVERIFY(QFile::setPermissions(f.path("modskelvar.ini"), QFileDevice::ReadOwner));
    BuilderProject& p = f.load();
    Switches all;
    all.noFog = 1;
    p.setSwitches(all);
    QStringList errors;
    QVERIFY(!p.save(&errors));
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].contains("modskelvar.ini"), qPrintable(errors[0]));
    QCOMPARE(f.prompter.shown.size(), 1);
    QCOMPARE(f.prompter.shown[0].title, QString("Mod Skelvar"));
    QCOMPARE(f.prompter.shown[0].text, "Some settings could not be saved:\n" + errors[0]);
    QCOMPARE(readFile(f.path("modskelvar.ini")), QByteArray(" 1 \r\n"));
    // The other files are written all the same.
    QCOMPARE(readFile(f.path("skelvar.dcf")), OneScript);

    // A build without its template is refused and told.
    const BuildResult r = p.build(nullptr);
    QVERIFY(!r.ok);
    QCOMPARE(f.prompter.shown.size(), 2);
    QCOMPARE(f.prompter.shown[1].title, QString("Build Mod"));
    QCOMPARE(f.prompter.shown[1].icon, Prompter::Icon::Critical);
    QCOMPARE(f.prompter.shown[1].text, r.message);
    QVERIFY(r.message.contains("skelvar.precache"));
    QFile::setPermissions(f.path("modskelvar.ini"), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

QTEST_GUILESS_MAIN(TestBuilderProject)
#include "test_builderproject.moc"
