#include "SkelvarRcon/store/settings.h"
#include "tests/support/files.h"
#include "tests/support/permissions.h"
#include "tests/support/scriptedprompter.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using skelvar::rcon::Alert;
using skelvar::rcon::Detection;
using skelvar::rcon::Settings;
using skelvar::rcon::SettingsLoad;
using Penalty = Settings::Penalty;

// A value as a test expects it after a load: its control and its text, or
// "1"/"0" for checks and options.
using Values = QList<std::pair<QString, QString>>;
// Reads one value through its named accessor, as text or "1"/"0".
using Accessor = std::function<QString(const Settings&)>;
Q_DECLARE_METATYPE(Values)
Q_DECLARE_METATYPE(Accessor)
Q_DECLARE_METATYPE(Detection)
Q_DECLARE_METATYPE(Penalty)

using skelvar::test::readFile;
using skelvar::test::writeFile;

namespace {

// The 73 default values in file order, as they appear in the file.
QList<QByteArray> defaultFields()
{
    QList<QByteArray> f = {
        "127.0.0.1", "12203", "kuTrob", "3",  "45", "1", "Warning: Possible non-optimized connection - Player: $name",
        "1",         "0",     "3",      "-1", "0",
    };
    for (int row = 1; row <= 7; ++row)
        f << "1"
          << "0"
          << "-1"
          << "0"
          << "0";
    f << "Cheat Detected!! Player: $name Cheat: $cheat IP: $IP"
      << "[MyClan]"
      << "KuTrob"
      << "Server will be private in $time seconds, public players please leave";
    f << "0"
      << "-1"
      << "0"
      << "0"
      << "0";  // private clients: Warning
    f << "0"
      << "0"
      << "-1"
      << "0"
      << "0";  // reserved skins: Kick
    f << "Warning: Public client using private slot. Player: $name"
      << "Warning: Public slot used by private player. Player: $name"
      << "Warning: Public client using reserved skin. Player: $name Skin: $skin"
      << "0"
      << "3"
      << "$ip was banned from this server on $date. Reason: $reason"
      << "0"
      << "0"
      << "160"
      << "4"
      << "Ping Kick: Ping>$ping on $scans consecutive scans - Player: $name"
      << "1";
    return f;
}

QByteArray line(const QList<QByteArray>& fields)
{
    QByteArray out;
    for (const QByteArray& f : fields)
        out += f + '\x02';
    return out + "\r\n";
}

// fields with 1-based positions replaced
QList<QByteArray> withValues(QList<QByteArray> fields, const QList<QPair<int, QByteArray>>& changes)
{
    for (const auto& [pos, value] : changes)
        fields[pos - 1] = value;
    return fields;
}

QString valueOf(const Settings& s, const QString& control)
{
    if (Settings::formOf(control) == Settings::Form::Text)
        return s.text(control);
    return s.isChecked(control) ? "1" : "0";
}

}  // namespace

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void defaultsWriteExactLine();
    void penaltyRows_data();
    void penaltyRows();
    void accessorsReadTheirControl_data();
    void accessorsReadTheirControl();
    void unknownNamesChangeNothing();
    void roundTripRestoresEveryValue_data();
    void roundTripRestoresEveryValue();
    void parseKeepsDefaultsForBadValues_data();
    void parseKeepsDefaultsForBadValues();
    void separatorsAndLineBreaksAreStripped();
    void optionGroupsAndChangeSignal();
    void wholeNumbers_data();
    void wholeNumbers();
    void missingFileGivesDefaults();
    void autosaveWritesAfterTheTurn();
    void failedWriteReportedOnceAndKeepsOldFile();
    void unreadableFileIsNeverOverwritten();
    void readOnlyFileIsNotReplacedByRoot();
};

void TestSettings::defaultsWriteExactLine()
{
    Settings s;
    QCOMPARE(s.serialize(), line(defaultFields()));
    QCOMPARE(s.serialize().count('\x02'), 73);
}

