#include "lists/records.h"

#include <QLocale>

namespace skelvar::lists {

QString formatDate(const QDate& date)
{
    return date.isValid() ? date.toString(QStringLiteral("yyyy-MM-dd")) : QString();
}

namespace {

// True when the current locale's short date format names the day before the month.
bool localeDayFirst()
{
    const QString format = QLocale().dateFormat(QLocale::ShortFormat);
    const qsizetype d = format.indexOf(QLatin1Char('d'));
    const qsizetype m = format.indexOf(QLatin1Char('M'));
    return d >= 0 && m >= 0 && d < m;
}

}  // namespace

QDate parseDate(const QString& text)
{
    const QString t = text.trimmed();
    int value[3] = {0, 0, 0};
    int digits[3] = {0, 0, 0};
    int group = 0;
    QChar separator;
    for (const QChar c : t) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            if (++digits[group] > 4)
                return {};
            value[group] = value[group] * 10 + (c.unicode() - '0');
        } else if (c == QLatin1Char('-') || c == QLatin1Char('/') || c == QLatin1Char('.')) {
            if (digits[group] == 0 || group == 2)
                return {};
            if (group == 1 && c != separator)
                return {};
            separator = c;
            ++group;
        } else {
            return {};
        }
    }
    if (group != 2 || digits[2] == 0)
        return {};

    if (digits[0] == 4) {  // year first
        if (digits[1] > 2 || digits[2] > 2)
            return {};
        return QDate(value[0], value[1], value[2]);
    }
    if (digits[0] > 2 || digits[1] > 2 || (digits[2] != 4 && digits[2] != 2))
        return {};
    const int year = digits[2] == 2 ? 2000 + value[2] : value[2];
    const int a = value[0];
    const int b = value[1];
    bool dayFirst;
    if (a > 12)
        dayFirst = true;
    else if (b > 12)
        dayFirst = false;
    else
        dayFirst = localeDayFirst();
    return dayFirst ? QDate(year, b, a) : QDate(year, a, b);
}

}  // namespace skelvar::lists
