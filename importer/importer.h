#pragma once
// Ostrel's work: carries the banned addresses of bannedip.txt over into
// bans.lst as permanent bans, through the shared file layer, or into the
// shared ban list of a database (banstore.h), and tells the operator through
// a Prompter that prints its lines.

#include "lists/banstore.h"
#include "lists/prompter.h"
#include "lists/records.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

class QTextStream;

namespace skelvar::importer {

inline constexpr auto InputFileName = "bannedip.txt";
inline constexpr auto MarkerName = "Ostrel-feed";
inline constexpr auto BanReason = "Autokick";

// A dotted IPv4 address (four groups 0-255), or a pattern in which one or
// more trailing groups are "xxx" after at least one number group.
bool isAddressOrPattern(const QString& text);

// A rejected line is shown with at most this many characters.
inline constexpr qsizetype ShownLineLength = 80;

struct LineComplaint {
    int line = 0;      // 1-based line number in bannedip.txt
    QString text;      // the trimmed line, at most ShownLineLength characters
    bool cut = false;  // the line went on after text
};

struct ParsedInput {
    QList<lists::Record> records;
    QList<LineComplaint> complaints;  // lines that are not an address or pattern
    int blank = 0;                    // blank lines, skipped silently
    int lines = 0;                    // all lines, blank ones included
};

// One permanent ban per address line. Blank lines are skipped: an empty IP
// would match every player. A UTF-8 byte-order mark at the start is skipped.
ParsedInput parseBannedIp(const QByteArray& data, const QDate& today);

// The program's exit statuses.
inline constexpr int ExitDone = 0;
inline constexpr int ExitInputUnreadable = 1;  // bannedip.txt missing or unreadable
inline constexpr int ExitBansUnwritable = 2;   // bans.lst not writable or locked
inline constexpr int ExitNoAddress = 3;        // lines of text but no address among them; nothing appended
inline constexpr int ExitStoreUnusable = 4;    // the database could not be reached or refused the import

struct ImportResult {
    bool ok = false;
    int exitCode = ExitDone;
    int appended = 0;
    int alreadyBanned = 0;  // into a store: addresses it bans at least as long already
    QList<LineComplaint> complaints;
    QString error;
};

// Reads <folder>/bannedip.txt and appends to <folder>/bans.lst in one atomic
// replace under bans.lst's lock, waiting for it at most lockWaitMs; on any
// failure (the lock included) bans.lst is left exactly as it was.
ImportResult importBans(const QString& folder, const QDate& today, int lockWaitMs = lists::LockWaitMs);

// Reads <folder>/bannedip.txt and hands its bans to the store as Add
// operations, each with an id of its own, in one push (all or none). An
// address the store's list already bans at least as long (the fold of its
// log), or that comes again in the file, is left out. bans.lst is not
// touched: the monitors take the bans from the store.
ImportResult importBansToStore(const QString& folder, const QDate& today, lists::BanStore& store);

// How Ostrel tells the operator: one line per message, "title: text" (the
// text alone for an empty title); information on out, warnings and errors on
// err. It asks nothing, so a question gets the safe answer, No.
class StreamPrompter : public Prompter {
public:
    StreamPrompter(QTextStream& out, QTextStream& err) : m_out(out), m_err(err) {}
    bool askYesNo(const QString& title, const QString& text, Icon icon, bool defaultNo) override;
    void message(const QString& title, const QString& text, Icon icon) override;

private:
    QTextStream& m_out;
    QTextStream& m_err;
};

// importBans plus the program's messages, told through prompter: each
// rejected line and a failure as warnings, the success line as information.
// Returns the exit status. With a store, the bans go there instead of bans.lst.
int runImport(const QString& folder, const QDate& today, Prompter& prompter, lists::BanStore* store = nullptr);
// runImport told through a StreamPrompter on out and err.
int runImport(const QString& folder, const QDate& today, QTextStream& out, QTextStream& err,
              lists::BanStore* store = nullptr);

}  // namespace skelvar::importer
