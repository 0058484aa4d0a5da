// The shared ban list's pure parts: the fold every monitor computes from the
// log, the form a ban takes on its way through a store, the difference that
// turns one list into another, the journal and state files, and the file
// store driven through the store interface.
#include "lists/banjournal.h"
#include "lists/banstore.h"
#include "lists/pgbanstore.h"
#include "lists/records.h"
#include "tests/support/banstorecontract.h"
#include "tests/support/files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace skelvar::lists;
using skelvar::test::readFile;
using skelvar::test::sortedBans;
using skelvar::test::writeFile;

Q_DECLARE_METATYPE(skelvar::lists::Record)
Q_DECLARE_METATYPE(skelvar::lists::BanChange)

namespace {

const QDate Today(2024, 6, 15);

Record ban(const QString& ip, const QString& until = {}, const QString& name = QStringLiteral("n"))
{
    return {ip, name, QStringLiteral("r"), QStringLiteral("2024-06-15"), until};
}

BanChange add(const Record& r)
{
    return newBanOperation(BanChange::Kind::Add, r);
}

BanChange removal(const Record& r)
{
    return newBanOperation(BanChange::Kind::Remove, r);
}

QList<BanChange> numbered(QList<BanChange> changes)
{
    for (int i = 0; i < changes.size(); ++i)
        changes[i].seq = i + 1;
    return changes;
}

}  // namespace

class TestBanStore : public QObject {
    Q_OBJECT

private slots:
    void fold_data();
    void fold();
    void normalized_data();
    void normalized();
    void difference_data();
    void difference();
    void journalRoundTrip();
    void journalLineDamage();
    void journalFileKeepsWhatParses();
    void stateRoundTrip();
    void stateDamage_data();
    void stateDamage();
    void fileStoreContract();
    void fileStoreFolderGoneAndBack();
    void fileStoreFailedWriteChangesNothing();
    void databaseUrl_data();
    void databaseUrl();
};

void TestBanStore::fold_data()
{
    QTest::addColumn<QList<BanChange>>("changes");
    QTest::addColumn<QList<Record>>("expected");

    const Record permanent = ban("1.2.3.4");
    const Record july = ban("1.2.3.4", "2024-07-01");
    const Record august = ban("1.2.3.4", "2024-08-01");
    QTest::newRow("a longer ban after a shorter one is kept")
        << QList<BanChange>{add(july), add(august)} << QList<Record>{july, august};
    QTest::newRow("a shorter ban after a longer one is skipped")
        << QList<BanChange>{add(august), add(july)} << QList<Record>{august};
    QTest::newRow("as long is covered, whoever gave it")
        << QList<BanChange>{add(july), add(ban("1.2.3.4", "2024-07-01", "other"))} << QList<Record>{july};
    QTest::newRow("no end covers every end")
        << QList<BanChange>{add(permanent), add(ban("1.2.3.4", "2099-12-31"))} << QList<Record>{permanent};
    QTest::newRow("an end never covers no end")
        << QList<BanChange>{add(july), add(permanent)} << QList<Record>{july, permanent};
    QTest::newRow("a pattern is another address")
        << QList<BanChange>{add(permanent), add(ban("1.2.3.xxx"))} << QList<Record>{permanent, ban("1.2.3.xxx")};
    QTest::newRow("a removal takes the equal ban") << QList<BanChange>{add(july), removal(july)} << QList<Record>{};
    QTest::newRow("a removal needs all five fields equal")
        << QList<BanChange>{add(july), removal(ban("1.2.3.4", "2024-07-01", "other"))} << QList<Record>{july};
    QTest::newRow("a removal before the ban leaves the ban")
        << QList<BanChange>{removal(july), add(july)} << QList<Record>{july};
    QTest::newRow("a skipped ban does not come back when its cover goes")
        << QList<BanChange>{add(permanent), add(july), removal(permanent)} << QList<Record>{};
    QTest::newRow("the same ban again after its removal")
        << QList<BanChange>{add(july), removal(july), add(july)} << QList<Record>{july};
    QTest::newRow("a ban ending today is over")
        << QList<BanChange>{add(ban("1.2.3.4", "2024-06-15"))} << QList<Record>{};
    QTest::newRow("a ban that is over covers nothing")
        << QList<BanChange>{add(ban("1.2.3.4", "2024-06-01")), add(july)} << QList<Record>{july};
    QTest::newRow("addresses that match nobody stay as the file keeps them")
        << QList<BanChange>{add(ban("")), add(ban("not an address")), add(ban("xxx.xxx.xxx.xxx"))}
        << QList<Record>{ban(""), ban("not an address"), ban("xxx.xxx.xxx.xxx")};
}

