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
        : m_box(box), m_last(initial), m_maximum(maximum), m_notice(std::move(notice))
    {
    }
    qint16 read(const Settings& settings, Prompter* prompter);
    qint16 last() const { return m_last; }

private:
    Reader m_box;
    qint16 m_last;
    qint16 m_maximum;
    QString m_notice;  // %1: the value kept
    bool m_told = false;
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
    PassHooks* hooks = nullptr;    // DefaultPassHooks when null
    const Clock* clock = nullptr;  // the local time when null
};

class Engine : public QObject {
    Q_OBJECT
public:
    Engine(MonitorSession& session, RconTransport& rcon, Settings& settings, UiState& ui, EngineServices services = {},
           QObject* parent = nullptr);
    ~Engine() override;

    // The penalties code may install its hooks after constructing with the engine.
    void setHooks(PassHooks* hooks);
    PassHooks& hooks() { return *m_hooks; }

    qint16 scanCountdown() const { return m_scanCountdown; }
    qint16 patrolCountdown() const { return m_patrolCountdown; }
    int secondsSinceData() const { return m_secondsSinceData; }
    // The end of the private-mode countdown: scan at the next regular tick.
    void scanAtNextTick() { m_scanCountdown = 1; }
    // The product patrols on its period only.
    void patrolAtNextTickForTests() { m_patrolCountdown = 1; }
    // A tick's work (warm-up or pass) is under way.
    bool busy() const { return !m_tick.done(); }

    QString currentMap() const { return m_currentMap; }
    bool spearheadServer() const { return m_spearheadServer; }
    QString statusText() const { return m_statusText; }
    // The player being processed; after a pass, the last one.
    const PlayerRecord& player() const { return m_player; }
    int regularTicks() const { return m_regularTicks; }

    ListStore& lists() { return *m_lists; }
    PlayerList& players() { return *m_players; }

signals:
    void passStarted(bool scan);
    void passFinished(bool scan);
    // After passFinished, for every pass that ran to its end.
    void passSummary(const skelvar::rcon::PassSummary& summary);

private:
    void connectSession();
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
    bool tableIsHis(PassContext& pass, const QString& answer);
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

    MonitorSession& m_session;
    RconTransport& m_rcon;
    Settings& m_settings;
    UiState& m_ui;
    ListStore* m_lists;
    PlayerList* m_players;
    SkelvarLog* m_log;
    Prompter* m_prompter;
    PassHooks* m_hooks;
    std::unique_ptr<ListStore> m_ownLists;
    std::unique_ptr<PlayerList> m_ownPlayers;
    std::unique_ptr<SkelvarLog> m_ownLog;
    std::unique_ptr<PassHooks> m_ownHooks;
    const Clock& m_clock;

    // The tick's pass and its work; a pass dropped by a stop is destroyed
    // from the event loop, unless a later tick has replaced it already.
    std::unique_ptr<PassContext> m_pass;
    Task<> m_tick;
    quint64 m_ticksStarted = 0;
    bool m_warmupPending = false;
    qint16 m_scanCountdown = 0;
    qint16 m_patrolCountdown = 0;
    int m_secondsSinceData = 0;
    int m_regularTicks = 0;
    QString m_statusText;
    QString m_currentMap;
    bool m_spearheadServer = false;
    // dumpuser by client number instead of by name.
    bool m_askByNumber = false;
    // The session's stop reported the server as not running; its next
    // warm-up reports it again.
    bool m_serverDown = false;
    PlayerRecord m_player;
    PassSummary m_summary;
    int m_unansweredAtPassStart = 0;
    PeriodBox m_scanMinutes;
    PeriodBox m_patrolSeconds;

    // The status line as the probe last built it; a notice about lost answers covers
    // it until a pass gets all its answers again.
    QString m_stateLine;
    bool m_noticeShown = false;
    int m_noticeTick = 0;  // the regular tick that showed it
    bool m_lostInPass = false;
    // The server has not answered a pass since then; its claim is read again
    // as soon as it answers.
    std::optional<QTime> m_silentSince;
};

}  // namespace skelvar::rcon
