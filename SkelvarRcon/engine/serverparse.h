#pragma once
// Reading the server's answers: the status table, the getstatus key list, the
// probe's variable prints and the user-info lines. Plain functions, so the
// engine's passes only send and hand over text.

#include "SkelvarRcon/engine/playerrecord.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

namespace skelvar::rcon {

// One row of the status table. Returns nothing for a row that does not have
// the table's columns (a heading, an empty line, a row cut off in transit).
// A "ZMBI" row carries only clientNum, score, ping and rate.
std::optional<PlayerRecord> ParseStatusLine(const QString& row);

// The rows of a status answer split at CR LF, and the ones that may hold a
// player (everything after the map line, the headings and the rule).
QStringList statusRows(const QString& statusText);
QStringList statusPlayerRows(const QString& statusText);
// The players of a status answer whose rows parse, without the "ZMBI" rows of
// clients that are leaving.
QList<PlayerRecord> livePlayers(const QString& statusText);
// The live player a status answer shows in the slot; nullopt when it is empty.
std::optional<PlayerRecord> playerInSlot(const QString& statusText, const QString& clientNum);

// The map named by the first row ("map: name"); empty when there is none.
QString StatusMapName(const QString& statusText);

QString ComputeNextMap(const QString& map, const QString& mapList);

// What a getstatus answer says (the caller passes it lower-cased).
struct ServerInfo {
    QString gameType;  // dashes shown as blanks
    QString map;
    QString mapList;
    bool spearhead = false;
};
ServerInfo parseGetStatus(const QString& loweredAnswer);

// The probe's judgements of the "version", "cheats" and mod-version answers.
bool serverIsLinux(const QString& versionAnswer);
bool cheatsDisabled(const QString& cheatsAnswer);
bool scriptRunning(const QString& versionAnswer);

// A lower-cased dumpuser answer that holds user info: not empty and not the
// server's "Player NAME is not on the server".
bool isUserinfoTable(const QString& userinfoText);

// The value of a user-info table's setting line as the server printed it
// (case and colour codes kept); nullopt when the table has none.
std::optional<QString> userinfoValue(const QString& userinfoAnswer, QLatin1String setting);
// The "ip" line's address without a port, as the status table shows it.
std::optional<QString> userinfoAddress(const QString& userinfoAnswer);

// The server refused a clientkick ("Client 7 is not active", a bad slot):
// nobody was kicked.
bool kickRefused(const QString& kickAnswer);

// The engine takes a client number wherever a player's name is asked for:
// the open-source engines say so in their version answer.
bool takesClientNumbers(const QString& versionAnswer);

// The model columns of the Players list from a lower-cased user-info answer:
// {allied, axis}, each the value of the last line naming that setting.
std::pair<QString, QString> userinfoSkins(const QString& userinfoText);

}  // namespace skelvar::rcon
