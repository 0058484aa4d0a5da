#include "lists/records.h"

#include <QFile>
#include <QFileInfo>

namespace skelvar::lists {

bool loadSkinList(const QString& path, SkinList& list)
{
    if (QFileInfo(path).isDir())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
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
