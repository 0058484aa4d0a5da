#include "lists/pgbanstore.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>
#include <QVariant>

#include <vector>

namespace skelvar::lists {

namespace {

const QString kChannel = QStringLiteral("skelvar_bans");
// Advisory lock keys: one for making the tables, one that orders the pushes.
constexpr qint64 kLayoutLock = 0x736b656c7601;
constexpr qint64 kPushLock = 0x736b656c7602;
// Rows per INSERT statement of a push: each column goes as one array
// parameter, so a statement costs one round trip whatever its size.
constexpr int kRowsPerInsert = 5000;

const QString kAdd = QStringLiteral("add");
const QString kRemove = QStringLiteral("remove");

bool exec(QSqlQuery& query, const QString& sql, const QVariantList& values = {})
{
    if (values.isEmpty())
        return query.exec(sql);
    if (!query.prepare(sql))
        return false;
    for (const QVariant& v : values)
        query.addBindValue(v);
    return query.exec();
}

// The pushed columns, each bound as one array parameter; the rows go in in
// their order, so their sequence numbers follow it.
const QString kInsertStatement =
    QStringLiteral("INSERT INTO skelvar_ban_changes (op, kind, ip, name, reason, date, until) "
                   "SELECT op, kind, ip, name, reason, date, until "
                   "FROM unnest(?::uuid[], ?::text[], ?::text[], ?::text[], ?::text[], ?::text[], ?::text[]) "
                   "WITH ORDINALITY AS pushed(op, kind, ip, name, reason, date, until, n) "
                   "ORDER BY n ON CONFLICT (op) DO NOTHING");

// One column as a PostgreSQL array's text: every element quoted, so that
// no field is read as NULL, a blank or a separator.
class ArrayText {
public:
    explicit ArrayText(qsizetype rows) { m_text.reserve(rows * 24 + 2); }
    void append(const QString& field)
    {
        m_text += m_text.isEmpty() ? QStringLiteral("{\"") : QStringLiteral(",\"");
        for (const QChar c : field) {
            if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
                m_text += QLatin1Char('\\');
            m_text += c;
        }
        m_text += QLatin1Char('"');
    }
    QString text() const { return m_text.isEmpty() ? QStringLiteral("{}") : m_text + QLatin1Char('}'); }

private:
    QString m_text;
};

}  // namespace

QString BanDatabase::displayName() const
{
    QString name = user.isEmpty() ? QString() : user + QLatin1Char('@');
    name += host.isEmpty() ? QStringLiteral("localhost") : host;
    if (port != kDefaultPort)
        name += QLatin1Char(':') + QString::number(port);
    return name + QLatin1Char('/') + database;
}

bool parseBanDatabaseUrl(const QString& text, BanDatabase* database, QString* error)
{
    const QUrl url(text, QUrl::StrictMode);
    // A password given by mistake is not repeated in a message or a log.
    auto refuse = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(url.toDisplayString(QUrl::RemovePassword), why);
        return false;
    };
    if (text.trimmed().isEmpty())
        return refuse(QStringLiteral("no address given"));
    if (!url.isValid())
        return refuse(QStringLiteral("not an address (%1)").arg(url.errorString()));
    if (url.scheme() != QLatin1String("postgresql") && url.scheme() != QLatin1String("postgres"))
        return refuse(QStringLiteral("not a postgresql:// address"));
    if (url.userInfo().contains(QLatin1Char(':')))
        return refuse(QStringLiteral("holds a password; give it in ~/.pgpass or PGPASSWORD instead"));
    if (url.hasFragment())
        return refuse(QStringLiteral("has a fragment (#...)"));
    BanDatabase result;
    result.user = url.userName(QUrl::FullyDecoded);
    result.host = url.host(QUrl::FullyDecoded);
    result.port = url.port(BanDatabase::kDefaultPort);
    if (result.port <= 0)
        return refuse(QStringLiteral("the port is not a number from 1 to 65535"));
    QString path = url.path(QUrl::FullyDecoded);
    if (path.startsWith(QLatin1Char('/')))
        path.remove(0, 1);
    if (path.contains(QLatin1Char('/')))
        return refuse(QStringLiteral("names more than a database"));
    result.database = path;
    const QUrlQuery query(url);
    for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (key != QLatin1String("sslmode"))
            return refuse(QStringLiteral("the option %1 is not taken (only sslmode is)").arg(key));
        static const QStringList modes{"disable", "allow", "prefer", "require", "verify-ca", "verify-full"};
        if (!modes.contains(value))
            return refuse(QStringLiteral("sslmode %1 is none of %2").arg(value, modes.join(QStringLiteral(", "))));
        result.sslMode = value;
    }
    *database = result;
    return true;
}

