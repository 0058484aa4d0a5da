#pragma once
// skelvar.log: one line per alert, "date time text".

#include "SkelvarRcon/session/clock.h"

#include <QDateTime>
#include <QString>

#include <functional>

namespace skelvar::rcon {

class SkelvarLog {
public:
    explicit SkelvarLog(QString path = QStringLiteral("skelvar.log")) : m_path(std::move(path)) {}
    QString path() const { return m_path; }
    void setPath(const QString& p) { m_path = p; }

    // The line for a text at a moment: ISO date, a blank, the time of day, a blank, the text.
    static QByteArray line(const QString& text, const QDateTime& at);
    // AppendLog, at the clock's time unless given. Returns false when the file
    // could not be written.
    bool append(const QString& text, const QDateTime& at = {}) const;
    // Empties the file (it stays, with no content).
    bool clear() const;

    // Told every entry as it is appended (headless mode prints them).
    void setEcho(std::function<void(const QString& text)> echo) { m_echo = std::move(echo); }
    // The clock that times the lines; the local time unless set.
    void setClock(const Clock* clock) { m_clock = clock ? clock : &Clock::system(); }

private:
    QString m_path;
    std::function<void(const QString&)> m_echo;
    const Clock* m_clock = &Clock::system();
};

}  // namespace skelvar::rcon
