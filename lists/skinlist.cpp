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
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype end = data.indexOf('\n', start);
        const qsizetype next = end < 0 ? data.size() : end + 1;
        if (end < 0)
            end = data.size();
        if (end > start && data.at(end - 1) == '\r')
            --end;
        // A 0x02 inside a line would otherwise split it into two entries.
        QString line = QString::fromLatin1(data.constData() + start, end - start);
        line.remove(QLatin1Char(FieldSeparator));
        result.entries.append(line);
        ++result.count;
        start = next;
    }
    result.entries.append(QString());
    list = std::move(result);
    return true;
}

}  // namespace skelvar::lists
