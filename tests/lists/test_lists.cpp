#include "lists/fileaccess.h"
#include "lists/listfile.h"
#include "lists/records.h"
#include "tests/support/files.h"
#include "tests/support/lockholder.h"
#include "tests/support/permissions.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QLockFile>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace skelvar::lists;

Q_DECLARE_METATYPE(skelvar::lists::ListKind)
Q_DECLARE_METATYPE(skelvar::lists::Record)

using skelvar::test::readFile;
using skelvar::test::writeFile;

namespace {

const QDate Today(2024, 6, 15);

// A ban line as the programs write it, made on Today.
QByteArray banLine(const QByteArray& ip, const QByteArray& until = {})
{
    return ip +
           "\x02n\x02r\x02"
           "2024-06-15\x02" +
           until + "\r\n";
}

Record ban(const QString& ip, const QString& until = {})
{
    return {ip, "n", "r", "2024-06-15", until};
}

// Where a write is pointed, for the writer's policy table.
enum class Place {
    Nothing,
    Plain,
    ReadOnly,
    OwnerReadOnly,
    Folder,
    Pipe,
    Link,
    LinkToReadOnly,
    DanglingLink,
    LinkChain,
    LinkToFolder,
    LinkCircle,
};

}  // namespace

Q_DECLARE_METATYPE(Place)
Q_DECLARE_METATYPE(skelvar::lists::ReadStatus)

namespace skelvar::lists {
// Readable failure output for QCOMPARE on records.
char* toString(const Record& r)
{
    return QTest::toString(QStringLiteral("{%1|%2|%3|%4|%5}").arg(r.ip, r.name, r.reason, r.date, r.until));
}
}  // namespace skelvar::lists

class TestLists : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void parseDate_data();
    void parseDate();
    void parseRecords_data();
    void parseRecords();
    void serialize_data();
    void serialize();
    void loadSaveRoundTrip_data();
    void loadSaveRoundTrip();
    void loadFailures();
    void saveFailureKeepsOldFile();
    void append_data();
    void append();
    void appendFailureKeepsOldFile();
    void skinList_data();
    void skinList();
    void skinListMissingKeepsPrevious();

    void fileAccessPolicy_data();
    void fileAccessPolicy();
    void lockHeldElsewhereFailsTheWrite();
    void staleLockOfAKilledWriterIsTakenOver();
    void lockOfALiveProcessIsTakenOverWhenOld_data();
    void lockOfALiveProcessIsTakenOverWhenOld();
    void mergeWithOtherWriters_data();
    void mergeWithOtherWriters();
    void manyAppendsThenARewrite();
};

void TestLists::parseDate_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDate>("expected");

    QTest::newRow("iso") << "en_US"
                         << "2024-03-05" << QDate(2024, 3, 5);
    QTest::newRow("iso short groups") << "en_US"
                                      << "2024-3-5" << QDate(2024, 3, 5);
    QTest::newRow("iso with blanks") << "en_US"
                                     << "  2024-03-05 " << QDate(2024, 3, 5);
    QTest::newRow("year first with slashes") << "de_DE"
                                             << "2024/03/05" << QDate(2024, 3, 5);
    QTest::newRow("day above 12 in US locale") << "en_US"
                                               << "25/12/2023" << QDate(2023, 12, 25);
    QTest::newRow("second above 12 in German locale") << "de_DE"
                                                      << "12/25/2023" << QDate(2023, 12, 25);
    QTest::newRow("ambiguous, US order") << "en_US"
                                         << "3/5/2024" << QDate(2024, 3, 5);
    QTest::newRow("ambiguous, German order") << "de_DE"
                                             << "3.5.2024" << QDate(2024, 5, 3);
    QTest::newRow("ambiguous, British order") << "en_GB"
                                              << "03/05/2024" << QDate(2024, 5, 3);
    QTest::newRow("two-digit year") << "de_DE"
                                    << "31.12.24" << QDate(2024, 12, 31);
    QTest::newRow("dashes day first") << "en_US"
                                      << "31-12-2024" << QDate(2024, 12, 31);

    QTest::newRow("empty") << "en_US"
                           << "" << QDate();
    QTest::newRow("word") << "en_US"
                          << "never" << QDate();
    QTest::newRow("no such day") << "en_US"
                                 << "2024-02-30" << QDate();
    QTest::newRow("both above 12") << "en_US"
                                   << "13/13/2024" << QDate();
    QTest::newRow("two groups") << "en_US"
                                << "5/3" << QDate();
    QTest::newRow("four groups") << "en_US"
                                 << "2024-03-05-01" << QDate();
    QTest::newRow("mixed separators") << "en_US"
                                      << "5/3.2024" << QDate();
    QTest::newRow("trailing text") << "en_US"
                                   << "2024-03-05x" << QDate();
    QTest::newRow("time of day") << "en_US"
                                 << "2024-03-05 10:00" << QDate();
    QTest::newRow("three-digit year") << "en_US"
                                      << "5/3/202" << QDate();
    QTest::newRow("long number") << "en_US"
                                 << "20240305" << QDate();
    QTest::newRow("trailing separator") << "en_US"
                                        << "5/3/" << QDate();
}

