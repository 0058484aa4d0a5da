#pragma once
// The in-game ban request that the server keeps in its variable clientban.

#include <QString>

#include <optional>

namespace skelvar::rcon {

struct InGameBanRequest {
    QString target;  // a client number
    QString reason;  // safe for a command and a list file
};

// A player as a status table showed him.
struct SeenPlayer {
    QString name;
    QString ip;
};

// A request waiting for a patrol pass that reads a status table.
struct PendingInGameBan {
    InGameBanRequest request;
    // Who held the slot in the last table before the request was read. A
    // request kept past a pass without a table applies to him only, so a
    // newcomer in the slot is never banned; unknown when the slot was empty.
    std::optional<SeenPlayer> holder;
    // Read in the pass now running: the table it reads next is the one the
    // request was made against.
    bool thisPass = true;
};

// The name the Spearhead rename gives a player: his blanks become '_'.
QString spearheadName(QString name);

// Whether the player a later table shows in the slot is the one seen before.
// The Spearhead rename may have turned his blanks into '_' in between.
bool samePlayer(const SeenPlayer& seen, const QString& name, const QString& ip);
// Whether the player a slot holds now is the one a record names, whichever of
// the two already carries the Spearhead rename.
bool holdsSlot(const SeenPlayer& now, const QString& name, const QString& ip);

struct ClientBanValue {
    // The variable holds something other than nothing or "-1": it is reset.
    bool set = false;
    // What it asks for; nullopt when the value is not a usable request.
    std::optional<InGameBanRequest> request;
};

// The answer to the bare "clientban": `"clientban" is:"5@Team killing" ...`,
// read like every other printed variable.
ClientBanValue parseClientBan(const QString& answer);

}  // namespace skelvar::rcon
