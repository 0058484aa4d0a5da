#pragma once
// The monitor's one source of the date and time of day. The owner makes one
// and hands it to the parts that date records or tell the time, so a test
// sets the day instead of racing midnight.

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <functional>

namespace skelvar::rcon {

class Clock {
public:
    // The local time of this machine.
    Clock() = default;
    explicit Clock(std::function<QDateTime()> now) : m_now(std::move(now)) {}

    QDateTime now() const { return m_now ? m_now() : QDateTime::currentDateTime(); }
    QDate today() const { return now().date(); }
    QTime timeOfDay() const { return now().time(); }

    // For the parts that are given no clock of their own.
    static const Clock& system()
    {
        static const Clock local;
        return local;
    }

private:
    std::function<QDateTime()> m_now;
};

}  // namespace skelvar::rcon
