// The builder window offscreen, as it shows its project and forwards the
// operator: start and exit, tabs, the three editors, one build from what the
// lists show, and a size that fits every tab.
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <QScopeGuard>

#include <memory>

#include "SkelvarMod/window/builderwindow.h"
#include "modcore_fixture.h"
#include "tests/support/files.h"
#include "tests/support/scriptedprompter.h"
#include "zipread.h"

using namespace skelvar::mod;
using namespace modtest;

using skelvar::Prompter;
using skelvar::test::readFile;
using skelvar::test::ScriptedPrompter;
using skelvar::test::writeFile;

namespace {

const QByteArray Sep = "----------------------------------------\r\n";

// A child of an editor by its object name.
template <class T>
T* in(QObject* editor, const char* name)
{
    T* c = editor->findChild<T*>(QLatin1String(name));
    if (!c)
        qWarning("no control %s", name);
    return c;
}

struct Builder {
    QTemporaryDir dir;
    ScriptedPrompter prompter;
    std::unique_ptr<BuilderWindow> w;
    QStringList opened;

    QString path(const QString& name) const { return dir.filePath(name); }
    void start()
    {
        w = std::make_unique<BuilderWindow>(dir.path(), &prompter);
        w->setFolderOpener([this](const QString& f) { opened << f; });
        w->show();
    }
    QDialog* editor(const char* name) const { return find<QDialog>(name); }
    template <class T = QWidget>
    T* find(const char* name) const
    {
        T* c = w->findChild<T*>(QLatin1String(name));
        if (!c)
            qWarning("no control %s", name);
        return c;
    }
    QTreeWidget* list(const char* name) const { return find<QTreeWidget>(name); }
    // Presses a button the way the operator can: only when it is shown.
    bool press(const char* name) const
    {
        QPushButton* b = find<QPushButton>(name);
        if (!b || !b->isVisible())
            return false;
        b->click();
        return true;
    }
    void clickRow(const char* listName, int row) const
    {
        QTreeWidget* l = list(listName);
        const QRect r = l->visualItemRect(l->topLevelItem(row));
        QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, QPoint(r.center().x(), r.center().y()));
    }
    QStringList rowTexts(const char* listName, int row) const
    {
        const QTreeWidgetItem* it = list(listName)->topLevelItem(row);
        QStringList out;
        for (int c = 1; c < it->columnCount(); ++c)
            out << it->text(c);
        out << (it->checkState(0) == Qt::Checked ? "ticked" : "clear");
        return out;
    }
    QList<QStringList> rows(const char* listName) const
    {
        QList<QStringList> out;
        for (int i = 0; i < list(listName)->topLevelItemCount(); ++i)
            out << rowTexts(listName, i);
        return out;
    }
};

const QByteArray TwoScripts = "Description: Team balance\r\nScript: teambalance.scr\r\nRun: 1\r\n" + Sep +
                              "Description: Map vote\r\nScript: mapvote.scr\r\nRun: 0\r\n" + Sep;

const QByteArray ThreeMessages =
    "Type: Scheduled\r\nTrigger: At 07:05\r\nPriority: High\r\nText: first\r\nCast: 1\r\n" + Sep +
    "Type: Periodic\r\nTrigger: 10 minutes\r\nPriority: Low\r\nText: Text: vote\r\nCast: 0\r\n" + Sep +
    "Type: Per Map\r\nTrigger: On dm/mohdm6\r\nPriority: Medium\r\nText: third\r\nCast: 1\r\n" + Sep;

const QByteArray ThreeCommands = "Time: 12:30\r\nCommand: say one\r\nCast: 1\r\n" + Sep +
                                 "Time: 1:05\r\nCommand: say two\r\nCast: 0\r\n" + Sep +
                                 "Time: 23:59\r\nCommand: say three\r\nCast: 1\r\n" + Sep;

}  // namespace

class TestModWindow : public QObject {
    Q_OBJECT

private slots:
    void firstStartWithOnlyScriptList();
    void loadErrorsAreTold();
    void filesSurviveARestart();
    void tabsResetTheEditors();
    void messageEditor();
    void commandEditor();
    void deleteWhileEditorIsOpen_data();
    void deleteWhileEditorIsOpen();
    void mapFixEditorAndFileNames();
    void mapFixEditorRefusesWhatBreaksTheScript_data();
    void mapFixEditorRefusesWhatBreaksTheScript();
    void buildFromTheWindow();
    void everyListShowsEightRowsAtOneSize();
};

