#pragma once
// The Bans list shared with other monitors through a store (a database that
// several machines reach). The list shown and enforced is the fold of the
// store's log (banstore.h) with this monitor's own operations that the store
// does not have yet applied on top, so every monitor that has read the same
// log shows the same list.
//
// Bans added and removed here, by any part of the monitor or by another
// program writing bans.lst, are seen as the Bans list changes and kept as
// operations in bans.journal beside the lists until the store has them; the
// store's changes are read at once when it announces them, at every patrol
// pass (syncNow()) and after every push, and applied to the list as a merge,
// which ListStore writes to bans.lst as it does for other writers. While the
// store cannot be reached the monitor keeps its list and its journal (also
// across a restart) and tells the operator once; once it is back, once more.
// Bans of bans.lst that neither the store nor the journal explain (the list
// before the first use of a store, lines another program wrote while the
// monitor was not running) are handed to the store when it is first read in
// a run, unless it bans their address at least as long already.

#include "SkelvarRcon/session/clock.h"
#include "SkelvarRcon/store/bansync.h"
#include "SkelvarRcon/store/recordlist.h"
#include "lists/banjournal.h"
#include "lists/banstore.h"
#include "lists/prompter.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QThread>
#include <QTimer>

namespace skelvar::rcon {

struct SharedBansSetup {
    QString folder = QStringLiteral(".");  // where bans.journal and bans.shared are kept
    BanSyncWorker::StoreFactory makeStore;
    Prompter* prompter = nullptr;  // where reachability and damaged files are told
    const Clock* clock = nullptr;  // the local time when null
};

class SharedBans : public QObject {
    Q_OBJECT
public:
    static constexpr int kSaveDelayMs = 1000;

    // The list must hold what bans.lst held at start-up.
    SharedBans(RecordList& bans, SharedBansSetup setup, QObject* parent = nullptr);
    // Ends the worker; waits for a store call it is in the middle of.
    ~SharedBans() override;

    // Reads the journal and the state kept from the last run, and asks the
    // store for the first time.
    void start();
    // Asks the store for its changes (and hands it the journal).
    void syncNow();

    enum class Reach { Unknown, Reachable, Unreachable, Refused };
    Reach reach() const { return m_reach; }
    // Operations kept in the journal, not yet in the store.
    const QList<lists::BanChange>& journal() const { return m_journal; }
    qint64 lastSeq() const { return m_state.seq; }

    QString journalPath() const;
    QString statePath() const;

    void setRetryForTests(int firstMs, int lastMs);

signals:
    // An answer of the store was taken in (ok) or a try failed.
    void synced(bool ok);
    void requested(const skelvar::rcon::BanSyncRequest& request);

private:
    void watchList();
    void onRowsInserted(int first, int last);
    void onRowsAboutToBeRemoved(int first, int last);
    void onRowsMoved(int start, int end, int destination);
    void onDataChanged(int top, int bottom);
    void onWholeListChanged();
    void addOperations(const QList<lists::BanChange>& ops);
    void onSynced(const BanSyncReply& reply);
    void onFailed(const BanSyncReply& reply);
    QList<lists::Record> offlineAdditions(bool newLog) const;
    bool importAdditions(const QList<lists::Record>& candidates);
    void dropStored(const QStringList& stored);
    bool forgetStored(const QStringList& stored);
    lists::BanFold foldWithJournal(const lists::BanFold& base) const;
    void touch(const QList<lists::BanChange>& ops);
    void showFold();
    void showWholeFold(const QDate& day);
    void showTouched(const QDate& day);
    void saveJournal();
    void saveState();
    void saveFiles();
    void tell(const QString& title, const QString& text, Prompter::Icon icon);
    QDate today() const { return m_clock->today(); }

    RecordList& m_bans;
    SharedBansSetup m_setup;
    const Clock* m_clock;
    QThread m_thread;
    BanSyncWorker* m_worker = nullptr;  // lives in m_thread, deleted when it ends
    QTimer m_requestSoon;
    // What an answer changed goes to bans.shared and bans.journal a little
    // later, once for a burst of answers; the list shows it at once.
    QTimer m_saveSoon;
    bool m_stateDirty = false;
    bool m_journalDirty = false;
    QList<lists::Record> m_shadow;  // the list as last seen, row for row
    QList<lists::BanChange> m_journal;
    lists::SharedBansState m_state;
    lists::BanFold m_fold;  // the fold of the log up to m_state.seq
    // Addresses whose bans may differ between the list and the fold with the
    // journal; the list is compared with the whole fold only when
    // m_showAll is set (the first answer, a new log, bans run out) or the day
    // has changed since m_shownDay.
    QSet<QString> m_touched;
    bool m_showAll = true;
    QDate m_shownDay;
    QDate m_expiryDay;  // the day the fold last dropped what ran out
    Reach m_reach = Reach::Unknown;
    bool m_started = false;
    bool m_firstAnswer = true;  // no answer of the store taken in yet in this run
    bool m_applying = false;    // the list changes because of the store, not here
    bool m_journalFailTold = false;
    bool m_stateFailTold = false;
};

}  // namespace skelvar::rcon
