#include "SkelvarRcon/store/liststore.h"
#include "SkelvarRcon/store/recordlist.h"
#include "tests/support/files.h"
#include "tests/support/lockholder.h"
#include "tests/support/permissions.h"
#include "tests/support/scriptedprompter.h"

#include <QAbstractItemModelTester>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using skelvar::lists::ListKind;
using skelvar::lists::Record;
using skelvar::rcon::ListStore;
using skelvar::rcon::PlayerList;
using skelvar::rcon::PlayerRow;
using skelvar::rcon::RecordList;
using skelvar::rcon::StoreMessage;

using skelvar::test::readFile;
using skelvar::test::writeFile;

namespace {

// One list-file line: the fields, each 0x02 apart, then CR LF.
QByteArray fileLine(const QList<QByteArray>& fields)
{
    return fields.join('\x02') + "\r\n";
}

Record rec(const QString& ip, const QString& name, const QString& reason = "r", const QString& date = "2024-06-15",
           const QString& until = {})
{
    return {ip, name, reason, date, until};
}

QStringList column(const RecordList& list, int c)
{
    QStringList out;
    for (int r = 0; r < list.rowCount(); ++r)
        out << list.data(list.index(r, c)).toString();
    return out;
}

const QDate Today(2024, 6, 15);
const auto rw = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

}  // namespace

class TestListStore : public QObject {
    Q_OBJECT
private slots:
    void columns_data();
    void columns();
    void addInsertsAtSortedPlace_data();
    void addInsertsAtSortedPlace();
    void headerClickSortsAscendingStable();
    void setIpKeepsListSorted_data();
    void setIpKeepsListSorted();
    void mutationsSignalChange();
    void mergeOfOtherProgramsChanges_data();
    void mergeOfOtherProgramsChanges();
    void playersKeepArrivalOrder();

    void loadReportsSkippedLinesAndReadsSkins();
    void autosaveWritesChangedListsAfterTheTurn();
    void nothingWrittenBeforeLoad();
    void unreadableListIsNeverOverwritten();
    void failedWriteReportedOnceKeepsOldFile();
    void hostileNameCannotMakeASecondRecord();

    void twoMonitorsShareOneBanList();
    void otherProgramsBansShowBeforeTheNextWrite_data();
    void otherProgramsBansShowBeforeTheNextWrite();
    void lockThatCannotBeHadIsReportedAndNothingLost();
    void readOnlyListIsNotReplacedByRoot();
};

namespace {

QByteArray banLine(const QByteArray& ip, const QByteArray& name)
{
    return fileLine({ip, name, "r", "2024-06-15", ""});
}

// A change seen in the folder is not read in during the test, so only the
// merge before each write can bring in the other program's lines.
constexpr int NoSyncDuringTest = 600000;

int rowOf(const RecordList& list, const QString& ip)
{
    for (int row = 0; row < list.size(); ++row) {
        if (list.at(row).ip == ip)
            return row;
    }
    return -1;
}

}  // namespace

void TestListStore::columns_data()
{
    QTest::addColumn<int>("view");  // 0..2 = ListKind, 3 = Players
    QTest::addColumn<QStringList>("headers");
    QTest::addColumn<QList<int>>("widths");

    QTest::newRow("Warnings") << 0 << QStringList{"IP", "Name", "Reason", "Date"} << QList<int>{1400, 3000, 2100, 1200};
    QTest::newRow("Kicks") << 1 << QStringList{"IP", "Name", "Reason", "Date"} << QList<int>{1400, 3000, 2100, 1200};
    QTest::newRow("Bans") << 2 << QStringList{"IP", "Name", "Reason", "Date", "Until"}
                          << QList<int>{1400, 2600, 1300, 1200, 1200};
    QTest::newRow("Players") << 3 << QStringList{"No", "Ping", "Name", "IP", "Rate", "Allied skin", "Axis Skin"}
                             << QList<int>{350, 500, 2000, 1400, 700, 2250, 2250};
}

