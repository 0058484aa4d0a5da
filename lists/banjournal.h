#pragma once
// The two files beside bans.lst that let a monitor share its ban list
// through a store it cannot always reach, across restarts:
// - bans.journal: the monitor's own operations (bans added, bans removed)
//   that the store does not have yet, in the order they were made;
// - bans.shared: what the monitor last read from the store: the log's id,
//   the last sequence number seen, the fold of the log up to it, and the
//   operations the store had then (still to leave the journal).
// Both are written by an atomic replace (fileaccess.h), one line per entry,
// each line checked on reading so a damaged line is skipped, not misread.

#include "lists/banstore.h"
#include "lists/records.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace skelvar::lists {

inline constexpr char JournalFileName[] = "bans.journal";
inline constexpr char SharedStateFileName[] = "bans.shared";

// One operation as a journal line: id, "add" or "remove", the ban's five
// fields and a checksum of what precedes it, separated by 0x02, with CR LF.
QByteArray journalLine(const BanChange& op);
// A line without its line end; nullopt when it is cut short or damaged.
std::optional<BanChange> parseJournalLine(QByteArrayView line);

struct JournalLoad {
    QList<BanChange> ops;
    int damaged = 0;  // lines skipped (not counting a last empty one)
    ReadStatus status = ReadStatus::Missing;
    QString error;  // when status is Failed
};
JournalLoad loadBanJournal(const QString& path);
// An empty journal is written as an empty file.
bool saveBanJournal(const QString& path, const QList<BanChange>& ops, QString* error = nullptr);

struct SharedBansState {
    QString logId;  // empty: no store read yet
    qint64 seq = 0;
    QList<Record> bans;     // the fold of the log up to seq, expired bans included
    QStringList confirmed;  // operations that were in the log at seq
};

enum class StateStatus { Missing, Damaged, Ok };
// Damaged (with error saying why) for a file that cannot be read or whose
// content does not check; the state is then left empty.
StateStatus loadSharedBansState(const QString& path, SharedBansState* state, QString* error = nullptr);
bool saveSharedBansState(const QString& path, const SharedBansState& state, QString* error = nullptr);

}  // namespace skelvar::lists
