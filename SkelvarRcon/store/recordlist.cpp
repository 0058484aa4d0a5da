#include "SkelvarRcon/store/recordlist.h"

#include <algorithm>
#include <numeric>

namespace skelvar::rcon {

using lists::ListKind;
using lists::Record;

namespace {

Record cleaned(Record r)
{
    r.ip = lists::cleanField(r.ip);
    r.name = lists::cleanField(r.name);
    r.reason = lists::cleanField(r.reason);
    r.date = lists::cleanField(r.date);
    r.until = lists::cleanField(r.until);
    return r;
}

// The same order as the sort's case-folded keys.
int compareKeys(const QString& a, const QString& b)
{
    return a.toCaseFolded().compare(b.toCaseFolded());
}

}  // namespace

RecordList::RecordList(ListKind kind, QObject* parent) : QAbstractTableModel(parent), m_kind(kind)
{
}

QList<ListColumn> RecordList::columns(ListKind kind)
{
    if (kind == ListKind::Bans)
        return {{"IP", 1400}, {"Name", 2600}, {"Reason", 1300}, {"Date", 1200}, {"Until", 1200}};
    return {{"IP", 1400}, {"Name", 3000}, {"Reason", 2100}, {"Date", 1200}};
}

QString RecordList::field(const Record& r, int column)
{
    switch (column) {
    case 0: return r.ip;
    case 1: return r.name;
    case 2: return r.reason;
    case 3: return r.date;
    case 4: return r.until;
    }
    return {};
}

// Positions of `records` in sorted order. Each key is case-folded once, so
// the sort itself compares plain text (a header click on a long list).
QList<int> RecordList::sortedOrder(const QList<Record>& records) const
{
    QList<QString> keys;
    keys.reserve(records.size());
    for (const Record& r : records)
        keys.append(field(r, m_sortColumn).toCaseFolded());
    QList<int> order(records.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&keys](int a, int b) { return keys[a] < keys[b]; });
    return order;
}

// First row in [from, to) whose key sorts after `key`.
int RecordList::firstAfter(const QString& key, int from, int to) const
{
    while (from < to) {
        const int mid = from + (to - from) / 2;
        if (compareKeys(key, field(m_records[mid], m_sortColumn)) < 0)
            to = mid;
        else
            from = mid + 1;
    }
    return from;
}

// First row in [from, to) whose key does not sort before `key`.
int RecordList::firstNotBefore(const QString& key, int from, int to) const
{
    while (from < to) {
        const int mid = from + (to - from) / 2;
        if (compareKeys(field(m_records[mid], m_sortColumn), key) < 0)
            from = mid + 1;
        else
            to = mid;
    }
    return from;
}

int RecordList::add(Record record)
{
    record = cleaned(std::move(record));
    const int row = firstAfter(field(record, m_sortColumn), 0, size());
    beginInsertRows({}, row, row);
    m_records.insert(row, std::move(record));
    endInsertRows();
    emit changed();
    return row;
}

void RecordList::removeAt(int row)
{
    if (row < 0 || row >= size())
        return;
    beginRemoveRows({}, row, row);
    m_records.removeAt(row);
    endRemoveRows();
    emit changed();
}

int RecordList::setIp(int row, const QString& ip)
{
    if (row < 0 || row >= size())
        return row;
    const QString value = lists::cleanField(ip);
    if (m_records[row].ip == value)
        return row;

    int target = row;
    if (m_sortColumn == 0) {
        // Where a stable re-sort would put it: rows with an equal key that
        // were above it stay above, those below stay below. The rows before
        // it are sorted and so are the rows after it.
        const int lo = firstAfter(value, 0, row);
        const int hi = firstNotBefore(value, row + 1, size());
        if (lo < row)
            target = lo;
        else if (hi > row + 1)
            target = hi - 1;
    }
    if (target != row) {
        beginMoveRows({}, row, row, {}, target > row ? target + 1 : target);
        m_records.move(row, target);
        m_records[target].ip = value;
        endMoveRows();
    } else {
        m_records[row].ip = value;
    }
    emit dataChanged(index(target, 0), index(target, 0));
    emit changed();
    return target;
}

void RecordList::setRecords(QList<Record> records)
{
    for (Record& r : records)
        r = cleaned(std::move(r));
    const QList<int> order = sortedOrder(records);
    QList<Record> sorted;
    sorted.reserve(records.size());
    for (int i : order)
        sorted.append(std::move(records[i]));
    beginResetModel();
    m_records = std::move(sorted);
    endResetModel();
    emit changed();
}

void RecordList::merge(const QList<int>& removedRows, QList<Record> added)
{
    if (removedRows.isEmpty() && added.isEmpty())
        return;
    for (Record& r : added)
        r = cleaned(std::move(r));
    // Row by row each change moves the rows below it; past this many, one
    // rebuild costs less.
    constexpr qsizetype rowByRowLimit = 16;
    if (removedRows.size() + added.size() <= rowByRowLimit)
        mergeRowByRow(removedRows, std::move(added));
    else
        mergeByRebuild(removedRows, std::move(added));
    emit changed();
}