void TestModWindow::firstStartWithOnlyScriptList()
{
    Builder b;
    writeFile(b.path("skelvar.dcf"), TwoScripts);
    b.start();
    b.w->tellLoadErrors();
    QVERIFY(b.prompter.shown.isEmpty());
    QCOMPARE(b.w->windowTitle(), QString("Mod Skelvar 2.1"));
    QCOMPARE(b.w->project().switches(), Switches{});
    QVERIFY(b.w->project().loadErrors().isEmpty());
    for (const char* l : {"MapFixes", "Messages", "Commands"})
        QCOMPARE(b.list(l)->topLevelItemCount(), 0);
    QCOMPARE(b.rows("Compatibility"),
             (QList<QStringList>{{"Team balance", "teambalance.scr", "ticked"}, {"Map vote", "mapvote.scr", "clear"}}));
    QVERIFY(b.find("Frame1_1")->isVisible());
    for (const char* f : {"Frame1_2", "Frame1_3", "Frame1_4", "Frame1_5"})
        QVERIFY(!b.find(f)->isVisible());
    for (const char* hidden :
         {"Command3", "Command6", "Command7", "Command8", "Command10", "Text1", "Text15", "Text17"})
        QVERIFY2(!b.find(hidden)->isVisible(), hidden);

    b.list("Compatibility")->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    QVERIFY(b.press("Command2"));
    QCOMPARE(readFile(b.path("modskelvar.ini")), QByteArray(" 0 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n"));
    QCOMPARE(readFile(b.path("messages.cfg")), QByteArray());
    QCOMPARE(readFile(b.path("commands.cfg")), QByteArray());
    QCOMPARE(readFile(b.path("skelvar.dcf")), "Description: Team balance\r\nScript: teambalance.scr\r\nRun: 0\r\n" +
                                                  Sep + "Description: Map vote\r\nScript: mapvote.scr\r\nRun: 0\r\n" +
                                                  Sep);
    QVERIFY(QDir(b.dir.path()).entryList({"*.dmf"}).isEmpty());
}

void TestModWindow::loadErrorsAreTold()
{
    // Without its list of scripts the builder starts all the same and says so.
    Builder b;
    b.start();
    QVERIFY(b.prompter.shown.isEmpty());
    b.w->tellLoadErrors();
    QCOMPARE(b.prompter.shown.size(), 1);
    QCOMPARE(b.prompter.shown[0].title, QString("Mod Skelvar"));
    QCOMPARE(b.prompter.shown[0].icon, Prompter::Icon::Warning);
    QVERIFY2(b.prompter.shown[0].text.contains("skelvar.dcf was not found"), qPrintable(b.prompter.shown[0].text));
    QCOMPARE(b.list("Compatibility")->topLevelItemCount(), 0);
}

void TestModWindow::filesSurviveARestart()
{
    Builder b;
    // Check1 and Check5 ticked; the file lists Check3, Check2, Check1, Check4 .. Check7.
    const QByteArray ini = " 0 \r\n 0 \r\n 1 \r\n 0 \r\n 1 \r\n 0 \r\n 0 \r\n";
    const QByteArray fix = "Map: dm/mohdm6\r\nAuthor: Op\r\nDescription: Crate\r\nModel: static/crate.tik\r\n"
                           "Origin: 1 2 3\r\nAngle: 90\r\nVisibility: hide\r\nApply: 0\r\n";
    writeFile(b.path("modskelvar.ini"), ini);
    writeFile(b.path("dmmohdm6.dmf"), fix);
    writeFile(b.path("messages.cfg"), ThreeMessages);
    writeFile(b.path("commands.cfg"), ThreeCommands);
    writeFile(b.path("skelvar.dcf"), TwoScripts);
    b.start();

    Switches expected;
    expected.noFog = expected.stopForcedModels = 1;
    QCOMPARE(b.w->project().switches(), expected);
    QVERIFY(b.find<QCheckBox>("Check1")->isChecked() && b.find<QCheckBox>("Check5")->isChecked());
    QCOMPARE(b.rows("MapFixes"), (QList<QStringList>{{"dm/mohdm6", "Op", "Crate", "static/crate.tik", "1 2 3", "90",
                                                      "hide", "dmmohdm6.dmf", "clear"}}));
    QCOMPARE(b.rows("Messages"), (QList<QStringList>{{"Scheduled", "At 07:05", "High", "first", "ticked"},
                                                     {"Periodic", "10 minutes", "Low", "Text: vote", "clear"},
                                                     {"Per Map", "On dm/mohdm6", "Medium", "third", "ticked"}}));
    QCOMPARE(b.rows("Commands"),
             (QList<QStringList>{
                 {"12:30", "say one", "ticked"}, {"1:05", "say two", "clear"}, {"23:59", "say three", "ticked"}}));

    // Unchanged lists are written back byte for byte.
    b.w->close();
    QCOMPARE(readFile(b.path("modskelvar.ini")), ini);
    QCOMPARE(readFile(b.path("dmmohdm6.dmf")), fix);
    QCOMPARE(readFile(b.path("messages.cfg")), ThreeMessages);
    QCOMPARE(readFile(b.path("commands.cfg")), ThreeCommands);
    QCOMPARE(readFile(b.path("skelvar.dcf")), TwoScripts);
}

