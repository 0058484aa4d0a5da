#pragma once
// The penalties side of a pass: escalation and the end-of-step kick, ban
// enforcement, the in-game ban, the Spearhead rename, the ping kick, the
// connection warning, and the private-mode countdown.

#include "lists/prompter.h"
#include "SkelvarRcon/engine/passhooks.h"
#include "SkelvarRcon/penalties/banmatch.h"
#include "SkelvarRcon/penalties/ingameban.h"
#include "SkelvarRcon/session/clock.h"
#include "SkelvarRcon/transport/task.h"

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
class RconTransport;
class Settings;
class SkelvarLog;

class Enforcement : public QObject, public PassHooks {
    Q_OBJECT
public:
    static constexpr int kRenamePauseMs = 1500;
    static constexpr int kCountdownIntervalMs = 10000;

    // `clock` dates the records; the local time when null.
    Enforcement(RconTransport& rcon, MonitorSession& session, Settings& settings, ListStore& lists, SkelvarLog& log,
                Prompter& prompter, const Clock* clock = nullptr, QObject* parent = nullptr);
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
    bool privateMode() const override { return privateMode_; }

    // The server probe's finding, read at every rename.
    void setSpearheadServer(std::function<bool()> isSpearhead) { spearhead_ = std::move(isSpearhead); }
    // Called when the private countdown ends: the engine runs a scan at its next tick.
    void setStartScan(std::function<void()> startScan) { startScan_ = std::move(startScan); }

    // Command12 "Make it private!".
    void makePrivate();
    QTimer* countdownTimer() const { return countdownTimer_; }
    int privateCountdown() const { return countdown_; }

    // Requests read from clientban that wait for a pass with a status table.
    const QList<PendingInGameBan>& pendingInGameBans() const { return pending_; }
    // Addresses over the ping limit on the last patrol pass, with their counts.
    const QHash<QString, int>& pingTable() const { return previousPing_; }

    // The product uses the constants above.
    void setRenamePauseForTests(int ms) { renamePauseMs_ = ms; }
    void setCountdownIntervalForTests(int ms);

signals:
    // Ban records that match nobody, reported once per IP text.
    void unusableBansFound(const QStringList& ipTexts);

private:
    void ensureIndex();
    void onCountdownTick();
    Task<> sayCountdown(QString command);
    // A ping over the limit on enough patrol passes in a row.
    bool pingKickDue(const PlayerRecord& player, const QString& limitText, const QString& scansText);

    RconTransport& rcon_;
    MonitorSession& session_;
    Settings& settings_;
    ListStore& lists_;
    SkelvarLog& log_;
    Prompter& prompter_;

    BanIndex index_;
    bool indexDirty_ = true;
    QSet<QString> reportedUnusable_;

    void takeInGameBan(const PendingInGameBan& pending, const PlayerRecord& player);
    void dropInGameBan(PassContext& pass, const PendingInGameBan& pending);

    QList<PendingInGameBan> pending_;
    // Slot holders by client number: of the last pass that read a status
    // table, and of the one running.
    QHash<QString, SeenPlayer> seenSlots_;
    QHash<QString, SeenPlayer> seenThisPass_;
    QHash<QString, int> previousPing_;
    QHash<QString, int> currentPing_;

    QTimer* countdownTimer_;
    int countdown_ = 0;
    bool privateMode_ = false;
    TaskKeeper tasks_;

    int renamePauseMs_ = kRenamePauseMs;
    std::function<bool()> spearhead_;
    std::function<void()> startScan_;
    const Clock& clock_;
};

}  // namespace skelvar::rcon
