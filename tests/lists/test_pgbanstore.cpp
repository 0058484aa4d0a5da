// The shared ban list in a real PostgreSQL server: the store interface as the
// file store has it, the tables made once in an empty database (also by two
// programs at once), a newer or damaged layout refused and left untouched,
// rows other writers spoiled read as bans.lst would read them, a server that
// dies and comes back, concurrent pushes read without a gap, and a push of
// many statements whose fields look like array syntax.
#include "lists/banstore.h"
#include "lists/pgbanstore.h"
#include "tests/support/bandatabase.h"
#include "tests/support/banstorecontract.h"
#include "tests/support/postgresserver.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QUuid>

#include <atomic>
#include <memory>
#include <thread>

using namespace skelvar::lists;
using skelvar::test::PostgresServer;
using skelvar::test::readAll;
using skelvar::test::sharedBan;
using skelvar::test::TestConnection;

namespace {

const QDate Today(2024, 6, 15);

BanChange add(const Record& r)
{
    return newBanOperation(BanChange::Kind::Add, r);
}

// The columns of every table and the rows of the layout table, to see that nothing changed.
QString schemaAndLayout(TestConnection& conn)
{
    return conn.value(QStringLiteral("SELECT string_agg(table_name || '.' || column_name || ':' || data_type, ',' "
                                     "ORDER BY table_name, ordinal_position) FROM information_schema.columns "
                                     "WHERE table_schema = 'public'")) +
           QStringLiteral(" | ") + conn.value(QStringLiteral("SELECT string_agg(t::text, ',') FROM skelvar_layout t")) +
           QStringLiteral(" | ") + conn.value(QStringLiteral("SELECT count(*) FROM skelvar_ban_changes"));
}

}  // namespace

class TestPgBanStore : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void contract();
    void emptyDatabaseGetsItsTablesOnce();
    void foreignLayoutRefusedUntouched_data();
    void foreignLayoutRefusedUntouched();
    void spoiledRowsReadAsTheFileWould();
    void serverGoneAndBack();
    void concurrentPushesReadWithoutGap();
    void largePushKeepsOrderAndFields();

private:
    // A new database owned by the test role, and where to find it.
    BanDatabase freshDatabase();

    std::unique_ptr<PostgresServer> m_server;
    int m_databases = 0;
};

void TestPgBanStore::initTestCase()
{
    SKELVAR_REQUIRE_POSTGRES();
    QString error;
    m_server = skelvar::test::startPostgresForPrograms(&error);
    QVERIFY2(m_server, qPrintable(error));
}

BanDatabase TestPgBanStore::freshDatabase()
{
    return skelvar::test::freshBanDatabase(*m_server, QStringLiteral("bans_%1").arg(++m_databases));
}

void TestPgBanStore::contract()
{
    const BanDatabase db = freshDatabase();
    PgBanStore a(db), b(db);
    skelvar::test::checkBanStoreContract(a, b, true);
    QCOMPARE(a.logId(), b.logId());
}

void TestPgBanStore::emptyDatabaseGetsItsTablesOnce()
{
    const BanDatabase db = freshDatabase();
    constexpr int programs = 4;
    std::atomic<int> opened{0};
    QString ids[programs];
    QString errors[programs];
    {
        std::vector<std::thread> threads;
        for (int i = 0; i < programs; ++i) {
            threads.emplace_back([&, i] {
                PgBanStore store(db);
                if (store.open(&errors[i]))
                    ++opened;
                ids[i] = store.logId();
            });
        }
        for (std::thread& t : threads)
            t.join();
    }
    for (const QString& e : errors)
        QVERIFY2(e.isEmpty(), qPrintable(e));
    QCOMPARE(opened.load(), programs);
    for (const QString& id : ids)
        QCOMPARE(id, ids[0]);
    QVERIFY(!QUuid::fromString(ids[0]).isNull());
    TestConnection conn(db);
    QCOMPARE(conn.value(QStringLiteral("SELECT count(*) FROM skelvar_layout")), QStringLiteral("1"));
    QCOMPARE(conn.value(QStringLiteral("SELECT layout FROM skelvar_layout")), QStringLiteral("1"));
}

