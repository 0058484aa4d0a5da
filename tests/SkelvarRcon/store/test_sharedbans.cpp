// Two monitors (two folders standing for two machines, each with its lists
// and its shared list) on one database of a private PostgreSQL server: bans
// and removals reach the other within two seconds, bans.lst's bans join the
// shared list once, an outage (with a restart of one monitor in it) loses and
// doubles nothing, bans and removals of one address at once end in the same
// list on both, spoiled rows reach bans.lst as clean lines, a newer layout is
// refused, and a damaged journal keeps what it can.
#include "SkelvarRcon/app/monitor.h"
#include "SkelvarRcon/penalties/banmatch.h"
#include "SkelvarRcon/store/liststore.h"
#include "SkelvarRcon/store/sharedbans.h"
#include "lists/banjournal.h"
#include "lists/pgbanstore.h"
#include "tests/support/bandatabase.h"
#include "tests/support/banstorecontract.h"
#include "tests/support/files.h"
#include "tests/support/postgresserver.h"
#include "tests/support/scriptedprompter.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace skelvar;
using namespace skelvar::rcon;
using lists::BanChange;
using lists::BanDatabase;
using lists::Record;
using test::readFile;
using test::sortedBans;
using test::writeFile;

namespace {

const QDate Today(2024, 6, 15);
constexpr int SyncWaitMs = 15000;
const QString Unreachable = QStringLiteral("Shared ban list unreachable");
const QString ReachableAgain = QStringLiteral("Shared ban list reachable again");

Record ban(const QString& ip, const QString& until = {}, const QString& name = QStringLiteral("n"))
{
    return {ip, name, QStringLiteral("r"), QStringLiteral("2024-06-15"), until};
}

QByteArray line(const QByteArray& ip, const QByteArray& until = {})
{
    return ip + "\x02n\x02r\x02" + "2024-06-15\x02" + until + "\r\n";
}

// One monitor's lists and shared list in its own folder.
struct Machine {
    explicit Machine(QString folder) : folder(std::move(folder)) {}

    void open(const BanDatabase& db)
    {
        lists = std::make_unique<ListStore>();
        lists->setFolder(folder);
        lists->setClock(&clock);
        lists->setPrompter(&prompter);
        lists->load(today);
        SharedBansSetup setup;
        setup.folder = folder;
        setup.makeStore = [db] { return std::make_unique<lists::PgBanStore>(db); };
        setup.prompter = &prompter;
        setup.clock = &clock;
        shared = std::make_unique<SharedBans>(lists->bans(), setup);
        shared->setRetryForTests(50, 300);
        shared->start();
    }
    // As at the monitor's exit.
    void close()
    {
        shared.reset();
        lists->saveAll();
        lists.reset();
    }
    RecordList& bans() { return lists->bans(); }
    QList<Record> records() const { return sortedBans(lists->bans().records()); }
    QByteArray file() const { return readFile(folder + QStringLiteral("/bans.lst")); }
    bool reachable() const { return shared && shared->reach() == SharedBans::Reach::Reachable; }
    bool settled() const { return reachable() && shared->journal().isEmpty(); }
    int told(const QString& title) const { return int(prompter.titles().count(title)); }
    int rowOf(const Record& r) const { return int(lists->bans().records().indexOf(r)); }

    QString folder;
    test::ScriptedPrompter prompter;
    QDate today = Today;
    Clock clock{[this] { return QDateTime(today, QTime(12, 0)); }};
    std::unique_ptr<ListStore> lists;
    std::unique_ptr<SharedBans> shared;
};

// The whole log folded, as a monitor that read all of it holds it.
QList<Record> foldOfDatabase(const BanDatabase& db, const QDate& today = Today)
{
    lists::PgBanStore store(db);
    return sortedBans(lists::foldBanChanges(test::readAll(store), today));
}

using Ops = QList<QPair<bool, Record>>;  // true: add, false: remove

void run(Machine& m, const Ops& ops)
{
    for (const auto& [isAdd, r] : ops) {
        if (isAdd)
            addBanUnlessCovered(m.bans(), r, Today);
        else
            m.bans().removeAt(m.rowOf(r));
    }
}

}  // namespace

class TestSharedBans : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void banAndRemovalReachTheOther();
    void bansLstJoinsOnceAtFirstConnection();
    void outageWithRestartLosesNothing();
    void sameAddressAtOnceConverges_data();
    void sameAddressAtOnceConverges();
    void spoiledRowsReachBansLstClean();
    void newerLayoutRefused();
    void damagedJournalKeepsWhatParses();
    void expiredBanGoneEverywhereAfterRestart();
    void monitorSharesOnlyWithAnAddress_data();
    void monitorSharesOnlyWithAnAddress();