void TestBanStore::fold()
{
    QFETCH(QList<BanChange>, changes);
    QFETCH(QList<Record>, expected);
    const QList<BanChange> log = numbered(changes);
    QCOMPARE(sortedBans(foldBanChanges(log, Today)), sortedBans(expected));
    // A monitor folds in batches, as the changes reach it.
    for (int split = 0; split <= log.size(); ++split) {
        BanFold fold;
        fold.apply(log.mid(0, split), Today);
        fold.apply(log.mid(split), Today);
        QCOMPARE(sortedBans(fold.records(Today)), sortedBans(expected));
        QCOMPARE(fold.size(), expected.size());
    }
}

void TestBanStore::normalized_data()
{
    QTest::addColumn<Record>("given");
    QTest::addColumn<Record>("expected");
    QTest::newRow("written form unchanged") << ban("1.2.3.4", "2024-07-01") << ban("1.2.3.4", "2024-07-01");
    QTest::newRow("separators and line breaks dropped") << Record{"1.2.3.4\r\n",
                                                                  "a\x02"
                                                                  "b\r\nc",
                                                                  "r\x02", "2024-06-15", ""}
                                                        << Record{"1.2.3.4", "abc", "r", "2024-06-15", ""};
    QTest::newRow("text outside Latin-1 as the file holds it") << ban("1.2.3.4", {},
                                                                      QString::fromUtf8("\xe5\x90\x8d"
                                                                                        "caf\xc3\xa9"))
                                                               << ban("1.2.3.4", {}, QString::fromLatin1("?caf\xe9"));
    QTest::newRow("NUL dropped") << ban("1.2.3.4", {}, QString("a") + QChar(0) + "b") << ban("1.2.3.4", {}, "ab");
    QTest::newRow("dates in the written form") << Record{"1.2.3.4", "n", "r", "2024/06/20", "2024.07.01"}
                                               << Record{"1.2.3.4", "n", "r", "2024-06-20", "2024-07-01"};
    QTest::newRow("an Until that is no date is no end") << ban("1.2.3.4", "soon") << ban("1.2.3.4");
    QTest::newRow("a past Until is kept") << ban("1.2.3.4", "2020-01-01") << ban("1.2.3.4", "2020-01-01");
    QTest::newRow("empty fields") << Record{} << Record{};
}

void TestBanStore::normalized()
{
    QFETCH(Record, given);
    QFETCH(Record, expected);
    QCOMPARE(normalizedBan(given), expected);
    QCOMPARE(normalizedBan(expected), expected);
}

void TestBanStore::difference_data()
{
    QTest::addColumn<QList<Record>>("current");
    QTest::addColumn<QList<Record>>("wanted");
    QTest::addColumn<int>("removed");
    QTest::addColumn<int>("added");
    const Record a = ban("1.1.1.1"), b = ban("2.2.2.2"), c = ban("3.3.3.3");
    QTest::newRow("same records in another order") << QList<Record>{a, b, c} << QList<Record>{c, a, b} << 0 << 0;
    QTest::newRow("duplicates counted") << QList<Record>{a, a, b} << QList<Record>{a, c} << 2 << 1;
    QTest::newRow("one field differs") << QList<Record>{a} << QList<Record>{ban("1.1.1.1", "2024-07-01")} << 1 << 1;
    QTest::newRow("a stray separator is a difference")
        << QList<Record>{Record{"1.1.1.1\x02", "n", "r", "2024-06-15", ""}} << QList<Record>{a} << 1 << 1;
    QTest::newRow("from nothing") << QList<Record>{} << QList<Record>{b, a} << 0 << 2;
    QTest::newRow("to nothing") << QList<Record>{b, a} << QList<Record>{} << 2 << 0;
}

