#include "lists/listfile.h"

#include <QFileInfo>
#include <QSet>

namespace skelvar::lists {

namespace {

QByteArray keyOf(const Record& record, ListKind kind)
{
    return recordLine(record, kind).chopped(2);
}

// The address as the list holds it: a line read from the file may still
// carry a stray CR that the list drops.
QString addressOf(const Record& ban)
{
    return cleanField(ban.ip);
}

// The longest running ban of each address, to tell whether a ban another
// program added is already covered. An invalid date stands for no end.
class BanCover {
public:
    void note(const Record& ban, const QDate& today)
    {
        if (!banActive(ban, today))
            return;
        const QDate until = banUntil(ban);
        const QString address = addressOf(ban);
        auto it = m_longest.find(address);
        if (it == m_longest.end())
            m_longest.insert(address, until);
        else if (it->isValid() && (!until.isValid() || until > *it))
            *it = until;
    }
    bool covers(const Record& ban) const
    {
        const auto it = m_longest.constFind(addressOf(ban));
        if (it == m_longest.constEnd())
            return false;
        const QDate until = banUntil(ban);
        return !it->isValid() || (until.isValid() && *it >= until);
    }

private:
    QHash<QString, QDate> m_longest;
};

// Drops the bans of `added` whose address the held records (less the rows
// gone) or an earlier one of `added` already ban at least as long.
void dropCovered(QList<Record>& added, const QList<Record>& held, const QList<bool>& gone, const QDate& today)
{
    if (added.isEmpty())
        return;
    // The cover of the addresses concerned only: the list can be long. Its
    // records are clean already.
    QSet<QString> addresses;
    for (const Record& record : std::as_const(added))
        addresses.insert(addressOf(record));
    BanCover cover;
    for (int row = 0; row < held.size(); ++row) {
        if ((gone.isEmpty() || !gone[row]) && addresses.contains(held[row].ip))
            cover.note(held[row], today);
    }
    QList<Record> kept;
    for (Record& record : added) {
        if (cover.covers(record))
            continue;
        cover.note(record, today);
        kept.append(std::move(record));
    }
    added = std::move(kept);
}

}  // namespace

ListFile::ListFile(QString path, ListKind kind) : m_path(std::move(path)), m_kind(kind), m_lock(m_path)
{
}

ListFile::Stamp ListFile::stampNow() const
{
    const QFileInfo info(m_path);
    if (!info.exists())
        return {};
    return {true, info.size(), info.lastModified()};
}

bool ListFile::changedOnDisk() const
{
    return stampNow() != m_stamp;
}

ListFile::BaseLine ListFile::describe(QByteArrayView line, const QDate& today, Record* record) const
{
    ParsedLine parsed = parseLine(line, m_kind, today);
    return describe(line, parsed, record);
}

ListFile::BaseLine ListFile::describe(QByteArrayView line, ParsedLine& parsed, Record* record) const
{
    BaseLine d;
    switch (parsed.status) {
    case LineStatus::Short: d.kind = line.isEmpty() ? LineKind::Ignored : LineKind::Unparsed; break;
    case LineStatus::Expired: break;
    case LineStatus::Record:
        d.kind = LineKind::Record;
        if (!parsed.unchanged)
            d.key = keyOf(parsed.record, m_kind);
        if (record)
            *record = std::move(parsed.record);
        break;
    }
    return d;
}

void ListFile::remember(const QByteArray& data, Base base)
{
    m_baseStale = false;
    // The views in base point into data's buffer, which m_bytes now shares.
    m_buffers = {data};
    m_bytes = data;
    m_base = std::move(base);
    m_stamp = stampNow();
}

LoadResult ListFile::load(const QDate& today)
{
    LoadResult result;
    m_unparsed.clear();
    QByteArray data;
    switch (readWholeFile(m_path, &data)) {
    case ReadStatus::Missing: remember({}, {}); return result;
    case ReadStatus::Failed:
        result.exists = true;
        result.readError = true;
        return result;
    case ReadStatus::Ok: break;
    }
    // One parse of each line serves both the result and the base of later merges.
    result.exists = true;
    Base base;
    for (const QByteArrayView line : splitLines(data)) {
        ParsedLine parsed = parseLine(line, m_kind, today);
        BaseLine& entry = base[{line}];
        if (entry.count == 0)
            entry = describe(line, parsed, nullptr);
        ++entry.count;
        addParsedLine(result, line, parsed);
    }
    m_unparsed = result.unparsed;
    remember(data, std::move(base));
    return result;
}

bool ListFile::merge(const QList<Record>& held, const QDate& today, MergeResult* result, QString* error)
{
    *result = {};
    QByteArray data;
    switch (readWholeFile(m_path, &data, error)) {
    case ReadStatus::Failed: return false;
    case ReadStatus::Missing:
        // Not taken for the removal of every record: the next write makes it again.
        m_stamp = stampNow();
        return true;
    case ReadStatus::Ok: break;
    }
    if (data == m_bytes) {
        m_stamp = stampNow();
        return true;
    }
    indexWrittenLines();
    // What Ostrel does: lines added after the ones already known.
    if (data.size() > m_bytes.size() && data.startsWith(m_bytes) && (m_bytes.isEmpty() || m_bytes.endsWith('\n'))) {
        mergeAppended(data, held, today, result);
        return true;
    }

    mergeRewritten(data, held, today, result);
    return true;
}

// Another program rewrote the file: what it changed is the difference of the
// lines now and the lines before.
void ListFile::mergeRewritten(const QByteArray& data, const QList<Record>& held, const QDate& today,
                              MergeResult* result)
{
    const QList<QByteArrayView> lines = splitLines(data);
    ParsedLines parsedNew;
    qsizetype known = 0;
    Base now = indexLines(lines, today, &parsedNew, &known);
    LineDeltas deltas = lineDeltas(now, known);
    applyUnparsedDeltas(deltas.unparsed);
    const QList<bool> gone = takeRemoved(held, deltas.records, result);
    QList<Record> added = takeAdded(lines, now, parsedNew, deltas.records, today);
    if (m_kind == ListKind::Bans)
        dropCovered(added, held, gone, today);
    result->added = std::move(added);
    remember(data, std::move(now));
}

// The lines as they are now; only lines not seen before are parsed (into
// parsedNew). known counts the distinct lines of before that are still there.
ListFile::Base ListFile::indexLines(const QList<QByteArrayView>& lines, const QDate& today, ParsedLines* parsedNew,
                                    qsizetype* known) const
{
    Base now;
    now.reserve(m_base.size() + 16);
    for (const QByteArrayView line : lines) {
        BaseLine& entry = now[{line}];
        if (entry.count == 0) {
            const auto old = m_base.constFind({line});
            if (old != m_base.constEnd()) {
                entry = *old;
                entry.before = old->count;
                entry.count = 0;
                ++*known;
            } else {
                Record record;
                entry = describe(line, today, &record);
                if (entry.kind == LineKind::Record)
                    parsedNew->insert({line}, std::move(record));
            }
        }
        ++entry.count;
    }
    return now;
}

// Their changes, per record line and per kept line: now minus before.
ListFile::LineDeltas ListFile::lineDeltas(const Base& now, qsizetype known) const
{
    LineDeltas deltas;
    auto note = [&](LineView view, const BaseLine& entry, int delta) {
        const QByteArrayView line = view.bytes;
        if (delta == 0 || entry.kind == LineKind::Ignored)
            return;
        if (entry.kind == LineKind::Unparsed)
            deltas.unparsed[line.toByteArray()] += delta;
        else
            deltas.records[entry.key.isEmpty() ? line.toByteArray() : entry.key] += delta;
    };
    for (auto it = now.constBegin(); it != now.constEnd(); ++it)
        note(it.key(), *it, it->count - it->before);
    if (known < m_base.size()) {
        for (auto it = m_base.constBegin(); it != m_base.constEnd(); ++it) {
            if (!now.contains(it.key()))
                note(it.key(), *it, -it->count);
        }
    }
    return deltas;
}

void ListFile::applyUnparsedDeltas(const Deltas& unparsed)
{
    for (auto it = unparsed.constBegin(); it != unparsed.constEnd(); ++it) {
        int n = it.value();
        for (; n > 0; --n)
            m_unparsed.append(it.key());
        while (n < 0 && m_unparsed.removeOne(it.key()))
            ++n;
    }
}

// Removed by them: as many held records with that line, from the end. The
// rows go into result; the flags say which rows are gone (empty for none).
QList<bool> ListFile::takeRemoved(const QList<Record>& held, Deltas& recordDeltas, MergeResult* result) const
{
    bool anyRemoved = false;
    for (int delta : std::as_const(recordDeltas))
        anyRemoved = anyRemoved || delta < 0;
    if (!anyRemoved)
        return {};
    QList<bool> gone(held.size(), false);
    for (int row = held.size() - 1; row >= 0; --row) {
        auto it = recordDeltas.find(keyOf(held[row], m_kind));
        if (it != recordDeltas.end() && *it < 0) {
            ++*it;
            gone[row] = true;
            result->removed.prepend(row);
        }
    }
    return gone;
}

// Added by them, in the file's order. Only lines that occur more often than
// before can bring a record in.
QList<Record> ListFile::takeAdded(const QList<QByteArrayView>& lines, const Base& now, const ParsedLines& parsedNew,
                                  Deltas& recordDeltas, const QDate& today) const
{
    QList<std::pair<QByteArrayView, QByteArray>> candidates;
    for (const QByteArrayView line : lines) {
        const BaseLine& entry = *now.constFind({line});
        if (entry.kind == LineKind::Record && entry.count > entry.before)
            candidates.append({line, entry.key.isEmpty() ? line.toByteArray() : entry.key});
    }
    QList<Record> added;
    for (const auto& [line, key] : std::as_const(candidates)) {
        auto it = recordDeltas.find(key);
        if (it == recordDeltas.end() || *it <= 0)
            continue;
        --*it;
        const auto known = parsedNew.constFind({line});
        added.append(known != parsedNew.constEnd() ? *known : parseLine(line, m_kind, today).record);
    }
    return added;
}

void ListFile::mergeAppended(const QByteArray& data, const QList<Record>& held, const QDate& today, MergeResult* result)
{
    // The known lines keep pointing into the buffer they were read from.
    m_buffers.append(data);
    const char* tail = data.constData() + m_bytes.size();
    for (const QByteArrayView line : splitLines(data)) {
        if (line.data() < tail)
            continue;
        Record record;
        BaseLine& entry = m_base[{line}];
        if (entry.count == 0)
            entry = describe(line, today, &record);
        else if (entry.kind == LineKind::Record)
            record = parseLine(line, m_kind, today).record;
        ++entry.count;
        if (entry.kind == LineKind::Record)
            result->added.append(std::move(record));
        else if (entry.kind == LineKind::Unparsed)
            m_unparsed.append(line.toByteArray());
    }
    if (m_kind == ListKind::Bans)
        dropCovered(result->added, held, {}, today);
    m_bytes = data;
    m_stamp = stampNow();
    constexpr qsizetype keptBuffers = 4;
    if (m_buffers.size() > keptBuffers)
        pointIntoNewestBuffer();
}

// Each buffer starts with the bytes of the one before it, so a line has the
// same offset in the newest one.
void ListFile::pointIntoNewestBuffer()
{
    const QByteArray& newest = m_buffers.last();
    Base base;
    base.reserve(m_base.size());
    for (auto it = m_base.cbegin(); it != m_base.cend(); ++it) {
        const char* at = it.key().bytes.data();
        for (const QByteArray& buffer : std::as_const(m_buffers)) {
            if (at >= buffer.constData() && at <= buffer.constData() + buffer.size()) {
                const qsizetype offset = at - buffer.constData();
                base.insert({QByteArrayView(newest.constData() + offset, it.key().bytes.size())}, *it);
                break;
            }
        }
    }
    m_base = std::move(base);
    m_buffers = {newest};
}

bool ListFile::save(const QList<Record>& held, const QDate& today, QString* error)
{
    QByteArray data;
    data.reserve(held.size() * 72 + m_unparsed.size() * 32);
    int records = 0;
    for (const Record& record : held) {
        if (m_kind == ListKind::Bans && !banActive(record, today))
            continue;
        appendRecordLine(data, record, m_kind);
        ++records;
    }
    for (const QByteArray& line : std::as_const(m_unparsed))
        data += line + "\r\n";
    if (!writeFileAtomic(m_path, data, error))
        return false;

    // Most writes are followed by another write, not by another program's
    // change: the lines are indexed only when a merge needs them.
    remember(data, {});
    m_writtenRecords = records;
    m_baseStale = true;
    return true;
}

void ListFile::indexWrittenLines()
{
    if (!m_baseStale)
        return;
    m_baseStale = false;
    m_base.reserve(m_writtenRecords + m_unparsed.size());
    int index = 0;
    for (const QByteArrayView line : splitLines(m_bytes)) {
        BaseLine& entry = m_base[{line}];
        entry.kind = index++ < m_writtenRecords ? LineKind::Record : LineKind::Unparsed;
        ++entry.count;
    }
}

}  // namespace skelvar::lists
