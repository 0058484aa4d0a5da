#include "lists/records.h"

#include "lists/fileaccess.h"

#include <QFileInfo>

namespace skelvar::lists {

bool operator==(const Record& a, const Record& b)
{
    return a.ip == b.ip && a.name == b.name && a.reason == b.reason && a.date == b.date && a.until == b.until;
}

int fieldCount(ListKind kind)
{
    return kind == ListKind::Bans ? 5 : 4;
}

QString fileName(ListKind kind)
{
    switch (kind) {
    case ListKind::Warnings: return QStringLiteral("warnings.lst");
    case ListKind::Kicks: return QStringLiteral("kicks.lst");
    case ListKind::Bans: break;
    }
    return QStringLiteral("bans.lst");
}

QString cleanField(const QString& text)
{
    QString out = text;
    out.removeIf(
        [](QChar c) { return c == QLatin1Char(FieldSeparator) || c == QLatin1Char('\r') || c == QLatin1Char('\n'); });
    return out;
}

namespace {

// The field as Latin-1 without 0x02, CR and LF, straight into the line.
void appendField(QByteArray& out, const QString& field)
{
    const qsizetype start = out.size();
    out.resize(start + field.size());
    char* to = out.data() + start;
    for (const QChar c : field) {
        const char16_t u = c.unicode();
        if (u != FieldSeparator && u != '\r' && u != '\n')
            *to++ = u < 0x100 ? char(u) : '?';
    }
    out.truncate(to - out.constData());
}

}  // namespace

void appendRecordLine(QByteArray& out, const Record& record, ListKind kind)
{
    appendField(out, record.ip);
    out += FieldSeparator;
    appendField(out, record.name);
    out += FieldSeparator;
    appendField(out, record.reason);
    out += FieldSeparator;
    appendField(out, record.date);
    if (kind == ListKind::Bans) {
        out += FieldSeparator;
        appendField(out, record.until);
    }
    out += "\r\n";
}

QByteArray recordLine(const Record& record, ListKind kind)
{
    QByteArray line;
    line.reserve(record.ip.size() + record.name.size() + record.reason.size() + record.date.size() +
                 record.until.size() + 6);
    appendRecordLine(line, record, kind);
    return line;
}

QByteArray serializeRecords(const QList<Record>& records, ListKind kind)
{
    QByteArray out;
    out.reserve(records.size() * 72);
    for (const Record& record : records)
        appendRecordLine(out, record, kind);
    return out;
}

namespace {

// The written form yyyy-MM-dd, checked without building a date.
bool writtenForm(const QString& text)
{
    if (text.size() != 10 || text.at(4) != QLatin1Char('-') || text.at(7) != QLatin1Char('-'))
        return false;
    for (int i = 0; i < 10; ++i) {
        if (i != 4 && i != 7 && (text.at(i) < QLatin1Char('0') || text.at(i) > QLatin1Char('9')))
            return false;
    }
    return true;
}

// The date in the written form; the text itself when it is no date. Most
// lines already hold the written form, which is then kept as it is.
QString normalisedDate(const QString& text, bool* unchanged)
{
    const QDate date = parseDate(text);
    if (!date.isValid() || writtenForm(text))
        return text;
    *unchanged = false;
    return formatDate(date);
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

ParsedLine parseLine(QByteArrayView line, ListKind kind, const QDate& today)
{
    ParsedLine parsed;
    const int needed = fieldCount(kind);
    QString fields[5];
    int found = 0;
    qsizetype fieldStart = 0;
    qsizetype sep = -1;
    while (found < needed) {
        sep = line.indexOf(FieldSeparator, fieldStart);
        if (sep < 0)
            sep = line.size();
        fields[found++] = QString::fromLatin1(line.sliced(fieldStart, sep - fieldStart));
        if (sep == line.size())
            break;
        fieldStart = sep + 1;
    }
    if (found < needed)
        return parsed;

    // Extra fields and a stray CR are dropped on the way in, so the line
    // written back differs from this one.
    bool unchanged = sep == line.size() && !line.contains('\r');
    Record& record = parsed.record;
    record = {fields[0], fields[1], fields[2], normalisedDate(fields[3], &unchanged), {}};
    if (kind == ListKind::Bans && !fields[4].isEmpty()) {
        const QDate until = parseDate(fields[4]);
        if (until.isValid()) {
            if (until <= today) {
                parsed.status = LineStatus::Expired;
                return parsed;
            }
            record.until = writtenForm(fields[4]) ? fields[4] : formatDate(until);
        }
        // An Until that is not a date keeps the ban, as a permanent one.
        unchanged = unchanged && record.until == fields[4];
    }
    parsed.status = LineStatus::Record;
    parsed.unchanged = unchanged;
    return parsed;
}

LoadResult parseRecords(const QByteArray& data, ListKind kind, const QDate& today)
{
    LoadResult result;
    result.exists = true;
    for (const QByteArrayView line : splitLines(data)) {
        ParsedLine parsed = parseLine(line, kind, today);
        addParsedLine(result, line, parsed);
    }
    return result;
}

void addParsedLine(LoadResult& result, QByteArrayView line, ParsedLine& parsed)
{
    switch (parsed.status) {
    case LineStatus::Record: result.records.append(std::move(parsed.record)); break;
    case LineStatus::Short:
        ++result.skipped;
        if (!line.isEmpty())
            result.unparsed.append(line.toByteArray());
        break;
    case LineStatus::Expired: ++result.expired; break;
    }
}

LoadResult loadRecords(const QString& path, ListKind kind, const QDate& today)
{
    QByteArray data;
    switch (readWholeFile(path, &data)) {
    case ReadStatus::Missing: return {};
    case ReadStatus::Failed: {
        LoadResult result;
        result.exists = true;
        result.readError = true;
        return result;
    }
    case ReadStatus::Ok: break;
    }
    return parseRecords(data, kind, today);
}

bool saveRecords(const QString& path, const QList<Record>& records, ListKind kind, QString* error, int lockWaitMs)
{
    FileLock lock(path);
    if (!lock.lock(lockWaitMs, error))
        return false;
    return writeFileAtomic(path, serializeRecords(records, kind), error);
}

bool appendRecords(const QString& path, const QList<Record>& records, ListKind kind, QString* error, int lockWaitMs)
{
    if (records.isEmpty() && QFileInfo(path).isFile())
        return true;
    // Read under the lock, so a monitor's merge-and-write cannot slip in
    // between this read and the replace.
    FileLock lock(path);
    if (!lock.lock(lockWaitMs, error))
        return false;
    QByteArray data;
    const ReadStatus status = readWholeFile(path, &data, error);
    if (status == ReadStatus::Failed)
        return false;
    if (!data.isEmpty() && !data.endsWith('\n'))
        data += data.endsWith('\r') ? "\n" : "\r\n";
    data += serializeRecords(records, kind);
    return writeFileAtomic(path, data, error);
}

}  // namespace skelvar::lists
