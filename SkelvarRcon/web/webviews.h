#pragma once
// What the web page shows of the monitor, as JSON: the state line and status
// labels, the Players list, the record lists with search and sort, the tail
// of skelvar.log. For a viewer every player's address is masked, in the lists
// and in the log's lines alike. Only reads; the page's changes go through
// WebActions.

#include "SkelvarRcon/app/monitor.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QUrlQuery>

#include <optional>

namespace skelvar::rcon::web {

// "10.1.2.3" -> "10.1.*.*", "[2001:db8::7]" -> "[2001:*]"; any other text,
// which could be an address in another form, "*".
QString maskAddress(const QString& address);
// Every IPv4 address or pattern and every bracketed IPv6 address in a line of text, masked.
QString maskAddresses(const QString& text);

// Whether the server answers, as the engine's passes see it: silent from the
// first read it gave up on until a pass reads players again or loses
// nothing; offline when a claim got no answer.
class ServerWatch : public QObject {
    Q_OBJECT
public:
    explicit ServerWatch(Monitor& monitor, QObject* parent = nullptr);
    bool answering() const { return m_notice.isEmpty(); }
    // What the page says while it does not answer; empty while it does.
    QString notice() const { return m_notice; }

signals:
    void changed();

private:
    void setNotice(const QString& text);

    Monitor& m_monitor;
    QString m_notice;
};

// The record lists' column keys for search results and sort: ip, name,
// reason, date, and until for bans.
QStringList recordKeys(lists::ListKind kind);
std::optional<lists::ListKind> listKindNamed(const QString& name);
QString listName(lists::ListKind kind);

struct ListQuery {
    QString search;       // in the name or the address, case-insensitive; empty: every record
    QString sort = "ip";  // one of recordKeys()
    bool descending = false;
    int offset = 0;
    int limit = 500;
};
// Reads search, sort, order (asc|desc), offset and limit (1 to 5000) from the
// URL's query. False with *error for a value out of its range.
bool readListQuery(const QUrlQuery& query, lists::ListKind kind, ListQuery* out, QString* error);

QJsonObject recordJson(const lists::Record& r, lists::ListKind kind, bool mask);

class WebViews {
public:
    WebViews(Monitor& monitor, ServerWatch& watch) : m_monitor(monitor), m_watch(watch) {}

    QJsonObject status() const;
    QJsonArray players(bool mask) const;
    QJsonObject records(lists::ListKind kind, const ListQuery& query, bool mask) const;
    // The last lines of skelvar.log, oldest first.
    QJsonObject logTail(int lines, bool mask) const;
    qint64 logSize() const;

private:
    Monitor& m_monitor;
    ServerWatch& m_watch;
};

}  // namespace skelvar::rcon::web