void TestModWindow::tabsResetTheEditors()
{
    Builder b;
    writeFile(b.path("messages.cfg"), ThreeMessages);
    b.start();
    QTabBar* tabs = b.find<QTabBar>("TabStrip1");
    tabs->setCurrentIndex(2);
    QVERIFY(b.find("Frame1_3")->isVisible() && !b.find("Frame1_1")->isVisible());

    b.clickRow("Messages", 1);
    QCOMPARE(b.find<QLineEdit>("Text15")->text(), QString("2"));
    QVERIFY(b.find("Command6")->isVisible() && b.find("Command3")->isVisible());
    QDialog* m = b.editor("MsjForm");
    QVERIFY(in<QRadioButton>(m, "optPeriodic")->isChecked() && in<QRadioButton>(m, "optLow")->isChecked());
    QCOMPARE(in<QLineEdit>(m, "txtMinutes")->text(), QString("10"));
    QVERIFY(in<QGroupBox>(m, "fraPeriodic")->isVisibleTo(m) && !in<QGroupBox>(m, "fraScheduled")->isVisibleTo(m));
    in<QLineEdit>(b.editor("ComForm"), "txtCommand")->setText("typed");

    tabs->setCurrentIndex(2);  // the current tab again: nothing happens
    QCOMPARE(b.find<QLineEdit>("Text15")->text(), QString("2"));
    QCOMPARE(in<QLineEdit>(m, "txtMinutes")->text(), QString("10"));

    tabs->setCurrentIndex(3);
    QVERIFY(b.find("Frame1_4")->isVisible() && !b.find("Frame1_3")->isVisible());
    QVERIFY(b.find<QLineEdit>("Text15")->text().isEmpty());
    QVERIFY(in<QRadioButton>(m, "optScheduled")->isChecked() && in<QRadioButton>(m, "optMedium")->isChecked());
    QCOMPARE(in<QLineEdit>(m, "txtHour")->text(), QString("00"));
    QVERIFY(in<QLineEdit>(m, "txtMinutes")->text().isEmpty());
    QVERIFY(in<QLineEdit>(b.editor("ComForm"), "txtCommand")->text().isEmpty());
    tabs->setCurrentIndex(2);
    QVERIFY(!b.find("Command6")->isVisible() && !b.find("Command3")->isVisible());
}

