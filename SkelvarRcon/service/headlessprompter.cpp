#include "SkelvarRcon/service/headlessprompter.h"

#include "SkelvarRcon/session/monitorsession.h"

#include <QDateTime>

namespace skelvar::rcon {

void ConsoleLines::line(const QString& text) const
{
    QString flat = text;
    for (QChar& c : flat) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char(' ');
    }
    const QByteArray bytes =
        (QDateTime::currentDateTime().toString(Qt::ISODate) + QLatin1Char(' ') + flat + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_stream);
    std::fflush(m_stream);
}

bool HeadlessPrompter::askYesNo(const QString& title, const QString& text, Icon, bool)
{
    m_console.line(title + QStringLiteral(": ") + text);
    const bool takeOver = title == MonitorSession::alreadyMonitoredTitle();
    if (takeOver && m_force) {
        m_console.line(title + QStringLiteral(" Answered Yes (--force): the server is taken over."));
        return true;
    }
    m_console.line(title + (takeOver ? QStringLiteral(" Answered No, the safe answer (start with --force to take "
                                                      "the server over).")
                                     : QStringLiteral(" Answered No, the safe answer.")));
    return false;
}

void HeadlessPrompter::message(const QString& title, const QString& text, Icon)
{
    m_console.line(title + QStringLiteral(": ") + text);
}

}  // namespace skelvar::rcon