PgBanStore::PgBanStore(BanDatabase database) : m_where(std::move(database))
{
}

PgBanStore::~PgBanStore()
{
    close();
}

void PgBanStore::close()
{
    m_reachable = false;
    if (m_connectionName.isEmpty())
        return;
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
    m_connectionName.clear();
}

bool PgBanStore::fail(const QString& what, const QString& why, QString* error)
{
    close();
    if (error)
        *error = QStringLiteral("%1 %2: %3").arg(what, m_where.displayName(), why.trimmed());
    return false;
}

bool PgBanStore::refuse(const QString& why, QString* error)
{
    close();
    m_refusal = QStringLiteral("The shared ban list at %1 is not used: %2 The database was left as it is.")
                    .arg(m_where.displayName(), why);
    if (error)
        *error = m_refusal;
    return false;
}

bool PgBanStore::open(QString* error)
{
    if (refused()) {
        if (error)
            *error = m_refusal;
        return false;
    }
    // The driver may close a connection whose server went away by itself.
    if (m_reachable && m_db.isOpen())
        return true;
    if (!connectNow(error) || !prepareLayout(error))
        return false;
    m_reachable = true;
    subscribe();
    return true;
}

// A new connection each time: a driver that lost its server keeps its
// notification list, and would not listen again on the next connection.
bool PgBanStore::connectNow(QString* error)
{
    close();
    m_connectionName = QStringLiteral("skelvar-bans-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_connectionName);
    if (!m_db.isValid())
        return fail(QStringLiteral("Cannot reach"), QStringLiteral("Qt's PostgreSQL driver (QPSQL) is not installed"),
                    error);
    if (!m_where.host.isEmpty())
        m_db.setHostName(m_where.host);
    m_db.setPort(m_where.port);
    m_db.setDatabaseName(m_where.database);
    m_db.setUserName(m_where.user);
    // A peer that vanishes without closing the connection is noticed in
    // about 20 s instead of the system's TCP timeout of many minutes.
    QString options = QStringLiteral("connect_timeout=%1;keepalives=1;keepalives_idle=10;keepalives_interval=5;"
                                     "keepalives_count=2;application_name=skelvar")
                          .arg(kConnectTimeoutS);
    if (!m_where.sslMode.isEmpty())
        options += QStringLiteral(";sslmode=") + m_where.sslMode;
    m_db.setConnectOptions(options);
    if (!m_db.open())
        return fail(QStringLiteral("Cannot reach"), m_db.lastError().text(), error);
    QSqlQuery query(m_db);
    if (!exec(query, QStringLiteral("SELECT set_config('statement_timeout', ?, false)"),
              {QString::number(kStatementTimeoutMs)}))
        return fail(QStringLiteral("Cannot set up"), query.lastError().text(), error);
    return true;
}

bool PgBanStore::prepareLayout(QString* error)
{
    if (!m_db.transaction())
        return fail(QStringLiteral("Cannot read the layout of"), m_db.lastError().text(), error);
    QSqlQuery query(m_db);
    // Two programs that find an empty database at once make the tables once.
    if (!exec(query, QStringLiteral("SELECT pg_advisory_xact_lock(?)"), {kLayoutLock}) ||
        !exec(query, QStringLiteral("SELECT to_regclass(?) IS NOT NULL, to_regclass(?) IS NOT NULL"),
              {QStringLiteral("skelvar_layout"), QStringLiteral("skelvar_ban_changes")}) ||
        !query.next()) {
        const QString why = query.lastError().text();
        m_db.rollback();
        return fail(QStringLiteral("Cannot read the layout of"), why, error);
    }
    const bool hasLayout = query.value(0).toBool();
    const bool hasLog = query.value(1).toBool();
    query.finish();
    bool ok = false;
    if (!hasLayout && hasLog)
        ok = refuse(QStringLiteral("it holds the table skelvar_ban_changes without skelvar_layout."), error);
    else if (!hasLayout)
        ok = makeTables(error);
    else
        ok = readLayout(error);
    if (ok && hasLayout && !hasLog)
        ok = refuse(QStringLiteral("it holds the table skelvar_layout without skelvar_ban_changes."), error);
    if (!ok) {
        if (m_db.isOpen())
            m_db.rollback();
        return false;
    }
    if (!m_db.commit())
        return fail(QStringLiteral("Cannot make the tables of"), m_db.lastError().text(), error);
    return true;
}

bool PgBanStore::makeTables(QString* error)
{
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    QSqlQuery query(m_db);
    const bool ok =
        exec(query, QStringLiteral("CREATE TABLE skelvar_layout (layout integer NOT NULL, log_id uuid NOT NULL)")) &&
        exec(query, QStringLiteral("INSERT INTO skelvar_layout (layout, log_id) VALUES (?, ?::uuid)"), {kLayout, id}) &&
        exec(query, QStringLiteral("CREATE TABLE skelvar_ban_changes ("
                                   "seq bigserial PRIMARY KEY, "
                                   "op uuid NOT NULL UNIQUE, "
                                   "kind text NOT NULL CHECK (kind IN ('add', 'remove')), "
                                   "ip text NOT NULL, name text NOT NULL, reason text NOT NULL, "
                                   "date text NOT NULL, until text NOT NULL, "
                                   "at timestamptz NOT NULL DEFAULT now())"));
    if (!ok)
        return fail(QStringLiteral("Cannot make the tables of"), query.lastError().text(), error);
    m_logId = id;
    return true;
}

bool PgBanStore::readLayout(QString* error)
{
    QSqlQuery query(m_db);
    if (!exec(query, QStringLiteral("SELECT layout, log_id::text FROM skelvar_layout")))
        return fail(QStringLiteral("Cannot read the layout of"), query.lastError().text(), error);
    if (!query.next())
        return refuse(QStringLiteral("its table skelvar_layout is empty."), error);
    const int layout = query.value(0).toInt();
    const QString id = query.value(1).toString();
    if (query.next())
        return refuse(QStringLiteral("its table skelvar_layout holds more than one row."), error);
    if (layout > kLayout)
        return refuse(QStringLiteral("its tables have layout %1, newer than the layout %2 this program knows. "
                                     "Update the program on this machine.")
                          .arg(layout)
                          .arg(kLayout),
                      error);
    if (layout < kLayout)
        return refuse(QStringLiteral("its tables have layout %1, which this program does not know.").arg(layout),
                      error);
    m_logId = id;
    return true;
}

bool PgBanStore::watchChanges(std::function<void()> changed)
{
    m_changed = std::move(changed);
    if (m_reachable)
        subscribe();
    return true;
}

void PgBanStore::subscribe()
{
    if (!m_changed)
        return;
    QSqlDriver* driver = m_db.driver();
    if (driver->subscribedToNotifications().contains(kChannel))
        return;
    // The driver is destroyed with the connection, and its signal with it.
    QObject::connect(driver, &QSqlDriver::notification, driver,
                     [this](const QString& name, QSqlDriver::NotificationSource source, const QVariant&) {
                         if (name == kChannel && source != QSqlDriver::SelfSource && m_changed)
                             m_changed();
                     });
    driver->subscribeToNotification(kChannel);
}

bool PgBanStore::changesSince(qint64 seq, QList<BanChange>* changes, QString* error)
{
    changes->clear();
    if (!open(error))
        return false;
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!exec(query,
              QStringLiteral("SELECT seq, op::text, kind, ip, name, reason, date, until FROM skelvar_ban_changes "
                             "WHERE seq > ? ORDER BY seq"),
              {seq}))
        return fail(QStringLiteral("Cannot read the shared ban list at"), query.lastError().text(), error);
    while (query.next()) {
        const QString kind = query.value(2).toString();
        if (kind != kAdd && kind != kRemove)
            continue;  // a row another program wrote wrong changes nothing
        BanChange change;
        change.seq = query.value(0).toLongLong();
        change.op = query.value(1).toString();
        change.kind = kind == kAdd ? BanChange::Kind::Add : BanChange::Kind::Remove;
        change.record = normalizedBan({query.value(3).toString(), query.value(4).toString(), query.value(5).toString(),
                                       query.value(6).toString(), query.value(7).toString()});
        changes->append(std::move(change));
    }
    if (query.lastError().isValid())
        return fail(QStringLiteral("Cannot read the shared ban list at"), query.lastError().text(), error);
    return true;
}

