// The private PostgreSQL server the database tests start: reached through Qt's
// QPSQL driver with bound values, logins as promised, gone at once on an
// immediate stop and back with its data on the next start, and no process of
// it left behind by a stop or by its destructor.

#include "tests/support/postgresserver.h"

#include <QDate>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <memory>

using skelvar::test::PostgresServer;

namespace {

bool processGone(qint64 pid)
{
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

QList<qint64> processesLeft(const QList<qint64>& pids)
{
    QList<qint64> left;
    for (const qint64 pid : pids) {
        if (!processGone(pid))
            left.append(pid);
    }
    return left;
}

QString pidList(const QList<qint64>& pids)
{
    QStringList text;
    for (const qint64 pid : pids)
        text.append(QString::number(pid));
    return text.join(QLatin1Char(' '));
}

}  // namespace

class TestPostgresServer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        SKELVAR_REQUIRE_POSTGRES();
        m_server = std::make_unique<PostgresServer>();
        QElapsedTimer timer;
        timer.start();
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        qInfo("first start (initdb, server, test role and database): %lld ms", timer.elapsed());
        QSqlDatabase db = m_server->openDatabase(&error);
        QVERIFY2(db.isOpen(), qPrintable(error));
        QSqlQuery query(db);
        QVERIFY2(query.exec(QStringLiteral("CREATE TABLE bans (address text PRIMARY KEY, name text NOT NULL, "
                                           "until date)")),
                 qPrintable(query.lastError().text()));
    }

    // Values go in bound, never spliced into the statement, and come back as
    // they were; char_length shows the database stores text as UTF-8.
    void boundValuesRoundTrip_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QDate>("until");

        QTest::newRow("plain") << "10.0.0.1"
                               << "Sniper" << QDate(2030, 1, 31);
        QTest::newRow("quotes and a statement in the name")
            << "10.0.0.2"
            << "O'Neil \\ \"x\"; DROP TABLE bans; --" << QDate(2030, 2, 1);
        QTest::newRow("non-Latin name") << "10.0.0.3" << QStringLiteral("Ünter Łódź 狙击手") << QDate(2031, 12, 24);
        QTest::newRow("empty name, permanent") << "10.0.0.4"
                                               << "" << QDate();
    }

    void boundValuesRoundTrip()
    {
        QFETCH(QString, address);
        QFETCH(QString, name);
        QFETCH(QDate, until);
        QString error;
        QSqlDatabase db = m_server->openDatabase(&error);
        QVERIFY2(db.isOpen(), qPrintable(error));

        QSqlQuery insert(db);
        QVERIFY(insert.prepare(QStringLiteral("INSERT INTO bans (address, name, until) VALUES (?, ?, ?)")));
        insert.addBindValue(address);
        insert.addBindValue(name);
        insert.addBindValue(until.isValid() ? QVariant(until) : QVariant(QMetaType(QMetaType::QDate)));
        QVERIFY2(insert.exec(), qPrintable(insert.lastError().text()));

        QSqlQuery select(db);
        QVERIFY(select.prepare(QStringLiteral("SELECT name, until, char_length(name) FROM bans WHERE address = ?")));
        select.addBindValue(address);
        QVERIFY2(select.exec(), qPrintable(select.lastError().text()));
        QVERIFY(select.next());
        QCOMPARE(select.value(0).toString(), name);
        QVERIFY(!select.isNull(0));
        QCOMPARE(select.isNull(1), !until.isValid());
        QCOMPARE(select.value(1).toDate(), until);
        QCOMPARE(select.value(2).toInt(), name.size());
        QVERIFY(!select.next());
    }

    // Over 127.0.0.1 every login needs its password, the superuser's too.
    void logins_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("opens");

        PostgresServer& s = *m_server;
        QTest::newRow("test role, its password") << s.userName() << s.password() << true;
        QTest::newRow("test role, wrong password") << s.userName() << "wrong" << false;
        QTest::newRow("test role, no password") << s.userName() << "" << false;
        QTest::newRow("superuser, no password") << s.superuserName() << "" << false;
        QTest::newRow("unknown role") << "nobody" << s.password() << false;
    }

    void logins()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(bool, opens);
        const QString name = QStringLiteral("login-") + QTest::currentDataTag();
        bool opened = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            db.setHostName(m_server->host());
            db.setPort(m_server->port());
            db.setDatabaseName(m_server->databaseName());
            db.setUserName(user);
            db.setPassword(password);
            opened = db.open();
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        QCOMPARE(opened, opens);
    }

    // The test role is no superuser: it reads the superuser's table only once
    // granted, so tests of refused access have a role to be refused.
    void superuserSetup()
    {
        QString error;
        QVERIFY2(m_server->execAsSuperuser(
                     QStringLiteral("CREATE TABLE admin_only (x int); INSERT INTO admin_only VALUES (7)"), &error),
                 qPrintable(error));
        QSqlDatabase db = m_server->openDatabase(&error);
        QVERIFY2(db.isOpen(), qPrintable(error));
        QSqlQuery query(db);
        QVERIFY(!query.exec(QStringLiteral("SELECT x FROM admin_only")));
        QVERIFY2(query.lastError().text().contains(QStringLiteral("permission denied")),
                 qPrintable(query.lastError().text()));

        QVERIFY2(
            m_server->execAsSuperuser(QStringLiteral("GRANT SELECT ON admin_only TO ") + m_server->userName(), &error),
            qPrintable(error));
        QVERIFY2(query.exec(QStringLiteral("SELECT x FROM admin_only")), qPrintable(query.lastError().text()));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toInt(), 7);

        error.clear();
        QVERIFY(!m_server->execAsSuperuser(QStringLiteral("SELECT * FROM no_such_table"), &error));
        QVERIFY2(error.contains(QStringLiteral("no_such_table")), qPrintable(error));
    }

    void immediateStopAndRestart()
    {
        QString error;
        QSqlDatabase db = m_server->openDatabase(&error);
        QVERIFY2(db.isOpen(), qPrintable(error));
        QSqlQuery query(db);
        QVERIFY2(query.exec(QStringLiteral("INSERT INTO bans (address, name) VALUES ('10.9.9.9', 'Survivor')")),
                 qPrintable(query.lastError().text()));
        const QList<qint64> pids = m_server->processIds();
        QVERIFY2(pids.size() > 1, "a running server has a postmaster and its helper processes");
        const quint16 port = m_server->port();

        QElapsedTimer timer;
        timer.start();
        m_server->stopImmediately();
        qInfo("immediate stop: %lld ms", timer.elapsed());
        QVERIFY(!m_server->running());
        QVERIFY2(processesLeft(pids).isEmpty(), qPrintable(pidList(processesLeft(pids))));
        QVERIFY(!query.exec(QStringLiteral("SELECT 1")));
        db.close();
        QVERIFY(!db.open());

        timer.restart();
        QVERIFY2(m_server->start(&error), qPrintable(error));
        qInfo("start again after an immediate stop (crash recovery): %lld ms", timer.elapsed());
        QCOMPARE(m_server->port(), port);
        QVERIFY(!pids.contains(m_server->processId()));
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
        QSqlQuery again(db);
        QVERIFY2(again.exec(QStringLiteral("SELECT name FROM bans WHERE address = '10.9.9.9'")),
                 qPrintable(again.lastError().text()));
        QVERIFY(again.next());
        QCOMPARE(again.value(0).toString(), QStringLiteral("Survivor"));
    }

    void stopEndsEveryProcess()
    {
        QString error;
        QSqlDatabase db = m_server->openDatabase(&error);
        QVERIFY2(db.isOpen(), qPrintable(error));
        const QList<qint64> pids = m_server->processIds();
        QVERIFY(pids.size() > 1);

        QElapsedTimer timer;
        timer.start();
        m_server->stop();
        qInfo("stop with a connection open: %lld ms", timer.elapsed());
        QVERIFY(!m_server->running());
        QVERIFY(m_server->processIds().isEmpty());
        QVERIFY2(processesLeft(pids).isEmpty(), qPrintable(pidList(processesLeft(pids))));
        QVERIFY(!QSqlQuery(db).exec(QStringLiteral("SELECT 1")));
        m_server->stop();
    }

    // What a failing test leaves to the destructor ends too, and the scratch
    // folder goes with it.
    void destructorEndsServer()
    {
        QList<qint64> pids;
        QString folder;
        {
            PostgresServer server;
            QString error;
            QVERIFY2(server.start(&error), qPrintable(error));
            QVERIFY2(server.openDatabase(&error).isOpen(), qPrintable(error));
            pids = server.processIds();
            folder = server.socketFolder();
        }
        QVERIFY(pids.size() > 1);
        QVERIFY2(processesLeft(pids).isEmpty(), qPrintable(pidList(processesLeft(pids))));
        QVERIFY(!QFileInfo::exists(folder));
    }

private:
    std::unique_ptr<PostgresServer> m_server;
};

QTEST_GUILESS_MAIN(TestPostgresServer)
#include "test_postgresserver.moc"
