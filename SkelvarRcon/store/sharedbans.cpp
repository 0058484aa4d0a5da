#include "SkelvarRcon/store/sharedbans.h"

#include <QDir>
#include <QSet>

namespace skelvar::rcon {

using lists::BanChange;
using lists::Record;

namespace {

const QString kUnreachable = QStringLiteral("Shared ban list unreachable");
const QString kReachable = QStringLiteral("Shared ban list reachable again");
const QString kRefused = QStringLiteral("Shared ban list refused");
const QString kDamaged = QStringLiteral("Shared ban list files damaged");
const QString kNotSaved = QStringLiteral("Shared ban list files not saved");

}  // namespace

SharedBans::SharedBans(RecordList& bans, SharedBansSetup setup, QObject* parent)
    : QObject(parent), m_bans(bans), m_setup(std::move(setup)),
      m_clock(m_setup.clock ? m_setup.clock : &Clock::system())
{
    m_requestSoon.setSingleShot(true);
    m_requestSoon.setInterval(0);
    connect(&m_requestSoon, &QTimer::timeout, this, [this] {
        emit requested({m_state.logId, m_state.seq, m_journal});
    });
    m_saveSoon.setSingleShot(true);
    m_saveSoon.setInterval(kSaveDelayMs);
    connect(&m_saveSoon, &QTimer::timeout, this, &SharedBans::saveFiles);
    m_worker = new BanSyncWorker(m_setup.makeStore);
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(this, &SharedBans::requested, m_worker, &BanSyncWorker::sync);
    connect(m_worker, &BanSyncWorker::synced, this, &SharedBans::onSynced);
    connect(m_worker, &BanSyncWorker::changesAnnounced, this, &SharedBans::syncNow);
}

SharedBans::~SharedBans()
{
    saveFiles();
    m_thread.quit();
    m_thread.wait();
    if (!m_thread.isRunning() && !m_started)
        delete m_worker;  // never moved into a running thread, so never deleted by it
}

QString SharedBans::journalPath() const
{
    return QDir(m_setup.folder).filePath(QString::fromLatin1(lists::JournalFileName));
}

QString SharedBans::statePath() const
{
    return QDir(m_setup.folder).filePath(QString::fromLatin1(lists::SharedStateFileName));
}

void SharedBans::setRetryForTests(int firstMs, int lastMs)
{
    QMetaObject::invokeMethod(m_worker, [w = m_worker, firstMs, lastMs] { w->setRetryForTests(firstMs, lastMs); });
}

void SharedBans::tell(const QString& title, const QString& text, Prompter::Icon icon)
{
    if (m_setup.prompter)
        m_setup.prompter->message(title, text, icon);
}

void SharedBans::start()
{
    if (m_started)
        return;
    m_started = true;
    const lists::JournalLoad journal = lists::loadBanJournal(journalPath());
    m_journal = journal.ops;
    QString error;
    const lists::StateStatus state = lists::loadSharedBansState(statePath(), &m_state, &error);
    QStringList damaged;
    if (journal.status == lists::ReadStatus::Failed)
        damaged << tr("%1 could not be read: %2").arg(lists::JournalFileName, journal.error);
    else if (journal.damaged > 0)
        damaged << tr("%1: %2 damaged lines were skipped; the bans and removals they held are lost.")
                       .arg(lists::JournalFileName)
                       .arg(journal.damaged);
    if (state == lists::StateStatus::Damaged)
        damaged << tr("%1 was not usable (%2); the whole shared list is read again, and bans.lst's bans that it does "
                      "not hold are added to it.")
                       .arg(lists::SharedStateFileName, error);
    m_fold.assign(m_state.bans);
    // The store had these when the state was written; the journal may not
    // have been written after it.
    dropStored(m_state.confirmed);
    m_shadow = m_bans.records();
    watchList();
    m_thread.start();
    QMetaObject::invokeMethod(m_worker, &BanSyncWorker::start);
    syncNow();
    if (!damaged.isEmpty())
        tell(kDamaged, damaged.join(QLatin1Char('\n')), Prompter::Icon::Warning);
}

void SharedBans::syncNow()
{
    if (m_started && m_reach != Reach::Refused)
        m_requestSoon.start();
}

void SharedBans::watchList()
{
    connect(&m_bans, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { onRowsInserted(first, last); });
    connect(&m_bans, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) { onRowsAboutToBeRemoved(first, last); });
    connect(
        &m_bans, &QAbstractItemModel::rowsMoved, this,
        [this](const QModelIndex&, int start, int end, const QModelIndex&, int row) { onRowsMoved(start, end, row); });
    connect(&m_bans, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                onDataChanged(topLeft.row(), bottomRight.row());
            });
    connect(&m_bans, &QAbstractItemModel::modelReset, this, &SharedBans::onWholeListChanged);
    connect(&m_bans, &QAbstractItemModel::layoutChanged, this, &SharedBans::onWholeListChanged);
}

