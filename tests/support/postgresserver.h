#pragma once
// A private PostgreSQL server for the tests that need a real database. Each
// one is made by initdb in a scratch folder of its own, listens on 127.0.0.1 at
// a free port and on a unix socket in that folder, and is ended by its process
// id whatever the test does (it also dies with the test process). Debian's
// own cluster on port 5432 is never used.
//
// PostgreSQL refuses to run as root, so when the tests run as root initdb and
// the server run as the account `postgres` that Debian's package creates, in a
// folder under /tmp handed to that account; otherwise as the current user.
//
// Logins: the server makes a superuser for the setup and a test role that owns
// the test database and is no superuser. Connections over 127.0.0.1 ask for a
// password (scram-sha-256): the test role's is password(), and openDatabase()
// sets it on the connection, as a program using Qt SQL would. The unix socket
// trusts every role; only execAsSuperuser() goes that way. The server runs
// with fsync off: its data survive the server's death, not the machine's.
//
// A test starts with SKELVAR_REQUIRE_POSTGRES() in initTestCase: without the
// server's programs or Qt's QPSQL driver it is skipped and says what to
// install, or fails (requiredserver.h). Register it with
// skelvar_skips_without_engine(<test>) in CMake.

#include "tests/support/requiredserver.h"

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/types.h>

#include <memory>

namespace skelvar::test {

// Empty when a server can be started here, otherwise why not and what to install.
QString missingPostgres();

#define SKELVAR_REQUIRE_POSTGRES() SKELVAR_REQUIRE_SERVER(skelvar::test::missingPostgres())

class PostgresServer;
// Starts a server for a whole test and gives the test role's password to
// libpq the way an admin does (PGPASSWORD), so the programs and stores under
// test log in by themselves. Null, with the reason, when it does not start.
std::unique_ptr<PostgresServer> startPostgresForPrograms(QString* error);

class PostgresServer {
public:
    static constexpr int kInitTimeoutMs = 30000;   // initdb
    static constexpr int kReadyTimeoutMs = 20000;  // from start to accepting connections
    static constexpr int kStopWaitMs = 10000;      // after the stop signal, then SIGKILL
    static constexpr int kConnectTimeoutS = 5;     // libpq's connect_timeout

    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // The newest /usr/lib/postgresql/<version>/bin holding initdb and
    // postgres; empty when there is none.
    static QString binFolder();

    // The first call makes the cluster (initdb), starts the server on a free
    // port and makes the test role and database; a later call starts the
    // server again on the same port with the same data. Waits until it
    // accepts connections. False, with the reason and the end of its log,
    // when that fails; the server is then stopped.
    bool start(QString* error = nullptr);
    // Fast shutdown (SIGINT by its process id): open connections are cut and
    // the data written out. Waits for the end, SIGKILL after kStopWaitMs.
    // Safe to call when not running.
    void stop();
    // Immediate shutdown (SIGQUIT, as pg_ctl stop -m immediate): the server
    // and its backends die at once without writing anything out, as after a
    // crash; the next start() recovers from the log.
    void stopImmediately();

    bool running() const { return m_process.state() != QProcess::NotRunning; }
    // The server's main process (the postmaster) of the last start, also once stopped.
    qint64 processId() const { return m_processId; }
    // The postmaster and its children now; empty when not running.
    QList<qint64> processIds() const;

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; }
    QString databaseName() const { return QStringLiteral("skelvar_test"); }
    QString userName() const { return QStringLiteral("skelvar_tester"); }
    QString password() const { return QStringLiteral("Tester-Pw-1"); }
    QString superuserName() const { return QStringLiteral("skelvar_admin"); }
    // The folder of the unix socket (also the scratch folder's top).
    QString socketFolder() const { return m_folder.path(); }

    // A new QPSQL connection under a name of its own, as the test role over
    // 127.0.0.1, opened; on failure it is returned closed, with the reason in
    // `error`. The server removes its connections when it is destroyed.
    QSqlDatabase openDatabase(QString* error = nullptr);
    // Runs `sql` (one or more statements) as the superuser over the unix
    // socket, in the test database unless another is named.
    bool execAsSuperuser(const QString& sql, QString* error = nullptr, const QString& database = {});

    // What the server and initdb printed so far.
    QByteArray log() const;

private:
    bool initCluster(QString* error);
    bool makeTestLogin(QString* error);
    bool startOn(quint16 port, bool* portTaken, QString* error);
    bool waitUntilReady(QString* error);
    void prepareChild(QProcess& process) const;
    void endWith(int signal);
    QString dataFolder() const { return m_folder.path() + QStringLiteral("/data"); }
    QString logPath() const { return m_folder.path() + QStringLiteral("/server.log"); }
    QString logTail() const;

    QTemporaryDir m_folder;
    QProcess m_process;
    qint64 m_processId = 0;
    quint16 m_port = 0;
    qint64 m_logStart = 0;  // where the log of the last start begins
    bool m_clusterMade = false;
    bool m_loginMade = false;
    bool m_asOtherUser = false;  // root runs everything as the postgres account
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    QString m_folderError;  // why the scratch folder is unusable, if so
    QStringList m_connections;
};

}  // namespace skelvar::test