void TestModWindow::messageEditor()
{
    Builder b;
    b.start();
    b.find<QTabBar>("TabStrip1")->setCurrentIndex(2);
    QDialog* m = b.editor("MsjForm");

    QVERIFY(b.press("Command4"));
    QVERIFY(m->isVisible());
    QVERIFY(in<QRadioButton>(m, "optScheduled")->isChecked() && in<QRadioButton>(m, "optMedium")->isChecked());
    QVERIFY(in<QGroupBox>(m, "fraScheduled")->isVisible() && !in<QGroupBox>(m, "fraPeriodic")->isVisible() &&
            !in<QGroupBox>(m, "fraPerMap")->isVisible());
    in<QLineEdit>(m, "txtHour")->setText("07");
    in<QLineEdit>(m, "txtMinute")->setText("05");
    in<QRadioButton>(m, "optHigh")->setChecked(true);
    in<QLineEdit>(m, "txtText")->setText("Restart soon");
    in<QPushButton>(m, "cmdOK")->click();
    QVERIFY(!m->isVisible());
    QVERIFY(in<QRadioButton>(m, "optScheduled")->isChecked() && in<QRadioButton>(m, "optMedium")->isChecked() &&
            in<QLineEdit>(m, "txtText")->text().isEmpty());
    QCOMPARE(in<QLineEdit>(m, "txtHour")->text(), QString("00"));

    QVERIFY(b.press("Command4"));
    in<QRadioButton>(m, "optPeriodic")->setChecked(true);
    QVERIFY(in<QGroupBox>(m, "fraPeriodic")->isVisible() && !in<QGroupBox>(m, "fraScheduled")->isVisible());
    in<QLineEdit>(m, "txtMinutes")->setText("10");
    in<QRadioButton>(m, "optLow")->setChecked(true);
    in<QLineEdit>(m, "txtText")->setText("Welcome");
    in<QPushButton>(m, "cmdOK")->click();

    QVERIFY(b.press("Command4"));
    in<QRadioButton>(m, "optPerMap")->setChecked(true);
    in<QLineEdit>(m, "txtMap")->setText("mohdm6");
    in<QLineEdit>(m, "txtText")->setText("On this map");
    in<QPushButton>(m, "cmdOK")->click();
    QCOMPARE(b.prompter.shown.size(), 1);
    QCOMPARE(b.prompter.shown[0].icon, Prompter::Icon::Warning);
    QCOMPARE(b.prompter.shown[0].title, QString("Warning!"));
    QCOMPARE(b.prompter.shown[0].text,
             QString("You haven't selected a path for your map ('dm/' or 'obj/'). Message won't be displayed."));

    QCOMPARE(b.rows("Messages"), (QList<QStringList>{{"Scheduled", "At 07:05", "High", "Restart soon", "ticked"},
                                                     {"Periodic", "10 minutes", "Low", "Welcome", "ticked"},
                                                     {"Per Map", "On mohdm6", "Medium", "On this map", "ticked"}}));

    // Edit the Per Map row: the editor shows it, OK writes the same row.
    b.clickRow("Messages", 2);
    QVERIFY(!m->isVisible());
    QVERIFY(b.press("Command6"));
    QVERIFY(in<QRadioButton>(m, "optPerMap")->isChecked() && in<QGroupBox>(m, "fraPerMap")->isVisible());
    QCOMPARE(in<QLineEdit>(m, "txtMap")->text(), QString("mohdm6"));
    QCOMPARE(in<QLineEdit>(m, "txtText")->text(), QString("On this map"));
    in<QLineEdit>(m, "txtMap")->setText("dm/mohdm6");
    in<QPushButton>(m, "cmdOK")->click();
    QCOMPARE(b.prompter.shown.size(), 1);
    QCOMPARE(b.list("Messages")->topLevelItemCount(), 3);
    QCOMPARE(b.rowTexts("Messages", 2), (QStringList{"Per Map", "On dm/mohdm6", "Medium", "On this map", "ticked"}));
    QVERIFY(!b.find("Command6")->isVisible() && !b.find("Command3")->isVisible());

    // Cancel changes nothing; Delete removes the clicked row.
    b.clickRow("Messages", 0);
    QVERIFY(b.press("Command6"));
    in<QLineEdit>(m, "txtText")->setText("changed");
    in<QPushButton>(m, "cmdCancel")->click();
    QCOMPARE(b.rowTexts("Messages", 0)[3], QString("Restart soon"));
    b.clickRow("Messages", 0);
    QVERIFY(b.press("Command3"));
    QCOMPARE(b.rows("Messages").size(), 2);
    QCOMPARE(b.rowTexts("Messages", 0)[3], QString("Welcome"));
    QVERIFY(!b.press("Command3"));  // hidden until a row is clicked again
}