void SharedBans::onRowsInserted(int first, int last)
{
    if (m_applying)
        return;
    QList<BanChange> ops;
    for (int row = first; row <= last; ++row) {
        m_shadow.insert(row, m_bans.at(row));
        ops.append(lists::newBanOperation(BanChange::Kind::Add, m_bans.at(row)));
    }
    addOperations(ops);
}

void SharedBans::onRowsAboutToBeRemoved(int first, int last)
{
    if (m_applying)
        return;
    QList<BanChange> ops;
    // The rows are still in the list until the removal ends.
    for (int row = first; row <= last; ++row)
        ops.append(lists::newBanOperation(BanChange::Kind::Remove, m_bans.at(row)));
    if (last >= m_shadow.size())
        m_shadow = m_bans.records();
    m_shadow.remove(first, last - first + 1);
    addOperations(ops);
}

void SharedBans::onRowsMoved(int start, int end, int destination)
{
    if (m_applying)
        return;
    const QList<Record> moved = m_shadow.mid(start, end - start + 1);
    m_shadow.remove(start, moved.size());
    const int to = destination > end ? destination - int(moved.size()) : destination;
    for (qsizetype i = 0; i < moved.size(); ++i)
        m_shadow.insert(to + i, moved[i]);
}

// A record edited in place (a ban widened to a pattern): the old ban goes,
// the new one comes.
void SharedBans::onDataChanged(int top, int bottom)
{
    if (m_applying)
        return;
    QList<BanChange> ops;
    for (int row = top; row <= bottom && row < m_bans.size() && row < m_shadow.size(); ++row) {
        const Record& now = m_bans.at(row);
        if (m_shadow.at(row) == now)
            continue;
        ops.append(lists::newBanOperation(BanChange::Kind::Remove, m_shadow.at(row)));
        ops.append(lists::newBanOperation(BanChange::Kind::Add, now));
        m_shadow[row] = now;
    }
    addOperations(ops);
}

void SharedBans::onWholeListChanged()
{
    if (m_applying)
        return;
    const QList<Record> now = m_bans.records();
    QList<BanChange> ops;
    for (const Record& r : lists::recordsMissingFrom(m_shadow, now))
        ops.append(lists::newBanOperation(BanChange::Kind::Remove, r));
    for (const Record& r : lists::recordsMissingFrom(now, m_shadow))
        ops.append(lists::newBanOperation(BanChange::Kind::Add, r));
    m_shadow = now;
    addOperations(ops);
}

void SharedBans::addOperations(const QList<BanChange>& ops)
{
    if (ops.isEmpty())
        return;
    touch(ops);
    m_journal += ops;
    // At once: a ban given here must survive a restart before the store has it.
    m_journalDirty = false;
    saveJournal();
    syncNow();
}