private:
    bool bothSettled() { return m_a->settled() && m_b->settled() && m_a->records() == m_b->records(); }

    std::unique_ptr<test::PostgresServer> m_server;
    int m_databases = 0;
    BanDatabase m_db;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Machine> m_a, m_b;
};

void TestSharedBans::initTestCase()
{
    SKELVAR_REQUIRE_POSTGRES();
    QString error;
    m_server = test::startPostgresForPrograms(&error);
    QVERIFY2(m_server, qPrintable(error));
}

void TestSharedBans::init()
{
    if (!m_server->running()) {
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
    }
    m_db = test::freshBanDatabase(*m_server, QStringLiteral("shared_%1").arg(++m_databases));
    m_dir = std::make_unique<QTemporaryDir>();
    m_a = std::make_unique<Machine>(m_dir->filePath("a"));
    m_b = std::make_unique<Machine>(m_dir->filePath("b"));
    QVERIFY(QDir().mkpath(m_a->folder) && QDir().mkpath(m_b->folder));
}

void TestSharedBans::cleanup()
{
    m_a.reset();
    m_b.reset();
    m_dir.reset();
}

void TestSharedBans::banAndRemovalReachTheOther()
{
    m_a->open(m_db);
    m_b->open(m_db);
    QTRY_VERIFY_WITH_TIMEOUT(m_a->reachable() && m_b->reachable(), SyncWaitMs);

    QElapsedTimer took;
    took.start();
    addBanUnlessCovered(m_a->bans(), ban("10.0.0.1"), Today);
    QTRY_COMPARE_WITH_TIMEOUT(m_b->records(), QList<Record>{ban("10.0.0.1")}, 2000);
    qInfo("a ban reached the other monitor in %lld ms", took.elapsed());
    QTRY_COMPARE(m_b->file(), line("10.0.0.1"));
    QTRY_VERIFY(m_a->shared->journal().isEmpty());

    // Widened to a pattern: the address goes, the pattern comes.
    m_a->bans().setIp(0, QStringLiteral("10.0.0.xxx"));
    QTRY_COMPARE_WITH_TIMEOUT(m_b->records(), QList<Record>{ban("10.0.0.xxx")}, 2000);

    m_b->bans().removeAt(0);
    QTRY_COMPARE_WITH_TIMEOUT(m_a->records(), QList<Record>{}, 2000);
    QTRY_COMPARE(m_a->file(), QByteArray());
    QCOMPARE(foldOfDatabase(m_db), QList<Record>{});
    QCOMPARE(m_a->prompter.shown.size(), 0);
}

void TestSharedBans::bansLstJoinsOnceAtFirstConnection()
{
    m_b->open(m_db);
    addBanUnlessCovered(m_b->bans(), ban("10.0.0.1"), Today);
    QTRY_VERIFY_WITH_TIMEOUT(m_b->settled(), SyncWaitMs);

    // Covered by B's ban, new, and run out.
    writeFile(m_a->folder + "/bans.lst",
              line("10.0.0.1", "2099-01-01") + line("10.0.0.2") + line("10.0.0.3", "2024-06-01"));
    m_a->open(m_db);
    const QList<Record> shared{ban("10.0.0.1"), ban("10.0.0.2")};
    QTRY_VERIFY_WITH_TIMEOUT(bothSettled(), SyncWaitMs);
    QCOMPARE(m_a->records(), shared);
    QCOMPARE(foldOfDatabase(m_db), shared);
    test::TestConnection conn(m_db);
    QCOMPARE(conn.value("SELECT count(*) FROM skelvar_ban_changes"), QStringLiteral("2"));
    QTRY_COMPARE(m_a->file(), line("10.0.0.1") + line("10.0.0.2"));

    // Started again, it has nothing more to add.
    m_a->close();
    m_a->open(m_db);
    QTRY_VERIFY_WITH_TIMEOUT(bothSettled(), SyncWaitMs);
    QCOMPARE(conn.value("SELECT count(*) FROM skelvar_ban_changes"), QStringLiteral("2"));
    QCOMPARE(m_a->records(), shared);
}