void TestPgBanStore::foreignLayoutRefusedUntouched_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("why");
    const QString layoutTable = QStringLiteral("CREATE TABLE skelvar_layout (layout integer NOT NULL, log_id uuid NOT "
                                               "NULL); ");
    QTest::newRow("newer layout")
        << layoutTable + "INSERT INTO skelvar_layout VALUES (2, '6f1c1c5e-7a53-4f1e-9b1e-0c5f2a9d0b11'); "
                         "CREATE TABLE skelvar_ban_changes (seq bigint, future text);"
        << "its tables have layout 2, newer than the layout 1 this program knows. Update the program on this machine.";
    QTest::newRow("empty layout table") << layoutTable + "CREATE TABLE skelvar_ban_changes (seq bigint);"
                                        << "its table skelvar_layout is empty.";
    QTest::newRow("log without layout") << QStringLiteral("CREATE TABLE skelvar_ban_changes (seq bigint);")
                                        << "it holds the table skelvar_ban_changes without skelvar_layout.";
}

void TestPgBanStore::foreignLayoutRefusedUntouched()
{
    QFETCH(QString, setup);
    QFETCH(QString, why);
    const BanDatabase db = freshDatabase();
    QString error;
    // The test role owns the tables, so nothing but the store's own rule keeps it from changing them.
    QVERIFY2(m_server->execAsSuperuser(QStringLiteral("SET ROLE %1; %2").arg(m_server->userName(), setup), &error,
                                       db.database),
             qPrintable(error));
    TestConnection conn(db);
    const QString before = schemaAndLayout(conn);

    PgBanStore store(db);
    QVERIFY(!store.open(&error));
    QVERIFY(store.refused());
    QCOMPARE(error, QStringLiteral("The shared ban list at %1 is not used: %2 The database was left as it is.")
                        .arg(db.displayName(), why));
    QVERIFY(!store.push({add(sharedBan("10.0.0.1"))}));
    QList<BanChange> changes;
    QVERIFY(!store.changesSince(0, &changes));
    QCOMPARE(schemaAndLayout(conn), before);
}

void TestPgBanStore::spoiledRowsReadAsTheFileWould()
{
    const BanDatabase db = freshDatabase();
    PgBanStore store(db);
    QString error;
    QVERIFY2(store.open(&error), qPrintable(error));
    const QList<Record> raw{
        {"", "empty address", "r", "2024-06-15", ""},
        {"xxx.xxx.xxx.xxx", "every address", "r", "2024-06-15", ""},
        {"1.2.3.4\x02"
         "evil",
         "a\x02"
         "b\r\nc;'\"",
         "r\n", "2024/06/20", "2099-01-01\r\n"},
        {"1.2.3.6", QString(100000, QLatin1Char('x')), "long", "2024-06-15", ""},
        {"[2001:db8::1]", QString::fromUtf8("\xe5\x90\x8d\xe5\x89\x8d"), "r", "2024-06-15", ""},
        {"1.2.3.7", "no date", "r", "yesterday", "not a date"},
        {"1.2.3.8", "over", "r", "2024-06-01", "2024-06-10"},
        {" 1.2.3.9 ", "blanks", "r", "2024-06-15", ""},
    };
    // Written by hand, as another program or a careless admin might.
    TestConnection conn(db);
    for (const Record& r : raw)
        QVERIFY(conn.insertChange(QStringLiteral("add"), r));
    QList<BanChange> changes;
    QVERIFY2(store.changesSince(0, &changes, &error), qPrintable(error));
    QCOMPARE(changes.size(), raw.size());
    for (int i = 0; i < raw.size(); ++i) {
        QCOMPARE(changes[i].record, normalizedBan(raw[i]));
        // The line bans.lst gets reads back as the same ban, on one line.
        const QByteArray line = recordLine(changes[i].record, ListKind::Bans);
        QCOMPARE(line.count('\n'), 1);
        QCOMPARE(line.count('\x02'), 4);
        const ParsedLine parsed = parseLine(QByteArrayView(line).chopped(2), ListKind::Bans, QDate(1, 1, 1));
        QCOMPARE(parsed.record, changes[i].record);
    }
    QCOMPARE(changes[2].record, (Record{"1.2.3.4evil", "abc;'\"", "r", "2024-06-20", "2099-01-01"}));
    QCOMPARE(changes[4].record.name, QStringLiteral("??"));
    QCOMPARE(changes[5].record.until, QString());
    // The fold drops the ban that is over, as a start-up read of bans.lst would.
    QCOMPARE(foldBanChanges(changes, Today).size(), raw.size() - 1);
}