void TestLists::parseDate()
{
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QFETCH(QDate, expected);
    QLocale::setDefault(QLocale(locale));
    QCOMPARE(skelvar::lists::parseDate(text), expected);
    if (expected.isValid()) {
        // What is written must read back as the same day in every locale.
        QCOMPARE(formatDate(expected), expected.toString("yyyy-MM-dd"));
        QCOMPARE(skelvar::lists::parseDate(formatDate(expected)), expected);
    }
}

void TestLists::parseRecords_data()
{
    QTest::addColumn<ListKind>("kind");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QList<Record>>("expected");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<int>("expired");

    const Record w{"1.2.3.4", "Bob", "Too many", "2024-06-01", ""};
    QTest::newRow("warnings, CR LF") << ListKind::Warnings
                                     << QByteArray("1.2.3.4\x02"
                                                   "Bob\x02Too many\x02"
                                                   "2024-06-01\r\n"
                                                   "5.6.7.8\x02"
                                                   "Al, the \tgreat\x02r\x02"
                                                   "2024-06-02\r\n")
                                     << QList<Record>{w, {"5.6.7.8", "Al, the \tgreat", "r", "2024-06-02", ""}} << 0
                                     << 0;
    QTest::newRow("kicks, bare LF and no final line end") << ListKind::Kicks
                                                          << QByteArray("1.2.3.4\x02"
                                                                        "Bob\x02Too many\x02"
                                                                        "2024-06-01\n"
                                                                        "1.2.3.4\x02"
                                                                        "Bob\x02Too many\x02"
                                                                        "2024-06-01")
                                                          << QList<Record>{w, w} << 0 << 0;
    QTest::newRow("short, empty and hand-typed lines are skipped") << ListKind::Warnings
                                                                   << QByteArray("\r\n1.2.3.4\x02"
                                                                                 "Bob\x02Too many\r\n"
                                                                                 "1.2.3.4\x02"
                                                                                 "Bob\x02Too many\x02"
                                                                                 "2024-06-01\r\n"
                                                                                 "typed by hand\r\n\r\n")
                                                                   << QList<Record>{w} << 4 << 0;
    QTest::newRow("extra fields ignored") << ListKind::Warnings
                                          << QByteArray("1.2.3.4\x02"
                                                        "Bob\x02Too many\x02"
                                                        "2024-06-01\x02x\x02y\r\n")
                                          << QList<Record>{w} << 0 << 0;
    QTest::newRow("bytes above 0x7F and control bytes kept")
        << ListKind::Kicks
        << QByteArray("1.2.3.4\x02"
                      "J\xe9r\xf4me\x00!\x02R\xff\x02"
                      "2024-06-01\r\n",
                      32)
        << QList<Record>{{"1.2.3.4", QString::fromLatin1("J\xe9r\xf4me\x00!", 8), QString::fromLatin1("R\xff"),
                          "2024-06-01", ""}}
        << 0 << 0;
    QTest::newRow("short date normalised") << ListKind::Warnings
                                           << QByteArray("1.2.3.4\x02"
                                                         "Bob\x02Too many\x02"
                                                         "25/6/2024\r\n")
                                           << QList<Record>{{"1.2.3.4", "Bob", "Too many", "2024-06-25", ""}} << 0 << 0;
    QTest::newRow("undated warning keeps its text")
        << ListKind::Warnings
        << QByteArray("1.2.3.4\x02"
                      "Bob\x02Too many\x02sometime\r\n")
        << QList<Record>{{"1.2.3.4", "Bob", "Too many", "sometime", ""}} << 0 << 0;

    QTest::newRow("bans by Until") << ListKind::Bans
                                   << QByteArray("a\x02n\x02r\x02"
                                                 "2024-01-01\x02\r\n"  // permanent
                                                 "b\x02n\x02r\x02"
                                                 "2024-01-01\x02"
                                                 "2024-06-14\r\n"  // yesterday
                                                 "c\x02n\x02r\x02"
                                                 "2024-01-01\x02"
                                                 "2024-06-15\r\n"  // today
                                                 "d\x02n\x02r\x02"
                                                 "2024-01-01\x02"
                                                 "2024-06-16\r\n"  // tomorrow
                                                 "e\x02n\x02r\x02"
                                                 "2024-01-01\x02"
                                                 "16/6/2024\r\n"  // tomorrow, short form
                                                 "f\x02n\x02r\x02"
                                                 "2024-01-01\x02soon\r\n"  // not a date
                                                 "g\x02n\x02r\x02"
                                                 "2024-01-01\r\n")  // Until missing
                                   << QList<Record>{{"a", "n", "r", "2024-01-01", ""},
                                                    {"d", "n", "r", "2024-01-01", "2024-06-16"},
                                                    {"e", "n", "r", "2024-01-01", "2024-06-16"},
                                                    {"f", "n", "r", "2024-01-01", ""}}
                                   << 1 << 2;
    QTest::newRow("empty file") << ListKind::Bans << QByteArray() << QList<Record>{} << 0 << 0;
}

