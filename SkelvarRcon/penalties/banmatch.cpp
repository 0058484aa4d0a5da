#include "SkelvarRcon/penalties/banmatch.h"

#include "SkelvarRcon/store/recordlist.h"
#include "lists/banstore.h"

#include <QHostAddress>
#include <QStringView>

#include <algorithm>
#include <bit>

namespace skelvar::rcon {

namespace {

const QString kWild = QStringLiteral("xxx");

// One group of a dotted address: 1 to 3 digits, at most 255.
std::optional<quint32> groupValue(QStringView g)
{
    if (g.isEmpty() || g.size() > 3)
        return std::nullopt;
    quint32 v = 0;
    for (const QChar c : g) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        v = v * 10 + quint32(c.unicode() - '0');
    }
    if (v > 255)
        return std::nullopt;
    return v;
}

std::optional<AddressPattern> parseGroups(const QString& text, bool allowWild)
{
    const QList<QStringView> groups = QStringView(text).split(QLatin1Char('.'));
    if (groups.size() != 4)
        return std::nullopt;
    AddressPattern p;
    for (int i = 0; i < 4; ++i) {
        p.value <<= 8;
        if (allowWild && groups[i] == kWild) {
            p.wildMask |= quint8(1u << (3 - i));
            continue;
        }
        const auto v = groupValue(groups[i]);
        if (!v)
            return std::nullopt;
        p.value |= *v;
    }
    // A pattern without any number would ban every address.
    if (p.wildMask == 0xF)
        return std::nullopt;
    return p;
}

quint32 keepMask(quint8 wildMask)
{
    quint32 keep = 0;
    for (int i = 0; i < 4; ++i) {
        if (!(wildMask & (1u << (3 - i))))
            keep |= 0xFFu << (8 * (3 - i));
    }
    return keep;
}

}  // namespace

bool isBracketedV6(const QString& text)
{
    if (text.size() < 4 || !text.startsWith(QLatin1Char('[')) || !text.endsWith(QLatin1Char(']')))
        return false;
    return QHostAddress(text.mid(1, text.size() - 2)).protocol() == QAbstractSocket::IPv6Protocol;
}

int AddressPattern::wildGroups() const
{
    return std::popcount(unsigned(wildMask));
}

std::optional<AddressPattern> parseBanAddress(const QString& text)
{
    return parseGroups(text, true);
}

std::optional<quint32> parsePlayerAddress(const QString& text)
{
    const auto p = parseGroups(text, false);
    if (!p)
        return std::nullopt;
    return p->value;
}

bool banMatches(const QString& banIp, const QString& playerIp)
{
    // The xxx patterns are made of IPv4 groups: an IPv6 player only has his exact ban.
    if (isBracketedV6(playerIp))
        return banIp == playerIp;
    const auto ban = parseBanAddress(banIp);
    const auto player = parsePlayerAddress(playerIp);
    if (!ban || !player)
        return false;
    return (*player & keepMask(ban->wildMask)) == ban->value;
}

QString SubrankPattern(const QString& ip)
{
    const QStringList parts = ip.split(QLatin1Char('.'));
    if (parts.size() < 3)
        return ip;
    return parts.mid(0, 3).join(QLatin1Char('.')) + QStringLiteral(".xxx");
}

QString ProviderPattern(const QString& ip)
{
    const QStringList parts = ip.split(QLatin1Char('.'));
    if (parts.size() < 2)
        return ip;
    return parts.mid(0, 2).join(QLatin1Char('.')) + QStringLiteral(".xxx.xxx");
}

int addBanUnlessCovered(RecordList& bans, const lists::Record& ban, const QDate& today)
{
    for (int row = 0; row < bans.size(); ++row) {
        if (lists::banCovers(bans.at(row), ban, today))
            return -1;
    }
    return bans.add(ban);
}

void BanIndex::rebuild(const RecordList& bans)
{
    rebuild(bans.records());
}

