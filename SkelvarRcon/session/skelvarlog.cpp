#include "SkelvarRcon/session/skelvarlog.h"

#include "lists/fileaccess.h"
#include "lists/records.h"

namespace skelvar::rcon {

QByteArray SkelvarLog::line(const QString& text, const QDateTime& at)
{
    QString flat = text;
    // One entry stays one line.
    flat.replace(QLatin1String("\r\n"), QLatin1String(" "));
    flat.replace(QLatin1Char('\r'), QLatin1Char(' '));
    flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return (lists::formatDate(at.date()) + QLatin1Char(' ') + at.time().toString(QStringLiteral("HH:mm:ss")) +
            QLatin1Char(' ') + flat)
               .toLatin1() +
           "\r\n";
}

bool SkelvarLog::append(const QString& text, const QDateTime& at) const
{
    if (m_echo)
        m_echo(text);
    return lists::appendToFile(m_path, line(text, at.isValid() ? at : m_clock->now()));
}

bool SkelvarLog::clear() const
{
    return lists::emptyFile(m_path);
}

}  // namespace skelvar::rcon