void SharedBans::saveJournal()
{
    QString error;
    if (lists::saveBanJournal(journalPath(), m_journal, &error)) {
        m_journalFailTold = false;
        return;
    }
    if (m_journalFailTold)
        return;
    m_journalFailTold = true;
    tell(kNotSaved,
         tr("%1\nBans added or removed here reach the other monitors while this one runs, but a restart before "
            "then would lose them.")
             .arg(error),
         Prompter::Icon::Critical);
}

// The state first: a journal written before it could lose operations the
// state does not hold yet.
void SharedBans::saveFiles()
{
    m_saveSoon.stop();
    if (m_stateDirty) {
        m_stateDirty = false;
        m_state.bans = m_fold.allRecords();
        saveState();
    }
    if (m_journalDirty) {
        m_journalDirty = false;
        saveJournal();
    }
}

void SharedBans::saveState()
{
    QString error;
    if (lists::saveSharedBansState(statePath(), m_state, &error)) {
        m_stateFailTold = false;
        return;
    }
    if (m_stateFailTold)
        return;
    m_stateFailTold = true;
    tell(kNotSaved, tr("%1\nThe shared list is read again from its start at the next start-up.").arg(error),
         Prompter::Icon::Warning);
}

void SharedBans::dropStored(const QStringList& stored)
{
    if (forgetStored(stored))
        saveJournal();
}

// Takes the stored operations out of the journal in memory; true when some were.
bool SharedBans::forgetStored(const QStringList& stored)
{
    if (stored.isEmpty())
        return false;
    const QSet<QString> ids(stored.cbegin(), stored.cend());
    const qsizetype dropped = m_journal.removeIf([&](const BanChange& op) {
        if (!ids.contains(op.op))
            return false;
        m_touched.insert(op.record.ip);
        return true;
    });
    return dropped > 0;
}

void SharedBans::touch(const QList<BanChange>& ops)
{
    for (const BanChange& op : ops)
        m_touched.insert(op.record.ip);
}

lists::BanFold SharedBans::foldWithJournal(const lists::BanFold& base) const
{
    lists::BanFold fold = base;
    fold.apply(m_journal, today());
    return fold;
}

// The bans the list holds that neither the log as last read (none for a log
// not read before) nor the journal explain.
QList<Record> SharedBans::offlineAdditions(bool newLog) const
{
    const lists::BanFold expected = foldWithJournal(newLog ? lists::BanFold() : m_fold);
    QList<Record> shown;
    for (const Record& r : m_bans.records())
        shown.append(lists::normalizedBan(r));
    return lists::recordsMissingFrom(shown, expected.allRecords());
}

// Adds the journal's operations for them in memory; true when there are any.
bool SharedBans::importAdditions(const QList<Record>& candidates)
{
    // Most answers bring none: no copy of the fold for them.
    if (candidates.isEmpty())
        return false;
    lists::BanFold expected = foldWithJournal(m_fold);
    QList<BanChange> ops;
    for (const Record& r : candidates) {
        const BanChange op = lists::newBanOperation(BanChange::Kind::Add, r);
        // Skipped unless it would show: running, and not covered.
        if (expected.apply(op, today()))
            ops.append(op);
    }
    if (ops.isEmpty())
        return false;
    touch(ops);
    m_journal += ops;
    return true;
}

