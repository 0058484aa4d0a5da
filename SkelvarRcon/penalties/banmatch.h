#pragma once
// Which ban records apply to which player address.
//
// A record's IP is a full dotted address or a pattern in which whole groups
// are "xxx". Matching goes group by group: a full address matches only
// itself, an "xxx" group matches any value in its place and every other
// group must be equal. An IPv6 player ("[2001:db8::1]") matches only a
// record of exactly his text. Any other text (empty, a word, "xxx" alone, a
// pattern without any number, IPv6 without its brackets) matches nobody.

#include "lists/records.h"

#include <QDate>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace skelvar::rcon {

class RecordList;

struct AddressPattern {
    quint32 value = 0;    // the groups, most significant first; xxx groups are 0
    quint8 wildMask = 0;  // bit 3 - i set: group i is "xxx"
    bool isFull() const { return wildMask == 0; }
    int wildGroups() const;
};

// A record's IP text as an address or pattern; nullopt when it matches nobody.
std::optional<AddressPattern> parseBanAddress(const QString& text);
// A player's address: four numeric groups; nullopt otherwise.
std::optional<quint32> parsePlayerAddress(const QString& text);
bool banMatches(const QString& banIp, const QString& playerIp);
// An IPv6 player as the status table prints him, "[2001:db8::1]".
bool isBracketedV6(const QString& text);

// "10.1.2.3" -> "10.1.2.xxx" and "10.1.xxx.xxx". Text with fewer groups
// than the pattern keeps (three, respectively two) is returned unchanged.
QString SubrankPattern(const QString& ip);
QString ProviderPattern(const QString& ip);

// Adds a ban unless an active ban with the same IP text already lasts at
// least as long (no end counts as the longest). Returns the new row, or -1
// when the existing ban covers it.
int addBanUnlessCovered(RecordList& bans, const lists::Record& ban, const QDate& today);

// The Bans list, indexed by address so a patrol pass needs a few hash
// look-ups per player whatever the number of bans.
class BanIndex {
public:
    void rebuild(const QList<lists::Record>& bans);
    void rebuild(const RecordList& bans);
    // The list gained `records` as the rows from `first` on (the rows that
    // were there moved down), or lost `count` rows from `first` on: the index
    // follows without reading the other records again, so a ban that another
    // monitor adds to a list of 100,000 costs a patrol pass no rebuild.
    void insertRows(int first, const QList<lists::Record>& records);
    void removeRows(int first, int count);

    // The row of the most specific active ban that matches the address: a
    // full address before patterns, fewer xxx groups first, then list order.
    // -1 when none does.
    int find(const QString& playerIp, const QDate& today) const;
    // Some active ban has exactly this IP text.
    bool hasActiveExact(const QString& ipText, const QDate& today) const;
    // IP texts of the records that match nobody: in list order after a
    // rebuild, those inserted since at the end; removed ones are kept.
    const QStringList& unusable() const { return m_unusable; }
    int size() const { return m_size; }

private:
    struct Entry {
        int row;
        QDate until;  // invalid: no end
    };
    static bool active(const Entry& e, const QDate& today) { return !e.until.isValid() || e.until > today; }
    void add(const lists::Record& r, int row);
    void sortMasks();
    // Every entry from row `from` on moves by `by` rows; with a negative
    // `by`, the entries of the rows from `from` to `from - by - 1` go.
    void shiftRows(int from, int by);
    // The first row of an active ban with exactly this IP text, or -1.
    int firstActiveExact(const QString& ipText, const QDate& today) const;

    std::array<QHash<quint32, QList<Entry>>, 16> m_byMask;
    QList<int> m_masksBySpecificity;  // non-empty masks, fewest xxx groups first
    QHash<QString, QList<Entry>> m_byText;
    QStringList m_unusable;
    int m_size = 0;
};

}  // namespace skelvar::rcon