void TestModWindow::commandEditor()
{
    Builder b;
    b.start();
    b.find<QTabBar>("TabStrip1")->setCurrentIndex(3);
    QDialog* c = b.editor("ComForm");
    QVERIFY(b.press("Command5"));
    QVERIFY(c->isVisible());
    QCOMPARE(in<QLineEdit>(c, "txtHour")->text(), QString("00"));
    in<QLineEdit>(c, "txtCommand")->setText("say hi");
    in<QLineEdit>(c, "txtHour")->setText("23");
    in<QLineEdit>(c, "txtMinute")->setText("59");
    in<QPushButton>(c, "cmdOK")->click();
    QVERIFY(!c->isVisible());
    QCOMPARE(b.rows("Commands"), (QList<QStringList>{{"23:59", "say hi", "ticked"}}));
    QVERIFY(in<QLineEdit>(c, "txtCommand")->text().isEmpty() && in<QLineEdit>(c, "txtMinute")->text() == "00");

    b.list("Commands")->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    b.clickRow("Commands", 0);
    QVERIFY(b.press("Command7"));
    QCOMPARE(in<QLineEdit>(c, "txtCommand")->text(), QString("say hi"));
    QCOMPARE(in<QLineEdit>(c, "txtHour")->text() + ":" + in<QLineEdit>(c, "txtMinute")->text(), QString("23:59"));
    in<QLineEdit>(c, "txtMinute")->setText("58");
    in<QPushButton>(c, "cmdOK")->click();
    // OK ticks the row it edited again.
    QCOMPARE(b.rows("Commands"), (QList<QStringList>{{"23:58", "say hi", "ticked"}}));
}

void TestModWindow::deleteWhileEditorIsOpen_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("edit");
    QTest::addColumn<QByteArray>("remove");
    QTest::addColumn<QByteArray>("textBox");

    QTest::newRow("messages") << 2 << QByteArray("Messages") << QByteArray("messages.cfg") << ThreeMessages
                              << QByteArray("Command6") << QByteArray("Command3") << QByteArray("txtText");
    QTest::newRow("commands") << 3 << QByteArray("Commands") << QByteArray("commands.cfg") << ThreeCommands
                              << QByteArray("Command7") << QByteArray("Command8") << QByteArray("txtCommand");
}

void TestModWindow::deleteWhileEditorIsOpen()
{
    QFETCH(int, tab);
    QFETCH(QByteArray, list);
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, edit);
    QFETCH(QByteArray, remove);
    QFETCH(QByteArray, textBox);

    Builder b;
    writeFile(b.path(file), content);
    b.start();
    b.find<QTabBar>("TabStrip1")->setCurrentIndex(tab);
    const QList<QStringList> before = b.rows(list);
    QDialog* editor = tab == 2 ? b.editor("MsjForm") : b.editor("ComForm");

    b.clickRow(list, 1);
    QVERIFY(b.press(edit));
    QVERIFY(editor->isVisible());
    editor->findChild<QLineEdit*>(textBox)->setText("typed into the editor");
    QVERIFY(b.press(remove));
    // The editor of the removed row is gone, so its OK cannot reach row 3.
    QVERIFY(!editor->isVisible());
    QCOMPARE(b.rows(list), (QList<QStringList>{before[0], before[2]}));
    QVERIFY(b.find<QLineEdit>(tab == 2 ? "Text15" : "Text17")->text().isEmpty());
    QVERIFY(!b.press(edit) && !b.press(remove));

    // The next Add New adds a row and leaves the others alone.
    QVERIFY(b.press(tab == 2 ? "Command4" : "Command5"));
    editor->findChild<QLineEdit*>(textBox)->setText("new one");
    editor->findChild<QPushButton*>("cmdOK")->click();
    const QList<QStringList> after = b.rows(list);
    QCOMPARE(after.size(), 3);
    QCOMPARE(after[0], before[0]);
    QCOMPARE(after[1], before[2]);
    QVERIFY(after[2].contains("new one"));
}