void TestListStore::columns()
{
    QFETCH(int, view);
    QFETCH(QStringList, headers);
    QFETCH(QList<int>, widths);

    std::unique_ptr<QAbstractItemModel> model;
    QList<skelvar::rcon::ListColumn> cols;
    if (view == 3) {
        model = std::make_unique<PlayerList>();
        cols = PlayerList::columns();
    } else {
        model = std::make_unique<RecordList>(ListKind(view));
        cols = RecordList::columns(ListKind(view));
    }
    QStringList shown;
    for (int c = 0; c < model->columnCount(); ++c)
        shown << model->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(shown, headers);
    QList<int> w;
    for (const auto& c : cols)
        w << c.widthTwips;
    QCOMPARE(w, widths);
}

void TestListStore::addInsertsAtSortedPlace_data()
{
    QTest::addColumn<int>("sortColumn");
    QTest::addColumn<QStringList>("keys");   // added in this order; record i has Name "i"
    QTest::addColumn<QStringList>("shown");  // Names top to bottom

    QTest::newRow("address: text order, case-blind, equal keys in arrival order")
        << 0 << QStringList{"b", "A", "a", "C", "a", "10.0.0.2", "10.0.0.10"}
        << QStringList{"6", "5", "1", "2", "4", "0", "3"};
    QTest::newRow("reason") << 2 << QStringList{"Use of private slot", "Admin. Kick", "admin. kick", "Cheat"}
                            << QStringList{"1", "2", "3", "0"};
    QTest::newRow("date text, not calendar")
        << 3 << QStringList{"9/30/2024", "10/1/2024", "2024-06-15"} << QStringList{"1", "2", "0"};
}

void TestListStore::addInsertsAtSortedPlace()
{
    QFETCH(int, sortColumn);
    QFETCH(QStringList, keys);
    QFETCH(QStringList, shown);

    RecordList list(ListKind::Kicks);
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
    list.sort(sortColumn);
    for (int i = 0; i < keys.size(); ++i) {
        Record r = rec("ip", QString::number(i), "reason", "date");
        (sortColumn == 0 ? r.ip : sortColumn == 2 ? r.reason : r.date) = keys[i];
        const int row = list.add(r);
        QCOMPARE(list.at(row).name, QString::number(i));
    }
    QCOMPARE(column(list, 1), shown);
}

void TestListStore::headerClickSortsAscendingStable()
{
    RecordList list(ListKind::Bans);
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
    list.setRecords({rec("3.3.3.3", "bob", "x", "10/1/2024"), rec("1.1.1.1", "Bob", "x", "9/30/2024"),
                     rec("2.2.2.2", "amy", "x", "2024-01-01")});
    QCOMPARE(column(list, 0), (QStringList{"1.1.1.1", "2.2.2.2", "3.3.3.3"}));

    const QPersistentModelIndex selected = list.index(2, 0);  // 3.3.3.3
    QSignalSpy changed(&list, &RecordList::changed);

    // A second click on the same header asks for descending; the list stays ascending.
    list.sort(1, Qt::DescendingOrder);
    QCOMPARE(list.sortColumn(), 1);
    QCOMPARE(column(list, 0), (QStringList{"2.2.2.2", "1.1.1.1", "3.3.3.3"}));  // Bob before bob: earlier row
    QCOMPARE(selected.row(), 2);
    QCOMPARE(changed.size(), 1);  // the file keeps the shown order

    list.sort(3);
    QCOMPARE(column(list, 3), (QStringList{"10/1/2024", "2024-01-01", "9/30/2024"}));
    QCOMPARE(list.data(selected).toString(), QString("3.3.3.3"));
    QCOMPARE(selected.row(), 0);

    list.sort(5);  // no such column
    QCOMPARE(list.sortColumn(), 3);
}

void TestListStore::setIpKeepsListSorted_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QStringList>("shown");  // Names, from n0..n3 sorted by address at start
    QTest::addColumn<int>("newRow");

    QTest::newRow("moves down") << 0 << "10.0.0.7" << QStringList{"n1", "n2", "n0", "n3"} << 2;
    QTest::newRow("moves up") << 3 << "10.0.0.0" << QStringList{"n3", "n0", "n1", "n2"} << 0;
    QTest::newRow("widened pattern") << 1 << "10.0.0.xxx" << QStringList{"n0", "n2", "n3", "n1"} << 3;
    QTest::newRow("equal keys below stay below") << 0 << "10.0.0.5" << QStringList{"n0", "n1", "n2", "n3"} << 0;
    QTest::newRow("equal keys above stay above") << 3 << "10.0.0.5" << QStringList{"n0", "n1", "n2", "n3"} << 3;
    QTest::newRow("between equal keys") << 2 << "10.0.0.1" << QStringList{"n0", "n2", "n1", "n3"} << 1;
}

