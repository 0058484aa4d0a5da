#include "lists/banstore.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <algorithm>

namespace skelvar::lists {

bool operator==(const BanChange& a, const BanChange& b)
{
    return a.seq == b.seq && a.op == b.op && a.kind == b.kind && a.record == b.record;
}

BanChange newBanOperation(BanChange::Kind kind, const Record& ban)
{
    return {0, QUuid::createUuid().toString(QUuid::WithoutBraces), kind, normalizedBan(ban)};
}

bool isOperationId(const QString& op)
{
    return !QUuid::fromString(op).isNull();
}

Record normalizedBan(const Record& ban)
{
    QByteArray line = recordLine(ban, ListKind::Bans);
    line.replace('\0', QByteArray());
    // The earliest day there is: no Until counts as run out, so the record
    // always comes back.
    const ParsedLine parsed = parseLine(QByteArrayView(line).chopped(2), ListKind::Bans, QDate(1, 1, 1));
    if (parsed.status == LineStatus::Record)
        return parsed.record;
    // An Until of that very day: the ban is over whenever it is looked at.
    Record over = parsed.record;
    over.until = formatDate(QDate(1, 1, 1));
    return over;
}

bool banCovers(const Record& held, const Record& wanted, const QDate& today)
{
    if (held.ip != wanted.ip || !banActive(held, today))
        return false;
    const QDate until = banUntil(held);
    const QDate wantedUntil = banUntil(wanted);
    return !until.isValid() || (wantedUntil.isValid() && until >= wantedUntil);
}

bool BanFold::apply(const BanChange& change, const QDate& today)
{
    const Record& ban = change.record;
    auto it = m_byAddress.find(ban.ip);
    if (it != m_byAddress.end()) {
        const qsizetype before = it->size();
        it->removeIf([&today](const Record& r) { return !banActive(r, today); });
        m_size -= int(before - it->size());
    }
    if (change.kind == BanChange::Kind::Remove) {
        if (it == m_byAddress.end())
            return false;
        const qsizetype at = it->indexOf(ban);
        if (at >= 0) {
            it->removeAt(at);
            --m_size;
        }
        if (it->isEmpty())
            m_byAddress.erase(it);
        return at >= 0;
    }
    if (!banActive(ban, today) || covers(ban, today)) {
        if (it != m_byAddress.end() && it->isEmpty())
            m_byAddress.erase(it);
        return false;
    }
    m_byAddress[ban.ip].append(ban);
    ++m_size;
    return true;
}

void BanFold::apply(const QList<BanChange>& changes, const QDate& today)
{
    for (const BanChange& change : changes)
        apply(change, today);
}

bool BanFold::covers(const Record& ban, const QDate& today) const
{
    const auto it = m_byAddress.constFind(ban.ip);
    if (it == m_byAddress.constEnd())
        return false;
    for (const Record& held : *it) {
        if (banCovers(held, ban, today))
            return true;
    }
    return false;
}

QList<Record> BanFold::records(const QDate& today) const
{
    QList<Record> out;
    out.reserve(m_size);
    for (const QList<Record>& bans : m_byAddress) {
        for (const Record& r : bans) {
            if (banActive(r, today))
                out.append(r);
        }
    }
    return out;
}

QList<Record> BanFold::allRecords() const
{
    QList<Record> out;
    out.reserve(m_size);
    for (const QList<Record>& bans : m_byAddress)
        out.append(bans);
    return out;
}

void BanFold::clear()
{
    m_byAddress.clear();
    m_size = 0;
}

void BanFold::assign(const QList<Record>& records)
{
    clear();
    for (const Record& r : records)
        m_byAddress[r.ip].append(r);
    m_size = int(records.size());
}

int BanFold::dropExpired(const QDate& today)
{
    const int before = m_size;
    for (auto it = m_byAddress.begin(); it != m_byAddress.end();) {
        m_size -= int(it->removeIf([&today](const Record& r) { return !banActive(r, today); }));
        it = it->isEmpty() ? m_byAddress.erase(it) : std::next(it);
    }
    return before - m_size;
}

BanFold BanFold::restrictedTo(const QSet<QString>& addresses) const
{
    BanFold part;
    for (const QString& ip : addresses) {
        const auto it = m_byAddress.constFind(ip);
        if (it == m_byAddress.constEnd())
            continue;
        part.m_byAddress.insert(ip, *it);
        part.m_size += int(it->size());
    }
    return part;
}

QList<Record> foldBanChanges(const QList<BanChange>& changes, const QDate& today)
{
    BanFold fold;
    fold.apply(changes, today);
    return fold.records(today);
}

namespace {

QByteArray keyOf(const Record& r)
{
    return recordLine(r, ListKind::Bans);
}

// Records by their line, compared field by field within a line: records
// that differ only in bytes the line drops (a stray 0x02) stay apart.
class RecordBag {
public:
    explicit RecordBag(const QList<Record>& records)
    {
        m_byKey.reserve(records.size());
        for (const Record& r : records)
            m_byKey[keyOf(r)].append(r);
    }
    // Takes one record equal to r out; false when there is none.
    bool take(const Record& r)
    {
        auto it = m_byKey.find(keyOf(r));
        const qsizetype at = it == m_byKey.end() ? -1 : it->indexOf(r);
        if (at < 0)
            return false;
        it->removeAt(at);
        if (it->isEmpty())
            m_byKey.erase(it);
        return true;
    }

private:
    QHash<QByteArray, QList<Record>> m_byKey;
};

}  // namespace

QList<Record> recordsMissingFrom(const QList<Record>& list, const QList<Record>& minus)
{
    RecordBag left(minus);
    QList<Record> out;
    for (const Record& r : list) {
        if (!left.take(r))
            out.append(r);
    }
    return out;
}

ListDifference listDifference(const QList<Record>& current, const QList<Record>& wanted)
{
    // A first load: no bag of 100,000 records to compare against nothing.
    if (current.isEmpty())
        return {{}, wanted};
    RecordBag want(wanted);
    ListDifference diff;
    for (int row = 0; row < current.size(); ++row) {
        if (!want.take(current[row]))
            diff.removedRows.append(row);
    }
    diff.added = recordsMissingFrom(wanted, current);
    return diff;
}

FileBanStore::FileBanStore(QString path, std::function<QDate()> today)
    : m_path(std::move(path)), m_today(std::move(today)), m_file(m_path, ListKind::Bans),
      m_logId(QUuid::createUuid().toString(QUuid::WithoutBraces))
{
}

bool FileBanStore::fail(const QString& why, QString* error)
{
    m_reachable = false;
    if (error)
        *error = why;
    return false;
}

bool FileBanStore::folderThere(QString* error)
{
    const QFileInfo folder(QFileInfo(linkTarget(m_path)).absolutePath());
    if (!folder.isDir())
        return fail(QStringLiteral("Cannot read %1: its folder is not there").arg(m_path), error);
    return true;
}

void FileBanStore::record(BanChange change)
{
    change.seq = m_log.isEmpty() ? 1 : m_log.last().seq + 1;
    m_ops.insert(change.op);
    m_log.append(std::move(change));
}

bool FileBanStore::open(QString* error)
{
    if (!folderThere(error))
        return false;
    if (!m_opened) {
        const LoadResult loaded = m_file.load(today());
        if (loaded.readError)
            return fail(QStringLiteral("Cannot read %1").arg(m_path), error);
        m_held = loaded.records;
        for (const Record& r : std::as_const(m_held))
            record(newBanOperation(BanChange::Kind::Add, r));
        m_opened = true;
    }
    m_reachable = true;
    return true;
}

// What other writers changed in the file since this store last read or wrote it.
bool FileBanStore::readOthers(QString* error)
{
    MergeResult merged;
    QString why;
    if (!m_file.merge(m_held, today(), &merged, &why))
        return fail(why, error);
    for (auto row = merged.removed.crbegin(); row != merged.removed.crend(); ++row) {
        record(newBanOperation(BanChange::Kind::Remove, m_held.at(*row)));
        m_held.removeAt(*row);
    }
    for (const Record& r : std::as_const(merged.added)) {
        record(newBanOperation(BanChange::Kind::Add, r));
        m_held.append(r);
    }
    return true;
}

bool FileBanStore::changesSince(qint64 seq, QList<BanChange>* changes, QString* error)
{
    changes->clear();
    if (!open(error) || !readOthers(error))
        return false;
    for (const BanChange& change : std::as_const(m_log)) {
        if (change.seq > seq)
            changes->append(change);
    }
    return true;
}

void FileBanStore::applyOps(const QList<BanChange>& ops, const QDate& today)
{
    for (const BanChange& op : ops) {
        if (m_ops.contains(op.op))
            continue;
        BanChange change = op;
        change.record = normalizedBan(op.record);
        if (change.kind == BanChange::Kind::Remove) {
            m_held.removeOne(change.record);
        } else {
            const bool covered = std::any_of(m_held.cbegin(), m_held.cend(),
                                             [&](const Record& held) { return banCovers(held, change.record, today); });
            if (!covered && banActive(change.record, today))
                m_held.append(change.record);
        }
        record(std::move(change));
    }
}

bool FileBanStore::push(const QList<BanChange>& ops, QString* error)
{
    if (!open(error))
        return false;
    QString why;
    if (!m_file.lock(m_lockWaitMs, &why))
        return fail(why, error);
    // Others' lines first, so the write below keeps them.
    if (!readOthers(&why)) {
        m_file.unlock();
        return fail(why, error);
    }
    const QList<Record> heldBefore = m_held;
    const QList<BanChange> logBefore = m_log;
    const QSet<QString> opsBefore = m_ops;
    const QDate day = today();
    applyOps(ops, day);
    const bool ok = m_file.save(m_held, day, &why);
    m_file.unlock();
    if (ok)
        return true;
    // All or none: the log stays as the file still is, with what others wrote.
    m_held = heldBefore;
    m_log = logBefore;
    m_ops = opsBefore;
    return fail(why, error);
}

}  // namespace skelvar::lists
