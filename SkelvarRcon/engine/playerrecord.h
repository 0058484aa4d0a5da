#pragma once
// One row of the server's status table, as the passes read it, with what a
// scan adds to it from the player's user info.

#include <QString>

namespace skelvar::rcon {

// The player whose status row is being processed.
struct PlayerRecord {
    QString clientNum;
    QString score;
    QString ping;  // milliseconds, "CNCT" or "ZMBI"
    QString name;
    QString lastMsg;
    QString ip;  // without port; "127.0.0.1" for the local connection
    QString rate;
    QString userinfoText;  // scan only: the lower-cased dumpuser answer
    qint16 kickFlag = 0;   // scan only
};

}  // namespace skelvar::rcon