void TestLists::parseRecords()
{
    QFETCH(ListKind, kind);
    QFETCH(QByteArray, data);
    QFETCH(QList<Record>, expected);
    QFETCH(int, skipped);
    QFETCH(int, expired);
    const LoadResult r = skelvar::lists::parseRecords(data, kind, Today);
    QCOMPARE(r.records, expected);
    QCOMPARE(r.skipped, skipped);
    QCOMPARE(r.expired, expired);
    QVERIFY(!r.readError);
}

void TestLists::serialize_data()
{
    QTest::addColumn<ListKind>("kind");
    QTest::addColumn<QList<Record>>("records");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("permanent ban ends with the separator")
        << ListKind::Bans << QList<Record>{{"10.1.2.xxx", "Bob", "Aimbot", "2024-06-15", ""}}
        << QByteArray("10.1.2.xxx\x02"
                      "Bob\x02"
                      "Aimbot\x02"
                      "2024-06-15\x02\r\n");
    QTest::newRow("ban with end") << ListKind::Bans
                                  << QList<Record>{{"1.2.3.4", "a b", "c,d\te", "2024-06-15", "2024-06-22"}}
                                  << QByteArray("1.2.3.4\x02"
                                                "a b\x02"
                                                "c,d\te\x02"
                                                "2024-06-15\x02"
                                                "2024-06-22\r\n");
    QTest::newRow("warnings have four fields, Until ignored")
        << ListKind::Warnings << QList<Record>{{"1.2.3.4", "Bob", "r", "2024-06-15", "2024-07-01"}}
        << QByteArray("1.2.3.4\x02"
                      "Bob\x02r\x02"
                      "2024-06-15\r\n");
    QTest::newRow("hostile name stays one field on one line") << ListKind::Kicks
                                                              << QList<Record>{{"1.2.3.4",
                                                                                "a\x02"
                                                                                "b\r\nc",
                                                                                "r\n\x02"
                                                                                "1.1.1.1",
                                                                                "2024-06-15", ""}}
                                                              << QByteArray("1.2.3.4\x02"
                                                                            "abc\x02r1.1.1.1\x02"
                                                                            "2024-06-15\r\n");
    QTest::newRow("Latin-1 bytes") << ListKind::Warnings
                                   << QList<Record>{{"1.2.3.4", QString::fromLatin1("J\xe9r\xf4me"), "\xc2\xbf?", "d",
                                                     ""}}
                                   << QByteArray("1.2.3.4\x02J\xe9r\xf4me\x02\xbf?\x02"
                                                 "d\r\n");
    QTest::newRow("empty list") << ListKind::Bans << QList<Record>{} << QByteArray();
}

void TestLists::serialize()
{
    QFETCH(ListKind, kind);
    QFETCH(QList<Record>, records);
    QFETCH(QByteArray, expected);
    QCOMPARE(serializeRecords(records, kind), expected);

    // The hostile cases must come back as exactly the records written, cleaned.
    const LoadResult back = skelvar::lists::parseRecords(expected, kind, Today);
    QCOMPARE(back.records.size(), records.size());
    QCOMPARE(back.skipped, 0);
}

void TestLists::loadSaveRoundTrip_data()
{
    QTest::addColumn<ListKind>("kind");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("warnings") << ListKind::Warnings
                              << QByteArray("1.2.3.4\x02"
                                            "Bob the \t\"great\", \xe9t\xe9\x02"
                                            "Cheat: wallhack\x02"
                                            "2024-06-01\r\n"
                                            "127.0.0.1\x02\x02\x02"
                                            "2024-06-02\r\n");
    QTest::newRow("kicks") << ListKind::Kicks
                           << QByteArray("1.2.3.4\x02"
                                         "Bob\x02"
                                         "Use of private slot\x02"
                                         "2024-06-01\r\n");
    QTest::newRow("bans") << ListKind::Bans
                          << QByteArray("1.2.3.4\x02"
                                        "Bob\x02"
                                        "Aimbot\x02"
                                        "2024-06-01\x02\r\n"
                                        "10.1.xxx.xxx\x02\xff\xfe\x02"
                                        "r\x02"
                                        "2024-06-01\x02"
                                        "2024-07-01\r\n");
}