void TestSettings::penaltyRows_data()
{
    QTest::addColumn<Detection>("detection");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("position");  // of the enable box
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<Penalty>("choice");

    const Penalty kick = Penalty::Kick, warning = Penalty::Warning;
    QTest::newRow("1 no fog") << Detection::NoFog
                              << QStringList{"Cheats_0", "Option5_0", "Option3_0", "Option4_0", "Text3_7"} << 13 << true
                              << kick;
    QTest::newRow("2 white walls") << Detection::WhiteWalls
                                   << QStringList{"Cheats_1", "Option5_1", "Option3_1", "Option4_1", "Text3_1"} << 18
                                   << true << kick;
    QTest::newRow("3 wallhack") << Detection::Wallhack
                                << QStringList{"Cheats_2", "Option5_2", "Option3_2", "Option4_2", "Text3_3"} << 23
                                << true << kick;
    QTest::newRow("4 3rd person") << Detection::ThirdPerson
                                  << QStringList{"Cheats_3", "Option5_3", "Option3_4", "Option4_4", "Text3_8"} << 28
                                  << true << kick;
    QTest::newRow("5 aimbot") << Detection::Aimbot
                              << QStringList{"Cheats_4", "Option5_4", "Option3_5", "Option4_5", "Text3_9"} << 33 << true
                              << kick;
    QTest::newRow("6 glowing skins") << Detection::GlowingSkins
                                     << QStringList{"Cheats_5", "Option5_5", "Option3_6", "Option4_6", "Text3_10"} << 38
                                     << true << kick;
    QTest::newRow("7 binaries") << Detection::ModifiedBinaries
                                << QStringList{"Cheats_6", "Option5_8", "Option3_8", "Option4_8", "Text3_4"} << 43
                                << true << kick;
    QTest::newRow("8 private clients") << Detection::PrivateClients
                                       << QStringList{"Check1", "Option5_6", "Option3_3", "Option4_3", "Text3_0"} << 52
                                       << false << warning;
    QTest::newRow("9 reserved skins") << Detection::ReservedSkins
                                      << QStringList{"Check5", "Option5_7", "Option3_7", "Option4_7", "Text3_2"} << 57
                                      << false << kick;
}

void TestSettings::penaltyRows()
{
    QFETCH(Detection, detection);
    QFETCH(QStringList, names);
    QFETCH(int, position);
    QFETCH(bool, enabled);
    QFETCH(Penalty, choice);

    const auto n = Settings::rowNames(detection);
    QCOMPARE((QStringList{n.enable, n.warning, n.kick, n.ban, n.days}), names);
    // The row's five values sit together in the file, in this order.
    for (int k = 0; k < 5; ++k)
        QCOMPARE(Settings::indexOf(names[k]), position - 1 + k);

    Settings s;
    QCOMPARE(s.detectionEnabled(detection), enabled);
    QCOMPARE(s.penaltyChoice(detection), choice);
    QCOMPARE(s.penaltyDays(detection), QString("0"));

    // The typed setters reach the same controls.
    s.setDetectionEnabled(detection, !enabled);
    QCOMPARE(s.isChecked(names[0]), !enabled);
    s.setText(names[4], "12");
    for (const Penalty p : {Penalty::Ban, Penalty::Warning, Penalty::Kick}) {
        s.setPenaltyChoice(detection, p);
        const Settings::PenaltyRow row = s.penaltyRow(detection);
        QCOMPARE(row.choice, p);
        QCOMPARE(row.enabled, !enabled);
        QCOMPARE(row.days, QString("12"));
        QCOMPARE(s.isChecked(names[1 + int(p)]), true);
    }
}