void TestListStore::setIpKeepsListSorted()
{
    QFETCH(int, row);
    QFETCH(QString, ip);
    QFETCH(QStringList, shown);
    QFETCH(int, newRow);

    RecordList list(ListKind::Bans);
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
    list.setRecords({rec("10.0.0.1", "n0"), rec("10.0.0.5", "n1"), rec("10.0.0.5", "n2"), rec("10.0.0.9", "n3")});
    const QPersistentModelIndex tracked = list.index(row, 1);

    QCOMPARE(list.setIp(row, ip), newRow);
    QCOMPARE(column(list, 1), shown);
    QCOMPARE(list.at(newRow).ip, ip);
    QCOMPARE(tracked.row(), newRow);

    // Sorted by another column, the row stays where it is.
    list.sort(1);
    QCOMPARE(list.setIp(0, "0.0.0.0"), 0);
    QCOMPARE(list.at(0).ip, QString("0.0.0.0"));
}

void TestListStore::mutationsSignalChange()
{
    RecordList list(ListKind::Warnings);
    QSignalSpy changed(&list, &RecordList::changed);
    list.add(rec("1.1.1.1", "a"));
    list.add(rec("2.2.2.2", "b"));
    QCOMPARE(changed.size(), 2);
    list.setIp(0, "1.1.1.1");  // same text
    list.removeAt(5);
    list.removeAt(-1);
    list.setIp(7, "x");
    QCOMPARE(changed.size(), 2);
    list.removeAt(0);
    list.setIp(0, "3.3.3.3");
    QCOMPARE(changed.size(), 4);
    QCOMPARE(list.records(), (QList<Record>{rec("3.3.3.3", "b")}));
}

void TestListStore::mergeOfOtherProgramsChanges_data()
{
    QTest::addColumn<int>("extra");  // further added rows, past the row-by-row limit when many
    QTest::newRow("a few, row by row") << 0;
    QTest::newRow("many, one rebuild") << 40;
}

void TestListStore::mergeOfOtherProgramsChanges()
{
    QFETCH(int, extra);
    RecordList list(ListKind::Bans);
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
    list.sort(1);  // by Name
    list.setRecords({rec("1.1.1.1", "b"), rec("2.2.2.2", "d"), rec("3.3.3.3", "f"), rec("4.4.4.4", "h")});
    const QPersistentModelIndex selected = list.index(3, 0);  // h
    QSignalSpy changed(&list, &RecordList::changed);

    QList<Record> added{rec("5.5.5.5", "g"), rec("6.6.6.6", "a"), rec("7.7.7.7", "d\x02")};
    QStringList names{"a", "d", "d", "g", "h"};
    for (int i = 0; i < extra; ++i) {
        added.append(rec("8.8.8.8", "z"));
        names.append("z");
    }
    list.merge({0, 2}, added);  // b and f removed by them

    QCOMPARE(column(list, 1), names);
    // A new record goes after the rows of an equal key; fields are cleaned.
    QCOMPARE(list.at(1).ip, QString("2.2.2.2"));
    QCOMPARE(list.at(2).ip, QString("7.7.7.7"));
    QCOMPARE(list.at(2).name, QString("d"));
    QCOMPARE(changed.size(), 1);
    // A few changes keep the operator's selected row on its record.
    if (extra == 0)
        QCOMPARE(list.data(selected).toString(), QString("4.4.4.4"));
}