void TestLists::loadSaveRoundTrip()
{
    QFETCH(ListKind, kind);
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString in = dir.filePath("in.lst");
    const QString out = dir.filePath(fileName(kind));
    writeFile(in, bytes);

    const LoadResult r = loadRecords(in, kind, Today);
    QVERIFY(r.exists);
    QVERIFY(!r.readError);
    QString error;
    QVERIFY2(saveRecords(out, r.records, kind, &error), qPrintable(error));
    QCOMPARE(readFile(out), bytes);

    // Saving over an existing file replaces it whole.
    QVERIFY(saveRecords(out, {}, kind));
    QCOMPARE(readFile(out), QByteArray());
}

void TestLists::loadFailures()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    HonourPermissions honour;
    const bool enforced = HonourPermissions::effective(dir.path());

    const LoadResult missing = loadRecords(dir.filePath("bans.lst"), ListKind::Bans, Today);
    QVERIFY(!missing.exists);
    QVERIFY(!missing.readError);
    QVERIFY(missing.records.isEmpty());

    QVERIFY(QDir(dir.path()).mkdir("kicks.lst"));
    const LoadResult folder = loadRecords(dir.filePath("kicks.lst"), ListKind::Kicks, Today);
    QVERIFY(folder.exists);
    QVERIFY(folder.readError);

    const QString locked = dir.filePath("warnings.lst");
    writeFile(locked, "1.2.3.4\x02"
                      "a\x02"
                      "b\x02"
                      "2024-01-01\r\n");
    QFile::setPermissions(locked, QFileDevice::Permissions());
    if (enforced) {
        const LoadResult r = loadRecords(locked, ListKind::Warnings, Today);
        QVERIFY(r.exists);
        QVERIFY(r.readError);
    }
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void TestLists::saveFailureKeepsOldFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    HonourPermissions honour;
    const bool enforced = HonourPermissions::effective(dir.path());
    const QList<Record> records{{"1.2.3.4", "Bob", "r", "2024-06-15", ""}};
    QString error;

    QVERIFY(!saveRecords(dir.filePath("no/such/folder/bans.lst"), records, ListKind::Bans, &error));
    QVERIFY(!error.isEmpty());

    QVERIFY(QDir(dir.path()).mkdir("bans.lst"));
    error.clear();
    QVERIFY(!saveRecords(dir.filePath("bans.lst"), records, ListKind::Bans, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(QFileInfo(dir.filePath("bans.lst")).isDir());

    // A read-only folder: the previous file must stay whole.
    const QString sub = dir.filePath("ro");
    QVERIFY(QDir().mkdir(sub));
    const QByteArray old("old\x02"
                         "a\x02"
                         "b\x02"
                         "c\r\n");
    writeFile(sub + "/kicks.lst", old);
    QFile::setPermissions(sub, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const bool saved = saveRecords(sub + "/kicks.lst", records, ListKind::Kicks);
    QFile::setPermissions(sub, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (enforced) {
        QVERIFY(!saved);
        QCOMPARE(readFile(sub + "/kicks.lst"), old);
    }

    // A read-only file in a writable folder is not replaced behind the operator's back.
    const QString locked = dir.filePath("warnings.lst");
    writeFile(locked, old);
    QFile::setPermissions(locked, QFileDevice::ReadOwner);
    const bool lockedSaved = saveRecords(locked, records, ListKind::Warnings);
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (enforced) {
        QVERIFY(!lockedSaved);
        QCOMPARE(readFile(locked), old);
    }
}

void TestLists::append_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QList<Record>>("records");
    QTest::addColumn<QByteArray>("after");

    const QList<Record> two{{"1.2.3.4", "n", "r", "2024-06-15", ""}, {"5.6.7.xxx", "n", "r", "2024-06-15", ""}};
    const QByteArray twoBytes("1.2.3.4\x02n\x02r\x02"
                              "2024-06-15\x02\r\n"
                              "5.6.7.xxx\x02n\x02r\x02"
                              "2024-06-15\x02\r\n");
    const QByteArray old("9.9.9.9\x02o\x02p\x02"
                         "2024-01-01\x02");

    QTest::newRow("missing file is created") << false << QByteArray() << two << twoBytes;
    QTest::newRow("after CR LF") << true << old + "\r\n" << two << old + "\r\n" + twoBytes;
    QTest::newRow("last line without line end") << true << old << two << old + "\r\n" + twoBytes;
    QTest::newRow("last line ends with bare LF") << true << old + "\n" << two << old + "\n" + twoBytes;
    QTest::newRow("last line ends with bare CR") << true << old + "\r" << two << old + "\r\n" + twoBytes;
    QTest::newRow("empty existing file") << true << QByteArray() << two << twoBytes;
    QTest::newRow("nothing to append leaves file") << true << old << QList<Record>{} << old;
    QTest::newRow("nothing to append creates file") << false << QByteArray() << QList<Record>{} << QByteArray();
}

void TestLists::append()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, before);
    QFETCH(QList<Record>, records);
    QFETCH(QByteArray, after);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("bans.lst");
    if (exists)
        writeFile(path, before);
    QString error;
    QVERIFY2(appendRecords(path, records, ListKind::Bans, &error), qPrintable(error));
    QVERIFY(QFileInfo::exists(path));
    QCOMPARE(readFile(path), after);
}

