#pragma once
// The penalties side of a pass: escalation and the end-of-step kick, ban
// enforcement, the in-game ban, the Spearhead rename, the ping kick, the
// connection warning, and the private-mode countdown.

#include "lists/prompter.h"
#include "SkelvarRcon/engine/passhooks.h"
#include "SkelvarRcon/penalties/banmatch.h"
#include "SkelvarRcon/penalties/ingameban.h"
#include "SkelvarRcon/transport/task.h"

#include <QDate>
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

    Enforcement(RconTransport& rcon, MonitorSession& session, Settings& settings, ListStore& lists, SkelvarLog& log,
                Prompter& prompter, QObject* parent = nullptr);
    ~Enforcement() override;

    Task<> warnConnection(quint64 generation, const PlayerRecord& player) override;
    Task<> escalate(quint64 generation, PlayerRecord& player) override;
    Task<> readInGameBan(quint64 generation) override;
    Task<> applyInGameBan(quint64 generation, const PlayerRecord& player) override;
    // The notice said to a banned player comes from the most specific active
    // ban that matches him (see BanIndex::find); he is told and kicked once.
    Task<QString> enforceBans(quint64 generation, const PlayerRecord& player) override;
    Task<> renameForSpearhead(quint64 generation, PlayerRecord& player) override;
    Task<> checkPing(quint64 generation, const PlayerRecord& player, const QString& noticeMarker) override;
    void finishPingPass() override;
    bool privateMode() const override { return privateMode_; }

    // The server probe's finding, read at every rename.
    void setSpearheadServer(std::function<bool()> isSpearhead) { spearhead_ = std::move(isSpearhead); }
    // Called when the private countdown ends: the engine runs a scan at its next tick.
    void setStartScan(std::function<void()> startScan) { startScan_ = std::move(startScan); }

    // Command12 "Make it private!".
    void makePrivate();
    QTimer* timer4() const { return timer4_; }
    int privateCountdown() const { return countdown_; }

    // Requests read from clientban that wait for a pass with a status table.
    const QList<PendingInGameBan>& pendingInGameBans() const { return pending_; }
    // Addresses over the ping limit on the last patrol pass, with their counts.
    const QHash<QString, int>& pingTable() const { return previousPing_; }

    // The product uses the constants above and the local date.
    void setRenamePauseForTests(int ms) { renamePauseMs_ = ms; }
    void setCountdownIntervalForTests(int ms);
    void setClockForTests(std::function<QDate()> today) { today_ = std::move(today); }

signals:
    // Ban records that match nobody, reported once per IP text.
    void unusableBansFound(const QStringList& ipTexts);

private:
    void ensureIndex();
    void onTimer4();
    Task<> sayCountdown(QString command);
    bool current(quint64 generation) const;

    RconTransport& rcon_;
    MonitorSession& session_;
    Settings& settings_;
    ListStore& lists_;
    SkelvarLog& log_;
    Prompter& prompter_;

    BanIndex index_;
    bool indexDirty_ = true;
    QSet<QString> reportedUnusable_;

    void dropInGameBan(const PendingInGameBan& pending);
    void logAlert(const QString& text);

    QList<PendingInGameBan> pending_;
    // Slot holders by client number: of the last pass that read a status
    // table, and of the one running.
    QHash<QString, SeenPlayer> seenSlots_;
    QHash<QString, SeenPlayer> seenThisPass_;
    QHash<QString, int> previousPing_;
    QHash<QString, int> currentPing_;

    QTimer* timer4_;
    int countdown_ = 0;
    bool privateMode_ = false;
    TaskKeeper tasks_;

    int renamePauseMs_ = kRenamePauseMs;
    std::function<bool()> spearhead_;
    std::function<void()> startScan_;
    std::function<QDate()> today_;
};

}  // namespace skelvar::rcon