void TestSettings::accessorsReadTheirControl_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<Accessor>("read");
    auto row = [](const char* control, Accessor read) { QTest::newRow(control) << QString(control) << read; };
    auto flag = [](bool on) { return on ? QString("1") : QString("0"); };

    row("txtSVR", [](const Settings& s) { return s.serverAddress(); });
    row("txtPORT", [](const Settings& s) { return s.serverPort(); });
    row("txtPWD", [](const Settings& s) { return s.rconPassword(); });
    row("txtMin", [](const Settings& s) { return s.scanMinutes(); });
    row("MinPolt", [](const Settings& s) { return s.patrolSeconds(); });
    row("SoS", [=](const Settings& s) { return flag(s.scanOnStart()); });
    row("Logea", [=](const Settings& s) { return flag(s.logAlerts()); });
    row("Silent", [=](const Settings& s) { return flag(s.silent()); });
    row("Option2", [=](const Settings& s) { return flag(s.handBanForDays()); });
    row("Text2", [](const Settings& s) { return s.handBanDays(); });
    row("Check1", [=](const Settings& s) { return flag(s.scanPrivateClients()); });
    row("Check5", [=](const Settings& s) { return flag(s.scanReservedSkins()); });
    row("txtTAG", [](const Settings& s) { return s.privateTag(); });
    row("txtPRP", [](const Settings& s) { return s.privatePassword(); });
    row("Alert1", [](const Settings& s) { return s.alertTemplate(Alert::PrivateSlot); });
    row("Alert2", [](const Settings& s) { return s.alertTemplate(Alert::PublicSlot); });
    row("Alert3", [](const Settings& s) { return s.alertTemplate(Alert::Cheat); });
    row("Alert4", [](const Settings& s) { return s.alertTemplate(Alert::ReservedSkin); });
    row("Alert5", [](const Settings& s) { return s.alertTemplate(Alert::Connection); });
    row("Alert6", [](const Settings& s) { return s.alertTemplate(Alert::PrivateMode); });
    row("Alert7", [](const Settings& s) { return s.alertTemplate(Alert::BanNotice); });
    row("Text7", [](const Settings& s) { return s.alertTemplate(Alert::PingKick); });
    row("AcWarns", [](const Settings& s) { return s.kickAfterWarnings(); });
    row("AcKicks", [](const Settings& s) { return s.banAfterKicks(); });
    row("Check6", [=](const Settings& s) { return flag(s.warnOnConnection()); });
    row("Check2", [=](const Settings& s) { return flag(s.kickOnHighPing()); });
    row("Text5", [](const Settings& s) { return s.pingLimit(); });
    row("Text6", [](const Settings& s) { return s.pingScans(); });
    row("Check3", [=](const Settings& s) { return flag(s.spearheadCompatibility()); });
}

void TestSettings::accessorsReadTheirControl()
{
    QFETCH(QString, control);
    QFETCH(Accessor, read);
    Settings s;
    QCOMPARE(read(s), valueOf(s, control));
    // A change of the control, and of no other, shows in the accessor.
    if (Settings::formOf(control) == Settings::Form::Text)
        s.setText(control, "changed " + control);
    else
        s.setChecked(control, !s.isChecked(control));
    QCOMPARE(read(s), valueOf(s, control));
    QVERIFY(read(s) != valueOf(Settings(), control));
}

void TestSettings::unknownNamesChangeNothing()
{
#ifndef QT_NO_DEBUG
    QSKIP("an unknown name asserts in a debug build");
#else
    // In a release build the programming error is logged and nothing is made up.
    Settings s;
    QSignalSpy spy(&s, &Settings::changed);
    QTest::ignoreMessage(QtWarningMsg, "Settings::setText: Check6 is no text value");
    s.setText("Check6", "0");
    QTest::ignoreMessage(QtWarningMsg, "Settings::setChecked: txtSVR is no check or option value");
    s.setChecked("txtSVR", true);
    QTest::ignoreMessage(QtWarningMsg, "Settings::setText: NoSuchBox is no text value");
    s.setText("NoSuchBox", "x");
    QTest::ignoreMessage(QtWarningMsg, "Settings::text: NoSuchBox is no text value");
    QCOMPARE(s.text("NoSuchBox"), QString());
    QTest::ignoreMessage(QtWarningMsg, "Settings::isChecked: txtSVR is no check or option value");
    QVERIFY(!s.isChecked("txtSVR"));
    QVERIFY(s.isChecked("Check6"));
    QCOMPARE(s.serialize(), line(defaultFields()));
    QCOMPARE(spy.size(), 0);
#endif
}

void TestSettings::roundTripRestoresEveryValue_data()
{
    QTest::addColumn<int>("shift");
    // Three passes so that every row is saved once with each choice.
    QTest::newRow("warning first") << 0;
    QTest::newRow("kick first") << 1;
    QTest::newRow("ban first") << 2;
}

