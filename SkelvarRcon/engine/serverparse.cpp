#include "SkelvarRcon/engine/serverparse.h"

#include "SkelvarRcon/transport/printedvalue.h"

namespace skelvar::rcon {

namespace {

struct Span {
    qsizetype start, end;  // [start, end)
};

// The blank-separated words of a row with their places, so that the name can
// be taken with its own inner blanks.
QList<Span> words(const QString& row)
{
    QList<Span> out;
    qsizetype i = 0;
    const qsizetype n = row.size();
    while (i < n) {
        while (i < n && row.at(i) == QLatin1Char(' '))
            ++i;
        if (i >= n)
            break;
        const qsizetype start = i;
        while (i < n && row.at(i) != QLatin1Char(' '))
            ++i;
        out.append({start, i});
    }
    return out;
}

bool isCount(const QString& s)
{
    if (s.isEmpty() || s.size() > 9)
        return false;
    for (const QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

bool isWhole(const QString& s)
{
    return s.startsWith(QLatin1Char('-')) ? isCount(s.mid(1)) : isCount(s);
}

// The name between the blank after the ping and the padding blanks before
// lastmsg. Only blanks are padding: a tab, a no-break space or a carriage
// return at either end is part of the name.
QString nameColumn(const QString& between)
{
    qsizetype end = between.size();
    while (end > 0 && between.at(end - 1) == QLatin1Char(' '))
        --end;
    const qsizetype start = between.startsWith(QLatin1Char(' ')) ? 1 : 0;
    return between.mid(start, std::max<qsizetype>(0, end - start));
}

}  // namespace

std::optional<PlayerRecord> ParseStatusLine(const QString& row)
{
    const QList<Span> w = words(row);
    auto word = [&](qsizetype i) { return row.mid(w[i].start, w[i].end - w[i].start); };
    const qsizetype n = w.size();
    if (n < 4)
        return std::nullopt;

    PlayerRecord p;
    p.clientNum = word(0);
    p.score = word(1);
    p.ping = word(2);
    p.rate = word(n - 1);
    if (!isCount(p.clientNum) || !isWhole(p.score) || !isCount(p.rate))
        return std::nullopt;
    if (p.ping == QLatin1String("ZMBI"))
        return p;
    if (p.ping != QLatin1String("CNCT") && !isCount(p.ping))
        return std::nullopt;

    // The columns right of the name are read from the end, so a name with
    // blanks, digits or colons cannot move them, and an empty name (no word
    // between ping and lastmsg) still leaves a row.
    if (n < 7)
        return std::nullopt;
    const QString qport = word(n - 2);
    const QString address = word(n - 3);
    p.lastMsg = word(n - 4);
    if (!isCount(qport) || !isCount(p.lastMsg))
        return std::nullopt;
    if (address.compare(QLatin1String("loopback"), Qt::CaseInsensitive) == 0) {
        p.ip = QStringLiteral("127.0.0.1");
    } else {
        const qsizetype colon = address.lastIndexOf(QLatin1Char(':'));
        if (colon <= 0 || !isCount(address.mid(colon + 1)))
            return std::nullopt;
        p.ip = address.left(colon);
    }
    p.name = nameColumn(row.mid(w[2].end, w[n - 4].start - w[2].end));
    return p;
}

QStringList statusRows(const QString& statusText)
{
    return statusText.split(QStringLiteral("\r\n"));
}

QStringList statusPlayerRows(const QString& statusText)
{
    // Rows that are not player rows (the closing empty lines, a row cut off
    // at the end of a lost datagram) are dropped by ParseStatusLine.
    const QStringList rows = statusRows(statusText);
    return rows.size() > 3 ? rows.mid(3) : QStringList();
}

QList<PlayerRecord> livePlayers(const QString& statusText)
{
    QList<PlayerRecord> players;
    for (const QString& row : statusPlayerRows(statusText)) {
        if (auto p = ParseStatusLine(row); p && p->ping != QLatin1String("ZMBI"))
            players.append(std::move(*p));
    }
    return players;
}

std::optional<PlayerRecord> playerInSlot(const QString& statusText, const QString& clientNum)
{
    for (PlayerRecord& p : livePlayers(statusText)) {
        if (p.clientNum == clientNum)
            return std::move(p);
    }
    return std::nullopt;
}

QString StatusMapName(const QString& statusText)
{
    const QString first = statusRows(statusText).value(0);
    const QStringList pieces = first.split(QStringLiteral(": "));
    return pieces.value(1);
}

QString ComputeNextMap(const QString& map, const QString& mapList)
{
    if (mapList.isEmpty())
        return map;
    // The map as a whole entry of the list: "dm/mohdm1" is not the start of "dm/mohdm1b".
    const QStringList entries = mapList.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (const qsizetype at = entries.indexOf(map); at >= 0 && !map.isEmpty())
        return entries.value(at + 1, entries.first());
    if (map.isEmpty() || !mapList.contains(map))
        return QString();
    const QString after = mapList.split(map).value(1);
    if (!after.isEmpty())
        return after.split(QLatin1Char(' ')).value(1);
    return mapList.split(QLatin1Char(' ')).value(0);
}

ServerInfo parseGetStatus(const QString& answer)
{
    ServerInfo info;
    info.spearhead = answer.contains(QLatin1String("version\\medal of honor spearhead"));
    const QStringList pieces = answer.split(QLatin1Char('\\'));
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const QString& key = pieces.at(i);
        // A value ends with its line: the player lines that follow the last
        // key are not part of it.
        QString value = pieces.value(i + 1);
        for (qsizetype c = 0; c < value.size(); ++c) {
            if (value.at(c) == QLatin1Char('\r') || value.at(c) == QLatin1Char('\n')) {
                value.truncate(c);
                break;
            }
        }
        if (key == QLatin1String("g_gametypestring"))
            info.gameType = QString(value).replace(QLatin1Char('-'), QLatin1Char(' '));
        else if (key == QLatin1String("mapname"))
            info.map = value;
        else if (key == QLatin1String("sv_maplist"))
            info.mapList = value;
    }
    return info;
}

bool serverIsLinux(const QString& versionAnswer)
{
    return versionAnswer.contains(QLatin1String("linux"), Qt::CaseInsensitive);
}

bool cheatsDisabled(const QString& cheatsAnswer)
{
    return !cheatsAnswer.isEmpty() && printedValue(cheatsAnswer) == QLatin1String("0");
}

bool scriptRunning(const QString& versionAnswer)
{
    return !versionAnswer.isEmpty() && !versionAnswer.startsWith(QLatin1String("unknown"), Qt::CaseInsensitive);
}

bool isUserinfoTable(const QString& userinfoText)
{
    const QString text = userinfoText.trimmed();
    return !text.isEmpty() &&
           !(text.startsWith(QLatin1String("player ")) &&
             text.section(QStringLiteral("\r\n"), 0, 0).endsWith(QLatin1String(" is not on the server")));
}

std::optional<QString> userinfoValue(const QString& userinfoAnswer, QLatin1String setting)
{
    // The setting padded to 21 characters, ": ", the value to the end of its line.
    static const QString kSeparator = QStringLiteral(": ");
    for (const QString& line : userinfoAnswer.split(QStringLiteral("\r\n"))) {
        const qsizetype colon = line.indexOf(kSeparator);
        if (colon < 0 || line.left(colon).trimmed() != setting)
            continue;
        return line.mid(colon + kSeparator.size());
    }
    return std::nullopt;
}

std::optional<QString> userinfoAddress(const QString& userinfoAnswer)
{
    std::optional<QString> ip = userinfoValue(userinfoAnswer, QLatin1String("ip"));
    if (!ip)
        return ip;
    // Some engines write the port too; IPv6 addresses hold colons of their own.
    if (ip->count(QLatin1Char(':')) == 1)
        ip->truncate(ip->indexOf(QLatin1Char(':')));
    if (ip->compare(QLatin1String("loopback"), Qt::CaseInsensitive) == 0 ||
        ip->compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        *ip = QStringLiteral("127.0.0.1");
    return ip;
}

bool kickRefused(const QString& kickAnswer)
{
    const QString first = kickAnswer.section(QStringLiteral("\r\n"), 0, 0);
    return (first.startsWith(QLatin1String("Client ")) && first.endsWith(QLatin1String(" is not active"))) ||
           (first.startsWith(QLatin1String("Player ")) && first.endsWith(QLatin1String(" is not on the server"))) ||
           first.startsWith(QLatin1String("Bad client slot")) || first.startsWith(QLatin1String("Bad slot number")) ||
           first.startsWith(QLatin1String("Cannot kick")) || first.startsWith(QLatin1String("No player specified")) ||
           first.startsWith(QLatin1String("Usage:"));
}

bool takesClientNumbers(const QString& versionAnswer)
{
    return versionAnswer.contains(QLatin1String("OpenMoHAA"), Qt::CaseInsensitive) ||
           versionAnswer.contains(QLatin1String("ioq3"), Qt::CaseInsensitive);
}

std::pair<QString, QString> userinfoSkins(const QString& userinfoText)
{
    std::pair<QString, QString> skins;
    const QStringList lines = userinfoText.split(QStringLiteral("\r\n"));
    for (const QString& line : lines) {
        const qsizetype first = line.indexOf(QLatin1Char(':'));
        // The setting's own name, at the start of the line: a player's name
        // holding "dm_playermodel" must not fill the column.
        const QString setting = first < 0 ? line.trimmed() : line.left(first).trimmed();
        QString value;
        if (first >= 0) {
            const qsizetype second = line.indexOf(QLatin1Char(':'), first + 1);
            value = (second < 0 ? line.mid(first + 1) : line.mid(first + 1, second - first - 1)).trimmed();
        }
        if (setting == QLatin1String("dm_playermodel"))
            skins.first = value;
        else if (setting == QLatin1String("dm_playergermanmodel"))
            skins.second = value;
    }
    return skins;
}

}  // namespace skelvar::rcon