void TestBanStore::difference()
{
    QFETCH(QList<Record>, current);
    QFETCH(QList<Record>, wanted);
    QFETCH(int, removed);
    QFETCH(int, added);
    const ListDifference diff = listDifference(current, wanted);
    QCOMPARE(diff.removedRows.size(), removed);
    QCOMPARE(diff.added.size(), added);
    QVERIFY(std::is_sorted(diff.removedRows.cbegin(), diff.removedRows.cend()));
    QList<Record> result = current;
    for (auto row = diff.removedRows.crbegin(); row != diff.removedRows.crend(); ++row)
        result.removeAt(*row);
    result += diff.added;
    QCOMPARE(sortedBans(result), sortedBans(wanted));
    QCOMPARE(sortedBans(recordsMissingFrom(wanted, current)), sortedBans(diff.added));
}

void TestBanStore::journalRoundTrip()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(JournalFileName);
    const QList<BanChange> ops{add(ban("1.2.3.4", "2024-07-01")),
                               removal(Record{"5.6.7.8", "x;y'z\"\x02\r\n", "\\", "2024-06-15", ""}),
                               add(Record{"", "", "", "", ""})};
    QString error;
    QVERIFY2(saveBanJournal(path, ops, &error), qPrintable(error));
    const JournalLoad loaded = loadBanJournal(path);
    QCOMPARE(loaded.status, ReadStatus::Ok);
    QCOMPARE(loaded.damaged, 0);
    QCOMPARE(loaded.ops.size(), ops.size());
    for (int i = 0; i < ops.size(); ++i) {
        QCOMPARE(loaded.ops[i].op, ops[i].op);
        QCOMPARE(loaded.ops[i].kind, ops[i].kind);
        QCOMPARE(loaded.ops[i].record, ops[i].record);
    }
    QCOMPARE(loaded.ops[1].record.name, QStringLiteral("x;y'z\""));
    // One line per operation, whatever its text.
    QCOMPARE(readFile(path).count('\n'), ops.size());

    QVERIFY(saveBanJournal(path, {}, &error));
    QCOMPARE(readFile(path), QByteArray());
    QCOMPARE(loadBanJournal(dir.filePath("none")).status, ReadStatus::Missing);
}

// A line cut anywhere, or with any one byte changed, is no operation: a cut
// Until would otherwise read as a ban without end.
void TestBanStore::journalLineDamage()
{
    const QByteArray line = journalLine(add(ban("1.2.3.4", "2024-07-01"))).chopped(2);
    QVERIFY(parseJournalLine(line).has_value());
    for (qsizetype cut = 0; cut < line.size(); ++cut)
        QVERIFY2(!parseJournalLine(line.left(cut)).has_value(), line.left(cut).constData());
    for (qsizetype at = 0; at < line.size(); ++at) {
        QByteArray changed = line;
        changed[at] = char(changed[at] ^ 0x01);
        QVERIFY2(!parseJournalLine(changed).has_value(), changed.constData());
    }
}

void TestBanStore::journalFileKeepsWhatParses()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(JournalFileName);
    const BanChange first = add(ban("1.1.1.1"));
    const BanChange second = removal(ban("2.2.2.2"));
    const BanChange last = add(ban("3.3.3.3", "2024-07-01"));
    QByteArray damaged = journalLine(second);
    damaged[40] = 'Z';
    writeFile(path, journalLine(first) + "garbage\r\n" + damaged + journalLine(second) + journalLine(last).left(50));
    const JournalLoad loaded = loadBanJournal(path);
    QCOMPARE(loaded.status, ReadStatus::Ok);
    QCOMPARE(loaded.damaged, 3);
    QCOMPARE(loaded.ops.size(), 2);
    QCOMPARE(loaded.ops[0].op, first.op);
    QCOMPARE(loaded.ops[1].op, second.op);
}