void TestSettings::roundTripRestoresEveryValue()
{
    QFETCH(int, shift);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("rconskelvar.ini");

    Settings out;
    for (const Settings::SettingDef& spec : Settings::definitions()) {
        if (spec.form == Settings::Form::Text)
            out.setText(spec.control, QString::fromLatin1("v%1, \"q\" 'x' $name \xe9 ; =").arg(spec.position));
        else if (spec.form == Settings::Form::Check)
            out.setChecked(spec.control, qstrcmp(spec.defaultValue, "1") != 0);
    }
    out.setChecked("Option2", true);
    const Penalty choices[] = {Penalty::Warning, Penalty::Kick, Penalty::Ban};
    for (int row = 1; row <= 9; ++row) {
        const auto n = Settings::penaltyRow(row);
        const Penalty c = choices[(row + shift) % 3];
        out.setChecked(c == Penalty::Warning ? n.warning : c == Penalty::Kick ? n.kick : n.ban, true);
        QCOMPARE(out.penaltyChoice(row), c);
    }
    QString error;
    QVERIFY2(out.save(path, &error), qPrintable(error));

    Settings in;
    SettingsLoad details;
    QVERIFY(in.load(path, &details));
    QCOMPARE(details.missing, 0);
    QCOMPARE(details.unreadable, 0);
    for (const Settings::SettingDef& spec : Settings::definitions())
        QCOMPARE(valueOf(in, spec.control), valueOf(out, spec.control));
    for (int row = 1; row <= 9; ++row)
        QCOMPARE(in.penaltyChoice(row), choices[(row + shift) % 3]);
    QVERIFY(in.isChecked("Option2"));
    QVERIFY(!in.isChecked("Option1"));
}

void TestSettings::parseKeepsDefaultsForBadValues_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Values>("expect");  // after the load
    QTest::addColumn<int>("missing");
    QTest::addColumn<int>("unreadable");

    const QList<QByteArray> d = defaultFields();

    QTest::newRow("empty file") << QByteArray() << Values{{"txtSVR", "127.0.0.1"}, {"Check3", "1"}, {"Option3_0", "1"}}
                                << 73 << 0;
    QTest::newRow("two values")
        << QByteArray("10.0.0.9\x02"
                      "28960\x02\r\n")
        << Values{{"txtSVR", "10.0.0.9"}, {"txtPORT", "28960"}, {"txtPWD", "kuTrob"}, {"Logea", "1"}, {"AcKicks", "3"}}
        << 71 << 0;
    QTest::newRow("cut inside a value") << d.mid(0, 6).join('\x02') + "\x02"
                                                                      "Warn"
                                        << Values{{"Check6", "1"}, {"Alert5", "Warn"}, {"Logea", "1"}, {"Text2", "3"}}
                                        << 66 << 0;
    QTest::newRow("no numbers at check positions")
        << line(withValues(d, {{6, "yes"}, {8, ""}, {9, "1"}, {69, "2"}, {73, "-1"}}))
        << Values{{"Check6", "1"}, {"Logea", "1"}, {"Silent", "1"}, {"Check2", "0"}, {"Check3", "1"}} << 0 << 4;
    QTest::newRow("bad options keep the row's choice")
        << line(withValues(d, {{14, "0"},
                               {15, "x"},
                               {16, "0"},  // row 1: unreadable
                               {19, "0"},
                               {20, "0"},
                               {21, "-1"},  // row 2: ban
                               {24, "0"},
                               {25, "0"},
                               {26, "0"},  // row 3: none selected
                               {11, "0"},
                               {12, " 1 "}}))  // any true number selects
        << Values{{"Option3_0", "1"}, {"Option4_1", "1"}, {"Option3_1", "0"},
                  {"Option3_2", "1"}, {"Option2", "1"},   {"Option1", "0"}}
        << 0 << 1;
    QTest::newRow("only the first line counts")
        << line(withValues(d, {{1, "1.1.1.1"}})) + line(withValues(d, {{1, "9.9.9.9"}, {3, "other"}}))
        << Values{{"txtSVR", "1.1.1.1"}, {"txtPWD", "kuTrob"}} << 0 << 0;
    QTest::newRow("LF line end and extra values")
        << (withValues(d, {{50, "pw"}}) + QList<QByteArray>{"extra", "more"}).join('\x02') + "\n2nd"
        << Values{{"txtPRP", "pw"}, {"Check3", "1"}} << 0 << 0;
}

void TestSettings::parseKeepsDefaultsForBadValues()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Values, expect);
    QFETCH(int, missing);
    QFETCH(int, unreadable);

    Settings s;
    s.setText("txtSVR", "left over from before");
    const SettingsLoad r = s.parse(bytes);
    QCOMPARE(r.missing, missing);
    QCOMPARE(r.unreadable, unreadable);
    for (const auto& [control, value] : expect)
        QCOMPARE(valueOf(s, control), value);
    // Every option group still has exactly one choice.
    for (int row = 1; row <= 9; ++row) {
        const auto n = Settings::penaltyRow(row);
        QCOMPARE(int(s.isChecked(n.warning)) + s.isChecked(n.kick) + s.isChecked(n.ban), 1);
    }
    QCOMPARE(int(s.isChecked("Option1")) + s.isChecked("Option2"), 1);
}

