#include "SkelvarRcon/web/webaudit.h"

#include "lists/fileaccess.h"
#include "lists/records.h"

namespace skelvar::rcon::web {

namespace {

QString flat(const QString& text)
{
    QString out = text;
    for (QChar& c : out) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    }
    return out.isEmpty() ? QStringLiteral("-") : out;
}

}  // namespace

QByteArray AuditLog::line(const QDateTime& at, const QString& account, const QString& address, const QString& what,
                          const QString& result)
{
    const QString stamp =
        lists::formatDate(at.date()) + QLatin1Char(' ') + at.time().toString(QStringLiteral("HH:mm:ss"));
    return (QStringList{stamp, flat(account), flat(address), flat(what), flat(result)}.join(QLatin1Char('\t')))
               .toUtf8() +
           "\r\n";
}

bool AuditLog::write(const QString& account, const QString& address, const QString& what, const QString& result) const
{
    return lists::appendToFile(m_path, line(m_clock->now(), account, address, what, result));
}

}  // namespace skelvar::rcon::web