void TestBanStore::stateRoundTrip()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(SharedStateFileName);
    SharedBansState state;
    state.logId = QStringLiteral("6f1c1c5e-7a53-4f1e-9b1e-0c5f2a9d0b11");
    state.seq = 1234567890123;
    state.bans = {ban("1.2.3.4"), ban("5.6.7.8", "2020-01-01"), normalizedBan(Record{"", "a\x02;b", "", "", ""})};
    state.confirmed = {add(ban("1.1.1.1")).op};
    QString error;
    QVERIFY2(saveSharedBansState(path, state, &error), qPrintable(error));
    SharedBansState loaded;
    QCOMPARE(loadSharedBansState(path, &loaded, &error), StateStatus::Ok);
    QCOMPARE(loaded.logId, state.logId);
    QCOMPARE(loaded.seq, state.seq);
    QCOMPARE(loaded.bans, state.bans);
    QCOMPARE(loaded.confirmed, state.confirmed);
    QCOMPARE(loadSharedBansState(dir.filePath("none"), &loaded), StateStatus::Missing);
}

void TestBanStore::stateDamage_data()
{
    QTest::addColumn<int>("cutAt");     // keep this many bytes; -1: all
    QTest::addColumn<int>("changeAt");  // change this byte from the end; -1: none
    QTest::addColumn<QByteArray>("prefix");
    QTest::newRow("cut in the last line") << -20 << -1 << QByteArray();
    QTest::newRow("cut after a line end") << -2 << -1 << QByteArray();
    QTest::newRow("a byte changed") << -1 << 30 << QByteArray();
    QTest::newRow("not this program's") << -1 << -1 << QByteArray("x");
}

void TestBanStore::stateDamage()
{
    QFETCH(int, cutAt);
    QFETCH(int, changeAt);
    QFETCH(QByteArray, prefix);
    QTemporaryDir dir;
    const QString path = dir.filePath(SharedStateFileName);
    SharedBansState state;
    state.logId = QStringLiteral("id");
    state.seq = 7;
    state.bans = {ban("1.2.3.4"), ban("5.6.7.8", "2024-07-01")};
    QVERIFY(saveSharedBansState(path, state));
    QByteArray data = prefix + readFile(path);
    if (cutAt < -1)
        data.chop(-cutAt);
    if (changeAt >= 0)
        data[data.size() - changeAt] = '9';
    writeFile(path, data);
    SharedBansState loaded;
    QString error;
    QCOMPARE(loadSharedBansState(path, &loaded, &error), StateStatus::Damaged);
    QVERIFY(error.contains(path));
    QVERIFY(loaded.logId.isEmpty() && loaded.seq == 0 && loaded.bans.isEmpty());
}

void TestBanStore::fileStoreContract()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("bans.lst");
    FileBanStore a(path, [] { return Today; });
    FileBanStore b(path, [] { return Today; });
    skelvar::test::checkBanStoreContract(a, b, false);
    QVERIFY(a.logId() != b.logId());
}

void TestBanStore::fileStoreFolderGoneAndBack()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("shared");
    QVERIFY(QDir().mkpath(folder));
    writeFile(folder + "/bans.lst", recordLine(ban("1.1.1.1"), ListKind::Bans));
    FileBanStore store(folder + "/bans.lst", [] { return Today; });
    QList<BanChange> changes;
    QVERIFY(store.changesSince(0, &changes));
    QCOMPARE(changes.size(), 1);
    QCOMPARE(changes[0].record, ban("1.1.1.1"));

    QVERIFY(QDir().rename(folder, folder + ".away"));
    QString error;
    QVERIFY(!store.changesSince(1, &changes, &error));
    QVERIFY(!store.isReachable());
    QVERIFY(!store.push({add(ban("2.2.2.2"))}, &error));
    QVERIFY(error.contains("folder"));

    QVERIFY(QDir().rename(folder + ".away", folder));
    QVERIFY2(store.push({add(ban("2.2.2.2"))}, &error), qPrintable(error));
    QVERIFY(store.isReachable());
    QVERIFY(store.changesSince(1, &changes));
    QCOMPARE(changes.size(), 1);
    QCOMPARE(changes[0].seq, qint64(2));
    QCOMPARE(readFile(folder + "/bans.lst"), QByteArray("1.1.1.1\x02n\x02r\x02"
                                                        "2024-06-15\x02\r\n2.2.2.2\x02n\x02r\x02"
                                                        "2024-06-15\x02\r\n"));
}