void RecordList::mergeRowByRow(const QList<int>& removedRows, QList<Record> added)
{
    for (auto row = removedRows.crbegin(); row != removedRows.crend(); ++row) {
        beginRemoveRows({}, *row, *row);
        m_records.removeAt(*row);
        endRemoveRows();
    }
    for (Record& r : added) {
        const int row = firstAfter(field(r, m_sortColumn), 0, size());
        beginInsertRows({}, row, row);
        m_records.insert(row, std::move(r));
        endInsertRows();
    }
}

void RecordList::mergeByRebuild(const QList<int>& removedRows, QList<Record> added)
{
    QList<Record> kept;
    kept.reserve(m_records.size() - removedRows.size() + added.size());
    for (int row = 0, next = 0; row < size(); ++row) {
        if (next < removedRows.size() && removedRows[next] == row)
            ++next;
        else
            kept.append(std::move(m_records[row]));
    }
    // The new records in sorted order, each after the kept rows of an equal key.
    const QList<int> order = sortedOrder(added);
    QList<Record> merged;
    merged.reserve(kept.size() + added.size());
    qsizetype from = 0;
    for (int i : order) {
        const QString key = field(added[i], m_sortColumn);
        const auto end =
            std::upper_bound(kept.cbegin() + from, kept.cend(), key, [this](const QString& k, const Record& r) {
                return compareKeys(k, field(r, m_sortColumn)) < 0;
            });
        for (const qsizetype to = end - kept.cbegin(); from < to; ++from)
            merged.append(std::move(kept[from]));
        merged.append(std::move(added[i]));
    }
    for (; from < kept.size(); ++from)
        merged.append(std::move(kept[from]));
    beginResetModel();
    m_records = std::move(merged);
    endResetModel();
}

int RecordList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : size();
}

int RecordList::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : lists::fieldCount(m_kind);
}

QVariant RecordList::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= size() || role != Qt::DisplayRole)
        return {};
    return field(m_records[index.row()], index.column());
}

QVariant RecordList::headerData(int section, Qt::Orientation orientation, int role) const
{
    const QList<ListColumn> cols = columns(m_kind);
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= cols.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromLatin1(cols[section].header);
}

void RecordList::sort(int column, Qt::SortOrder)
{
    if (column < 0 || column >= lists::fieldCount(m_kind))
        return;
    m_sortColumn = column;

    const QList<int> order = sortedOrder(m_records);
    if (std::is_sorted(order.begin(), order.end()))
        return;

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    QList<int> newRow(size());
    QList<Record> sorted;
    sorted.reserve(size());
    for (int i = 0; i < order.size(); ++i) {
        newRow[order[i]] = i;
        sorted.append(std::move(m_records[order[i]]));
    }
    m_records = std::move(sorted);
    const QModelIndexList old = persistentIndexList();
    QModelIndexList moved;
    moved.reserve(old.size());
    for (const QModelIndex& i : old)
        moved.append(index(newRow[i.row()], i.column()));
    changePersistentIndexList(old, moved);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    // The file keeps the shown order.
    emit changed();
}

PlayerList::PlayerList(QObject* parent) : QAbstractTableModel(parent)
{
}

QList<ListColumn> PlayerList::columns()
{
    return {{"No", 350},   {"Ping", 500},         {"Name", 2000},     {"IP", 1400},
            {"Rate", 700}, {"Allied skin", 2250}, {"Axis Skin", 2250}};
}

QString PlayerList::field(const PlayerRow& r, int column)
{
    switch (column) {
    case 0: return r.no;
    case 1: return r.ping;
    case 2: return r.name;
    case 3: return r.ip;
    case 4: return r.rate;
    case 5: return r.alliedSkin;
    case 6: return r.axisSkin;
    }
    return {};
}

void PlayerList::clear()
{
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

int PlayerList::add(PlayerRow row)
{
    const int at = size();
    beginInsertRows({}, at, at);
    m_rows.append(std::move(row));
    endInsertRows();
    return at;
}

void PlayerList::setSkins(int row, const QString& allied, const QString& axis)
{
    if (row < 0 || row >= size())
        return;
    m_rows[row].alliedSkin = allied;
    m_rows[row].axisSkin = axis;
    emit dataChanged(index(row, 5), index(row, 6));
}

void PlayerList::removeAt(int row)
{
    if (row < 0 || row >= size())
        return;
    beginRemoveRows({}, row, row);
    m_rows.removeAt(row);
    endRemoveRows();
}

int PlayerList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : size();
}

int PlayerList::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 7;
}

QVariant PlayerList::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= size() || role != Qt::DisplayRole)
        return {};
    return field(m_rows[index.row()], index.column());
}

QVariant PlayerList::headerData(int section, Qt::Orientation orientation, int role) const
{
    const QList<ListColumn> cols = columns();
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= cols.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromLatin1(cols[section].header);
}

}  // namespace skelvar::rcon
