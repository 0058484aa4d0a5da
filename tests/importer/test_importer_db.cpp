// Ostrel --bans-db against a private PostgreSQL server: the addresses go into
// the shared list's log as Add operations of their own, none that the list
// already bans as long, bans.lst untouched; and the program's exit status
// when the database cannot be reached or refuses.
#include "importer/importer.h"
#include "lists/pgbanstore.h"
#include "tests/support/bandatabase.h"
#include "tests/support/banstorecontract.h"
#include "tests/support/files.h"
#include "tests/support/postgresserver.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace skelvar;
using lists::BanChange;
using lists::BanDatabase;
using lists::Record;
using test::readFile;
using test::writeFile;

namespace {

const QDate Today(2024, 6, 15);

Record imported(const QString& ip)
{
    return {ip, QStringLiteral("Ostrel-feed"), QStringLiteral("Autokick"), QStringLiteral("2024-06-15"), QString()};
}

}  // namespace

class TestImporterDb : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        SKELVAR_REQUIRE_POSTGRES();
        QString error;
        m_server = test::startPostgresForPrograms(&error);
        QVERIFY2(m_server, qPrintable(error));
    }

    // The fold decides: a ban for good covers, a ban with an end does not,
    // an address twice in the file goes in once; run again, nothing goes in.
    void importsWhatTheListLacks()
    {
        const BanDatabase db = test::freshBanDatabase(*m_server, QStringLiteral("import_fold"));
        lists::PgBanStore store(db);
        QString error;
        QVERIFY2(store.push({lists::newBanOperation(BanChange::Kind::Add, test::sharedBan("10.0.0.1", "a", {})),
                             lists::newBanOperation(BanChange::Kind::Add, test::sharedBan("10.0.0.2", "b"))},
                            &error),
                 qPrintable(error));
        QTemporaryDir dir;
        writeFile(dir.filePath("bannedip.txt"), "10.0.0.1\r\n10.0.0.2\r\n10.0.0.3\r\n10.0.0.3\r\n10.0.1.xxx\r\n");

        importer::ImportResult result = importer::importBansToStore(dir.path(), Today, store);
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.appended, 3);
        QCOMPARE(result.alreadyBanned, 2);
        const QList<BanChange> log = test::readAll(store);
        QCOMPARE(log.size(), 5);
        QSet<QString> ids;
        QList<Record> added;
        for (const BanChange& c : log.mid(2)) {
            QCOMPARE(c.kind, BanChange::Kind::Add);
            ids.insert(c.op);
            added.append(c.record);
        }
        QCOMPARE(ids.size(), 3);
        QCOMPARE(added, QList<Record>({imported("10.0.0.2"), imported("10.0.0.3"), imported("10.0.1.xxx")}));
        QVERIFY(!QFileInfo::exists(dir.filePath("bans.lst")));

        result = importer::importBansToStore(dir.path(), Today, store);
        QVERIFY(result.ok);
        QCOMPARE(result.appended, 0);
        QCOMPARE(result.alreadyBanned, 5);
        QCOMPARE(test::readAll(store).size(), 5);
    }

    void programExitStatus_data()
    {
        QTest::addColumn<QString>("database");  // "free port": nothing listens; "newer": a layout it does not know
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("errStart");
        QTest::newRow("done") << "import_ok" << 0
                              << QByteArray("Imported 2 bans into the shared ban list; 0 already "
                                            "banned\n")
                              << QByteArray();
        QTest::newRow("unreachable") << "free port" << 4 << QByteArray() << QByteArray("Ostrel: Cannot reach ");
        QTest::newRow("refused") << "newer" << 4 << QByteArray() << QByteArray("Ostrel: The shared ban list at ");
    }

    void programExitStatus()
    {
        QFETCH(QString, database);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, errStart);
        BanDatabase db = test::freshBanDatabase(*m_server, QStringLiteral("import_program"));
        if (database == QLatin1String("free port")) {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            db.port = probe.serverPort();
        } else if (database == QLatin1String("newer")) {
            QString error;
            QVERIFY2(m_server->execAsSuperuser("SET ROLE " + m_server->userName() +
                                                   "; CREATE TABLE skelvar_layout (layout integer NOT NULL, log_id "
                                                   "uuid NOT NULL); INSERT INTO skelvar_layout VALUES (9, "
                                                   "gen_random_uuid());",
                                               &error, db.database),
                     qPrintable(error));
        }
        QTemporaryDir dir;
        const QString exe = dir.filePath("Ostrel");
        QVERIFY(QFile::copy(QStringLiteral(OSTREL_PATH), exe));
        writeFile(dir.filePath("bannedip.txt"), "192.168.0.7\r\n10.1.2.xxx\r\n");
        const QByteArray bans("9.9.9.9\x02"
                              "Bob\x02"
                              "Aimbot\x02"
                              "2024-01-01\x02\r\n");
        writeFile(dir.filePath("bans.lst"), bans);

        QProcess p;
        p.start(exe, {"--bans-db", test::banDatabaseUrl(db)});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(err.startsWith(errStart), err.constData());
        QCOMPARE(p.readAllStandardOutput(), out);
        QCOMPARE(p.exitCode(), exitCode);
        QCOMPARE(readFile(dir.filePath("bans.lst")), bans);
        if (exitCode == 0) {
            lists::PgBanStore store(db);
            QCOMPARE(test::readAll(store).size(), 2);
        }
    }

private:
    std::unique_ptr<test::PostgresServer> m_server;
};

QTEST_GUILESS_MAIN(TestImporterDb)
#include "test_importer_db.moc"