void TestLists::appendFailureKeepsOldFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    HonourPermissions honour;
    const bool enforced = HonourPermissions::effective(dir.path());
    const QList<Record> records{{"1.2.3.4", "n", "r", "2024-06-15", ""}};
    QString error;

    QVERIFY(QDir(dir.path()).mkdir("bans.lst"));
    QVERIFY(!appendRecords(dir.filePath("bans.lst"), records, ListKind::Bans, &error));
    QVERIFY(!error.isEmpty());

    const QByteArray old("old\x02"
                         "a\x02"
                         "b\x02"
                         "c\x02\r\n");
    const QString sub = dir.filePath("ro");
    QVERIFY(QDir().mkdir(sub));
    writeFile(sub + "/bans.lst", old);
    QFile::setPermissions(sub + "/bans.lst", QFileDevice::ReadOwner);
    QFile::setPermissions(sub, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const bool appended = appendRecords(sub + "/bans.lst", records, ListKind::Bans);
    QFile::setPermissions(sub, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile::setPermissions(sub + "/bans.lst", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (!enforced)
        QSKIP("permission bits are not enforced here");
    QVERIFY(!appended);
    QCOMPARE(readFile(sub + "/bans.lst"), old);
}

void TestLists::skinList_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("count");

    QTest::newRow("three lines") << QByteArray("allied_sas\r\naxis_x\r\ngerman elite\r\n")
                                 << QStringList{"allied_sas", "axis_x", "german elite", ""} << 3;
    QTest::newRow("no final line end, bare LF") << QByteArray("a\nb") << QStringList{"a", "b", ""} << 2;
    QTest::newRow("empty lines count") << QByteArray("a\r\n\r\nb\r\n") << QStringList{"a", "", "b", ""} << 3;
    QTest::newRow("empty file") << QByteArray() << QStringList{""} << 0;
    QTest::newRow("separator inside a line") << QByteArray("a\x02"
                                                           "b\r\n\xe9\r\n")
                                             << QStringList{"ab", QString::fromLatin1("\xe9"), ""} << 2;
}

void TestLists::skinList()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, entries);
    QFETCH(int, count);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writeFile(dir.filePath("skins.txt"), bytes);
    SkinList list{{"previous", ""}, 1};
    QVERIFY(loadSkinList(dir.filePath("skins.txt"), list));
    QCOMPARE(list.entries, entries);
    QCOMPARE(list.count, count);
}

void TestLists::skinListMissingKeepsPrevious()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writeFile(dir.filePath("skins.txt"), "x\r\ny\r\n");
    writeFile(dir.filePath("reserved.txt"), "r\r\n");

    SkinList suspicious, reserved;
    QVERIFY(loadSkinList(dir.filePath("skins.txt"), suspicious));
    QVERIFY(loadSkinList(dir.filePath("reserved.txt"), reserved));
    QCOMPARE(reserved.entries, (QStringList{"r", ""}));  // nothing carried over from skins.txt

    QVERIFY(QFile::remove(dir.filePath("skins.txt")));
    QVERIFY(!loadSkinList(dir.filePath("skins.txt"), suspicious));
    QCOMPARE(suspicious.entries, (QStringList{"x", "y", ""}));
    QCOMPARE(suspicious.count, 2);

    QVERIFY(QDir(dir.path()).mkdir("skins.txt"));
    QVERIFY(!loadSkinList(dir.filePath("skins.txt"), suspicious));
    QCOMPARE(suspicious.count, 2);
}

void TestLists::fileAccessPolicy_data()
{
    QTest::addColumn<Place>("place");
    QTest::addColumn<ReadStatus>("read");
    QTest::addColumn<bool>("written");  // by each of writeFileAtomic, appendToFile and emptyFile

    QTest::newRow("nothing there") << Place::Nothing << ReadStatus::Missing << true;
    QTest::newRow("writable file") << Place::Plain << ReadStatus::Ok << true;
    // As root too, which the system's own access checks let through.
    QTest::newRow("read-only file") << Place::ReadOnly << ReadStatus::Ok << false;
    QTest::newRow("file only its owner may read") << Place::OwnerReadOnly << ReadStatus::Ok << false;
    QTest::newRow("folder") << Place::Folder << ReadStatus::Failed << false;
    QTest::newRow("pipe") << Place::Pipe << ReadStatus::Failed << false;
    QTest::newRow("link") << Place::Link << ReadStatus::Ok << true;
    QTest::newRow("link to a read-only file") << Place::LinkToReadOnly << ReadStatus::Ok << false;
    QTest::newRow("link to a file not made yet") << Place::DanglingLink << ReadStatus::Missing << true;
    QTest::newRow("link to a link") << Place::LinkChain << ReadStatus::Ok << true;
    QTest::newRow("link to a folder") << Place::LinkToFolder << ReadStatus::Failed << false;
    QTest::newRow("circle of links") << Place::LinkCircle << ReadStatus::Failed << false;
}

