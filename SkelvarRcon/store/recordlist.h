#pragma once
// The table models the window shows: the three record lists, always sorted,
// and the players of the last scan.

#include "lists/records.h"

#include <QAbstractTableModel>
#include <QList>
#include <QString>

namespace skelvar::rcon {

// A list view column: header text and width in twips (1/1440 inch).
struct ListColumn {
    const char* header;
    int widthTwips;
};

// One of the Warnings, Kicks or Bans lists, always shown sorted: ascending,
// case-insensitive, stable, by the sort column (0, the address, at creation).
// A new record goes to its sorted place, after records with an equal key.
class RecordList : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit RecordList(lists::ListKind kind, QObject* parent = nullptr);

    static QList<ListColumn> columns(lists::ListKind kind);

    lists::ListKind kind() const { return m_kind; }
    int sortColumn() const { return m_sortColumn; }

    int size() const { return int(m_records.size()); }
    const lists::Record& at(int row) const { return m_records.at(row); }
    QList<lists::Record> records() const { return m_records; }

    // Returns the row the record landed on. Separators and line breaks are
    // dropped from every field so a record stays one line of the file.
    int add(lists::Record record);
    void removeAt(int row);
    // Returns the row's new position (the row moves when sorted by address).
    int setIp(int row, const QString& ip);
    void setRecords(QList<lists::Record> records);
    // Another program's changes: removes the rows (ascending) and puts the
    // records at their sorted places. A few changes keep the view's current
    // row; a larger batch resets the view instead of moving every row for each.
    void merge(const QList<int>& removedRows, QList<lists::Record> added);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // A header click: the column becomes the sort column. The order is always
    // ascending, whatever the view asks for.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

signals:
    void changed();

private:
    static QString field(const lists::Record& r, int column);
    QList<int> sortedOrder(const QList<lists::Record>& records) const;
    int firstAfter(const QString& key, int from, int to) const;
    int firstNotBefore(const QString& key, int from, int to) const;
    void mergeRowByRow(const QList<int>& removedRows, QList<lists::Record> added);
    void mergeByRebuild(const QList<int>& removedRows, QList<lists::Record> added);

    lists::ListKind m_kind;
    int m_sortColumn = 0;
    QList<lists::Record> m_records;
};

// A row of the Players view, filled by the engine from the server's status.
struct PlayerRow {
    QString no, ping, name, ip, rate, alliedSkin, axisSkin;
};

// The Players view: shown in the order the engine adds rows, never sorted.
class PlayerList : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit PlayerList(QObject* parent = nullptr);

    static QList<ListColumn> columns();

    int size() const { return int(m_rows.size()); }
    const PlayerRow& at(int row) const { return m_rows.at(row); }
    void clear();
    int add(PlayerRow row);
    void setSkins(int row, const QString& allied, const QString& axis);
    void removeAt(int row);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    static QString field(const PlayerRow& r, int column);
    QList<PlayerRow> m_rows;
};

}  // namespace skelvar::rcon