void TestModWindow::mapFixEditorAndFileNames()
{
    Builder b;
    writeFile(b.path("dmmohdm6.dmf"), "Map: dm/mohdm6\r\nAuthor: a\r\nDescription: on disk\r\nModel: m.tik\r\n"
                                      "Origin: 0 0 0\r\nAngle: 0\r\nVisibility: show\r\nApply: 1\r\n");
    b.start();
    b.find<QTabBar>("TabStrip1")->setCurrentIndex(1);
    QDialog* f = b.editor("FixForm");

    auto addFix = [&](const QString& map, const QString& description) {
        QVERIFY(b.press("Command9"));
        QVERIFY(f->isVisible());
        QVERIFY(in<QLineEdit>(f, "txtMap")->text().isEmpty() && in<QLineEdit>(f, "txtFilename")->text().isEmpty() &&
                in<QRadioButton>(f, "optShow")->isChecked());
        in<QLineEdit>(f, "txtMap")->setText(map);
        in<QLineEdit>(f, "txtAuthor")->setText("Op");
        in<QLineEdit>(f, "txtDescription")->setText(description);
        in<QLineEdit>(f, "txtModel")->setText("static/crate.tik");
        in<QLineEdit>(f, "txtOrigin")->setText("100 -200 32");
        in<QLineEdit>(f, "txtAngle")->setText("90");
        in<QRadioButton>(f, "optHide")->setChecked(true);
        in<QPushButton>(f, "cmdOK")->click();
        QVERIFY(!f->isVisible());
    };
    // Two new fixes for one map in one run, while the first name is on disk.
    addFix("dm/mohdm6", "first new");
    addFix("dm/mohdm6", "second new");
    QVERIFY(b.prompter.shown.isEmpty());
    addFix("..\\..\\outside map", "escape attempt");
    QCOMPARE(b.prompter.shown.size(), 1);
    QCOMPARE(b.prompter.shown[0].title, QString("Warning!"));
    QCOMPARE(b.prompter.shown[0].text,
             QString("You haven't selected a path for your map ('dm/' or 'obj/'). Fix won't get applied."));

    QStringList names;
    for (const MapFixEntry& e : b.w->project().mapFixes())
        names << e.filename;
    QCOMPARE(names.mid(0, 3), (QStringList{"dmmohdm6.dmf", "dmmohdm61.dmf", "dmmohdm62.dmf"}));
    QVERIFY2(!names[3].contains('/') && !names[3].contains('\\') && !names[3].contains("..") &&
                 names[3].endsWith(".dmf"),
             qPrintable(names[3]));
    QCOMPARE(b.rowTexts("MapFixes", 1), (QStringList{"dm/mohdm6", "Op", "first new", "static/crate.tik", "100 -200 32",
                                                     "90", "hide", "dmmohdm61.dmf", "clear"}));

    // Edit keeps the row and its file even when the map changes.
    b.clickRow("MapFixes", 1);
    QVERIFY(b.press("Command10"));
    QCOMPARE(in<QLineEdit>(f, "txtDescription")->text(), QString("first new"));
    QVERIFY(in<QRadioButton>(f, "optHide")->isChecked());
    in<QLineEdit>(f, "txtMap")->setText("dm/mohdm4");
    in<QPushButton>(f, "cmdOK")->click();
    QCOMPARE(b.rowTexts("MapFixes", 1)[0], QString("dm/mohdm4"));
    QCOMPARE(b.rowTexts("MapFixes", 1)[7], QString("dmmohdm61.dmf"));
    QVERIFY(!b.find("Command10")->isVisible());

    // Add New after a row click starts empty: the new row gets a file of its own.
    b.clickRow("MapFixes", 0);
    addFix("dm/mohdm6", "third new");
    QCOMPARE(b.w->project().mapFixes().last().filename, QString("dmmohdm63.dmf"));
    QCOMPARE(b.rowTexts("MapFixes", 0)[2], QString("on disk"));

    b.list("MapFixes")->topLevelItem(1)->setCheckState(0, Qt::Checked);
    b.w->close();
    QCOMPARE(readFile(b.path("dmmohdm61.dmf")),
             QByteArray("Map: dm/mohdm4\r\nAuthor: Op\r\nDescription: first new\r\nModel: static/crate.tik\r\n"
                        "Origin: 100 -200 32\r\nAngle: 90\r\nVisibility: hide\r\nApply: 1\r\n"));
    QCOMPARE(QDir(b.dir.path()).entryList({"*.dmf"}).size(), 5);
    QVERIFY(QFileInfo::exists(b.path(names[3])));
}

void TestModWindow::mapFixEditorRefusesWhatBreaksTheScript_data()
{
    QTest::addColumn<bool>("editRow");  // edit the loaded fix, else add a new one
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("origin");
    QTest::addColumn<QString>("angle");
    QTest::addColumn<QString>("refusal");  // empty: saved; the texts are the project test's

    QTest::newRow("edit, origin and angle")
        << true << "m.tik"
        << "1 2 3)"
        << "90;"
        << "Map fix 1 (dm/mohdm6 on disk): the origin must be three numbers separated by blanks.\n"
           "Map fix 1 (dm/mohdm6 on disk): the angle must be a number.";
    QTest::newRow("new, signed numbers are fine") << false << "static/crate.tik"
                                                  << "+1 -2 +3"
                                                  << "+90" << QString();
}