void TestListStore::playersKeepArrivalOrder()
{
    PlayerList players;
    QAbstractItemModelTester tester(&players, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(players.add({"5", "80", "zed", "10.0.0.5", "25000", "", ""}), 0);
    QCOMPARE(players.add({"0", "40", "amy", "10.0.0.1", "5000", "", ""}), 1);
    players.setSkins(0, "allied_pilot", "german_panzer");
    QCOMPARE(players.data(players.index(0, 2)).toString(), QString("zed"));
    QCOMPARE(players.data(players.index(0, 5)).toString(), QString("allied_pilot"));
    QCOMPARE(players.data(players.index(0, 6)).toString(), QString("german_panzer"));
    QCOMPARE(players.at(1).no, QString("0"));
    players.removeAt(0);
    QCOMPARE(players.at(0).name, QString("amy"));
    players.clear();
    QCOMPARE(players.rowCount(), 0);
}

void TestListStore::loadReportsSkippedLinesAndReadsSkins()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray warnings = fileLine({"9.9.9.9", "Zed", "Use of private slot", "2024-06-01"}) + "junk\r\n" +
                                fileLine({"1.1.1.1", "Amy", "Use of private slot", "2024-06-02"});
    const QByteArray bans = fileLine({"5.5.5.5", "Old", "Cheat", "2024-01-01", "2024-06-15"})  // expired today
                            + fileLine({"6.6.6.6", "Perm", "Cheat", "2024-01-01", ""}) + "\r\n" +
                            fileLine({"7.7.7.7", "short", "r"});
    writeFile(dir.filePath("warnings.lst"), warnings);
    writeFile(dir.filePath("bans.lst"), bans);
    writeFile(dir.filePath("skins.txt"), "a\r\nb\r\nc\r\n");
    writeFile(dir.filePath("reserved.txt"), "r1\r\n");

    ListStore store;
    store.setFolder(dir.path());
    const QList<StoreMessage> messages = store.load(Today);

    QCOMPARE(messages.size(), 2);
    QVERIFY2(messages[0].text.contains("warnings.lst") && messages[0].text.contains("1 line"),
             qPrintable(messages[0].text));
    QVERIFY2(messages[1].text.contains("bans.lst") && messages[1].text.contains("2 lines"),
             qPrintable(messages[1].text));
    QCOMPARE(column(store.warnings(), 1), (QStringList{"Amy", "Zed"}));
    QCOMPARE(column(store.bans(), 0), QStringList{"6.6.6.6"});
    QCOMPARE(store.kicks().size(), 0);

    QCOMPARE(store.suspiciousSkins().count, 3);
    QCOMPARE(store.suspiciousSkins().entries, (QStringList{"a", "b", "c", ""}));
    QCOMPARE(store.reservedSkins().entries, (QStringList{"r1", ""}));

    // Loading is not a change: nothing is rewritten or created.
    QTest::qWait(5);
    QCOMPARE(readFile(dir.filePath("warnings.lst")), warnings);
    QCOMPARE(readFile(dir.filePath("bans.lst")), bans);
    QVERIFY(!QFile::exists(dir.filePath("kicks.lst")));

    // The engine's re-read: a missing file keeps what was there.
    QVERIFY(QFile::remove(dir.filePath("skins.txt")));
    writeFile(dir.filePath("reserved.txt"), "r2\r\nr3\r\n");
    store.reloadSkinLists();
    QCOMPARE(store.suspiciousSkins().count, 3);
    QCOMPARE(store.reservedSkins().count, 2);
    QCOMPARE(store.reservedSkins().entries, (QStringList{"r2", "r3", ""}));
}

void TestListStore::autosaveWritesChangedListsAfterTheTurn()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ListStore store;
    store.setFolder(dir.path());
    QVERIFY(store.load(Today).isEmpty());

    store.bans().add(rec("10.0.0.9", "Zed", "Admin. Ban", "2024-06-15", "2024-06-18"));
    store.bans().add(rec("10.0.0.1", "Amy", "Admin. Ban", "2024-06-15"));
    store.kicks().add(rec("10.0.0.3", "Bob", "Admin. Kick", "2024-06-15"));
    QVERIFY(!QFile::exists(store.filePath(ListKind::Bans)));

    const QByteArray amy = fileLine({"10.0.0.1", "Amy", "Admin. Ban", "2024-06-15", ""});
    const QByteArray zed = fileLine({"10.0.0.9", "Zed", "Admin. Ban", "2024-06-15", "2024-06-18"});
    QTRY_COMPARE(readFile(dir.filePath("bans.lst")), amy + zed);
    QCOMPARE(readFile(dir.filePath("kicks.lst")), fileLine({"10.0.0.3", "Bob", "Admin. Kick", "2024-06-15"}));
    QVERIFY(!QFile::exists(dir.filePath("warnings.lst")));

    store.bans().sort(1, Qt::AscendingOrder);
    store.bans().setIp(1, "10.0.xxx.xxx");
    QTRY_COMPARE(readFile(dir.filePath("bans.lst")),
                 amy + fileLine({"10.0.xxx.xxx", "Zed", "Admin. Ban", "2024-06-15", "2024-06-18"}));

    store.kicks().removeAt(0);
    QTRY_COMPARE(readFile(dir.filePath("kicks.lst")), QByteArray());

    // A ban that runs out during the run leaves the file at the next write.
    store.bans().add(rec("10.0.0.5", "Old", "Admin. Ban", "2024-06-10", "2024-06-15"));
    store.bans().add(rec("10.0.0.6", "Odd", "Admin. Ban", "2024-06-10", "not a date"));
    QTRY_COMPARE(readFile(dir.filePath("bans.lst")),
                 amy + fileLine({"10.0.0.6", "Odd", "Admin. Ban", "2024-06-10", "not a date"}) +
                     fileLine({"10.0.xxx.xxx", "Zed", "Admin. Ban", "2024-06-15", "2024-06-18"}));
    QCOMPARE(store.bans().size(), 4);

    // Exit writes all three, the untouched one as an empty file.
    QVERIFY(store.saveAll());
    QVERIFY(QFile::exists(dir.filePath("warnings.lst")));
    QCOMPARE(readFile(dir.filePath("warnings.lst")), QByteArray());
}