void TestSettings::separatorsAndLineBreaksAreStripped()
{
    Settings s;
    s.setText("Alert3", "a\x02"
                        "b\r\nc");
    s.setText("txtTAG", "[X]\x02");
    s.setText("txtPWD", "\r\n");
    QCOMPARE(s.serialize(), line(withValues(defaultFields(), {{3, ""}, {48, "abc"}, {49, "[X]"}})));

    Settings back;
    back.parse(s.serialize());
    QCOMPARE(back.text("Alert3"), QString("abc"));
    QCOMPARE(back.text("txtPRP"), QString("KuTrob"));
    QCOMPARE(back.text("Alert7"), QString("$ip was banned from this server on $date. Reason: $reason"));
}

void TestSettings::optionGroupsAndChangeSignal()
{
    Settings s;
    QSignalSpy spy(&s, &Settings::changed);

    s.setChecked("Option2", true);
    QVERIFY(s.isChecked("Option2"));
    QVERIFY(!s.isChecked("Option1"));
    QCOMPARE(spy.size(), 2);  // both options changed
    spy.clear();

    // An option is cleared only by choosing another one.
    s.setChecked("Option2", false);
    QVERIFY(s.isChecked("Option2"));
    s.setChecked("Option2", true);
    s.setText("txtMin", "3");
    s.setChecked("Logea", true);
    QCOMPARE(spy.size(), 0);

    // Row 4's options have members 3, 4, 4; choosing its ban leaves row 5 alone.
    s.setChecked("Option4_4", true);
    QCOMPARE(s.penaltyChoice(4), Penalty::Ban);
    QVERIFY(!s.isChecked("Option3_4"));
    QCOMPARE(s.penaltyChoice(5), Penalty::Kick);
    QCOMPARE(s.penaltyChoice(3), Penalty::Kick);
    spy.clear();

    s.setText("Text3_8", "7");
    QCOMPARE(s.penaltyDays(4), QString("7"));
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QString("Text3_8"));

    // Only the three values the session talks to the server with are the connection.
    QSignalSpy connection(&s, &Settings::connectionChanged);
    for (const char* c : {"txtSVR", "txtPORT", "txtPWD", "txtMin", "MinPolt", "txtPRP"})
        s.setText(c, "new");
    QCOMPARE(connection.size(), 3);
}

void TestSettings::wholeNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("int16");        // -1000000 = not a 16-bit number
    QTest::addColumn<qlonglong>("int32");  // -1 << 40 = not a 32-bit number

    const int no16 = -1000000;
    const qlonglong no32 = -(1LL << 40);
    QTest::newRow("plain") << "45" << 45 << 45LL;
    QTest::newRow("blanks around") << "  12 " << 12 << 12LL;
    QTest::newRow("negative") << "-7" << -7 << -7LL;
    QTest::newRow("16-bit limits") << "-32768" << -32768 << -32768LL;
    QTest::newRow("past 16 bits") << "32768" << no16 << 32768LL;
    QTest::newRow("past 32 bits") << "2147483648" << no16 << no32;
    QTest::newRow("empty") << "" << no16 << no32;
    QTest::newRow("trailing letters") << "12a" << no16 << no32;
    QTest::newRow("blank inside") << "1 2" << no16 << no32;
    QTest::newRow("decimal") << "1.5" << no16 << no32;
}

void TestSettings::wholeNumbers()
{
    QFETCH(QString, text);
    QFETCH(int, int16);
    QFETCH(qlonglong, int32);
    const auto a = skelvar::rcon::toInt16(text);
    const auto b = skelvar::rcon::toInt32(text);
    QCOMPARE(a ? int(*a) : -1000000, int16);
    QCOMPARE(b ? qlonglong(*b) : -(1LL << 40), int32);
}