void TestLists::fileAccessPolicy()
{
    QFETCH(Place, place);
    QFETCH(ReadStatus, read);
    QFETCH(bool, written);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray old = banLine("9.9.9.9");
    const QByteArray fresh = banLine("1.2.3.4");
    const QString path = dir.filePath("bans.lst");
    // Links point into another folder, as a shared list's would.
    const QString target =
        place == Place::DanglingLink ? dir.filePath("shared/new.lst") : dir.filePath("shared/bans.lst");
    const auto rw = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
    const auto ro = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    writeFile(dir.filePath("shared/bans.lst"), old);
    QFile::setPermissions(dir.filePath("shared/bans.lst"), place == Place::LinkToReadOnly ? ro : rw);
    auto link = [&](const QString& to, const QString& from) {
        QVERIFY(QFile::link(QDir(QFileInfo(from).path()).relativeFilePath(to), from));
    };
    switch (place) {
    case Place::Nothing: break;
    case Place::Plain:
    case Place::ReadOnly:
    case Place::OwnerReadOnly:
        writeFile(path, old);
        QFile::setPermissions(path, place == Place::Plain      ? rw
                                    : place == Place::ReadOnly ? ro
                                                               : QFileDevice::ReadOwner);
        break;
    case Place::Folder: QVERIFY(QDir(dir.path()).mkdir("bans.lst")); break;
    case Place::Pipe:
#ifdef Q_OS_UNIX
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
        break;
#else
        QSKIP("no named pipes here");
#endif
    case Place::Link:
    case Place::LinkToReadOnly:
    case Place::DanglingLink: link(target, path); break;
    case Place::LinkChain:
        link(dir.filePath("shared/bans.lst"), dir.filePath("middle.lst"));
        link(dir.filePath("middle.lst"), path);
        break;
    case Place::LinkToFolder: link(dir.filePath("shared"), path); break;
    case Place::LinkCircle:
        link(dir.filePath("middle.lst"), path);
        link(path, dir.filePath("middle.lst"));
        break;
    }
    const bool isLink = QFileInfo(path).isSymLink();
    const bool toFile = place == Place::Link || place == Place::LinkToReadOnly || place == Place::DanglingLink ||
                        place == Place::LinkChain;
    const QString file = toFile ? target : path;
    const QFileDevice::Permissions mode = QFileInfo(file).permissions();
    const QFileInfo before(path);

    QByteArray data;
    QString error;
    QCOMPARE(readWholeFile(path, &data, &error), read);
    QCOMPARE(error.isEmpty(), read != ReadStatus::Failed);
    QCOMPARE(data, read == ReadStatus::Ok ? old : QByteArray());

    const bool plainFileAfter =
        place != Place::Folder && place != Place::Pipe && place != Place::LinkToFolder && place != Place::LinkCircle;
    // Each of the three writes, with what the file then holds.
    const QList<std::pair<std::function<bool(QString*)>, QByteArray>> writes{
        {[&](QString* e) { return writeFileAtomic(path, fresh, e); }, fresh},
        {[&](QString* e) { return appendToFile(path, fresh, e); }, fresh + fresh},
        {[&](QString* e) { return emptyFile(path, e); }, QByteArray()},
    };
    for (const auto& [write, after] : writes) {
        error.clear();
        QCOMPARE(write(&error), written);
        if (written)
            QVERIFY2(error.isEmpty(), qPrintable(error));
        else
            QVERIFY2(error.startsWith("Cannot write " + QDir::toNativeSeparators(path) + ": "), qPrintable(error));
        QCOMPARE(QFileInfo(path).isSymLink(), isLink);
        if (plainFileAfter)
            QCOMPARE(readFile(file), written ? after : old);
    }

    if (!plainFileAfter) {
        QCOMPARE(QFileInfo(path).isDir(), before.isDir());
        QVERIFY(!QFileInfo(path).isFile());
        return;
    }
    if (place != Place::DanglingLink && place != Place::Nothing)
        QCOMPARE(QFileInfo(file).permissions(), mode);
    // No temporary file is left beside the target.
    QCOMPARE(QDir(QFileInfo(file).path()).entryList({QFileInfo(file).fileName() + ".*"}, QDir::Files | QDir::Hidden),
             QStringList());
}

