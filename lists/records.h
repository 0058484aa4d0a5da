#pragma once
// Penalty record lists (warnings.lst, kicks.lst, bans.lst) and the two skin
// lists. One line per record, fields separated by 0x02, CR LF line ends,
// single-byte Latin-1 text.

#include "lists/fileaccess.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

namespace skelvar::lists {

enum class ListKind { Warnings, Kicks, Bans };

struct Record {
    QString ip, name, reason, date, until;  // until: bans only; empty = no end
};
bool operator==(const Record&, const Record&);
}  // namespace skelvar::lists

// Five strings: a list can move its records with memmove on an insert.
Q_DECLARE_TYPEINFO(skelvar::lists::Record, Q_RELOCATABLE_TYPE);

namespace skelvar::lists {

inline constexpr char FieldSeparator = '\x02';

int fieldCount(ListKind);    // 4, 4, 5
QString fileName(ListKind);  // "warnings.lst", "kicks.lst", "bans.lst"

// Dates are written in one locale-independent form and read leniently so
// lists written by older installs in a short local form still load.
QString formatDate(const QDate&);  // yyyy-MM-dd
// Accepts yyyy-MM-dd (also with '/' or '.'), and d/M/yyyy or M/d/yyyy (also
// with '.' or '-', two-digit years meaning 20yy). When both of the first two
// numbers could be the month, the order of the current locale's short date
// format decides. Returns an invalid QDate for anything else.
QDate parseDate(const QString&);

// A ban's Until as a date; invalid for an empty Until or one that is not a date.
QDate banUntil(const Record& ban);
// An Until that is a date on or before today ends the ban; an empty Until,
// or one that is not a date, never does.
bool banActive(const Record& ban, const QDate& today);

// The lines of data: each ends at LF, a CR before that LF is not part of it,
// and a last line needs no line end (so "" has no lines and "a\n" has one).
QList<QByteArrayView> splitLines(const QByteArray& data);

// Drops 0x02, CR and LF so a field stays one field on one line.
QString cleanField(const QString&);

// The record's line with its CR LF, each field cleaned as cleanField() does.
QByteArray recordLine(const Record&, ListKind);
void appendRecordLine(QByteArray& out, const Record&, ListKind);
QByteArray serializeRecords(const QList<Record>&, ListKind);

enum class LineStatus { Short, Record, Expired };

struct ParsedLine {
    LineStatus status = LineStatus::Short;  // Short: too few fields, or empty
    Record record;
    bool unchanged = false;  // recordLine(record) gives back this very line
};

// One line without its line end. Extra fields are ignored. Dates that parse
// are normalised to formatDate(); a ban whose Until is not a date is kept as
// a permanent ban (empty Until); one whose Until is today or earlier is Expired.
ParsedLine parseLine(QByteArrayView line, ListKind, const QDate& today);

struct LoadResult {
    QList<Record> records;
    QList<QByteArray> unparsed;  // the lines with too few fields that are not empty
    bool exists = false;         // file was there
    bool readError = false;      // file exists but could not be read
    int skipped = 0;             // lines with too few fields (not counting a final empty line)
    int expired = 0;             // bans dropped because Until is today or earlier
};

// Reads CR LF or bare LF lines, and a last line without a line end, each as
// parseLine() does.
LoadResult parseRecords(const QByteArray& data, ListKind, const QDate& today);
// Counts one parsed line into a load's result (its record taken from parsed).
void addParsedLine(LoadResult& result, QByteArrayView line, ParsedLine& parsed);
LoadResult loadRecords(const QString& path, ListKind, const QDate& today);

// Replaces the file atomically under its lock (see fileaccess.h); on failure
// the previous file stays whole.
bool saveRecords(const QString& path, const QList<Record>&, ListKind, QString* error = nullptr,
                 int lockWaitMs = LockWaitMs);
// Appends records after the existing content of path (created if missing):
// reads and replaces it under its lock, so no other writer's lines are lost;
// starts on a new line when the existing content does not end with a line
// end. An empty list leaves an existing file untouched.
bool appendRecords(const QString& path, const QList<Record>&, ListKind, QString* error = nullptr,
                   int lockWaitMs = LockWaitMs);

struct SkinList {
    QStringList entries;  // one entry per line, plus one empty last entry
    int count = 0;        // lines read
};
// Missing or unreadable file: leaves `list` untouched and returns false
// (error says why for a file that is there but cannot be read).
bool loadSkinList(const QString& path, SkinList& list, QString* error = nullptr);

}  // namespace skelvar::lists