void TestBanStore::fileStoreFailedWriteChangesNothing()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("bans.lst");
    const QByteArray before = recordLine(ban("1.1.1.1"), ListKind::Bans);
    writeFile(path, before);
    FileBanStore store(path, [] { return Today; });
    QVERIFY(store.open());
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    const BanChange op = add(ban("2.2.2.2"));
    QVERIFY(!store.push({op}));
    QCOMPARE(readFile(path), before);
    QList<BanChange> changes;
    QVERIFY(store.changesSince(0, &changes));
    QCOMPARE(changes.size(), 1);

    // The same operation once the file takes writes is new to the store.
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    QVERIFY(store.push({op}));
    QVERIFY(store.changesSince(1, &changes));
    QCOMPARE(changes.size(), 1);
    QCOMPARE(changes[0].op, op.op);
}

void TestBanStore::databaseUrl_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("parsed");  // user|host|port|database|sslmode, or the error's end
    QTest::newRow("the usual") << "postgresql://skelvar@db.example/skelvar"
                               << "skelvar|db.example|5432|skelvar|";
    QTest::newRow("short scheme and a port") << "postgres://u@127.0.0.1:6543/d"
                                             << "u|127.0.0.1|6543|d|";
    QTest::newRow("IPv6 host") << "postgresql://u@[::1]:5433/d"
                               << "u|::1|5433|d|";
    QTest::newRow("escaped characters") << "postgresql://u%40x@h/d%20b"
                                        << "u@x|h|5432|d b|";
    QTest::newRow("libpq's defaults") << "postgresql:///"
                                      << "||5432||";
    QTest::newRow("sslmode") << "postgresql://u@h/d?sslmode=require"
                             << "u|h|5432|d|require";
    QTest::newRow("a password") << "postgresql://u:secret@h/d"
                                << "holds a password; give it in ~/.pgpass or "
                                   "PGPASSWORD instead";
    QTest::newRow("an empty password") << "postgresql://u:@h/d"
                                       << "holds a password; give it in ~/.pgpass or "
                                          "PGPASSWORD instead";
    QTest::newRow("another scheme") << "mysql://u@h/d"
                                    << "not a postgresql:// address";
    QTest::newRow("no address") << ""
                                << "no address given";
    QTest::newRow("a path") << "postgresql://u@h/d/e"
                            << "names more than a database";
    QTest::newRow("another option") << "postgresql://u@h/d?password=x"
                                    << "the option password is not taken (only "
                                       "sslmode is)";
    QTest::newRow("an unknown sslmode") << "postgresql://u@h/d?sslmode=maybe"
                                        << "sslmode maybe is none of disable, "
                                           "allow, prefer, require, verify-ca, "
                                           "verify-full";
    QTest::newRow("a fragment") << "postgresql://u@h/d#x"
                                << "has a fragment (#...)";
}

void TestBanStore::databaseUrl()
{
    QFETCH(QString, url);
    QFETCH(QString, parsed);
    BanDatabase db;
    QString error;
    if (parseBanDatabaseUrl(url, &db, &error)) {
        QCOMPARE(QStringList({db.user, db.host, QString::number(db.port), db.database, db.sslMode}).join('|'), parsed);
    } else {
        QVERIFY2(error.endsWith(": " + parsed), qPrintable(error));
        QVERIFY2(!error.contains("secret"), qPrintable(error));
    }
}

QTEST_GUILESS_MAIN(TestBanStore)
#include "test_banstore.moc"