void TestLists::lockHeldElsewhereFailsTheWrite()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("bans.lst");
    const QByteArray old = banLine("9.9.9.9");
    writeFile(path, old);
    skelvar::test::LockHolder other;
    QVERIFY(other.hold(path));
    QVERIFY(QFileInfo::exists(path + ".lock"));

    QString error;
    QVERIFY(!appendRecords(path, {ban("1.2.3.4")}, ListKind::Bans, &error, 200));
    QVERIFY2(error.contains("lock"), qPrintable(error));
    QVERIFY(!saveRecords(path, {ban("1.2.3.4")}, ListKind::Bans, &error, 200));
    QCOMPARE(readFile(path), old);
}

void TestLists::staleLockOfAKilledWriterIsTakenOver()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A link: the lock lies beside the target, where every monitor sharing it looks.
    writeFile(dir.filePath("shared/bans.lst"), banLine("9.9.9.9"));
    QVERIFY(QFile::link("shared/bans.lst", dir.filePath("bans.lst")));
    {
        skelvar::test::LockHolder killed;
        QVERIFY(killed.hold(dir.filePath("bans.lst")));
        killed.kill();
    }
    QVERIFY(QFileInfo::exists(dir.filePath("shared/bans.lst.lock")));

    constexpr int wait = 2000;
    QElapsedTimer timer;
    timer.start();
    QString error;
    QVERIFY2(appendRecords(dir.filePath("bans.lst"), {ban("1.2.3.4")}, ListKind::Bans, &error, wait),
             qPrintable(error));
    QVERIFY(timer.elapsed() < wait);
    QCOMPARE(readFile(dir.filePath("shared/bans.lst")), banLine("9.9.9.9") + banLine("1.2.3.4"));
    QVERIFY(!QFileInfo::exists(dir.filePath("shared/bans.lst.lock")));
}

// A lock file that names a live process of the same program, which no
// longer holds it: a restarted monitor that got the process id of the one
// that died with the lock. Only the file's age can tell it is not coming back.
void TestLists::lockOfALiveProcessIsTakenOverWhenOld_data()
{
    QTest::addColumn<int>("ageSeconds");
    QTest::addColumn<bool>("takenOver");
    QTest::newRow("older than 10 s: taken over") << 15 << true;
    QTest::newRow("younger: waited for") << 5 << false;
}

void TestLists::lockOfALiveProcessIsTakenOverWhenOld()
{
    QFETCH(int, ageSeconds);
    QFETCH(bool, takenOver);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("bans.lst");
    const QByteArray old = banLine("9.9.9.9");
    writeFile(path, old);
    // This process writes the lock file, lets go of it and puts it back.
    const QString lockPath = path + ".lock";
    QByteArray lockText;
    {
        QLockFile mine(lockPath);
        QVERIFY(mine.tryLock(0));
        lockText = readFile(lockPath);
    }
    writeFile(lockPath, lockText);
    QFile lock(lockPath);
    QVERIFY(lock.open(QIODevice::ReadOnly));
    QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds), QFileDevice::FileModificationTime));
    lock.close();

    constexpr int wait = 1000;
    QElapsedTimer timer;
    timer.start();
    QString error;
    QCOMPARE(appendRecords(path, {ban("1.2.3.4")}, ListKind::Bans, &error, wait), takenOver);
    if (takenOver) {
        QVERIFY(timer.elapsed() < wait);
        QCOMPARE(readFile(path), old + banLine("1.2.3.4"));
    } else {
        QVERIFY(timer.elapsed() >= wait);
        QVERIFY2(error.contains("lock"), qPrintable(error));
        QCOMPARE(readFile(path), old);
    }
}

