#include "tests/support/postgresserver.h"

#include "tests/support/processes.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcessEnvironment>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QVersionNumber>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace skelvar::test {

namespace {

constexpr int kStartAttempts = 3;
constexpr int kPollMs = 50;
constexpr int kLogTailBytes = 3000;
const QString kRootFolder = QStringLiteral("/usr/lib/postgresql");
const QString kServiceAccount = QStringLiteral("postgres");
const QString kSuperuserPassword = QStringLiteral("Admin-Pw-1");
const QByteArray kReadyLine("database system is ready to accept connections");
// The server ends at once when its port is taken; another free port is tried.
const QByteArray kPortTakenLine("could not bind IPv4 address");

bool runsAsRoot()
{
    return ::geteuid() == 0;
}

// Root's scratch folders live under /tmp, which the postgres account can
// reach; a TMPDIR of root's own might not be.
QString folderTemplate()
{
    const QString top = runsAsRoot() ? QStringLiteral("/tmp") : QDir::tempPath();
    return top + QStringLiteral("/skelvar-pg-XXXXXX");
}

quint16 freeTcpPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress(QHostAddress::LocalHost), 0))
        return 0;
    return probe.serverPort();
}

// No PG* variable of the caller's may point initdb or the server elsewhere.
QProcessEnvironment childEnvironment(const QString& home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& name : env.keys()) {
        if (name.startsWith(QStringLiteral("PG")) || name.startsWith(QStringLiteral("LC_")))
            env.remove(name);
    }
    env.insert(QStringLiteral("LANG"), QStringLiteral("C"));
    env.insert(QStringLiteral("HOME"), home);
    return env;
}

QString uniqueConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("skelvar-pg-%1").arg(++counter);
}

}  // namespace

QString missingPostgres()
{
    QString why;
    if (PostgresServer::binFolder().isEmpty())
        why = QStringLiteral("no initdb and postgres under %1/<version>/bin").arg(kRootFolder);
    else if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        why = QStringLiteral("Qt's QPSQL driver is missing");
    else if (runsAsRoot() && !::getpwnam(qPrintable(kServiceAccount)))
        why = QStringLiteral("the tests run as root and there is no account %1 to run the server as")
                  .arg(kServiceAccount);
    else
        return {};
    return QStringLiteral("no PostgreSQL server to test against: %1. Install the Debian packages postgresql and "
                          "libqt6sql6-psql (./setup.sh does; with SKELVAR_REQUIRE_ENGINES=1 this is a failure)")
        .arg(why);
}

PostgresServer::PostgresServer() : m_folder(folderTemplate())
{
    if (!m_folder.isValid()) {
        m_folderError = QStringLiteral("no scratch folder for the server: ") + m_folder.errorString();
        return;
    }
    if (!runsAsRoot())
        return;
    const passwd* account = ::getpwnam(qPrintable(kServiceAccount));
    if (!account) {
        m_folderError = QStringLiteral("no account %1 to run the server as").arg(kServiceAccount);
        return;
    }
    m_asOtherUser = true;
    m_uid = account->pw_uid;
    m_gid = account->pw_gid;
    if (::chown(qPrintable(m_folder.path()), m_uid, m_gid) != 0)
        m_folderError = QStringLiteral("cannot hand %1 to the account %2").arg(m_folder.path(), kServiceAccount);
}