void TestPgBanStore::serverGoneAndBack()
{
    const BanDatabase db = freshDatabase();
    PgBanStore store(db);
    QString error;
    QVERIFY2(store.push({add(sharedBan("10.0.0.1"))}, &error), qPrintable(error));
    QVERIFY(store.isReachable());

    m_server->stopImmediately();
    const BanChange op = add(sharedBan("10.0.0.2"));
    QVERIFY(!store.push({op}, &error));
    QVERIFY(!store.isReachable());
    QVERIFY2(error.contains(db.displayName()), qPrintable(error));
    QList<BanChange> changes;
    QVERIFY(!store.changesSince(0, &changes));

    QVERIFY2(m_server->start(&error), qPrintable(error));
    QVERIFY2(store.push({op}, &error), qPrintable(error));
    QVERIFY(store.isReachable());
    QVERIFY(store.push({op}));
    QCOMPARE(readAll(store).size(), 2);
}

// Pushes from several programs commit in the order of their sequence
// numbers, so a reader that goes on from the last number it saw misses none.
void TestPgBanStore::concurrentPushesReadWithoutGap()
{
    const BanDatabase db = freshDatabase();
    PgBanStore reader(db);
    QString error;
    QVERIFY2(reader.open(&error), qPrintable(error));
    constexpr int writers = 3;
    constexpr int pushesEach = 30;
    std::atomic<int> running{writers};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([&, w] {
            PgBanStore store(db);
            for (int i = 0; i < pushesEach; ++i) {
                if (!store.push({add(sharedBan(QStringLiteral("10.%1.0.%2").arg(w).arg(i)))}))
                    ++failures;
            }
            --running;
        });
    }
    QList<BanChange> seen;
    qint64 last = 0;
    for (bool done = false; !done;) {
        done = running.load() == 0;
        QList<BanChange> changes;
        if (!reader.changesSince(last, &changes, &error))
            break;
        seen += changes;
        if (!changes.isEmpty())
            last = changes.last().seq;
    }
    for (std::thread& t : threads)
        t.join();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(failures.load(), 0);
    const QList<BanChange> all = readAll(reader);
    QCOMPARE(all.size(), writers * pushesEach);
    QCOMPARE(seen, all);
}

// A push goes in statements of many rows, each column as one array: order,
// fields that look like array syntax or NULL, and ids already stored survive it.
void TestPgBanStore::largePushKeepsOrderAndFields()
{
    const BanDatabase db = freshDatabase();
    PgBanStore store(db);
    const QStringList odd{"{", "}", ",", "NULL", "", " a b ", "x\\\"y", "{\"1\",2}", "\u00e9t\u00e9", "'; --"};
    QList<BanChange> ops;
    for (int i = 0; i < 12001; ++i) {
        const QString field = odd.at(i % odd.size());
        Record r{QStringLiteral("10.%1.%2.%3").arg(i / 65536).arg(i / 256 % 256).arg(i % 256), field, field,
                 QStringLiteral("2024-06-15"), i % 3 ? QString() : QStringLiteral("2099-01-01")};
        ops.append(newBanOperation(i % 1000 == 999 ? BanChange::Kind::Remove : BanChange::Kind::Add, r));
    }
    QString error;
    QVERIFY2(store.push(ops.mid(0, 7000), &error), qPrintable(error));
    // Ids already stored are left out, the rest go in after them.
    QVERIFY2(store.push(ops, &error), qPrintable(error));
    const QList<BanChange> all = readAll(store);
    QCOMPARE(all.size(), ops.size());
    for (int i = 0; i < ops.size(); ++i) {
        QCOMPARE(all[i].op, ops[i].op);
        QCOMPARE(all[i].kind, ops[i].kind);
        QCOMPARE(all[i].record, normalizedBan(ops[i].record));
    }
}

QTEST_GUILESS_MAIN(TestPgBanStore)
#include "test_pgbanstore.moc"
