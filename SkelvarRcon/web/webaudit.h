#pragma once
// webaudit.log beside the lists: one line for every login, logout and action
// through the web page, "date time<TAB>account<TAB>address<TAB>what<TAB>result",
// in UTF-8 with CR LF. Tabs and line breaks in the fields (a player's name)
// become blanks, so a line stays one entry of five fields.

#include "SkelvarRcon/session/clock.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace skelvar::rcon::web {

class AuditLog {
public:
    static QString fileName() { return QStringLiteral("webaudit.log"); }

    void setPath(const QString& path) { m_path = path; }
    QString path() const { return m_path; }
    void setClock(const Clock* clock) { m_clock = clock ? clock : &Clock::system(); }

    static QByteArray line(const QDateTime& at, const QString& account, const QString& address, const QString& what,
                           const QString& result);
    bool write(const QString& account, const QString& address, const QString& what, const QString& result) const;

private:
    QString m_path;
    const Clock* m_clock = &Clock::system();
};

}  // namespace skelvar::rcon::web