void SharedBans::onSynced(const BanSyncReply& reply)
{
    if (!reply.ok) {
        onFailed(reply);
        return;
    }
    const bool wasUnreachable = m_reach == Reach::Unreachable;
    m_reach = Reach::Reachable;
    const bool newLog = reply.logId != m_state.logId;
    QList<Record> candidates;
    if (m_firstAnswer || newLog)
        candidates = offlineAdditions(newLog);
    m_firstAnswer = false;
    if (newLog) {
        m_fold.clear();
        m_state = {};
        m_state.logId = reply.logId;
        m_showAll = true;
    }
    const QDate day = today();
    const qint64 seqBefore = m_state.seq;
    for (const BanChange& change : reply.changes) {
        if (change.seq <= m_state.seq)
            continue;  // an answer to an earlier request brought it already
        m_fold.apply(change, day);
        m_touched.insert(change.record.ip);
        m_state.seq = change.seq;
    }
    // An Add never brings a ban that has run out, so the whole fold needs a
    // look only once a day (and after the state file gave it).
    bool expired = false;
    if (m_expiryDay != day) {
        expired = m_fold.dropExpired(day) > 0;
        m_expiryDay = day;
        m_showAll = m_showAll || expired;
    }
    // One after the other, both run: each changes the journal.
    const bool forgot = forgetStored(reply.stored);
    const bool imported = importAdditions(candidates);
    const bool journalChanged = forgot || imported;
    // The list first, so a ban from another monitor is enforced without
    // waiting for the files.
    showFold();
    // Most answers of a patrol pass bring nothing: the state stays as written.
    if (newLog || expired || m_state.seq != seqBefore || m_state.confirmed != reply.stored) {
        m_state.confirmed = reply.stored;
        m_stateDirty = true;
    }
    m_journalDirty = m_journalDirty || journalChanged;
    if (m_stateDirty || m_journalDirty)
        m_saveSoon.start();
    if (!m_journal.isEmpty())
        syncNow();
    emit synced(true);
    if (wasUnreachable)
        tell(kReachable,
             tr("The shared ban list is reachable again; this monitor's bans and removals made meanwhile "
                "are handed to it."),
             Prompter::Icon::Information);
}

void SharedBans::onFailed(const BanSyncReply& reply)
{
    const Reach before = m_reach;
    if (reply.refused) {
        m_reach = Reach::Refused;
        emit synced(false);
        if (before != Reach::Refused)
            tell(kRefused, reply.error + tr("\nThis monitor keeps its own ban list."), Prompter::Icon::Critical);
        return;
    }
    m_reach = Reach::Unreachable;
    emit synced(false);
    if (before != Reach::Unreachable)
        tell(kUnreachable,
             tr("%1\nThis monitor keeps enforcing its own ban list and keeps its new bans and removals until the "
                "shared list is back.")
                 .arg(reply.error),
             Prompter::Icon::Warning);
}

// The list becomes the fold with the journal on top, by a merge, so only
// what differs moves and ListStore writes it like another writer's change.
void SharedBans::showFold()
{
    const QDate day = today();
    if (m_showAll || day != m_shownDay)
        showWholeFold(day);
    else
        showTouched(day);
    m_showAll = false;
    m_touched.clear();
    m_shownDay = day;
    m_shadow = m_bans.records();
}

void SharedBans::showWholeFold(const QDate& day)
{
    const QList<Record> wanted = foldWithJournal(m_fold).records(day);
    const lists::ListDifference diff = lists::listDifference(m_bans.records(), wanted);
    if (diff.isEmpty())
        return;
    m_applying = true;
    m_bans.merge(diff.removedRows, diff.added);
    m_applying = false;
}

// Only the addresses that changed: the rest of a list of 100,000 bans is
// neither copied nor compared.
void SharedBans::showTouched(const QDate& day)
{
    if (m_touched.isEmpty())
        return;
    lists::BanFold part = m_fold.restrictedTo(m_touched);
    for (const BanChange& op : std::as_const(m_journal)) {
        if (m_touched.contains(op.record.ip))
            part.apply(op, day);
    }
    QList<int> rows;
    QList<Record> shown;
    for (int row = 0; row < m_bans.size(); ++row) {
        if (m_touched.contains(m_bans.at(row).ip)) {
            rows.append(row);
            shown.append(m_bans.at(row));
        }
    }
    lists::ListDifference diff = lists::listDifference(shown, part.records(day));
    if (diff.isEmpty())
        return;
    for (int& row : diff.removedRows)
        row = rows.at(row);
    m_applying = true;
    m_bans.merge(diff.removedRows, diff.added);
    m_applying = false;
}

}  // namespace skelvar::rcon
