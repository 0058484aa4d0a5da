#pragma once
// Warnings that add up to a kick, kicks that add up to a ban.

#include <QDate>
#include <QString>

#include <optional>

namespace skelvar::rcon {

class RecordList;

// A threshold box: a whole number above 0, anything else turns the step off.
std::optional<int> escalationThreshold(const QString& boxText);

struct EscalationStep {
    int kicksMade = 0;  // kick records made from warnings
    int bansMade = 0;   // groups of kicks turned into a ban
    bool kick = false;  // the player is to be kicked
};

// Both conversions for one player, warnings first, so a kick made from
// warnings already counts towards a ban.
EscalationStep escalateRecords(RecordList& warnings, RecordList& kicks, RecordList& bans, const QString& acWarns,
                               const QString& acKicks, const QString& ip, const QString& name, const QDate& today);

}  // namespace skelvar::rcon
