#include "SkelvarRcon/store/settingsform.h"
#include "SkelvarRcon/window/monitorwindow.h"
#include "tests/support/files.h"
#include "tests/support/gameserverdouble.h"
#include "tests/support/monitorparts.h"
#include "tests/support/scriptedprompter.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <memory>

using namespace skelvar;
using namespace skelvar::rcon;
using skelvar::test::GameServerDouble;
using skelvar::test::ScriptedPrompter;

using skelvar::test::readFile;
using skelvar::test::writeFile;

Q_DECLARE_METATYPE(skelvar::rcon::EditableFile)

namespace {
constexpr int kWait = 40;

}  // namespace

class TestWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    ScriptedPrompter prompter;

    MonitorOptions options() const
    {
        MonitorOptions o;
        o.folder = dir->path();
        o.replyWaitMs = kWait;
        o.timing = {5, 5, 30};
        o.pacing = {RconTransport::kEnginePacing.burst, test::kTestRatePeriodMs};
        return o;
    }
    template <typename W>
    static W* find(QWidget& w, const char* name)
    {
        W* c = w.findChild<W*>(QString::fromLatin1(name));
        if (!c)
            qWarning("no control %s", name);
        return c;
    }
    void pointAt(MonitorWindow& w, const GameServerDouble& server)
    {
        find<QLineEdit>(w, "txtSVR")->setText(server.host());
        find<QLineEdit>(w, "txtPORT")->setText(server.portText());
        find<QLineEdit>(w, "txtPWD")->setText(server.password());
    }
    // Closes the window through its exit procedure.
    void closeWindow(MonitorWindow& w)
    {
        w.close();
        QTRY_VERIFY_WITH_TIMEOUT(w.monitor().exited(), 5000);
        QTRY_VERIFY(!w.isVisible());
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        prompter = ScriptedPrompter();
    }

    void opensWithTheDefaults()
    {
        MonitorWindow w(options(), &prompter);
        w.show();
        QCOMPARE(w.windowTitle(), QString("Rcon Skelvar 2.1"));
        auto* tabs = find<QTabBar>(w, "TabStrip1");
        QCOMPARE(tabs->count(), 4);
        QCOMPARE(tabs->tabText(0), QString("Main Setup"));
        QCOMPARE(tabs->tabText(3), QString("Penalties Management"));
        // Every stored value has its control, showing the default.
        for (const Settings::SettingDef& spec : Settings::definitions()) {
            QWidget* c = w.findChild<QWidget*>(QString::fromLatin1(spec.control));
            QVERIFY2(c, spec.control);
            if (auto* e = qobject_cast<QLineEdit*>(c))
                QCOMPARE(e->text(), QString::fromLatin1(spec.defaultValue));
            else if (auto* b = qobject_cast<QAbstractButton*>(c))
                QVERIFY2(b->isChecked() == (QByteArray(spec.defaultValue) != "0"), spec.control);
        }
        QCOMPARE(find<QLineEdit>(w, "txtPORT")->text(), QString("12203"));
        QVERIFY(find<QRadioButton>(w, "Option3_0")->isChecked());  // row 1: Kick
        QVERIFY(find<QRadioButton>(w, "Option5_6")->isChecked());  // row 8: Warning
        QCOMPARE(find<QPushButton>(w, "Command1")->text(), QString("Start"));
        QVERIFY(!find<QPushButton>(w, "Command5")->isVisible());
        QVERIFY(!find<QWidget>(w, "Alert1")->isEnabled());  // Check1 is not ticked
        QVERIFY(find<QWidget>(w, "Alert5")->isEnabled());   // Check6 is
        QVERIFY(!find<QWidget>(w, "Text7")->isEnabled());   // Check2 is not
        QVERIFY(prompter.shown.isEmpty());
        closeWindow(w);
        // An exit with no file writes all 73 values.
        QCOMPARE(readFile(dir->filePath("rconskelvar.ini")).count('\x02'), 73);
    }

    // Other front ends name the values through the settings form: each of
    // its captions stands on the window's tab that holds the value.
    void theSettingsFormFollowsTheWindow()
    {
        MonitorWindow w(options(), &prompter);
        auto* tabs = find<QTabBar>(w, "TabStrip1");
        QCOMPARE(tabs->count(), settingsTabs().size());
        for (int i = 0; i < settingsTabs().size(); ++i) {
            const SettingsTab& tab = settingsTabs().at(i);
            QCOMPARE(tabs->tabText(i), tab.title);
            QWidget* page = find<QWidget>(w, qPrintable(QStringLiteral("Solapa_%1").arg(i)));
            QStringList captions;
            for (const QLabel* l : page->findChildren<QLabel*>()) {
                captions.append(l->text());
                captions.append(l->text().remove(QLatin1Char('/')).trimmed());  // "warnings  /" between two boxes
            }
            for (const QAbstractButton* b : page->findChildren<QAbstractButton*>())
                captions.append(b->text());
            for (const SettingsLine& line : tab.lines) {
                QVERIFY2(line.caption.isEmpty() || captions.contains(line.caption), qPrintable(line.caption));
                for (const SettingsField& f : line.fields) {
                    QWidget* control = page->findChild<QWidget*>(f.control);
                    QVERIFY2(control, qPrintable(tab.title + ": " + f.control));
                    QVERIFY2(f.caption.isEmpty() || captions.contains(f.caption), qPrintable(f.caption));
                    if (!f.enabledWith.isEmpty())
                        QVERIFY(find<QWidget>(w, qPrintable(f.enabledWith))->isAncestorOf(control));
                }
            }
        }
        closeWindow(w);
    }

    void settingsSurviveARestart()
    {
        {
            MonitorWindow w(options(), &prompter);
            find<QLineEdit>(w, "txtMin")->setText("5");
            find<QLineEdit>(w, "Alert3")->setText("a, b $name \"q\"");
            find<QRadioButton>(w, "Option4_4")->setChecked(true);  // row 4: ban
            find<QLineEdit>(w, "Text3_8")->setText("7");
            find<QRadioButton>(w, "Option5_7")->setChecked(true);  // row 9: warning
            find<QCheckBox>(w, "Cheats_2")->setChecked(false);
            find<QCheckBox>(w, "Check3")->setChecked(false);
            closeWindow(w);
        }
        MonitorWindow w(options(), &prompter);
        QCOMPARE(find<QLineEdit>(w, "txtMin")->text(), QString("5"));
        QCOMPARE(find<QLineEdit>(w, "Alert3")->text(), QString("a, b $name \"q\""));
        QVERIFY(find<QRadioButton>(w, "Option4_4")->isChecked());
        QVERIFY(!find<QRadioButton>(w, "Option3_4")->isChecked());
        QCOMPARE(find<QLineEdit>(w, "Text3_8")->text(), QString("7"));
        QVERIFY(find<QRadioButton>(w, "Option5_7")->isChecked());
        QVERIFY(!find<QCheckBox>(w, "Cheats_2")->isChecked());
        QVERIFY(!find<QCheckBox>(w, "Check3")->isChecked());
        QCOMPARE(w.monitor().settings.penaltyChoice(4), Settings::Penalty::Ban);
        closeWindow(w);
    }

    void consoleSendsWhatTheOperatorTyped_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("received");
        QTest::newRow("rcon prefix removed") << "rcon status"
                                             << "status";
        QTest::newRow("capital RCON kept") << "RCON status"
                                           << "RCON status";
        QTest::newRow("plain command") << "say hi"
                                       << "say hi";
        QTest::newRow("status query") << "getstatus"
                                      << "getstatus";
    }
    void consoleSendsWhatTheOperatorTyped()
    {
        QFETCH(QString, typed);
        QFETCH(QString, received);
        GameServerDouble server;
        server.setRateLimit(test::kTestRatePeriodMs);
        server.setReply(received, {GameServerDouble::datagram("answer\n")});
        MonitorWindow w(options(), &prompter);
        pointAt(w, server);
        auto* input = find<QLineEdit>(w, "Text1");
        auto* output = find<QPlainTextEdit>(w, "txtOutput");
        output->setPlainText("before\r\n");
        input->setText(typed);
        QTest::keyClick(input, Qt::Key_Return);
        QCOMPARE(input->text(), QString());
        QVERIFY(!input->isEnabled());  // disabled while the request waits
        QTRY_COMPARE(server.commands(), QStringList{received});
        QTRY_VERIFY(output->toPlainText().endsWith("answer\n"));
        QVERIFY(input->isEnabled());
        QCOMPARE(find<QLineEdit>(w, "Text4")->text(), QString());
        closeWindow(w);
    }

    void enterOnEmptyConsoleDoesNothing()
    {
        GameServerDouble server;
        server.setRateLimit(test::kTestRatePeriodMs);
        MonitorWindow w(options(), &prompter);
        pointAt(w, server);
        QTest::keyClick(find<QLineEdit>(w, "Text1"), Qt::Key_Return);
        QTest::qWait(kWait * 2);
        QVERIFY(server.commands().isEmpty());
        closeWindow(w);
    }

    void copyAndClear()
    {
        MonitorWindow w(options(), &prompter);
        auto* output = find<QPlainTextEdit>(w, "txtOutput");
        output->setPlainText("first line\nsecond");
        find<QPushButton>(w, "Command3")->click();
        QCOMPARE(QApplication::clipboard()->text(), QString("first line\nsecond"));
        QTextCursor c = output->textCursor();
        c.setPosition(6);
        c.setPosition(10, QTextCursor::KeepAnchor);
        output->setTextCursor(c);
        find<QPushButton>(w, "Command3")->click();
        QCOMPARE(QApplication::clipboard()->text(), QString("line"));
        find<QPushButton>(w, "Command4")->click();
        QCOMPARE(output->toPlainText(), QString());
        closeWindow(w);
    }

    void tabsAndListButtons()
    {
        MonitorWindow w(options(), &prompter);
        w.show();
        auto* tabs = find<QTabBar>(w, "TabStrip1");
        const QStringList rowControls{"Option1",  "Option2",  "Text2",    "Command5",  "Command6",
                                      "Command7", "Command8", "Command9", "Command10", "Command11"};
        const QStringList convertButtons{"Command14", "Command15"};
        w.monitor().ui.setVisible(rowControls + convertButtons, true);
        emit tabs->tabBarClicked(0);  // the tab already shown
        for (const QString& c : rowControls + convertButtons)
            QVERIFY2(w.monitor().ui.isVisible(c), qPrintable(c));
        QVERIFY(find<QWidget>(w, "Command5")->isVisible());
        emit tabs->tabBarClicked(2);
        QCOMPARE(w.currentTab(), 2);
        QVERIFY(find<QWidget>(w, "Solapa_2")->isVisible());
        QVERIFY(!find<QWidget>(w, "Solapa_0")->isVisible());
        for (const QString& c : rowControls)
            QVERIFY2(!w.monitor().ui.isVisible(c), qPrintable(c));
        // The convert buttons are not among the controls a tab change hides.
        for (const QString& c : convertButtons)
            QVERIFY2(w.monitor().ui.isVisible(c), qPrintable(c));
        closeWindow(w);
    }

    void listButtonsActOnTheirRow_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("warnings");
        QTest::addColumn<QStringList>("kicks");
        QTest::addColumn<QStringList>("bans");
        const QStringList w{"10.0.0.1"}, k{"10.0.0.2"}, b{"10.1.2.3"};
        QTest::newRow("Remove Warning") << "Command11" << QStringList{} << k << b;
        QTest::newRow("warning: Convert to Ban")
            << "Command14" << QStringList{} << k << QStringList{"10.0.0.1", "10.1.2.3"};
        QTest::newRow("Remove Kick") << "Command10" << w << QStringList{} << b;
        QTest::newRow("kick: Convert to Ban")
            << "Command15" << w << QStringList{} << QStringList{"10.0.0.2", "10.1.2.3"};
        QTest::newRow("Remove Ban") << "Command7" << w << k << QStringList{};
        QTest::newRow("Ban Subrank") << "Command8" << w << k << QStringList{"10.1.2.xxx"};
        QTest::newRow("Ban Provider") << "Command9" << w << k << QStringList{"10.1.xxx.xxx"};
    }
    void listButtonsActOnTheirRow()
    {
        QFETCH(QString, button);
        QFETCH(QStringList, warnings);
        QFETCH(QStringList, kicks);
        QFETCH(QStringList, bans);
        MonitorWindow w(options(), &prompter);
        w.show();
        Monitor& m = w.monitor();
        m.lists.warnings().add({"10.0.0.1", "w", "r", "2026-01-01", ""});
        m.lists.kicks().add({"10.0.0.2", "k", "r", "2026-01-01", ""});
        m.lists.bans().add({"10.1.2.3", "b", "r", "2026-01-01", ""});
        emit find<QTabBar>(w, "TabStrip1")->tabBarClicked(3);
        for (const char* name : {"Warnings", "Kicks", "Bans"}) {
            auto* view = find<QTreeView>(w, name);
            view->setCurrentIndex(view->model()->index(0, 0));
        }
        auto* b = w.findChild<QPushButton*>(button);
        QVERIFY(b);
        b->click();
        auto ips = [](const RecordList& list) {
            QStringList out;
            for (int i = 0; i < list.size(); ++i)
                out << list.at(i).ip;
            return out;
        };
        QCOMPARE(ips(m.lists.warnings()), warnings);
        QCOMPARE(ips(m.lists.kicks()), kicks);
        QCOMPARE(ips(m.lists.bans()), bans);
        closeWindow(w);
    }

    void everyListShowsEightRowsAndTheSizeHolds()
    {
        MonitorWindow w(options(), &prompter);
        Monitor& m = w.monitor();
        for (int i = 0; i < 10; ++i) {
            const QString ip = QString("10.0.0.%1").arg(i);
            m.players.add({QString::number(i), "48", QString("p%1").arg(i), ip, "25000", "", ""});
            m.lists.warnings().add({ip, "w", "r", "2026-01-01", ""});
            m.lists.kicks().add({ip, "k", "r", "2026-01-01", ""});
            m.lists.bans().add({ip, "b", "r", "2026-01-01", ""});
        }
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QApplication::processEvents();
        const QSize start = w.size();
        auto* tabs = find<QTabBar>(w, "TabStrip1");
        QSet<QString> checked;
        for (int tab : {0, 3, 1, 2, 0, 3}) {
            emit tabs->tabBarClicked(tab);
            QApplication::processEvents();
            QCOMPARE(w.size(), start);
            for (QTreeView* v : w.findChildren<QTreeView*>()) {
                if (!v->isVisible())
                    continue;
                const QRect eighth = v->visualRect(v->model()->index(7, 0));
                QVERIFY2(!eighth.isEmpty() && v->viewport()->rect().contains(eighth), qPrintable(v->objectName()));
                checked.insert(v->objectName());
            }
        }
        QCOMPARE(checked, (QSet<QString>{"Players", "Warnings", "Kicks", "Bans"}));
        closeWindow(w);
    }

    void loggingAndSilentMode()
    {
        MonitorWindow w(options(), &prompter);
        auto* logea = find<QCheckBox>(w, "Logea");
        auto* silent = find<QCheckBox>(w, "Silent");
        silent->setChecked(true);
        logea->setChecked(false);
        QVERIFY(!silent->isChecked());
        QVERIFY(!silent->isEnabled());
        logea->setChecked(true);
        QVERIFY(silent->isEnabled());
        QVERIFY(!silent->isChecked());
        closeWindow(w);
    }

    void focusLossChecks_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("title");
        QTest::newRow("patrol below 30") << "MinPolt"
                                         << "12"
                                         << "30"
                                         << "";
        QTest::newRow("patrol 45 stays") << "MinPolt"
                                         << "45"
                                         << "45"
                                         << "";
        QTest::newRow("patrol not a number") << "MinPolt"
                                             << "abc"
                                             << "30"
                                             << "";
        QTest::newRow("no password") << "txtPWD"
                                     << ""
                                     << ""
                                     << "No rcon password provided!!";
        QTest::newRow("no tag") << "txtTAG"
                                << ""
                                << ""
                                << "No tag provided!!";
        QTest::newRow("no private password") << "txtPRP"
                                             << ""
                                             << ""
                                             << "No password provided!!";
    }
    void focusLossChecks()
    {
        QFETCH(QString, control);
        QFETCH(QString, typed);
        QFETCH(QString, after);
        QFETCH(QString, title);
        MonitorWindow w(options(), &prompter);
        find<QCheckBox>(w, "Check1")->setChecked(true);
        find<QCheckBox>(w, "Check5")->setChecked(true);
        auto* edit = w.findChild<QLineEdit*>(control);
        edit->setText(typed);
        QFocusEvent out(QEvent::FocusOut);
        QApplication::sendEvent(edit, &out);
        QCOMPARE(edit->text(), after);
        QCOMPARE(prompter.titles(), title.isEmpty() ? QStringList{} : QStringList{title});
        if (control == "txtTAG") {
            QVERIFY(!find<QCheckBox>(w, "Check1")->isChecked());
            QVERIFY(!find<QWidget>(w, "Alert1")->isEnabled());
        }
        if (control == "txtPRP") {
            QVERIFY(!find<QCheckBox>(w, "Check5")->isChecked());
            QVERIFY(!find<QWidget>(w, "Alert4")->isEnabled());
        }
        closeWindow(w);
    }

    void deleteLogAsksFirst()
    {
        const QString log = dir->filePath("skelvar.log");
        for (bool yes : {false, true}) {
            writeFile(log, "2026-01-01 10:00:00 x\r\n");
            MonitorWindow w(options(), &prompter);
            prompter.answers = {yes};
            w.monitor().deleteLog();
            QCOMPARE(prompter.shown.last().title, QString("Delete Log File"));
            QCOMPARE(prompter.shown.last().text, QString("Are you sure you want to delete the log file??"));
            QVERIFY(QFile::exists(log));
            QCOMPARE(readFile(log).isEmpty(), yes);
            closeWindow(w);
        }
    }

    void editorFilesAreCreatedWhenMissing_data()
    {
        QTest::addColumn<EditableFile>("file");
        QTest::addColumn<QString>("name");
        QTest::newRow("log") << EditableFile::Log << "skelvar.log";
        QTest::newRow("suspicious skins") << EditableFile::SuspiciousSkins << "skins.txt";
        QTest::newRow("reserved skins") << EditableFile::ReservedSkins << "reserved.txt";
    }
    void editorFilesAreCreatedWhenMissing()
    {
        QFETCH(EditableFile, file);
        QFETCH(QString, name);
        Monitor m(prompter, options());
        const QString path = dir->filePath(name);
        QCOMPARE(m.prepareForEditor(file), QFileInfo(path).absoluteFilePath());
        QVERIFY(QFile::exists(path));
        QCOMPARE(readFile(path), QByteArray());
        writeFile(path, "kept\r\n");
        m.prepareForEditor(file);
        QCOMPARE(readFile(path), QByteArray("kept\r\n"));
    }

    void logLines()
    {
        const QDateTime at(QDate(2026, 3, 1), QTime(9, 5, 7));
        QCOMPARE(SkelvarLog::line("Cheat Detected!! Player: Bob", at),
                 QByteArray("2026-03-01 09:05:07 Cheat Detected!! Player: Bob\r\n"));
        QCOMPARE(SkelvarLog::line("two\r\nlines", at), QByteArray("2026-03-01 09:05:07 two lines\r\n"));
        SkelvarLog log(dir->filePath("skelvar.log"));
        QVERIFY(log.append("one", at));
        QVERIFY(log.append("two", at));
        QCOMPARE(readFile(log.path()), QByteArray("2026-03-01 09:05:07 one\r\n2026-03-01 09:05:07 two\r\n"));

        // Without a time of its own a line takes the monitor's clock.
        MonitorOptions o = options();
        o.clock = Clock([] { return QDateTime(QDate(2025, 12, 31), QTime(23, 59, 58)); });
        Monitor m(prompter, o);
        QVERIFY(m.log.append("three"));
        QVERIFY(readFile(m.log.path()).endsWith("2025-12-31 23:59:58 three\r\n"));
    }

    void startAndStopButtons()
    {
        GameServerDouble server;
        server.setRateLimit(test::kTestRatePeriodMs);
        server.setVariable("sv_skelvar", "0");
        MonitorWindow w(options(), &prompter);
        pointAt(w, server);
        auto* start = find<QPushButton>(w, "Command1");
        start->click();
        QCOMPARE(start->text(), QString("Scanning"));
        QVERIFY(!find<QWidget>(w, "txtSVR")->isEnabled() || !start->isEnabled());
        QTRY_VERIFY(w.monitor().session.claimed());
        // Stop is usable again between two requests of the engine.
        QTRY_VERIFY(find<QPushButton>(w, "Command13")->isEnabled());
        server.clearReceived();
        find<QPushButton>(w, "Command13")->click();
        QTRY_VERIFY(server.commands().size() >= 3);
        QTRY_COMPARE(server.commands().mid(server.commands().size() - 3),
                     (QStringList{"set sv_skelvar 0", "set nextmap \"\"", "set resetvalue 0"}));
        QTRY_COMPARE(start->text(), QString("Start"));
        QTRY_VERIFY(start->isEnabled());
        QCOMPARE(find<QLabel>(w, "Label21")->text(), QString("Server not running!!"));
        closeWindow(w);
    }

    void scanOnStartAndExitDuringSession()
    {
        GameServerDouble server;
        server.setRateLimit(test::kTestRatePeriodMs);
        server.setVariable("sv_skelvar", "0");
        {
            Settings s;
            s.setText("txtSVR", server.host());
            s.setText("txtPORT", server.portText());
            s.setText("txtPWD", server.password());
            s.setChecked("SoS", true);
            QVERIFY(s.save(dir->filePath("rconskelvar.ini")));
        }
        writeFile(dir->filePath("bans.lst"), "1.2.3.4\x02n\x02r\x02"
                                             "2026-01-01\x02\r\n");
        MonitorWindow w(options(), &prompter);
        // No click: the session starts by itself.
        QTRY_VERIFY(w.monitor().session.claimed());
        server.clearReceived();
        QFile::remove(dir->filePath("bans.lst"));
        closeWindow(w);
        // The server is released before the lists are written.
        QCOMPARE(server.commands().mid(server.commands().size() - 3),
                 (QStringList{"set sv_skelvar 0", "set nextmap \"\"", "set resetvalue 0"}));
        QCOMPARE(readFile(dir->filePath("bans.lst")), QByteArray("1.2.3.4\x02n\x02r\x02"
                                                                 "2026-01-01\x02\r\n"));
    }

    void listButtonsAndHandKick()
    {
        GameServerDouble server;
        server.setRateLimit(test::kTestRatePeriodMs);
        MonitorWindow w(options(), &prompter);
        w.show();
        pointAt(w, server);
        Monitor& m = w.monitor();
        m.players.add({"3", "48", "Big Name", "10.1.2.3", "25000", "", ""});
        GameServerDouble::Player onServer;
        onServer.num = 3;
        onServer.name = "Big Name";
        onServer.ip = "10.1.2.3";
        server.setPlayers({onServer});
        m.lists.bans().add({"10.9.9.9", "x", "r", "2026-01-01", ""});
        m.lists.kicks().add({"10.8.8.8", "y", "r", "2026-01-01", ""});
        emit find<QTabBar>(w, "TabStrip1")->tabBarClicked(3);
        auto* bans = find<QTreeView>(w, "Bans");
        auto* kicks = find<QTreeView>(w, "Kicks");
        bans->setCurrentIndex(bans->model()->index(0, 0));
        emit bans->clicked(bans->currentIndex());
        kicks->setCurrentIndex(kicks->model()->index(0, 0));
        emit kicks->clicked(kicks->currentIndex());
        for (const char* shown : {"Command10", "Command15"})
            QVERIFY2(m.ui.isVisible(shown), shown);
        for (const char* hidden : {"Command7", "Command8", "Command9", "Command11", "Command14"})
            QVERIFY2(!m.ui.isVisible(hidden), hidden);
        find<QPushButton>(w, "Command15")->click();  // the kick becomes a ban
        QCOMPARE(m.lists.kicks().size(), 0);
        QCOMPARE(m.lists.bans().size(), 2);

        emit find<QTabBar>(w, "TabStrip1")->tabBarClicked(0);
        auto* players = find<QTreeView>(w, "Players");
        players->setCurrentIndex(players->model()->index(0, 0));
        emit players->clicked(players->currentIndex());
        QVERIFY(find<QPushButton>(w, "Command5")->isVisible());
        find<QPushButton>(w, "Command5")->click();
        // The slot is read again first: Players is as old as the last scan.
        QTRY_COMPARE(server.commands(), (QStringList{"status", "clientkick 3"}));
        QCOMPARE(m.lists.kicks().size(), 1);
        QCOMPARE(m.lists.kicks().at(0).reason, QString("Admin. Kick"));
        QCOMPARE(m.players.size(), 0);
        closeWindow(w);
    }

    void editOfThePortEndsTheSession()
    {
        GameServerDouble server;
        server.setRateLimit(test::kTestRatePeriodMs);
        server.setVariable("sv_skelvar", "0");
        MonitorWindow w(options(), &prompter);
        pointAt(w, server);
        find<QPushButton>(w, "Command1")->click();
        QTRY_VERIFY(w.monitor().session.claimed());
        QTRY_VERIFY(find<QWidget>(w, "txtPORT")->isEnabled());
        server.clearReceived();
        QTest::keyClick(find<QLineEdit>(w, "txtPORT"), Qt::Key_1);
        QTRY_VERIFY(!w.monitor().session.running() && server.commands().size() >= 3);
        QTRY_COMPARE(server.commands().mid(server.commands().size() - 3),
                     (QStringList{"set sv_skelvar 0", "set nextmap \"\"", "set resetvalue 0"}));
        QVERIFY(!w.monitor().session.running());
        closeWindow(w);
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
