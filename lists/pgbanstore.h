#pragma once
// The shared ban list in a PostgreSQL database, through Qt SQL's QPSQL
// driver: the database named by a postgresql:// address, the tables this
// program keeps there, and the store interface (banstore.h) over them.
//
// Layout: skelvar_layout holds one row, the layout number and the log's id;
// skelvar_ban_changes is the append-only log (seq, op, kind, the ban's five
// fields, when it came in). The first program to use an empty database makes
// both in one transaction; a database whose layout is newer than this
// program's is refused and left as it is. Pushes take one advisory lock for
// their transaction, so sequence numbers are committed in their order and a
// reader that has seen number n has seen every number below it.
//
// A handle is made, used and destroyed on one thread: it owns a QSqlDatabase
// connection of its own. Every statement with values binds them.

#include "lists/banstore.h"

#include <QSqlDatabase>
#include <QString>

#include <functional>

namespace skelvar::lists {

// Where the shared list is: postgresql://user@host:port/database (the scheme
// "postgres" too). The password never comes with it: libpq reads it from
// PGPASSWORD or ~/.pgpass (PGPASSFILE) by itself. The query may name
// sslmode; nothing else.
struct BanDatabase {
    static constexpr int kDefaultPort = 5432;
    QString host;  // empty: libpq's default (the local socket)
    int port = kDefaultPort;
    QString database;  // empty: libpq's default (the user's name)
    QString user;      // empty: libpq's default (the account's name)
    QString sslMode;
    // user@host:port/database, for messages.
    QString displayName() const;
};

// False, with error saying why, for an address that is not a PostgreSQL
// one, holds a password, or has parts a database address has not.
bool parseBanDatabaseUrl(const QString& url, BanDatabase* database, QString* error = nullptr);

class PgBanStore : public BanStore {
public:
    static constexpr int kLayout = 1;
    static constexpr int kConnectTimeoutS = 5;
    static constexpr int kStatementTimeoutMs = 15000;

    explicit PgBanStore(BanDatabase database);
    ~PgBanStore() override;
    PgBanStore(const PgBanStore&) = delete;
    PgBanStore& operator=(const PgBanStore&) = delete;

    bool open(QString* error = nullptr) override;
    bool isReachable() const override { return m_reachable; }
    QString logId() const override { return m_logId; }
    bool changesSince(qint64 seq, QList<BanChange>* changes, QString* error = nullptr) override;
    bool push(const QList<BanChange>& ops, QString* error = nullptr) override;
    bool watchChanges(std::function<void()> changed) override;

    // The database holds tables of a layout this program does not know; it is
    // not tried again. refusal() says why.
    bool refused() const { return !m_refusal.isEmpty(); }
    QString refusal() const override { return m_refusal; }
    // Drops the connection; the next call connects again.
    void close();

private:
    bool connectNow(QString* error);
    bool prepareLayout(QString* error);
    bool makeTables(QString* error);
    bool readLayout(QString* error);
    bool insertOps(const QList<BanChange>& ops, int* inserted, QString* error);
    void subscribe();
    // A failed statement: the connection is dropped (the driver does not tell
    // a dead one) and error says what failed.
    bool fail(const QString& what, const QString& why, QString* error);
    bool refuse(const QString& why, QString* error);

    BanDatabase m_where;
    QString m_connectionName;
    QSqlDatabase m_db;
    QString m_logId;
    QString m_refusal;
    bool m_reachable = false;
    std::function<void()> m_changed;
};

}  // namespace skelvar::lists