void BanIndex::rebuild(const QList<lists::Record>& bans)
{
    for (auto& h : m_byMask)
        h.clear();
    m_byText.clear();
    m_unusable.clear();
    m_size = int(bans.size());
    for (int row = 0; row < bans.size(); ++row)
        add(bans.at(row), row);
    sortMasks();
}

// Entries stay in row order within each address: find() takes the first active one.
void BanIndex::add(const lists::Record& r, int row)
{
    const Entry e{row, lists::banUntil(r)};
    auto insertInOrder = [&e](QList<Entry>& entries) {
        auto at = entries.end();
        while (at != entries.begin() && std::prev(at)->row > e.row)
            --at;
        entries.insert(at, e);
    };
    insertInOrder(m_byText[r.ip]);
    if (const auto p = parseBanAddress(r.ip))
        insertInOrder(m_byMask[p->wildMask][p->value]);
    else if (!isBracketedV6(r.ip))  // an IPv6 ban is found by its text alone
        m_unusable.append(r.ip);
}

void BanIndex::sortMasks()
{
    m_masksBySpecificity.clear();
    for (int mask = 0; mask < 16; ++mask) {
        if (!m_byMask[mask].isEmpty())
            m_masksBySpecificity.append(mask);
    }
    std::stable_sort(m_masksBySpecificity.begin(), m_masksBySpecificity.end(),
                     [](int a, int b) { return std::popcount(unsigned(a)) < std::popcount(unsigned(b)); });
}

void BanIndex::insertRows(int first, const QList<lists::Record>& records)
{
    if (records.isEmpty())
        return;
    shiftRows(first, int(records.size()));
    for (int i = 0; i < records.size(); ++i)
        add(records.at(i), first + i);
    m_size += int(records.size());
    sortMasks();
}

void BanIndex::removeRows(int first, int count)
{
    if (count <= 0)
        return;
    shiftRows(first, -count);
    m_size -= count;
    sortMasks();
}

void BanIndex::shiftRows(int from, int by)
{
    const int gone = by < 0 ? from - by : from;
    auto shift = [&](auto& hash) {
        for (auto it = hash.begin(); it != hash.end();) {
            QList<Entry>& entries = *it;
            if (entries.isEmpty() || entries.last().row < from) {
                ++it;
                continue;
            }
            if (by < 0)
                entries.removeIf([&](const Entry& e) { return e.row >= from && e.row < gone; });
            for (Entry& e : entries) {
                if (e.row >= from)
                    e.row += by;
            }
            it = entries.isEmpty() ? hash.erase(it) : std::next(it);
        }
    };
    for (auto& h : m_byMask)
        shift(h);
    shift(m_byText);
}

int BanIndex::find(const QString& playerIp, const QDate& today) const
{
    const auto addr = parsePlayerAddress(playerIp);
    if (!addr) {
        // An IPv6 player matches a ban of exactly his address, never a pattern.
        return isBracketedV6(playerIp) ? firstActiveExact(playerIp, today) : -1;
    }
    int best = -1;
    int level = -1;
    for (const int mask : m_masksBySpecificity) {
        const int l = std::popcount(unsigned(mask));
        // Rows found at a more specific level win over any less specific one.
        if (best >= 0 && l != level)
            break;
        const auto it = m_byMask[mask].constFind(*addr & keepMask(quint8(mask)));
        if (it == m_byMask[mask].constEnd())
            continue;
        for (const Entry& e : *it) {
            if (!active(e, today))
                continue;
            if (best < 0 || e.row < best) {
                best = e.row;
                level = l;
            }
            break;  // entries are in row order
        }
    }
    return best;
}

bool BanIndex::hasActiveExact(const QString& ipText, const QDate& today) const
{
    return firstActiveExact(ipText, today) >= 0;
}

int BanIndex::firstActiveExact(const QString& ipText, const QDate& today) const
{
    const auto it = m_byText.constFind(ipText);
    if (it == m_byText.constEnd())
        return -1;
    for (const Entry& e : *it) {
        if (active(e, today))
            return e.row;
    }
    return -1;
}

}  // namespace skelvar::rcon
