#pragma once
// The steps of a pass that belong to penalties and enforcement. The engine calls
// them at their places in the scan and the patrol pass; the default ones do only
// what a pass needs without them (the end-of-step kick).

#include "SkelvarRcon/engine/playerrecord.h"
#include "SkelvarRcon/transport/task.h"

#include <QString>

namespace skelvar::rcon {

class PassContext;

class PassHooks {
public:
    virtual ~PassHooks() = default;

    // Scan, for each player whose step runs to its end, after the detections.
    virtual Task<> warnConnection(PassContext& pass, const PlayerRecord& player) = 0;
    // Scan: escalation, then the one "clientkick" when the kick flag is set.
    virtual Task<> escalate(PassContext& pass, PlayerRecord& player) = 0;

    // Patrol pass, once at its start, when the server runs.
    virtual Task<> readInGameBan(PassContext& pass) = 0;
    // Patrol pass, for each player line that is not "ZMBI", in this order.
    virtual Task<> applyInGameBan(PassContext& pass, const PlayerRecord& player) = 0;
    virtual Task<QString> enforceBans(PassContext& pass, const PlayerRecord& player) = 0;  // the notice marker
    virtual Task<> renameForSpearhead(PassContext& pass, PlayerRecord& player) = 0;
    virtual Task<> checkPing(PassContext& pass, const PlayerRecord& player, const QString& noticeMarker) = 0;
    // After the player loop of a patrol pass that read a status table.
    virtual void finishPingPass(PassContext& pass) = 0;

    // Private mode: every scan kicks players without the private password.
    virtual bool privateMode() const = 0;
};

}  // namespace skelvar::rcon
