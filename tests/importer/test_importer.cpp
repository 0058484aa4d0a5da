#include "importer/importer.h"
#include "lists/records.h"
#include "tests/support/files.h"
#include "tests/support/lockholder.h"
#include "tests/support/permissions.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

using namespace skelvar;
using skelvar::importer::LineComplaint;

using skelvar::test::readFile;
using skelvar::test::writeFile;

namespace {

const QDate Today(2024, 6, 15);

// The line the importer writes for ip on 2024-06-15.
QByteArray banLine(const QByteArray& ip)
{
    return ip + "\x02Ostrel-feed\x02"
                "Autokick\x02"
                "2024-06-15\x02\r\n";
}

}  // namespace

class TestImporter : public QObject {
    Q_OBJECT

private slots:
    void parseInput_data();
    void parseInput();
    void appendToBans_data();
    void appendToBans();
    void inputProblemsLeaveBansAlone();
    void linesWithoutAnAddress_data();
    void linesWithoutAnAddress();
    void unwritableBansImportsNothing();
    void readOnlyOrLockedBansImportsNothing_data();
    void readOnlyOrLockedBansImportsNothing();
    void monitorLoadsImportedBans();
    void messages();
    void program();
};

void TestImporter::parseInput_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("ips");
    QTest::addColumn<QList<int>>("badLines");

    QTest::newRow("trimmed address") << QByteArray("  192.168.0.7 \r\n") << QStringList{"192.168.0.7"} << QList<int>{};
    QTest::newRow("tabs and bare LF, last line without end")
        << QByteArray("\t10.0.0.1\t\n255.255.255.255") << QStringList{"10.0.0.1", "255.255.255.255"} << QList<int>{};
    QTest::newRow("patterns copied unchanged")
        << QByteArray("10.1.2.xxx\r\n10.1.xxx.xxx\r\n10.xxx.xxx.xxx\r\n")
        << QStringList{"10.1.2.xxx", "10.1.xxx.xxx", "10.xxx.xxx.xxx"} << QList<int>{};
    QTest::newRow("blank lines skipped silently")
        << QByteArray("\r\n   \r\n1.2.3.4\r\n\t\r\n\r\n") << QStringList{"1.2.3.4"} << QList<int>{};
    QTest::newRow("not addresses, by line number")
        << QByteArray("1.2.3.4\r\n"
                      "xxx.xxx.xxx.xxx\r\n"  // 2: would match nobody, or everybody after trimming
                      "xxx\r\n"              // 3: reduces to an empty prefix
                      "1.xxx.3.4\r\n"        // 4: number after xxx
                      "256.1.1.1\r\n"        // 5
                      "1.2.3\r\n"            // 6
                      "1.2.3.4.5\r\n"        // 7
                      "1..3.4\r\n"           // 8
                      "1.2.3.4 bad guy\r\n"  // 9
                      "10.1.2.XXX\r\n"       // 10
                      "1234.1.1.1\r\n"       // 11
                      "5.6.7.8\r\n")
        << QStringList{"1.2.3.4", "5.6.7.8"} << QList<int>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    QTest::newRow("bytes above 0x7F and control bytes") << QByteArray("1.2.3.\xe9\r\n1.2\x02.3.4\r\n1.2.3.4\x00\r\n\xa0"
                                                                      "9.9.9.9\r\n",
                                                                      39)
                                                        << QStringList{} << QList<int>{1, 2, 3, 4};
    QTest::newRow("empty input") << QByteArray() << QStringList{} << QList<int>{};
    QTest::newRow("byte-order mark before the first address") << QByteArray("\xEF\xBB\xBF"
                                                                            "192.168.0.7\r\n10.0.0.1\r\n")
                                                              << QStringList{"192.168.0.7", "10.0.0.1"} << QList<int>{};
    QTest::newRow("byte-order mark on a later line is a stray byte") << QByteArray("1.2.3.4\r\n\xEF\xBB\xBF"
                                                                                   "5.6.7.8\r\n")
                                                                     << QStringList{"1.2.3.4"} << QList<int>{2};
}

void TestImporter::parseInput()
{
    QFETCH(QByteArray, input);
    QFETCH(QStringList, ips);
    QFETCH(QList<int>, badLines);
    const importer::ParsedInput parsed = importer::parseBannedIp(input, Today);
    QStringList got;
    for (const lists::Record& r : parsed.records) {
        got << r.ip;
        QCOMPARE(r, (lists::Record{r.ip, "Ostrel-feed", "Autokick", "2024-06-15", ""}));
    }
    QCOMPARE(got, ips);
    QList<int> lines;
    for (const LineComplaint& c : parsed.complaints)
        lines << c.line;
    QCOMPARE(lines, badLines);
}

