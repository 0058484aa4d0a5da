#pragma once
// A record list file that other programs write too: Ostrel appends to
// bans.lst, and monitors can share one bans.lst through links. Each program
// remembers the file as it last read or wrote it, so it can tell what the
// others changed since and merge that in instead of writing over it.

#include "lists/fileaccess.h"
#include "lists/records.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

namespace skelvar::lists {

// A line of a file held in memory, as a hash key. Qt's seeded hash of a view
// is several times slower on a long list than its unseeded one.
struct LineView {
    QByteArrayView bytes;
    bool operator==(const LineView& other) const { return bytes == other.bytes; }
};
inline size_t qHash(const LineView& line, size_t seed)
{
    return qHashBits(line.bytes.data(), size_t(line.bytes.size()), 0) ^ seed;
}

// What other programs changed in the file, as changes to the held records.
struct MergeResult {
    QList<int> removed;   // rows of the held records that another program removed, ascending
    QList<Record> added;  // records another program added, in the file's order
    bool isEmpty() const { return removed.isEmpty() && added.isEmpty(); }
};

class ListFile {
public:
    ListFile(QString path, ListKind kind);
    ListFile(const ListFile&) = delete;
    ListFile& operator=(const ListFile&) = delete;

    const QString& path() const { return m_path; }

    // The start-up read. What it read is what later merges compare with.
    LoadResult load(const QDate& today);

    // A cheap look (size and time) for a change since the last read or write.
    bool changedOnDisk() const;

    // Reads the file and works out what others changed since the last read
    // or write, as a three-way merge of lines: a line they added is added
    // unless the held records already ban its address at least as long (the
    // address as the list holds it, without stray bytes); a line they
    // removed is removed; a record this program removed itself is not
    // brought back. Lines that do not parse are kept for the next write. A
    // missing file changes nothing (the next write makes it again). False,
    // with error set, when the file cannot be read; nothing changes then.
    bool merge(const QList<Record>& held, const QDate& today, MergeResult* result, QString* error = nullptr);

    // Writes the held records (without bans that have run out) and the lines
    // kept because they do not parse, atomically. Take the lock first and
    // merge under it, so no other writer slips in between.
    bool save(const QList<Record>& held, const QDate& today, QString* error = nullptr);

    bool lock(int waitMs, QString* error = nullptr) { return m_lock.lock(waitMs, error); }
    void unlock() { m_lock.unlock(); }

    // The lines kept as they are because they do not parse.
    const QList<QByteArray>& unparsedLines() const { return m_unparsed; }

private:
    enum class LineKind : quint8 { Record, Unparsed, Ignored };
    // One distinct line of the file as last read or written.
    struct BaseLine {
        int count = 0;
        int before = 0;  // during a merge: its count in the lines known before
        LineKind kind = LineKind::Ignored;
        QByteArray key;  // the record's line as this program writes it; empty when the same
    };
    using Base = QHash<LineView, BaseLine>;
    struct Stamp {
        bool exists = false;
        qint64 size = -1;
        QDateTime modified;
        bool operator==(const Stamp&) const = default;
    };

    Stamp stampNow() const;
    BaseLine describe(QByteArrayView line, const QDate& today, Record* record) const;
    // The same for a line already parsed; its record is moved to record when asked.
    BaseLine describe(QByteArrayView line, ParsedLine& parsed, Record* record) const;
    void remember(const QByteArray& data, Base base);
    void indexWrittenLines();
    void pointIntoNewestBuffer();
    using ParsedLines = QHash<LineView, Record>;
    using Deltas = QHash<QByteArray, int>;  // a line, or a record's key, and how many more times it occurs
    struct LineDeltas {
        Deltas records;
        Deltas unparsed;
    };

    void mergeAppended(const QByteArray& data, const QList<Record>& held, const QDate& today, MergeResult* result);
    void mergeRewritten(const QByteArray& data, const QList<Record>& held, const QDate& today, MergeResult* result);
    Base indexLines(const QList<QByteArrayView>& lines, const QDate& today, ParsedLines* parsedNew,
                    qsizetype* known) const;
    LineDeltas lineDeltas(const Base& now, qsizetype known) const;
    void applyUnparsedDeltas(const Deltas& unparsed);
    QList<bool> takeRemoved(const QList<Record>& held, Deltas& recordDeltas, MergeResult* result) const;
    QList<Record> takeAdded(const QList<QByteArrayView>& lines, const Base& now, const ParsedLines& parsedNew,
                            Deltas& recordDeltas, const QDate& today) const;

    QString m_path;
    ListKind m_kind;
    FileLock m_lock;
    Stamp m_stamp;
    QByteArray m_bytes;           // the file as last read or written
    QList<QByteArray> m_buffers;  // the bytes m_base points into
    Base m_base;
    bool m_baseStale = false;  // m_base is still to be made from the lines last written
    int m_writtenRecords = 0;  // the record lines at the start of what was last written
    QList<QByteArray> m_unparsed;
};

}  // namespace skelvar::lists
