#pragma once
// Judging one player by the user-info answer, and what a penalty row turns a
// detection into. Plain functions: the scan sends, these decide.

#include "SkelvarRcon/engine/playerrecord.h"
#include "SkelvarRcon/store/settings.h"
#include "lists/records.h"

#include <QDate>
#include <QList>
#include <QString>

#include <optional>

namespace skelvar::rcon {

struct AlertSubstitutions {
    QString name;
    QString ip;
    std::optional<QString> skin;
    std::optional<QString> cheat;
    bool operator==(const AlertSubstitutions&) const = default;
};

// Replaces every $name, then $skin or $cheat, then $IP (exact letter case).
QString fillAlert(const QString& templ, const AlertSubstitutions& subs);

// One rule that fired: its alert template, substitutions, record reason and
// penalty row (1 to 9).
struct FiredRule {
    Alert alert = Alert::Cheat;
    AlertSubstitutions subs;
    QString reason;
    int row = 0;
    bool operator==(const FiredRule&) const = default;
};

struct Verdict {
    bool privateKick = false;  // private mode: no private password
    bool macClient = false;
    QList<FiredRule> rules;  // in the order they fired
};

// The detections for one player whose userinfoText is filled.
Verdict runDetections(const PlayerRecord& player, const Settings& settings, const lists::SkinList& reserved,
                      const lists::SkinList& suspicious, bool privateMode);

// What one dispatch adds: a record for one list, and whether the player is
// to be kicked at the end of the step.
struct PenaltyOutcome {
    lists::ListKind list = lists::ListKind::Warnings;
    lists::Record record;
    bool kick = false;
};
PenaltyOutcome penaltyFor(Settings::Penalty choice, const QString& daysText, const PlayerRecord& player,
                          const QString& reason, const QDate& today);
// The Until of a ban for the days box: empty (no end) for any zero and for a
// text that is not a whole number.
QString banUntil(const QString& daysText, const QDate& today);

}  // namespace skelvar::rcon