void TestImporter::appendToBans_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<int>("appended");

    const QByteArray old("9.9.9.9\x02"
                         "Bob\x02"
                         "Aimbot\x02"
                         "2024-01-01\x02"
                         "2030-01-01\r\n"
                         "8.8.8.8\x02"
                         "Al\x02"
                         "r\x02"
                         "2024-01-01\x02\r\n");
    const QByteArray input(" 1.2.3.4\r\n\r\n10.1.2.xxx \r\n1.2.3.4\r\n");
    const QByteArray added = banLine("1.2.3.4") + banLine("10.1.2.xxx") + banLine("1.2.3.4");

    QTest::newRow("new bans.lst") << false << QByteArray() << input << added << 3;
    QTest::newRow("existing lines kept, no dedup") << true << old << input << old + added << 3;
    QTest::newRow("existing last line without line end") << true << old.chopped(2) << input << old + added << 3;
    QTest::newRow("empty input leaves bans.lst") << true << old << QByteArray() << old << 0;
    QTest::newRow("blank lines alone are an empty input") << true << old << QByteArray("\r\n \r\n") << old << 0;
    QTest::newRow("byte-order mark alone is an empty input") << true << old << QByteArray("\xEF\xBB\xBF") << old << 0;
    QTest::newRow("empty input creates bans.lst") << false << QByteArray() << QByteArray() << QByteArray() << 0;
}

void TestImporter::appendToBans()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, after);
    QFETCH(int, appended);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writeFile(dir.filePath("bannedip.txt"), input);
    if (exists)
        writeFile(dir.filePath("bans.lst"), before);

    const importer::ImportResult r = importer::importBans(dir.path(), Today);
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.appended, appended);
    QCOMPARE(readFile(dir.filePath("bans.lst")), after);
}

void TestImporter::inputProblemsLeaveBansAlone()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());

    importer::ImportResult r = importer::importBans(dir.path(), Today);
    QVERIFY(!r.ok);
    QCOMPARE(r.exitCode, 1);
    QVERIFY(r.error.contains("bannedip.txt"));
    QVERIFY(!QFileInfo::exists(dir.filePath("bans.lst")));

    const QByteArray old = banLine("9.9.9.9");
    writeFile(dir.filePath("bans.lst"), old);
    QVERIFY(QDir(dir.path()).mkdir("bannedip.txt"));
    r = importer::importBans(dir.path(), Today);
    QVERIFY(!r.ok);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(readFile(dir.filePath("bans.lst")), old);
}

void TestImporter::linesWithoutAnAddress_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("error");

    QTest::newRow("one rejected line") << QByteArray("\r\nnot-an-ip\r\n") << true
                                       << "No address found in %1 (1 line); nothing was imported";
    QTest::newRow("only rejected and blank lines, no bans.lst yet")
        << QByteArray("\xEF\xBB\xBFnot-an-ip\r\n\r\n1.2.3\r\n") << false
        << "No address found in %1 (2 lines); nothing was imported";
}

void TestImporter::linesWithoutAnAddress()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, exists);
    QFETCH(QString, error);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writeFile(dir.filePath("bannedip.txt"), input);
    const QByteArray old = banLine("9.9.9.9");
    if (exists)
        writeFile(dir.filePath("bans.lst"), old);

    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    QCOMPARE(importer::runImport(dir.path(), Today, outStream, errStream), 3);
    QVERIFY(out.isEmpty());
    QVERIFY2(err.endsWith("Ostrel: " + error.arg(QDir::toNativeSeparators(dir.filePath("bannedip.txt"))) + "\n"),
             qPrintable(err));
    if (exists)
        QCOMPARE(readFile(dir.filePath("bans.lst")), old);
    else
        QVERIFY(!QFileInfo::exists(dir.filePath("bans.lst")));
}