void TestLists::mergeWithOtherWriters_data()
{
    QTest::addColumn<QByteArray>("before");    // the file when it was read
    QTest::addColumn<QStringList>("mine");     // "+ip" adds a ban, "-ip" removes the held one
    QTest::addColumn<QByteArray>("theirs");    // the file another program left, or "<deleted>"
    QTest::addColumn<QByteArray>("expected");  // the file after the merge and the write

    const QByteArray a = banLine("1.1.1.1"), b = banLine("2.2.2.2"), c = banLine("3.3.3.3");
    QTest::newRow("their addition joins mine") << a << QStringList{"+2.2.2.2"} << a + c << a + b + c;
    QTest::newRow("my removal stays removed") << a + b << QStringList{"-1.1.1.1"} << a + b + c << b + c;
    QTest::newRow("their removal stays removed") << a + b << QStringList{"+4.4.4.4"} << b << b + banLine("4.4.4.4");
    QTest::newRow("both remove the same") << a + b << QStringList{"-1.1.1.1"} << b << b;
    QTest::newRow("their shorter ban of a banned address")
        << QByteArray() << QStringList{"+1.1.1.1"} << banLine("1.1.1.1", "2030-01-01") << a;
    QTest::newRow("their ban as long as mine") << QByteArray() << QStringList{"+1.1.1.1/2030-01-01"}
                                               << banLine("1.1.1.1", "2030-01-01") << banLine("1.1.1.1", "2030-01-01");
    QTest::newRow("their longer ban is added")
        << QByteArray() << QStringList{"+1.1.1.1/2025-01-01"} << a << banLine("1.1.1.1", "2025-01-01") + a;
    QTest::newRow("their ban imported twice comes in once") << a << QStringList{} << a + c + c << a + c;
    QTest::newRow("lines that do not parse are kept")
        << a + "typed by hand\r\n"
        << QStringList{"+2.2.2.2"} << a + "typed by hand\r\n" + "1.2\x02short\r\n"
        << a + b + "typed by hand\r\n" + "1.2\x02short\r\n";
    QTest::newRow("a line in an older date form is not doubled") << QByteArray("1.1.1.1\x02n\x02r\x02"
                                                                               "15/6/2024\x02\r\n")
                                                                 << QStringList{"+2.2.2.2"}
                                                                 << QByteArray("1.1.1.1\x02n\x02r\x02"
                                                                               "15/6/2024\x02\r\n") +
                                                                        c
                                                                 << a + b + c;
    // A CR in the address is dropped when the line is read into the list, so
    // it is the same address there.
    const QByteArray aWithCr("1.1.1.1\r\x02n\x02r\x02"
                             "2024-06-15\x02\r\n");
    const QByteArray bWithCr("2.2.2.2\r\x02n\x02r\x02"
                             "2024-06-15\x02\r\n");
    const QByteArray cWithCr("3.3.3.3\r\x02n\x02r\x02"
                             "2024-06-15\x02\r\n");
    QTest::newRow("their ban of my address with a CR in it is not doubled") << a << QStringList{} << a + aWithCr << a;
    QTest::newRow("a rewrite with my new address and a CR in it is not doubled")
        << a << QStringList{"+2.2.2.2"} << bWithCr + a << a + b;
    QTest::newRow("their ban twice, once with a CR, comes in once") << a << QStringList{} << a + c + cWithCr << a + c;
    QTest::newRow("their ban with a CR in the address comes in cleaned") << a << QStringList{} << a + cWithCr << a + c;
    QTest::newRow("a deleted file loses nothing") << a << QStringList{"+2.2.2.2"} << QByteArray("<deleted>") << a + b;
    QTest::newRow("an emptied file is their removal") << a << QStringList{"+2.2.2.2"} << QByteArray() << b;
}

void TestLists::mergeWithOtherWriters()
{
    QFETCH(QByteArray, before);
    QFETCH(QStringList, mine);
    QFETCH(QByteArray, theirs);
    QFETCH(QByteArray, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("bans.lst");
    if (!before.isEmpty())
        writeFile(path, before);

    ListFile file(path, ListKind::Bans);
    QList<Record> held = file.load(Today).records;
    for (const QString& step : mine) {
        const QStringList parts = step.mid(1).split('/');
        if (step.startsWith('+'))
            held.append(ban(parts[0], parts.value(1)));
        else
            held.removeIf([&](const Record& r) { return r.ip == parts[0]; });
    }
    QFile::remove(path);
    if (theirs != "<deleted>")
        writeFile(path, theirs);

    MergeResult merged;
    QString error;
    QVERIFY2(file.merge(held, Today, &merged, &error), qPrintable(error));
    for (auto row = merged.removed.crbegin(); row != merged.removed.crend(); ++row)
        held.removeAt(*row);
    held += merged.added;
    QVERIFY2(file.save(held, Today, &error), qPrintable(error));
    QCOMPARE(readFile(path), expected);
    QVERIFY(!file.changedOnDisk());
}

void TestLists::manyAppendsThenARewrite()
{
    // Ostrel's appends are read in one after the other without a write of
    // this program's own; then another monitor rewrites the file.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("bans.lst");
    writeFile(path, banLine("1.1.1.1") + "typed by hand\r\n");
    ListFile file(path, ListKind::Bans);
    QList<Record> held = file.load(Today).records;
    QByteArray appended;
    for (int i = 2; i <= 9; ++i) {
        const QByteArray ip = QByteArray::number(i) + ".0.0.1";
        QVERIFY(appendRecords(path, {ban(ip)}, ListKind::Bans));
        appended += banLine(ip);
        MergeResult merged;
        QVERIFY(file.merge(held, Today, &merged));
        QCOMPARE(merged.added, QList<Record>{ban(ip)});
        held += merged.added;
    }
    writeFile(path, appended.mid(banLine("2.0.0.1").size()) + banLine("1.1.1.1"));
    MergeResult merged;
    QVERIFY(file.merge(held, Today, &merged));
    QCOMPARE(merged.removed, QList<int>{1});  // 2.0.0.1
    QVERIFY(merged.added.isEmpty());
    QCOMPARE(file.unparsedLines(), QList<QByteArray>{});
}

QTEST_GUILESS_MAIN(TestLists)
#include "test_lists.moc"
