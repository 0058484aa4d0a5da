#pragma once
// The ban list that several monitors share, seen as a log of changes: each
// change adds or removes one ban and carries the id of the operation that
// made it, so an operation handed over twice is taken once. A store (bans.lst
// over the file layer, or a database) keeps that log; every monitor computes
// the same list from it with one rule, the fold below, so monitors that have
// seen the same log hold the same list.

#include "lists/listfile.h"
#include "lists/records.h"

#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace skelvar::lists {

struct BanChange {
    enum class Kind { Add, Remove };
    qint64 seq = 0;  // its place in the store's log; 0 for an operation not yet stored
    QString op;      // the operation's id, a uuid in text
    Kind kind = Kind::Add;
    Record record;
};
bool operator==(const BanChange&, const BanChange&);

// A new operation with a fresh id.
BanChange newBanOperation(BanChange::Kind kind, const Record& ban);
// An id as newBanOperation() makes them: a uuid. Another cannot be stored.
bool isOperationId(const QString& op);

// The ban as bans.lst would give it back once written and read again: fields
// without 0x02, CR and LF, Latin-1 ('?' for other characters), dates in the
// written form, an Until that is no date made permanent; also without NUL,
// which a database cannot hold. Expiry is not judged here.
Record normalizedBan(const Record& ban);

// A ban that lasts at least as long as `wanted` for the same address (the
// exact IP text), and is still running today. No end is the longest.
bool banCovers(const Record& held, const Record& wanted, const QDate& today);

// The shared list as the fold of a log in order: an Add is taken unless a
// running ban of the same address already lasts at least as long; a Remove
// takes away one record equal to its record in all five fields (none: no
// change); bans whose Until is today or earlier are dropped, by the rule of
// the file reader at start-up. Applying changes one batch after another
// gives the same list as applying them all at once.
class BanFold {
public:
    // False when nothing changed.
    bool apply(const BanChange& change, const QDate& today);
    void apply(const QList<BanChange>& changes, const QDate& today);
    // An Add of `ban` would be skipped.
    bool covers(const Record& ban, const QDate& today) const;

    // The running bans, grouped by address (the order within an address is
    // the order they came in).
    QList<Record> records(const QDate& today) const;
    // Every record held, expired ones included until the next apply() of their address.
    QList<Record> allRecords() const;
    int size() const { return m_size; }
    void clear();
    // Starts again from a list folded earlier (as allRecords() gave it).
    void assign(const QList<Record>& records);
    // Returns how many were dropped.
    int dropExpired(const QDate& today);
    // The same fold for these addresses only: what a change of them gives
    // without copying the others.
    BanFold restrictedTo(const QSet<QString>& addresses) const;

private:
    QHash<QString, QList<Record>> m_byAddress;
    int m_size = 0;
};

// The list a log of changes gives.
QList<Record> foldBanChanges(const QList<BanChange>& changes, const QDate& today);

// The difference between a list and the list it should become, as a
// RecordList merge takes it: rows of `current` to drop (ascending), and the
// records to add. Records are compared in all five fields, duplicates counted.
struct ListDifference {
    QList<int> removedRows;
    QList<Record> added;
    bool isEmpty() const { return removedRows.isEmpty() && added.isEmpty(); }
};
ListDifference listDifference(const QList<Record>& current, const QList<Record>& wanted);
// The records of `list` that `minus` does not hold, duplicates counted.
QList<Record> recordsMissingFrom(const QList<Record>& list, const QList<Record>& minus);

// Where the shared list is kept. Calls block (a network round trip for a
// database): the monitor makes them from a worker thread of its own.
class BanStore {
public:
    virtual ~BanStore() = default;

    // Makes the store usable when it is not (connects, makes what is
    // missing); true when it is. Cheap when it is open already.
    virtual bool open(QString* error = nullptr) = 0;
    // The last open() or call worked, and nothing has failed since.
    virtual bool isReachable() const = 0;
    // An id of this log: the sequence numbers of one id never change
    // meaning. A different id means another log, to be read from 0.
    virtual QString logId() const = 0;

    // The changes with a sequence number above `seq`, in order.
    virtual bool changesSince(qint64 seq, QList<BanChange>* changes, QString* error = nullptr) = 0;
    // Adds the operations to the log, in order, in one step: all or none. An
    // operation whose id the log has already is left out, so handing the
    // same batch over again changes nothing.
    virtual bool push(const QList<BanChange>& ops, QString* error = nullptr) = 0;

    // Why the store will not be used and is not worth trying again (a
    // database of a layout this program does not know); empty otherwise.
    virtual QString refusal() const { return {}; }

    // `changed` is called (on the store's thread) when another writer may
    // have added changes. False when the store cannot tell; callers then
    // only ask at their own times.
    virtual bool watchChanges(std::function<void()> changed)
    {
        Q_UNUSED(changed);
        return false;
    }
};

// The shared list as one bans.lst (for example on a folder that several
// machines mount), behind the same interface. Its log starts with the file's
// records when first opened, as Adds, and goes on with what merges of the
// file find (other writers' lines added or removed) and with the operations
// pushed. Operation ids live in memory, so a repeated push is taken once for
// as long as the store lives. A folder that is not there makes the store
// unreachable; a missing file is an empty list.
class FileBanStore : public BanStore {
public:
    explicit FileBanStore(QString path, std::function<QDate()> today = {});

    bool open(QString* error = nullptr) override;
    bool isReachable() const override { return m_reachable; }
    QString logId() const override { return m_logId; }
    bool changesSince(qint64 seq, QList<BanChange>* changes, QString* error = nullptr) override;
    bool push(const QList<BanChange>& ops, QString* error = nullptr) override;

    void setLockWaitForTests(int ms) { m_lockWaitMs = ms; }

private:
    bool folderThere(QString* error);
    bool readOthers(QString* error);
    void applyOps(const QList<BanChange>& ops, const QDate& today);
    void record(BanChange change);
    bool fail(const QString& why, QString* error);
    QDate today() const { return m_today ? m_today() : QDate::currentDate(); }

    QString m_path;
    std::function<QDate()> m_today;
    ListFile m_file;
    QString m_logId;
    bool m_opened = false;
    bool m_reachable = false;
    QList<Record> m_held;  // the file's records as last read or written
    QList<BanChange> m_log;
    QSet<QString> m_ops;
    int m_lockWaitMs = LockWaitMs;
};

}  // namespace skelvar::lists