void TestListStore::nothingWrittenBeforeLoad()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray bans = fileLine({"6.6.6.6", "Perm", "Cheat", "2024-01-01", ""});
    writeFile(dir.filePath("bans.lst"), bans);

    ListStore store;
    store.setFolder(dir.path());
    store.bans().add(rec("1.1.1.1", "early"));
    QTest::qWait(5);
    store.saveAll();
    QCOMPARE(readFile(dir.filePath("bans.lst")), bans);
    QVERIFY(!QFile::exists(dir.filePath("kicks.lst")));
}

void TestListStore::unreadableListIsNeverOverwritten()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString bansPath = dir.filePath("bans.lst");
    const QByteArray bans = fileLine({"6.6.6.6", "Perm", "Cheat", "2024-01-01", ""});
    writeFile(bansPath, bans);

    HonourPermissions honour;
    if (!HonourPermissions::effective(dir.path()))
        QSKIP("permission bits are not enforced here");
    QFile::setPermissions(bansPath, QFileDevice::WriteOwner);

    ListStore store;
    skelvar::test::ScriptedPrompter prompter;
    store.setPrompter(&prompter);
    store.setFolder(dir.path());
    const QList<StoreMessage> messages = store.load(Today);
    store.bans().add(rec("1.1.1.1", "new"));
    store.kicks().add(rec("2.2.2.2", "kicked"));
    QTest::qWait(5);
    const bool exitSaved = store.saveAll();
    QFile::setPermissions(bansPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].text.contains("bans.lst"), qPrintable(messages[0].text));
    QVERIFY(store.isProtected(ListKind::Bans));
    QVERIFY(!exitSaved);
    QCOMPARE(readFile(bansPath), bans);
    QCOMPARE(store.bans().size(), 1);  // the new ban is still enforced this run
    QCOMPARE(readFile(dir.filePath("kicks.lst")), fileLine({"2.2.2.2", "kicked", "r", "2024-06-15"}));
    QVERIFY(prompter.shown.isEmpty());  // told once, at start
}

void TestListStore::failedWriteReportedOnceKeepsOldFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath("ro");
    QVERIFY(QDir().mkdir(folder));
    const QByteArray old = fileLine({"1.1.1.1", "first", "r", "2024-06-15"});
    writeFile(folder + "/kicks.lst", old);

    HonourPermissions honour;
    if (!HonourPermissions::effective(dir.path()))
        QSKIP("permission bits are not enforced here");

    ListStore store;
    skelvar::test::ScriptedPrompter prompter;
    store.setPrompter(&prompter);
    store.setFolder(folder);
    QVERIFY(store.load(Today).isEmpty());

    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    store.kicks().add(rec("2.2.2.2", "second"));
    QTest::qWait(5);
    store.kicks().add(rec("3.3.3.3", "third"));
    QTest::qWait(5);
    const bool exitSaved = store.saveAll();
    const QByteArray during = readFile(folder + "/kicks.lst");
    QFile::setPermissions(folder, rw);

    // Two autosaves and the exit failed for kicks.lst; the exit also failed
    // for the other two lists. Each file is reported once.
    QVERIFY(!exitSaved);
    QCOMPARE(prompter.boxes().filter("kicks.lst").size(), 1);
    QCOMPARE(prompter.boxes().filter("bans.lst").size(), 1);
    QCOMPARE(prompter.shown.size(), 3);
    QCOMPARE(during, old);
    QCOMPARE(store.kicks().size(), 3);

    QVERIFY(store.saveAll());
    QCOMPARE(readFile(folder + "/kicks.lst"), old + fileLine({"2.2.2.2", "second", "r", "2024-06-15"}) +
                                                  fileLine({"3.3.3.3", "third", "r", "2024-06-15"}));
    QCOMPARE(prompter.shown.size(), 3);
}

