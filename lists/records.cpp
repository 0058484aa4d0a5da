#include "lists/records.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace skelvar::lists {

bool operator==(const Record& a, const Record& b)
{
    return a.ip == b.ip && a.name == b.name && a.reason == b.reason && a.date == b.date
        && a.until == b.until;
}

int fieldCount(ListKind kind)
{
    return kind == ListKind::Bans ? 5 : 4;
}

QString fileName(ListKind kind)
{
    switch (kind) {
    case ListKind::Warnings:
        return QStringLiteral("warnings.lst");
    case ListKind::Kicks:
        return QStringLiteral("kicks.lst");
    case ListKind::Bans:
        break;
    }
    return QStringLiteral("bans.lst");
}

QString cleanField(const QString& text)
{
    QString out = text;
    out.removeIf([](QChar c) {
        return c == QLatin1Char(FieldSeparator) || c == QLatin1Char('\r') || c == QLatin1Char('\n');
    });
    return out;
}

QByteArray recordLine(const Record& record, ListKind kind)
{
    QByteArray line;
    line.reserve(record.ip.size() + record.name.size() + record.reason.size() + record.date.size()
                 + record.until.size() + 6);
    line += cleanField(record.ip).toLatin1();
    line += FieldSeparator;
    line += cleanField(record.name).toLatin1();
    line += FieldSeparator;
    line += cleanField(record.reason).toLatin1();
    line += FieldSeparator;
    line += cleanField(record.date).toLatin1();
    if (kind == ListKind::Bans) {
        line += FieldSeparator;
        line += cleanField(record.until).toLatin1();
    }
    line += "\r\n";
    return line;
}

QByteArray serializeRecords(const QList<Record>& records, ListKind kind)
{
    QByteArray out;
    out.reserve(records.size() * 64);
    for (const Record& record : records)
        out += recordLine(record, kind);
    return out;
}

namespace {

QString normalisedDate(const QString& text)
{
    const QDate date = parseDate(text);
    return date.isValid() ? formatDate(date) : text;
}

}  // namespace

QDate banUntil(const Record& ban)
{
    return ban.until.isEmpty() ? QDate() : parseDate(ban.until);
}

bool banActive(const Record& ban, const QDate& today)
{
    const QDate until = banUntil(ban);
    return !until.isValid() || until > today;
}

QList<QByteArrayView> splitLines(const QByteArray& data)
{
    QList<QByteArrayView> lines;
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype end = data.indexOf('\n', start);
        const qsizetype next = end < 0 ? data.size() : end + 1;
        if (end < 0)
            end = data.size();
        if (end > start && data.at(end - 1) == '\r')
            --end;
        lines.append(QByteArrayView(data.constData() + start, end - start));
        start = next;
    }
    return lines;
}

LoadResult parseRecords(const QByteArray& data, ListKind kind, const QDate& today)
{
    LoadResult result;
    result.exists = true;
    const int needed = fieldCount(kind);
    for (const QByteArrayView line : splitLines(data)) {
        QString fields[5];
        int found = 0;
        qsizetype fieldStart = 0;
        while (found < needed) {
            qsizetype sep = line.indexOf(FieldSeparator, fieldStart);
            if (sep < 0)
                sep = line.size();
            fields[found++] = QString::fromLatin1(line.sliced(fieldStart, sep - fieldStart));
            if (sep == line.size())
                break;
            fieldStart = sep + 1;
        }
        if (found < needed) {
            ++result.skipped;
            continue;
        }

        Record record{fields[0], fields[1], fields[2], normalisedDate(fields[3]), {}};
        if (kind == ListKind::Bans && !fields[4].isEmpty()) {
            const QDate until = parseDate(fields[4]);
            if (until.isValid()) {
                if (until <= today) {
                    ++result.expired;
                    continue;
                }
                record.until = formatDate(until);
            }
            // An Until that is not a date keeps the ban, as a permanent one.
        }
        result.records.append(std::move(record));
    }
    return result;
}

namespace {

enum class ReadStatus { Missing, Failed, Ok };

ReadStatus readWhole(const QString& path, QByteArray* data, QString* error)
{
    const QFileInfo info(path);
    if (!info.exists())
        return ReadStatus::Missing;
    if (info.isDir()) {
        if (error)
            *error = QStringLiteral("%1 is a folder").arg(path);
        return ReadStatus::Failed;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("Cannot read %1: %2").arg(path, file.errorString());
        return ReadStatus::Failed;
    }
    *data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = QStringLiteral("Cannot read %1: %2").arg(path, file.errorString());
        return ReadStatus::Failed;
    }
    return ReadStatus::Ok;
}

bool writeWhole(const QString& path, const QByteArray& data, QString* error)
{
    const QFileInfo info(path);
    auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(path, why);
        return false;
    };
    if (info.isDir())
        return fail(QStringLiteral("it is a folder"));
    // A file the operator made read-only stays as it is, even where the folder
    // would allow replacing it. Opening it for append changes nothing and gets
    // the answer a writer gets; an access check answers for the real user.
    if (info.exists() && !QFile(path).open(QIODevice::WriteOnly | QIODevice::Append))
        return fail(QStringLiteral("the file is read-only"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    if (file.write(data) != data.size())
        return fail(file.errorString());
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

}  // namespace

LoadResult loadRecords(const QString& path, ListKind kind, const QDate& today)
{
    QByteArray data;
    switch (readWhole(path, &data, nullptr)) {
    case ReadStatus::Missing:
        return {};
    case ReadStatus::Failed: {
        LoadResult result;
        result.exists = true;
        result.readError = true;
        return result;
    }
    case ReadStatus::Ok:
        break;
    }
    return parseRecords(data, kind, today);
}

bool saveRecords(const QString& path, const QList<Record>& records, ListKind kind, QString* error)
{
    return writeWhole(path, serializeRecords(records, kind), error);
}

bool appendRecords(const QString& path, const QList<Record>& records, ListKind kind, QString* error)
{
    QByteArray data;
    const ReadStatus status = readWhole(path, &data, error);
    if (status == ReadStatus::Failed)
        return false;
    if (status == ReadStatus::Ok && records.isEmpty())
        return true;
    if (!data.isEmpty() && !data.endsWith('\n'))
        data += data.endsWith('\r') ? "\n" : "\r\n";
    data += serializeRecords(records, kind);
    return writeWhole(path, data, error);
}

}  // namespace skelvar::lists
