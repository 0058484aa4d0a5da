#include "lists/records.h"

namespace skelvar::lists {

bool loadSkinList(const QString& path, SkinList& list, QString* error)
{
    QByteArray data;
    if (readWholeFile(path, &data, error) != ReadStatus::Ok)
        return false;

    SkinList result;
    for (const QByteArrayView raw : splitLines(data)) {
        // A 0x02 inside a line would otherwise split it into two entries.
        QString line = QString::fromLatin1(raw);
        line.remove(QLatin1Char(FieldSeparator));
        result.entries.append(line);
        ++result.count;
    }
    result.entries.append(QString());
    list = std::move(result);
    return true;
}

}  // namespace skelvar::lists