PostgresServer::~PostgresServer()
{
    for (const QString& name : std::as_const(m_connections)) {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    stop();
}

QString PostgresServer::binFolder()
{
    QList<QVersionNumber> versions;
    for (const QString& name : QDir(kRootFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        versions.append(QVersionNumber::fromString(name));
    std::sort(versions.begin(), versions.end(), std::greater<>());
    for (const QVersionNumber& version : std::as_const(versions)) {
        const QString bin = kRootFolder + QLatin1Char('/') + version.toString() + QStringLiteral("/bin");
        if (QFileInfo(bin + QStringLiteral("/initdb")).isExecutable() &&
            QFileInfo(bin + QStringLiteral("/postgres")).isExecutable())
            return bin;
    }
    return {};
}

bool PostgresServer::start(QString* error)
{
    auto fail = [&](const QString& why) {
        stop();
        if (error)
            *error = why;
        return false;
    };
    const QString missing = missingPostgres();
    if (!missing.isEmpty())
        return fail(missing);
    if (!m_folderError.isEmpty())
        return fail(m_folderError);
    if (running())
        return true;
    if (!m_clusterMade && !initCluster(error))
        return false;
    bool portTaken = false;
    if (m_port != 0) {
        if (!startOn(m_port, &portTaken, error))
            return false;
    } else {
        bool started = false;
        for (int attempt = 0; attempt < kStartAttempts && !started; ++attempt) {
            started = startOn(freeTcpPort(), &portTaken, error);
            if (!started && !portTaken)
                return false;
        }
        if (!started)
            return false;
    }
    return m_loginMade || makeTestLogin(error);
}

void PostgresServer::stop()
{
    endWith(SIGINT);
}

void PostgresServer::stopImmediately()
{
    endWith(SIGQUIT);
}

QList<qint64> PostgresServer::processIds() const
{
    if (!running())
        return {};
    return QList<qint64>{m_processId} + childProcessIds(m_processId);
}

QSqlDatabase PostgresServer::openDatabase(QString* error)
{
    const QString name = uniqueConnectionName();
    m_connections.append(name);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    db.setHostName(host());
    db.setPort(m_port);
    db.setDatabaseName(databaseName());
    db.setUserName(userName());
    db.setPassword(password());
    db.setConnectOptions(QStringLiteral("connect_timeout=%1").arg(kConnectTimeoutS));
    if (!db.open() && error)
        *error = db.lastError().text();
    return db;
}

bool PostgresServer::execAsSuperuser(const QString& sql, QString* error, const QString& database)
{
    const QString name = uniqueConnectionName();
    QString why;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(socketFolder());
        db.setPort(m_port);
        db.setDatabaseName(database.isEmpty() ? databaseName() : database);
        db.setUserName(superuserName());
        db.setConnectOptions(QStringLiteral("connect_timeout=%1").arg(kConnectTimeoutS));
        if (!db.open()) {
            why = db.lastError().text();
        } else {
            QSqlQuery query(db);
            if (!query.exec(sql))
                why = query.lastError().text();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (!why.isEmpty() && error)
        *error = why;
    return why.isEmpty();
}

QByteArray PostgresServer::log() const
{
    QFile file(logPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool PostgresServer::initCluster(QString* error)
{
    // initdb takes the superuser's password only from a file; the host lines
    // it writes ask for passwords, the socket's lines trust.
    const QString passwordFile = m_folder.path() + QStringLiteral("/superuser-password");
    QFile file(passwordFile);
    if (!file.open(QIODevice::WriteOnly) || file.write(kSuperuserPassword.toUtf8() + '\n') < 0 || !file.flush() ||
        (m_asOtherUser && ::fchown(file.handle(), m_uid, m_gid) != 0)) {
        if (error)
            *error = QStringLiteral("cannot write %1").arg(passwordFile);
        return false;
    }
    file.close();

    QProcess initdb;
    prepareChild(initdb);
    const QString program = binFolder() + QStringLiteral("/initdb");
    initdb.start(program, {QStringLiteral("--pgdata=") + dataFolder(), QStringLiteral("--username=") + superuserName(),
                           QStringLiteral("--pwfile=") + passwordFile, QStringLiteral("--encoding=UTF8"),
                           QStringLiteral("--no-locale"), QStringLiteral("--auth-local=trust"),
                           QStringLiteral("--auth-host=scram-sha-256"), QStringLiteral("--no-sync")});
    if (!initdb.waitForFinished(kInitTimeoutMs)) {
        initdb.kill();
        initdb.waitForFinished(kStopWaitMs);
        if (error)
            *error = QStringLiteral("initdb did not finish within %1 s%2").arg(kInitTimeoutMs / 1000).arg(logTail());
        return false;
    }
    if (initdb.exitStatus() != QProcess::NormalExit || initdb.exitCode() != 0) {
        if (error)
            *error = QStringLiteral("initdb failed (exit status %1)%2").arg(initdb.exitCode()).arg(logTail());
        return false;
    }
    m_clusterMade = true;
    return true;
}

bool PostgresServer::makeTestLogin(QString* error)
{
    // CREATE DATABASE refuses to run in the transaction that several
    // statements of one call share, so it goes alone.
    const QString role = QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD '%2'").arg(userName(), password());
    const QString database = QStringLiteral("CREATE DATABASE %1 OWNER %2").arg(databaseName(), userName());
    const QString maintenance = QStringLiteral("postgres");
    QString why;
    if (!execAsSuperuser(role, &why, maintenance) || !execAsSuperuser(database, &why, maintenance)) {
        stop();
        if (error)
            *error = QStringLiteral("cannot make the test role and database: ") + why;
        return false;
    }
    m_loginMade = true;
    return true;
}

bool PostgresServer::startOn(quint16 port, bool* portTaken, QString* error)
{
    *portTaken = false;
    if (port == 0) {
        if (error)
            *error = QStringLiteral("no free TCP port on 127.0.0.1");
        return false;
    }
    m_port = port;
    m_logStart = log().size();
    prepareChild(m_process);
    // fsync off: tests outlive no power loss, and the stops are quicker.
    m_process.start(binFolder() + QStringLiteral("/postgres"),
                    {QStringLiteral("-D"), dataFolder(), QStringLiteral("-p"), QString::number(port),
                     QStringLiteral("-k"), socketFolder(), QStringLiteral("-c"),
                     QStringLiteral("listen_addresses=127.0.0.1"), QStringLiteral("-c"), QStringLiteral("fsync=off"),
                     QStringLiteral("-c"), QStringLiteral("shared_buffers=16MB")});
    if (!m_process.waitForStarted(kStopWaitMs)) {
        if (error)
            *error = QStringLiteral("postgres did not start: ") + m_process.errorString();
        return false;
    }
    m_processId = m_process.processId();
    if (waitUntilReady(error))
        return true;
    *portTaken = log().mid(m_logStart).contains(kPortTakenLine);
    stop();
    return false;
}

bool PostgresServer::waitUntilReady(QString* error)
{
    // The log is a file, not a pipe: a test that runs no event loop for a
    // while must not block the server on a full pipe.
    const QDeadlineTimer deadline(kReadyTimeoutMs);
    while (!log().mid(m_logStart).contains(kReadyLine)) {
        if (!running() || m_process.waitForFinished(kPollMs)) {
            if (error)
                *error = QStringLiteral("postgres ended before it was ready%1").arg(logTail());
            return false;
        }
        if (deadline.hasExpired()) {
            if (error)
                *error =
                    QStringLiteral("postgres was not ready within %1 s%2").arg(kReadyTimeoutMs / 1000).arg(logTail());
            return false;
        }
    }
    return true;
}

void PostgresServer::prepareChild(QProcess& process) const
{
    process.setProcessEnvironment(childEnvironment(m_folder.path()));
    process.setWorkingDirectory(m_folder.path());
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(logPath(), QIODevice::Append);
    const bool asOther = m_asOtherUser;
    const uid_t uid = m_uid;
    const gid_t gid = m_gid;
    const pid_t parent = ::getpid();
    // Runs in the child between fork and exec: only async-signal-safe calls.
    process.setChildProcessModifier([asOther, uid, gid, parent] {
        if (asOther && (::setgroups(1, &gid) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)) {
            static const char why[] = "cannot switch to the postgres account\n";
            [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, why, sizeof why - 1);
            ::_exit(127);
        }
        // After the switch, since changing the user clears the death signal.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
    });
}

void PostgresServer::endWith(int signal)
{
    if (!running())
        return;
    ::kill(pid_t(m_processId), signal);
    if (m_process.waitForFinished(kStopWaitMs))
        return;
    // A postmaster killed outright leaves its backends behind.
    const QList<qint64> children = childProcessIds(m_processId);
    ::kill(pid_t(m_processId), SIGKILL);
    m_process.waitForFinished(kStopWaitMs);
    for (const qint64 child : children)
        ::kill(pid_t(child), SIGKILL);
}

QString PostgresServer::logTail() const
{
    return QStringLiteral("; the log ends:\n") + QString::fromLocal8Bit(log().right(kLogTailBytes));
}

std::unique_ptr<PostgresServer> startPostgresForPrograms(QString* error)
{
    auto server = std::make_unique<PostgresServer>();
    if (!server->start(error))
        return nullptr;
    qputenv("PGPASSWORD", server->password().toUtf8());
    return server;
}

}  // namespace skelvar::test