bool PgBanStore::insertOps(const QList<BanChange>& ops, int* inserted, QString* error)
{
    QSqlQuery query(m_db);
    for (qsizetype from = 0; from < ops.size(); from += kRowsPerInsert) {
        const qsizetype rows = qMin<qsizetype>(kRowsPerInsert, ops.size() - from);
        std::vector<ArrayText> columns(7, ArrayText(rows));
        for (qsizetype i = from; i < from + rows; ++i) {
            const BanChange& op = ops.at(i);
            const Record r = normalizedBan(op.record);
            columns[0].append(op.op);
            columns[1].append(op.kind == BanChange::Kind::Add ? kAdd : kRemove);
            int column = 2;
            for (const QString* field : {&r.ip, &r.name, &r.reason, &r.date, &r.until})
                columns[column++].append(*field);
        }
        QVariantList values;
        for (const ArrayText& column : columns)
            values << column.text();
        if (!exec(query, kInsertStatement, values))
            return fail(QStringLiteral("Cannot write to the shared ban list at"), query.lastError().text(), error);
        *inserted += query.numRowsAffected();
    }
    return true;
}

bool PgBanStore::push(const QList<BanChange>& ops, QString* error)
{
    if (!open(error))
        return false;
    // An id that is no uuid cannot be stored, and would hold up every later push.
    QList<BanChange> valid;
    for (const BanChange& op : ops) {
        if (isOperationId(op.op))
            valid.append(op);
    }
    if (valid.isEmpty())
        return true;
    if (!m_db.transaction())
        return fail(QStringLiteral("Cannot write to the shared ban list at"), m_db.lastError().text(), error);
    QSqlQuery query(m_db);
    int inserted = 0;
    if (!exec(query, QStringLiteral("SELECT pg_advisory_xact_lock(?)"), {kPushLock}))
        return fail(QStringLiteral("Cannot write to the shared ban list at"), query.lastError().text(), error);
    if (!insertOps(valid, &inserted, error))
        return false;
    if (inserted > 0 && !exec(query, QStringLiteral("SELECT pg_notify(?, ?)"), {kChannel, m_logId}))
        return fail(QStringLiteral("Cannot write to the shared ban list at"), query.lastError().text(), error);
    if (!m_db.commit())
        return fail(QStringLiteral("Cannot write to the shared ban list at"), m_db.lastError().text(), error);
    return true;
}

}  // namespace skelvar::lists