void TestListStore::hostileNameCannotMakeASecondRecord()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    {
        ListStore store;
        store.setFolder(dir.path());
        store.load(Today);
        store.kicks().add(rec("1.2.3.4",
                              "a\x02"
                              "b\r\nc",
                              "Cheat\r\n", "2024-06-15"));
        store.bans().add(rec("1.2.3.4",
                             "a\x02"
                             "b\r\nc",
                             "r", "2024-06-15",
                             "\x02"
                             "x"));
        QCOMPARE(store.kicks().at(0).name, QString("abc"));
        QVERIFY(store.saveAll());
    }
    QCOMPARE(readFile(dir.filePath("kicks.lst")), fileLine({"1.2.3.4", "abc", "Cheat", "2024-06-15"}));
    QCOMPARE(readFile(dir.filePath("bans.lst")), fileLine({"1.2.3.4", "abc", "r", "2024-06-15", "x"}));

    ListStore again;
    again.setFolder(dir.path());
    QVERIFY(again.load(Today).isEmpty());
    QCOMPARE(again.kicks().records(), (QList<Record>{rec("1.2.3.4", "abc", "Cheat", "2024-06-15")}));
}

void TestListStore::twoMonitorsShareOneBanList()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString shared = dir.filePath("shared/bans.lst");
    writeFile(shared, banLine("9.9.9.9", "Old"));
    ListStore a, b;
    for (auto [store, folder] : {std::pair{&a, "a"}, std::pair{&b, "b"}}) {
        QVERIFY(QDir(dir.path()).mkdir(folder));
        QVERIFY(QFile::link("../shared/bans.lst", dir.filePath(QString(folder) + "/bans.lst")));
        store->setFolder(dir.filePath(folder));
        store->setSyncDelayForTests(NoSyncDuringTest);
        QVERIFY(store->load(Today).isEmpty());
    }

    struct Step {
        ListStore* store;
        char action;  // '+' add, '-' remove
        QByteArray ip;
        QByteArray file;
    };
    const QByteArray one = banLine("1.1.1.1", "A"), three = banLine("3.3.3.3", "B"), five = banLine("5.5.5.5", "B");
    const Step steps[] = {
        {&a, '+', "1.1.1.1", one + banLine("9.9.9.9", "Old")},
        {&b, '+', "5.5.5.5", one + five + banLine("9.9.9.9", "Old")},
        {&a, '-', "9.9.9.9", one + five},
        {&b, '+', "3.3.3.3", one + three + five},
    };
    for (const Step& step : steps) {
        if (step.action == '+')
            step.store->bans().add(rec(step.ip, step.store == &a ? "A" : "B"));
        else
            step.store->bans().removeAt(rowOf(step.store->bans(), step.ip));
        QTRY_COMPARE(readFile(shared), step.file);
    }
    QVERIFY(QFileInfo(dir.filePath("a/bans.lst")).isSymLink());
    QVERIFY(QFileInfo(dir.filePath("b/bans.lst")).isSymLink());
    QCOMPARE(column(b.bans(), 0), (QStringList{"1.1.1.1", "3.3.3.3", "5.5.5.5"}));

    // A's exit writes what it holds and what B added: nothing of B's is lost.
    QVERIFY(a.saveAll());
    QCOMPARE(readFile(shared), one + three + five);
    QCOMPARE(column(a.bans(), 0), (QStringList{"1.1.1.1", "3.3.3.3", "5.5.5.5"}));
}

void TestListStore::otherProgramsBansShowBeforeTheNextWrite_data()
{
    QTest::addColumn<bool>("byPatrol");
    QTest::newRow("seen in the folder") << false;
    QTest::newRow("read at the patrol pass") << true;
}

