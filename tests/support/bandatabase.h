#pragma once
// Databases for the shared ban list's tests on the private PostgreSQL server
// (postgresserver.h): a new one for each case, owned by the test role, and a
// connection of the test's own to look into it or spoil it as another writer
// might. The test role's password comes from PGPASSWORD, as for the program.

#include "lists/pgbanstore.h"
#include "tests/support/postgresserver.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QUuid>
#include <QVariant>

namespace skelvar::test {

// A database named `name` made anew, and where the program finds it.
inline lists::BanDatabase freshBanDatabase(PostgresServer& server, const QString& name)
{
    QString error;
    if (!server.execAsSuperuser(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(name), &error,
                                QStringLiteral("postgres")) ||
        !server.execAsSuperuser(QStringLiteral("CREATE DATABASE %1 OWNER %2").arg(name, server.userName()), &error,
                                QStringLiteral("postgres")))
        qWarning("cannot make the database %s: %s", qPrintable(name), qPrintable(error));
    lists::BanDatabase db;
    db.host = server.host();
    db.port = server.port();
    db.database = name;
    db.user = server.userName();
    return db;
}

// The database's address as an admin writes it for --bans-db and rconskelvar.conf.
inline QString banDatabaseUrl(const lists::BanDatabase& db)
{
    return QStringLiteral("postgresql://%1@%2:%3/%4").arg(db.user, db.host).arg(db.port).arg(db.database);
}

// The test's own connection to one database, as the test role.
class TestConnection {
public:
    explicit TestConnection(const lists::BanDatabase& db)
        : m_name(QStringLiteral("test-") + QUuid::createUuid().toString(QUuid::WithoutBraces))
    {
        QSqlDatabase conn = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_name);
        conn.setHostName(db.host);
        conn.setPort(db.port);
        conn.setDatabaseName(db.database);
        conn.setUserName(db.user);
        if (!conn.open())
            qWarning("test connection: %s", qPrintable(conn.lastError().text()));
    }
    ~TestConnection()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    TestConnection(const TestConnection&) = delete;
    TestConnection& operator=(const TestConnection&) = delete;

    // The first value of the statement's first row, or the error in <>.
    QString value(const QString& sql, const QVariantList& values = {})
    {
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        q.prepare(sql);
        for (const QVariant& v : values)
            q.addBindValue(v);
        if (!q.exec())
            return QStringLiteral("<%1>").arg(q.lastError().text());
        return q.next() ? q.value(0).toString() : QString();
    }

    // A change written straight into the log; false, with a warning, when refused.
    bool insertChange(const QString& kind, const lists::Record& r)
    {
        const QString result =
            value(QStringLiteral("INSERT INTO skelvar_ban_changes (op, kind, ip, name, reason, date, until) "
                                 "VALUES (?::uuid, ?, ?, ?, ?, ?, ?) RETURNING seq"),
                  {QUuid::createUuid().toString(QUuid::WithoutBraces), kind, r.ip, r.name, r.reason, r.date, r.until});
        if (result.startsWith(QLatin1Char('<')))
            qWarning("insert: %s", qPrintable(result));
        return !result.startsWith(QLatin1Char('<'));
    }

private:
    QString m_name;
};

}  // namespace skelvar::test