void TestModWindow::mapFixEditorRefusesWhatBreaksTheScript()
{
    QFETCH(bool, editRow);
    QFETCH(QString, model);
    QFETCH(QString, origin);
    QFETCH(QString, angle);
    QFETCH(QString, refusal);
    Builder b;
    writeFile(b.path("dmmohdm6.dmf"), "Map: dm/mohdm6\r\nAuthor: a\r\nDescription: on disk\r\nModel: m.tik\r\n"
                                      "Origin: 0 0 0\r\nAngle: 0\r\nVisibility: show\r\nApply: 1\r\n");
    b.start();
    b.find<QTabBar>("TabStrip1")->setCurrentIndex(1);
    const QList<QStringList> before = b.rows("MapFixes");
    QDialog* f = b.editor("FixForm");
    if (editRow) {
        b.clickRow("MapFixes", 0);
        QVERIFY(b.press("Command10"));
    } else {
        QVERIFY(b.press("Command9"));
        in<QLineEdit>(f, "txtMap")->setText("dm/mohdm6");
        in<QLineEdit>(f, "txtDescription")->setText("new");
    }
    in<QLineEdit>(f, "txtModel")->setText(model);
    in<QLineEdit>(f, "txtOrigin")->setText(origin);
    in<QLineEdit>(f, "txtAngle")->setText(angle);
    in<QPushButton>(f, "cmdOK")->click();

    if (refusal.isEmpty()) {
        QVERIFY(b.prompter.shown.isEmpty());
        QVERIFY(!f->isVisible());
        QCOMPARE(b.rowTexts("MapFixes", 1).mid(3, 3), (QStringList{model, origin, angle}));
        return;
    }
    QCOMPARE(b.prompter.shown.size(), 1);
    QCOMPARE(b.prompter.shown[0].icon, Prompter::Icon::Warning);
    QCOMPARE(b.prompter.shown[0].text, "The fix was not saved. Please correct it first:\n" + refusal);
    // Nothing saved, and the editor still holds what was typed.
    QCOMPARE(b.rows("MapFixes"), before);
    QVERIFY(f->isVisible());
    QCOMPARE(in<QLineEdit>(f, "txtModel")->text(), model);
}

void TestModWindow::buildFromTheWindow()
{
    Builder b;
    writeFile(b.path("skelvar.dcf"), "Description: Team balance\r\nScript: teambalance.scr\r\nRun: 0\r\n" + Sep +
                                         "Description: Map vote\r\nScript: mapvote.scr\r\nRun: 0\r\n" + Sep);
    writeFile(b.path("skelvar.precache"), "main:\r\nexec global/skelvar.scr\r\nend\r\n");
    b.start();
    QTabBar* tabs = b.find<QTabBar>("TabStrip1");

    b.find<QCheckBox>("Check2")->click();
    tabs->setCurrentIndex(4);
    b.find<QCheckBox>("Check6")->click();
    b.list("Compatibility")->topLevelItem(0)->setCheckState(0, Qt::Checked);

    tabs->setCurrentIndex(2);
    QDialog* m = b.editor("MsjForm");
    QVERIFY(b.press("Command4"));
    in<QRadioButton>(m, "optPeriodic")->setChecked(true);
    in<QLineEdit>(m, "txtMinutes")->setText("10");
    in<QRadioButton>(m, "optLow")->setChecked(true);
    in<QLineEdit>(m, "txtText")->setText("Welcome");
    in<QPushButton>(m, "cmdOK")->click();
    QVERIFY(b.press("Command4"));
    in<QLineEdit>(m, "txtHour")->setText("07");
    in<QLineEdit>(m, "txtMinute")->setText("05");
    in<QRadioButton>(m, "optHigh")->setChecked(true);
    in<QLineEdit>(m, "txtText")->setText("Restart soon");
    in<QPushButton>(m, "cmdOK")->click();

    tabs->setCurrentIndex(3);
    QVERIFY(b.press("Command5"));
    in<QLineEdit>(b.editor("ComForm"), "txtCommand")->setText("map dm/mohdm6");
    in<QLineEdit>(b.editor("ComForm"), "txtHour")->setText("12");
    in<QLineEdit>(b.editor("ComForm"), "txtMinute")->setText("30");
    in<QPushButton>(b.editor("ComForm"), "cmdOK")->click();

    tabs->setCurrentIndex(1);
    QDialog* f = b.editor("FixForm");
    QVERIFY(b.press("Command9"));
    in<QLineEdit>(f, "txtMap")->setText("dm/mohdm6");
    in<QLineEdit>(f, "txtAuthor")->setText("Op");
    in<QLineEdit>(f, "txtDescription")->setText("Crate on the roof");
    in<QLineEdit>(f, "txtModel")->setText("static/crate.tik");
    in<QLineEdit>(f, "txtOrigin")->setText("100 -200 32");
    in<QLineEdit>(f, "txtAngle")->setText("90");
    in<QRadioButton>(f, "optHide")->setChecked(true);
    in<QPushButton>(f, "cmdOK")->click();
    b.list("MapFixes")->topLevelItem(0)->setCheckState(0, Qt::Checked);  // new fixes start unticked

    QVERIFY(b.press("Command1"));
    QVERIFY2(b.prompter.shown.isEmpty(), b.prompter.shown.isEmpty() ? "" : qPrintable(b.prompter.shown[0].text));
    QCOMPARE(b.opened, QStringList{b.path("Generated Mod")});
    const ZipContent zc = readZip(b.path("Generated Mod/zzzzz-skelvar.pk3"));
    QCOMPARE(zc.names(), (QStringList{"global/DMprecache.scr", "global/skelvar.scr"}));
    QCOMPARE(zc.content("global/skelvar.scr"), smallFixtureScript());
    QCOMPARE(zc.content("global/DMprecache.scr"), QByteArray("main:\r\nexec global/skelvar.scr\r\nend\r\n"));
    QVERIFY(!QFileInfo::exists(b.path("global")));

    // A failed build is told in a message box and keeps the archive.
    const QByteArray archive = readFile(b.path("Generated Mod/zzzzz-skelvar.pk3"));
    QFile::remove(b.path("skelvar.precache"));
    QVERIFY(b.press("Command1"));
    QCOMPARE(b.prompter.shown.size(), 1);
    QCOMPARE(b.prompter.shown[0].icon, Prompter::Icon::Critical);
    QCOMPARE(b.prompter.shown[0].title, QString("Build Mod"));
    QVERIFY(b.prompter.shown[0].text.contains("skelvar.precache"));
    QCOMPARE(readFile(b.path("Generated Mod/zzzzz-skelvar.pk3")), archive);
    QCOMPARE(b.opened.size(), 1);
}

