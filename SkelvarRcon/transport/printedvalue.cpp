#include "SkelvarRcon/transport/printedvalue.h"

namespace skelvar::rcon {

namespace {

bool isColourLetter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z');
}

}  // namespace

QString withoutColourCodes(const QString& text)
{
    if (!text.contains(QLatin1Char('^')))
        return text;
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('^') && i + 1 < text.size() && isColourLetter(text.at(i + 1))) {
            ++i;
            continue;
        }
        out += text.at(i);
    }
    return out;
}

QString printedValue(const QString& answer)
{
    return withoutColourCodes(answer.section(QLatin1Char('"'), 3, 3));
}

}  // namespace skelvar::rcon