void TestImporter::unwritableBansImportsNothing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    HonourPermissions honour;
    const bool enforced = HonourPermissions::effective(dir.path());
    writeFile(dir.filePath("bannedip.txt"), "1.2.3.4\r\n");
    QVERIFY(QDir(dir.path()).mkdir("bans.lst"));
    importer::ImportResult r = importer::importBans(dir.path(), Today);
    QVERIFY(!r.ok);
    QCOMPARE(r.exitCode, 2);
    QVERIFY(r.error.contains("bans.lst"));

    // Read-only folder holding a bans.lst: the old content stays whole.
    const QString sub = dir.filePath("ro");
    QVERIFY(QDir().mkdir(sub));
    writeFile(sub + "/bannedip.txt", "1.2.3.4\r\n");
    const QByteArray old = banLine("9.9.9.9");
    writeFile(sub + "/bans.lst", old);
    QFile::setPermissions(sub, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    r = importer::importBans(sub, Today);
    QFile::setPermissions(sub, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (!enforced)
        QSKIP("permission bits are not enforced here");
    QVERIFY(!r.ok);
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(readFile(sub + "/bans.lst"), old);
}

void TestImporter::readOnlyOrLockedBansImportsNothing_data()
{
    QTest::addColumn<bool>("locked");  // otherwise read-only
    QTest::newRow("read-only, as root") << false;
    QTest::newRow("locked by another process") << true;
}

void TestImporter::readOnlyOrLockedBansImportsNothing()
{
    QFETCH(bool, locked);
    // No capabilities are dropped: the permission bits alone must protect the file.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writeFile(dir.filePath("bannedip.txt"), "1.2.3.4\r\n");
    const QByteArray old = banLine("9.9.9.9");
    writeFile(dir.filePath("bans.lst"), old);
    const auto readOnly = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    const auto mode = locked ? QFileInfo(dir.filePath("bans.lst")).permissions() : readOnly;
    skelvar::test::LockHolder other;
    if (locked)
        QVERIFY(other.hold(dir.filePath("bans.lst")));
    else
        QFile::setPermissions(dir.filePath("bans.lst"), readOnly);

    const importer::ImportResult r = importer::importBans(dir.path(), Today, 200);
    QVERIFY(!r.ok);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.error.contains(locked ? "lock" : "read-only"), qPrintable(r.error));
    QCOMPARE(readFile(dir.filePath("bans.lst")), old);
    QCOMPARE(QFileInfo(dir.filePath("bans.lst")).permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
             mode & ~(QFileDevice::ReadUser | QFileDevice::WriteUser));
}

void TestImporter::monitorLoadsImportedBans()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // An existing line without its line end must not swallow the first import.
    writeFile(dir.filePath("bans.lst"), "9.9.9.9\x02"
                                        "Bob\x02"
                                        "Aimbot\x02"
                                        "2024-01-01\x02"
                                        "2030-01-01");
    writeFile(dir.filePath("bannedip.txt"), "192.168.0.7\r\n10.1.xxx.xxx\r\n");
    QVERIFY(importer::importBans(dir.path(), Today).ok);

    // Years later the imported bans are still there: they have no end.
    const lists::LoadResult loaded =
        lists::loadRecords(dir.filePath("bans.lst"), lists::ListKind::Bans, QDate(2029, 1, 1));
    QCOMPARE(loaded.skipped, 0);
    QCOMPARE(loaded.expired, 0);
    const QList<lists::Record> expected{
        {"9.9.9.9", "Bob", "Aimbot", "2024-01-01", "2030-01-01"},
        {"192.168.0.7", "Ostrel-feed", "Autokick", "2024-06-15", ""},
        {"10.1.xxx.xxx", "Ostrel-feed", "Autokick", "2024-06-15", ""},
    };
    QCOMPARE(loaded.records, expected);
}

void TestImporter::messages()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writeFile(dir.filePath("bannedip.txt"), "1.2.3.4\r\nbad\x1b[2J\r\n\r\n5.6.7.8\r\n");
    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    QCOMPARE(importer::runImport(dir.path(), Today, outStream, errStream), 0);
    QCOMPARE(out, QString("Appended 2 bans to bans.lst\n"));
    QCOMPARE(err, QString("bannedip.txt line 2: not an address or address pattern, skipped: bad?[2J\n"));

    // A rejected line is shown with its first 80 characters; a cut one ends in the mark.
    const QByteArray eighty = QByteArray(79, 'x') + '\t';  // a tab inside the line shows as '?'
    writeFile(dir.filePath("bannedip.txt"),
              "1.2.3.4\r\n" + eighty + "y\r\n" + QByteArray(1 << 20, 'z') + "\r\n" + eighty.chopped(1) + "y\r\n");
    out.clear();
    err.clear();
    QCOMPARE(importer::runImport(dir.path(), Today, outStream, errStream), 0);
    QCOMPARE(out, QString("Appended 1 ban to bans.lst\n"));
    const QString skipped = "bannedip.txt line %1: not an address or address pattern, skipped: ";
    QCOMPARE(err, skipped.arg(2) + QString(79, 'x') + "?" + QChar(0x2026) + "\n" + skipped.arg(3) + QString(80, 'z') +
                      QChar(0x2026) + "\n" + skipped.arg(4) + QString(79, 'x') + "y\n");

    QVERIFY(QFile::remove(dir.filePath("bannedip.txt")));
    out.clear();
    err.clear();
    QCOMPARE(importer::runImport(dir.path(), Today, outStream, errStream), 1);
    QVERIFY(out.isEmpty());
    QVERIFY(err.startsWith("Ostrel: Cannot find "));
}