void TestModWindow::everyListShowsEightRowsAtOneSize()
{
    Builder b;
    // One row in each list, so its real height can be measured.
    writeFile(b.path("skelvar.dcf"), TwoScripts);
    writeFile(b.path("messages.cfg"), ThreeMessages);
    writeFile(b.path("commands.cfg"), ThreeCommands);
    writeFile(b.path("dmmohdm6.dmf"), "Map: dm/mohdm6\r\nAuthor: a\r\nDescription: d\r\nModel: m.tik\r\n"
                                      "Origin: 0 0 0\r\nAngle: 0\r\nVisibility: show\r\nApply: 1\r\n");
    // A large font, as an operator may have set: the lists' default height would show fewer rows.
    const QFont normal = QApplication::font();
    QFont large = normal;
    large.setPixelSize(30);
    QApplication::setFont(large);
    auto restore = qScopeGuard([&] { QApplication::setFont(normal); });
    b.start();
    QVERIFY(QTest::qWaitForWindowExposed(b.w.get()));
    const QSize start = b.w->size();
    QTabBar* tabs = b.find<QTabBar>("TabStrip1");
    const QList<std::pair<int, const char*>> lists{
        {1, "MapFixes"}, {2, "Messages"}, {3, "Commands"}, {4, "Compatibility"}};
    for (int tab : {1, 2, 3, 4, 0, 4, 3, 2, 1}) {
        tabs->setCurrentIndex(tab);
        QCoreApplication::processEvents();
        QCOMPARE(b.w->size(), start);
    }
    for (const auto& [tab, name] : lists) {
        tabs->setCurrentIndex(tab);
        QCoreApplication::processEvents();
        QTreeWidget* list = b.list(name);
        const int rowHeight = list->visualItemRect(list->topLevelItem(0)).height();
        QVERIFY(rowHeight > 0);
        QVERIFY2(
            8 * rowHeight <= list->viewport()->height(),
            qPrintable(QString("%1: row %2, viewport %3").arg(name).arg(rowHeight).arg(list->viewport()->height())));
    }
}

QTEST_MAIN(TestModWindow)
#include "test_modwindow.moc"