void TestSharedBans::outageWithRestartLosesNothing()
{
    m_a->open(m_db);
    m_b->open(m_db);
    addBanUnlessCovered(m_a->bans(), ban("10.0.0.1"), Today);
    QTRY_VERIFY_WITH_TIMEOUT(bothSettled() && m_b->records().size() == 1, SyncWaitMs);

    m_server->stopImmediately();
    addBanUnlessCovered(m_a->bans(), ban("10.0.1.1"), Today);
    addBanUnlessCovered(m_b->bans(), ban("10.0.2.1", "2024-07-01"), Today);
    QTRY_VERIFY_WITH_TIMEOUT(m_a->told(Unreachable) == 1 && m_b->told(Unreachable) == 1, SyncWaitMs);
    m_a->bans().removeAt(m_a->rowOf(ban("10.0.0.1")));
    addBanUnlessCovered(m_a->bans(), ban("10.0.1.2", "2024-08-01"), Today);
    // The same ban on both: it ends up once.
    addBanUnlessCovered(m_b->bans(), ban("10.0.1.1"), Today);
    QCOMPARE(m_a->shared->journal().size(), 3);
    QCOMPARE(m_b->shared->journal().size(), 2);

    // A restarts while the database is still down: its journal comes back with it.
    m_a->close();
    QCOMPARE(lists::loadBanJournal(m_a->folder + "/bans.journal").ops.size(), 3);
    m_a->open(m_db);
    QCOMPARE(m_a->shared->journal().size(), 3);
    QCOMPARE(m_a->records(), sortedBans({ban("10.0.1.1"), ban("10.0.1.2", "2024-08-01")}));
    QTRY_COMPARE_WITH_TIMEOUT(m_a->told(Unreachable), 2, SyncWaitMs);

    QString error;
    QVERIFY2(m_server->start(&error), qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(bothSettled(), SyncWaitMs);
    const QList<Record> expected =
        sortedBans({ban("10.0.1.1"), ban("10.0.1.2", "2024-08-01"), ban("10.0.2.1", "2024-07-01")});
    QCOMPARE(m_a->records(), expected);
    QCOMPARE(foldOfDatabase(m_db), expected);
    QCOMPARE(m_b->told(Unreachable), 1);
    QCOMPARE(m_b->told(ReachableAgain), 1);
    QCOMPARE(m_a->told(ReachableAgain), 1);
    // Every operation of both journals once in the log: two adds and a removal from A, two adds from B.
    test::TestConnection conn(m_db);
    QCOMPARE(conn.value("SELECT count(*) FROM skelvar_ban_changes"), QStringLiteral("6"));
    const QByteArray file = line("10.0.1.1") + line("10.0.1.2", "2024-08-01") + line("10.0.2.1", "2024-07-01");
    QTRY_COMPARE(m_a->file(), file);
    QTRY_COMPARE(m_b->file(), file);
}

void TestSharedBans::sameAddressAtOnceConverges_data()
{
    QTest::addColumn<Ops>("onA");
    QTest::addColumn<Ops>("onB");
    const Record x = ban("10.0.0.1", "2024-09-01");
    QTest::newRow("both remove it and ban it again") << Ops{{false, x}, {true, ban("10.0.0.1", "2099-01-01", "a")}}
                                                     << Ops{{false, x}, {true, ban("10.0.0.1", "2030-01-01", "b")}};
    QTest::newRow("one removes it, the other bans it longer")
        << Ops{{false, x}} << Ops{{true, ban("10.0.0.1", "2099-01-01", "b")}};
    QTest::newRow("both ban it for good")
        << Ops{{true, ban("10.0.0.1", {}, "a")}} << Ops{{true, ban("10.0.0.1", {}, "b")}};
}

void TestSharedBans::sameAddressAtOnceConverges()
{
    QFETCH(Ops, onA);
    QFETCH(Ops, onB);
    m_a->open(m_db);
    m_b->open(m_db);
    addBanUnlessCovered(m_a->bans(), ban("10.0.0.1", "2024-09-01"), Today);
    QTRY_VERIFY_WITH_TIMEOUT(bothSettled() && m_b->records().size() == 1, SyncWaitMs);

    // In one turn of the event loop, so neither has read the other's first.
    run(*m_a, onA);
    run(*m_b, onB);
    QTRY_VERIFY_WITH_TIMEOUT(bothSettled() && m_a->records() == foldOfDatabase(m_db), SyncWaitMs);
    QSet<QString> whole;
    for (const Record& r : m_a->records())
        whole.insert(QString::fromLatin1(lists::recordLine(r, lists::ListKind::Bans)));
    QCOMPARE(whole.size(), m_a->records().size());
    QTRY_COMPARE(m_a->file(), m_b->file());
}

// Rows another program wrote into the log: shown and written as the same
// lines read from bans.lst would be, and no ban on every address.
void TestSharedBans::spoiledRowsReachBansLstClean()
{
    m_a->open(m_db);
    QTRY_VERIFY_WITH_TIMEOUT(m_a->reachable(), SyncWaitMs);
    test::TestConnection conn(m_db);
    QVERIFY(conn.insertChange(
        "add", {"10.0.0.9\r\n", QString("a;b'c\"d\x02") + "e\r\nf", "x\ty", "2024/06/20", "2099-01-01"}));
    QVERIFY(conn.insertChange("add", {"", "nobody", "r", "2024-06-15", ""}));
    QVERIFY(conn.insertChange("add", {"xxx.xxx.xxx.xxx", "everybody", "r", "2024-06-15", ""}));
    QVERIFY(conn.insertChange("add", {"10.0.0.8", "over", "r", "2024-06-15", "2024-06-01"}));
    QVERIFY(conn.insertChange("add", {"10.0.0.7", "eternal", "r", "2024-06-15", "not a date"}));
    m_a->shared->syncNow();
    QTRY_COMPARE_WITH_TIMEOUT(m_a->records().size(), 4, SyncWaitMs);
    QTRY_COMPARE(m_a->file(), QByteArray("\x02nobody\x02r\x02"
                                         "2024-06-15\x02\r\n"
                                         "10.0.0.7\x02"
                                         "eternal\x02r\x02"
                                         "2024-06-15\x02\r\n"
                                         "10.0.0.9\x02"
                                         "a;b'c\"def\x02x\ty\x02"
                                         "2024-06-20\x02"
                                         "2099-01-01\r\n"
                                         "xxx.xxx.xxx.xxx\x02"
                                         "everybody\x02r\x02"
                                         "2024-06-15\x02\r\n"));
    BanIndex index;
    index.rebuild(m_a->bans());
    QCOMPARE(m_a->bans().at(index.find("10.0.0.9", Today)).ip, QStringLiteral("10.0.0.9"));
    QCOMPARE(index.find("10.1.2.3", Today), -1);
    QCOMPARE(index.find("10.0.0.8", Today), -1);
}

void TestSharedBans::newerLayoutRefused()
{
    QString error;
    // As the test role, which may read what it made.
    QVERIFY2(
        m_server->execAsSuperuser("SET ROLE " + m_server->userName() +
                                      "; CREATE TABLE skelvar_layout (layout integer NOT NULL, log_id uuid NOT NULL); "
                                      "INSERT INTO skelvar_layout VALUES (2, '6f1c1c5e-7a53-4f1e-9b1e-0c5f2a9d0b11');",
                                  &error, m_db.database),
        qPrintable(error));
    writeFile(m_a->folder + "/bans.lst", line("10.0.0.1"));
    m_a->open(m_db);
    QTRY_VERIFY2_WITH_TIMEOUT(m_a->shared->reach() == SharedBans::Reach::Refused,
                              qPrintable(m_a->prompter.boxes().join('\n')), SyncWaitMs);
    QCOMPARE(m_a->prompter.titles(), QStringList{"Shared ban list refused"});
    QVERIFY(m_a->prompter.shown[0].text.contains("newer than the layout 1"));
    // The monitor goes on with its own list, and a pass's sync asks nothing more.
    addBanUnlessCovered(m_a->bans(), ban("10.0.0.2"), Today);
    m_a->shared->syncNow();
    QTest::qWait(200);
    QCOMPARE(m_a->records(), QList<Record>({ban("10.0.0.1"), ban("10.0.0.2")}));
    QCOMPARE(m_a->prompter.shown.size(), 1);
    test::TestConnection conn(m_db);
    QCOMPARE(conn.value("SELECT to_regclass('skelvar_ban_changes') IS NULL"), QStringLiteral("true"));
}

void TestSharedBans::damagedJournalKeepsWhatParses()
{
    const BanChange kept = lists::newBanOperation(BanChange::Kind::Add, ban("10.0.0.5"));
    const QByteArray cut = lists::journalLine(lists::newBanOperation(BanChange::Kind::Add, ban("10.0.0.6"))).left(60);
    writeFile(m_a->folder + "/bans.journal", lists::journalLine(kept) + "garbage\r\n" + cut);
    writeFile(m_a->folder + "/bans.lst", line("10.0.0.5"));
    m_a->open(m_db);
    QTRY_VERIFY_WITH_TIMEOUT(m_a->settled(), SyncWaitMs);
    QCOMPARE(m_a->prompter.titles(), QStringList{"Shared ban list files damaged"});
    QVERIFY2(m_a->prompter.shown[0].text.contains("2 damaged lines"), qPrintable(m_a->prompter.shown[0].text));
    QCOMPARE(foldOfDatabase(m_db), QList<Record>{ban("10.0.0.5")});
    test::TestConnection conn(m_db);
    QCOMPARE(conn.value("SELECT op::text FROM skelvar_ban_changes"), kept.op);
}

// A ban whose Until has passed leaves a running monitor's list at its next
// answer, and after a restart it is in neither list nor bans.lst and folds away.
void TestSharedBans::expiredBanGoneEverywhereAfterRestart()
{
    m_a->open(m_db);
    m_b->open(m_db);
    addBanUnlessCovered(m_a->bans(), ban("10.0.0.1", "2024-06-20"), Today);
    addBanUnlessCovered(m_a->bans(), ban("10.0.0.2"), Today);
    QTRY_VERIFY_WITH_TIMEOUT(bothSettled() && m_b->records().size() == 2, SyncWaitMs);
    QTRY_COMPARE(m_b->file(), line("10.0.0.1", "2024-06-20") + line("10.0.0.2"));

    // B runs into the next day: its next answer drops the ban from its list.
    const QDate later(2024, 6, 21);
    m_b->today = later;
    m_b->shared->syncNow();
    QTRY_COMPARE_WITH_TIMEOUT(m_b->records(), QList<Record>{ban("10.0.0.2")}, SyncWaitMs);

    m_a->close();
    m_b->close();
    m_a->today = later;
    m_a->open(m_db);
    m_b->open(m_db);
    QTRY_VERIFY_WITH_TIMEOUT(bothSettled(), SyncWaitMs);
    QCOMPARE(m_a->records(), QList<Record>{ban("10.0.0.2")});
    QCOMPARE(m_b->records(), QList<Record>{ban("10.0.0.2")});
    QCOMPARE(foldOfDatabase(m_db, later), QList<Record>{ban("10.0.0.2")});
    // bans.lst keeps the line until its next write, at the latest at exit,
    // as without a database; the reader drops it meanwhile.
    m_a->close();
    m_b->close();
    QCOMPARE(m_a->file(), line("10.0.0.2"));
    QCOMPARE(m_b->file(), line("10.0.0.2"));
    // Dropping it was no removal: nothing more went into the log.
    test::TestConnection conn(m_db);
    QCOMPARE(conn.value("SELECT count(*) FROM skelvar_ban_changes"), QStringLiteral("2"));
}

void TestSharedBans::monitorSharesOnlyWithAnAddress_data()
{
    QTest::addColumn<QString>("address");  // %1: the test database's address
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("shared");
    QTest::newRow("none") << QString() << QStringList() << false;
    QTest::newRow("a password in it")
        << "postgresql://u:pw@127.0.0.1/d"
        << QStringList{"Shared ban list not used|postgresql://u@127.0.0.1/d: holds a password; give it in ~/.pgpass or "
                       "PGPASSWORD instead\nThis monitor keeps its own ban list."}
        << false;
    QTest::newRow("the test database") << "%1" << QStringList() << true;
}

void TestSharedBans::monitorSharesOnlyWithAnAddress()
{
    QFETCH(QString, address);
    QFETCH(QStringList, messages);
    QFETCH(bool, shared);
    m_b->open(m_db);
    addBanUnlessCovered(m_b->bans(), ban("10.0.0.1"), Today);
    QTRY_VERIFY_WITH_TIMEOUT(m_b->settled(), SyncWaitMs);

    test::ScriptedPrompter prompter;
    MonitorOptions options;
    options.folder = m_a->folder;
    options.clock = Clock([] { return QDateTime(Today, QTime(12, 0)); });
    options.bansDatabase = QString(address).replace(QStringLiteral("%1"), test::banDatabaseUrl(m_db));
    Monitor monitor(prompter, options);
    QStringList told;
    for (const StoreMessage& m : monitor.create())
        told << m.title + '|' + m.text;
    QCOMPARE(told, messages);
    QCOMPARE(monitor.sharedBans() != nullptr, shared);
    if (shared)
        QTRY_COMPARE_WITH_TIMEOUT(monitor.lists.bans().size(), 1, SyncWaitMs);
    else
        QCOMPARE(monitor.lists.bans().size(), 0);
}

QTEST_MAIN(TestSharedBans)
#include "test_sharedbans.moc"