void TestImporter::program()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString exe = dir.filePath("Ostrel");
    QVERIFY(QFile::copy(QStringLiteral(OSTREL_PATH), exe));
    // The working folder holds decoys: the program must use its own folder.
    QTemporaryDir cwd;
    QVERIFY(cwd.isValid());
    writeFile(cwd.filePath("bannedip.txt"), "7.7.7.7\r\n");

    auto run = [&](int expectedExit, QByteArray* out, QByteArray* err) {
        QProcess p;
        p.setWorkingDirectory(cwd.path());
        p.start(exe, {});
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        *out = p.readAllStandardOutput();
        *err = p.readAllStandardError();
        QCOMPARE(p.exitCode(), expectedExit);
    };
    QByteArray out, err;

    run(1, &out, &err);
    QVERIFY(out.isEmpty());
    QVERIFY(err.contains("bannedip.txt"));
    QVERIFY(!QFileInfo::exists(dir.filePath("bans.lst")));
    QVERIFY(!QFileInfo::exists(cwd.filePath("bans.lst")));

    writeFile(dir.filePath("bannedip.txt"), "  192.168.0.7 \r\nnot-an-ip\r\n\r\n10.1.2.xxx");
    const QByteArray old("9.9.9.9\x02"
                         "Bob\x02"
                         "Aimbot\x02"
                         "2024-01-01\x02\r\n");
    writeFile(dir.filePath("bans.lst"), old);
    const QDate before = QDate::currentDate();
    run(0, &out, &err);
    const QDate after = QDate::currentDate();
    QCOMPARE(out, QByteArray("Appended 2 bans to bans.lst\n"));
    QCOMPARE(err, QByteArray("bannedip.txt line 2: not an address or address pattern, skipped: not-an-ip\n"));
    const QByteArray bans = readFile(dir.filePath("bans.lst"));
    auto expected = [&](const QDate& day) {
        const QByteArray d = day.toString("yyyy-MM-dd").toLatin1();
        return old +
               "192.168.0.7\x02Ostrel-feed\x02"
               "Autokick\x02" +
               d + "\x02\r\n" +
               "10.1.2.xxx\x02Ostrel-feed\x02"
               "Autokick\x02" +
               d + "\x02\r\n";
    };
    QVERIFY2(bans == expected(before) || bans == expected(after), bans.constData());
    QVERIFY(!QFileInfo::exists(cwd.filePath("bans.lst")));

    writeFile(dir.filePath("bannedip.txt"), "\xEF\xBB\xBF" + QByteArray(81, '9') + "\r\n\xe9t\xe9\r\n");
    run(3, &out, &err);
    QVERIFY(out.isEmpty());
    QVERIFY2(err.startsWith("bannedip.txt line 1: not an address or address pattern, skipped: " + QByteArray(80, '9') +
                            "\xE2\x80\xA6\n"
                            "bannedip.txt line 2: not an address or address pattern, skipped: \xC3\xA9t\xC3\xA9\n"
                            "Ostrel: No address found in "),
             err.constData());
    QVERIFY2(bans == readFile(dir.filePath("bans.lst")), "bans.lst changed");

    writeFile(dir.filePath("bannedip.txt"), "1.2.3.4\r\n");
    QVERIFY(QFile::remove(dir.filePath("bans.lst")));
    QVERIFY(QDir(dir.path()).mkdir("bans.lst"));
    run(2, &out, &err);
    QVERIFY(out.isEmpty());
    QVERIFY(err.contains("bans.lst"));
}

QTEST_GUILESS_MAIN(TestImporter)
#include "test_importer.moc"
