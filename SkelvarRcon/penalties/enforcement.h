#pragma once
// The penalties side of a pass: escalation and the end-of-step kick, ban
// enforcement, the in-game ban, the Spearhead rename, the ping kick, the
// connection warning, and the private-mode countdown.

#include "SkelvarRcon/engine/passhooks.h"
#include "SkelvarRcon/penalties/banmatch.h"
#include "SkelvarRcon/penalties/ingameban.h"
#include "SkelvarRcon/session/clock.h"
#include "SkelvarRcon/transport/task.h"
#include "lists/prompter.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>

class QTimer;

namespace skelvar::rcon {

class ListStore;
class MonitorSession;
using skelvar::Prompter;
class Settings;

class Enforcement : public QObject, public PassHooks {
    Q_OBJECT
public:
    static constexpr int kRenamePauseMs = 1500;
    static constexpr int kCountdownIntervalMs = 10000;

    // `clock` dates the records; the local time when null.
    Enforcement(MonitorSession& session, Settings& settings, ListStore& lists, Prompter& prompter,
                const Clock* clock = nullptr, QObject* parent = nullptr);
    ~Enforcement() override;

    Task<> warnConnection(PassContext& pass, const PlayerRecord& player) override;
    Task<> escalate(PassContext& pass, PlayerRecord& player) override;
    Task<> readInGameBan(PassContext& pass) override;
    Task<> applyInGameBan(PassContext& pass, const PlayerRecord& player) override;
    // The notice said to a banned player comes from the most specific active
    // ban that matches him (see BanIndex::find); he is told and kicked once.
    Task<QString> enforceBans(PassContext& pass, const PlayerRecord& player) override;
    Task<> renameForSpearhead(PassContext& pass, PlayerRecord& player) override;
    Task<> checkPing(PassContext& pass, const PlayerRecord& player, const QString& noticeMarker) override;
    void finishPingPass(PassContext& pass) override;
    bool privateMode() const override { return m_privateMode; }

    // The server probe's finding, read at every rename.
    void setSpearheadServer(std::function<bool()> isSpearhead) { m_spearhead = std::move(isSpearhead); }
    // Called when the private countdown ends: the engine runs a scan at its next tick.
    void setStartScan(std::function<void()> startScan) { m_startScan = std::move(startScan); }

    // Command12 "Make it private!".
    void makePrivate();
    QTimer* countdownTimer() const { return m_countdownTimer; }
    int privateCountdown() const { return m_countdown; }

    // Requests read from clientban that wait for a pass with a status table.
    const QList<PendingInGameBan>& pendingInGameBans() const { return m_pending; }
    // Addresses over the ping limit on the last patrol pass, with their counts.
    const QHash<QString, int>& pingTable() const { return m_previousPing; }

    // The product uses the constants above.
    void setRenamePauseForTests(int ms) { m_renamePauseMs = ms; }
    void setCountdownIntervalForTests(int ms);

signals:
    // Ban records that match nobody, reported once per IP text.
    void unusableBansFound(const QStringList& ipTexts);

private:
    void ensureIndex();
    void followBans();
    void onCountdownTick();
    Task<> sayCountdown(QString command);
    // A ping over the limit on enough patrol passes in a row.
    bool pingKickDue(const PlayerRecord& player, const QString& limitText, const QString& scansText);

    MonitorSession& m_session;
    Settings& m_settings;
    ListStore& m_lists;
    Prompter& m_prompter;

    BanIndex m_index;
    bool m_indexDirty = true;  // the index is rebuilt before its next use
    qsizetype m_unusableSeen = 0;
    QSet<QString> m_reportedUnusable;

    void takeInGameBan(const PendingInGameBan& pending, const PlayerRecord& player);
    void dropInGameBan(PassContext& pass, const PendingInGameBan& pending);

    QList<PendingInGameBan> m_pending;
    // Slot holders by client number: of the last pass that read a status
    // table, and of the one running.
    QHash<QString, SeenPlayer> m_seenSlots;
    QHash<QString, SeenPlayer> m_seenThisPass;
    QHash<QString, int> m_previousPing;
    QHash<QString, int> m_currentPing;

    QTimer* m_countdownTimer;
    int m_countdown = 0;
    bool m_privateMode = false;
    TaskKeeper m_tasks;

    int m_renamePauseMs = kRenamePauseMs;
    std::function<bool()> m_spearhead;
    std::function<void()> m_startScan;
    const Clock& m_clock;
};

}  // namespace skelvar::rcon
