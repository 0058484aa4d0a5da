#pragma once
// The scan engine: the tick handler of the engine timer with its warm-up, scans and
// patrol passes. A tick's work is a coroutine; ticks never overlap.

#include "SkelvarRcon/engine/passhooks.h"
#include "SkelvarRcon/engine/playerrecord.h"
#include "SkelvarRcon/session/clock.h"
#include "SkelvarRcon/session/monitorsession.h"
#include "SkelvarRcon/session/passcontext.h"
#include "SkelvarRcon/session/uistate.h"
#include "SkelvarRcon/store/settings.h"
#include "SkelvarRcon/transport/rcontransport.h"
#include "SkelvarRcon/transport/task.h"

#include <QObject>
#include <QString>
#include <QTime>

#include <memory>
#include <optional>

namespace skelvar::rcon {

class ListStore;
class PlayerList;
class SkelvarLog;
struct FiredRule;

// The end-of-step kick and nothing else: what a pass does without the
// penalties and enforcement steps.
class DefaultPassHooks : public PassHooks {
public:
    Task<> warnConnection(PassContext&, const PlayerRecord&) override { co_return; }
    Task<> escalate(PassContext& pass, PlayerRecord& player) override;
    Task<> readInGameBan(PassContext&) override { co_return; }
    Task<> applyInGameBan(PassContext&, const PlayerRecord&) override { co_return; }
    Task<QString> enforceBans(PassContext&, const PlayerRecord&) override { co_return QString(); }
    Task<> renameForSpearhead(PassContext&, PlayerRecord&) override { co_return; }
    Task<> checkPing(PassContext&, const PlayerRecord&, const QString&) override { co_return; }
    void finishPingPass(PassContext&) override {}
    bool privateMode() const override { return false; }
};

// A period box (the scan minutes, the patrol seconds) read at each use. A text that is not a whole
// number in range keeps the last good value, so a typo never schedules passes
// back to back; the operator is told once until the box is right again.
class PeriodBox {
public:
    using Reader = QString (Settings::*)() const;
    PeriodBox(Reader box, qint16 initial, qint16 maximum, QString notice)
        : box_(box), last_(initial), maximum_(maximum), notice_(std::move(notice)) {}
    qint16 read(const Settings& settings, Prompter* prompter);
    qint16 last() const { return last_; }

private:
    Reader box_;
    qint16 last_;
    qint16 maximum_;
    QString notice_;  // %1: the value kept
    bool told_ = false;
};

// What one pass did, reported when it ends.
struct PassSummary {
    bool scan = false;       // a scan; otherwise a patrol pass
    int playersRead = 0;     // rows of the status table the pass worked on (zombies left out)
    int answersLost = 0;     // requests of the pass that got no answer
    int penaltiesGiven = 0;  // warning, kick and ban records the pass added
};

// What the engine works with besides the session, the transport, the settings
// and the UI state. Anything left out gets an empty stand-in of its own.
struct EngineServices {
    ListStore* lists = nullptr;
    PlayerList* players = nullptr;
    SkelvarLog* log = nullptr;
    Prompter* prompter = nullptr;
    PassHooks* hooks = nullptr;  // DefaultPassHooks when null
    const Clock* clock = nullptr;  // the local time when null
};

class Engine : public QObject {
    Q_OBJECT
public:
    Engine(MonitorSession& session, RconTransport& rcon, Settings& settings, UiState& ui,
           EngineServices services = {}, QObject* parent = nullptr);
    ~Engine() override;

    // The penalties code may install its hooks after constructing with the engine.
    void setHooks(PassHooks* hooks);
    PassHooks& hooks() { return *hooks_; }

    qint16 scanCountdown() const { return scanCountdown_; }
    qint16 patrolCountdown() const { return patrolCountdown_; }
    int secondsSinceData() const { return secondsSinceData_; }
    // The end of the private-mode countdown: scan at the next regular tick.
    void scanAtNextTick() { scanCountdown_ = 1; }
    // The product patrols on its period only.
    void patrolAtNextTickForTests() { patrolCountdown_ = 1; }
    // A tick's work (warm-up or pass) is under way.
    bool busy() const { return !tick_.done(); }