void TestSettings::missingFileGivesDefaults()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("rconskelvar.ini");
    Settings s;
    s.setText("txtSVR", "changed");
    SettingsLoad details;
    QVERIFY(!s.load(path, &details));
    QVERIFY(!details.exists);
    QVERIFY(!details.readError);
    QCOMPARE(s.serialize(), line(defaultFields()));
    // A missing file is not protected: the exit writes it.
    QVERIFY(s.saveFile());
    QCOMPARE(readFile(path), line(defaultFields()));
}

void TestSettings::autosaveWritesAfterTheTurn()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("rconskelvar.ini");
    const QByteArray old = line(defaultFields());
    writeFile(path, old);

    Settings s;
    QVERIFY(s.load(path));
    s.setAutosave(true);
    s.setText("txtSVR", "10.1.1.1");
    s.setChecked("SoS", true);
    QCOMPARE(readFile(path), old);  // not inside the handler that made the change
    QTRY_COMPARE(readFile(path), line(withValues(defaultFields(), {{1, "10.1.1.1"}, {68, "1"}})));
}

void TestSettings::failedWriteReportedOnceAndKeepsOldFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath("ro");
    QVERIFY(QDir().mkdir(folder));
    const QString path = folder + "/rconskelvar.ini";
    const QByteArray old = line(defaultFields());
    writeFile(path, old);

    HonourPermissions honour;
    if (!HonourPermissions::effective(dir.path()))
        QSKIP("permission bits are not enforced here");

    Settings s;
    skelvar::test::ScriptedPrompter prompter;
    s.setPrompter(&prompter);
    QVERIFY(s.load(path));
    s.setAutosave(true);

    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    s.setText("txtPORT", "1");
    QTest::qWait(1);
    s.setText("txtPORT", "2");
    QTest::qWait(1);
    const bool exitSaved = s.saveFile();
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QVERIFY(!exitSaved);
    QCOMPARE(prompter.shown.size(), 1);
    QCOMPARE(prompter.shown[0].icon, skelvar::Prompter::Icon::Critical);
    QVERIFY2(prompter.boxes()[0].contains("rconskelvar.ini"), qPrintable(prompter.boxes()[0]));
    QCOMPARE(readFile(path), old);
    QCOMPARE(s.text("txtPORT"), QString("2"));

    // Once writable again the next change goes through.
    s.setText("txtPORT", "3");
    QTRY_COMPARE(readFile(path), line(withValues(defaultFields(), {{2, "3"}})));
    QCOMPARE(prompter.shown.size(), 1);
}

void TestSettings::unreadableFileIsNeverOverwritten()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("rconskelvar.ini");
    const QByteArray old = line(withValues(defaultFields(), {{1, "keep me"}}));
    writeFile(path, old);

    HonourPermissions honour;
    if (!HonourPermissions::effective(dir.path()))
        QSKIP("permission bits are not enforced here");
    QFile::setPermissions(path, QFileDevice::WriteOwner);

    Settings s;
    SettingsLoad details;
    const bool read = s.load(path, &details);
    s.setAutosave(true);
    s.setText("txtSVR", "overwrite?");
    QTest::qWait(5);
    const bool exitSaved = s.saveFile();
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    QVERIFY(!read);
    QVERIFY(details.exists);
    QVERIFY(details.readError);
    QVERIFY(s.fileProtected());
    QVERIFY(!exitSaved);
    QCOMPARE(readFile(path), old);
}

void TestSettings::readOnlyFileIsNotReplacedByRoot()
{
    // No capabilities are dropped: the permission bits alone must protect the file.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("rconskelvar.ini");
    const QByteArray old = line(withValues(defaultFields(), {{1, "keep me"}}));
    writeFile(path, old);
    const auto readOnly = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    QFile::setPermissions(path, readOnly);

    Settings s;
    skelvar::test::ScriptedPrompter prompter;
    s.setPrompter(&prompter);
    QVERIFY(s.load(path));
    s.setAutosave(true);
    s.setText("txtSVR", "10.1.1.1");
    QTRY_COMPARE(prompter.shown.size(), 1);
    QVERIFY(!s.saveFile());
    QVERIFY2(prompter.boxes()[0].contains("rconskelvar.ini") && prompter.boxes()[0].contains("read-only"),
             qPrintable(prompter.boxes()[0]));
    QCOMPARE(readFile(path), old);
    QCOMPARE(QFileInfo(path).permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser), readOnly);
    QCOMPARE(s.text("txtSVR"), QString("10.1.1.1"));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