void TestListStore::otherProgramsBansShowBeforeTheNextWrite()
{
    QFETCH(bool, byPatrol);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("bans.lst");
    writeFile(path, banLine("9.9.9.9", "Old"));
    ListStore store;
    store.setFolder(dir.path());
    store.setSyncDelayForTests(byPatrol ? NoSyncDuringTest : 10);
    QSignalSpy saved(&store, &ListStore::saved);
    QVERIFY(store.load(Today).isEmpty());

    QVERIFY(skelvar::lists::appendRecords(path, {rec("1.1.1.1", "Imported")}, ListKind::Bans));
    const QByteArray imported = banLine("9.9.9.9", "Old") + banLine("1.1.1.1", "Imported");
    if (byPatrol) {
        QTest::qWait(20);
        QCOMPARE(store.bans().size(), 1);
        store.syncFromDisk();
    }
    QTRY_COMPARE(column(store.bans(), 0), (QStringList{"1.1.1.1", "9.9.9.9"}));
    // Read in, not written back.
    QTest::qWait(20);
    QCOMPARE(saved.size(), 0);
    QCOMPARE(readFile(path), imported);

    // The file removed from under the store: the records stay.
    QVERIFY(QFile::remove(path));
    store.syncFromDisk();
    QCOMPARE(store.bans().size(), 2);
}

void TestListStore::lockThatCannotBeHadIsReportedAndNothingLost()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("bans.lst");
    const QByteArray old = banLine("9.9.9.9", "Old");
    writeFile(path, old);
    ListStore store;
    skelvar::test::ScriptedPrompter prompter;
    store.setPrompter(&prompter);
    store.setFolder(dir.path());
    store.setSyncDelayForTests(NoSyncDuringTest);
    constexpr int wait = 300;
    store.setLockWaitForTests(wait);
    QVERIFY(store.load(Today).isEmpty());

    skelvar::test::LockHolder other;
    QVERIFY(other.hold(path));
    store.bans().add(rec("1.1.1.1", "New"));
    QTRY_COMPARE(prompter.shown.size(), 1);
    QVERIFY2(prompter.boxes()[0].startsWith("List not saved|") && prompter.boxes()[0].contains("bans.lst") &&
                 prompter.boxes()[0].contains("lock"),
             qPrintable(prompter.boxes()[0]));
    QCOMPARE(readFile(path), old);
    QCOMPARE(column(store.bans(), 0), (QStringList{"1.1.1.1", "9.9.9.9"}));

    // The holder dies and leaves its lock behind: the next write goes through
    // without waiting for it.
    other.kill();
    QVERIFY(QFileInfo::exists(path + ".lock"));
    constexpr int longWait = 2000;
    store.setLockWaitForTests(longWait);
    QElapsedTimer timer;
    timer.start();
    store.bans().add(rec("2.2.2.2", "Next"));
    QTRY_COMPARE(readFile(path), banLine("1.1.1.1", "New") + banLine("2.2.2.2", "Next") + old);
    QVERIFY(timer.elapsed() < longWait);
    QCOMPARE(prompter.shown.size(), 1);
}

void TestListStore::readOnlyListIsNotReplacedByRoot()
{
    // No capabilities are dropped: the permission bits alone must protect the file.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("bans.lst");
    const QByteArray old = banLine("9.9.9.9", "Old");
    writeFile(path, old);
    const auto readOnly = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    QFile::setPermissions(path, readOnly);

    ListStore store;
    skelvar::test::ScriptedPrompter prompter;
    store.setPrompter(&prompter);
    store.setFolder(dir.path());
    QVERIFY(store.load(Today).isEmpty());
    store.bans().add(rec("1.1.1.1", "New"));
    QTRY_COMPARE(prompter.titles(), QStringList{"List not saved"});
    QCOMPARE(prompter.shown[0].icon, skelvar::Prompter::Icon::Critical);
    QVERIFY(!store.saveAll());
    QCOMPARE(readFile(path), old);
    QCOMPARE(QFileInfo(path).permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser), readOnly);
    QCOMPARE(store.bans().size(), 2);
    QCOMPARE(prompter.shown.size(), 1);
}

QTEST_GUILESS_MAIN(TestListStore)
#include "test_liststore.moc"