    QString currentMap() const { return currentMap_; }
    bool spearheadServer() const { return spearheadServer_; }
    QString statusText() const { return statusText_; }
    // The player being processed; after a pass, the last one.
    const PlayerRecord& player() const { return player_; }
    int regularTicks() const { return regularTicks_; }

    ListStore& lists() { return *lists_; }
    PlayerList& players() { return *players_; }

signals:
    void passStarted(bool scan);
    void passFinished(bool scan);
    // After passFinished, for every pass that ran to its end.
    void passSummary(const skelvar::rcon::PassSummary& summary);

private:
    void onTimer();
    Task<> engineTick(PassContext& pass);
    void advanceProgress();
    Task<> warmUp(PassContext& pass);
    void armAfterWarmup();
    Task<> probeServer(PassContext& pass);
    Task<> probeMods(PassContext& pass);
    Task<> refreshMapInfo(PassContext& pass, bool warmup);
    Task<> sendClock(PassContext& pass);
    Task<> primeScript(PassContext& pass, bool warmup);
    Task<> reclaimAfterRestart(PassContext& pass);
    Task<QString> readStatus(PassContext& pass);
    Task<> runScan(PassContext& pass);
    Task<> scanPlayers(PassContext& pass);
    // `notAsked`: why the player is not asked for (logged instead); empty to scan him.
    Task<> scanPlayer(PassContext& pass, PlayerRecord player, QString notAsked);
    Task<> judgePlayer(PassContext& pass);
    Task<> dispatchPenalty(PassContext& pass, FiredRule rule);
    void recordPenalty(const FiredRule& rule);
    Task<> runPatrol(PassContext& pass);
    Task<> patrolTable(PassContext& pass);
    Task<> patrolPlayer(PassContext& pass, PlayerRecord player);
    Task<> followMapChange(PassContext& pass, const QString& status);
    void beginPass(bool scan);
    void endPass();
    void onReadUnanswered(const QString& command);
    void setStateLine(const QString& line);
    void showNotice(const QString& text);
    void hideNotice();

    MonitorSession& session_;
    RconTransport& rcon_;
    Settings& settings_;
    UiState& ui_;
    ListStore* lists_;
    PlayerList* players_;
    SkelvarLog* log_;
    Prompter* prompter_;
    PassHooks* hooks_;
    std::unique_ptr<ListStore> ownLists_;
    std::unique_ptr<PlayerList> ownPlayers_;
    std::unique_ptr<SkelvarLog> ownLog_;
    std::unique_ptr<PassHooks> ownHooks_;
    const Clock& clock_;

    // The tick's pass and its work; a pass dropped by a stop is destroyed
    // from the event loop, unless a later tick has replaced it already.
    std::unique_ptr<PassContext> pass_;
    Task<> tick_;
    quint64 ticksStarted_ = 0;
    bool warmupPending_ = false;
    qint16 scanCountdown_ = 0;
    qint16 patrolCountdown_ = 0;
    int secondsSinceData_ = 0;
    int regularTicks_ = 0;
    QString statusText_;
    QString currentMap_;
    bool spearheadServer_ = false;
    // The session's stop reported the server as not running; its next
    // warm-up reports it again.
    bool serverDown_ = false;
    PlayerRecord player_;
    PassSummary summary_;
    int unansweredAtPassStart_ = 0;
    PeriodBox scanMinutes_;
    PeriodBox patrolSeconds_;

    // The status line as the probe last built it; a notice about lost answers covers
    // it until a pass gets all its answers again.
    QString stateLine_;
    bool noticeShown_ = false;
    int noticeTick_ = 0;  // the regular tick that showed it
    bool lostInPass_ = false;
    // The server has not answered a pass since then; its claim is read again
    // as soon as it answers.
    std::optional<QTime> silentSince_;
    bool recheckClaim_ = false;
};

}  // namespace skelvar::rcon
