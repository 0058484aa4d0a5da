#include "SkelvarRcon/store/bansync.h"

#include <algorithm>

namespace skelvar::rcon {

BanSyncWorker::BanSyncWorker(StoreFactory makeStore, QObject* parent)
    : QObject(parent), m_makeStore(std::move(makeStore))
{
    m_soon.setSingleShot(true);
    m_soon.setInterval(0);
    connect(&m_soon, &QTimer::timeout, this, &BanSyncWorker::work);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &BanSyncWorker::work);
}

BanSyncWorker::~BanSyncWorker() = default;

void BanSyncWorker::setRetryForTests(int firstMs, int lastMs)
{
    m_firstRetryMs = firstMs;
    m_lastRetryMs = lastMs;
}

void BanSyncWorker::start()
{
    m_store = m_makeStore();
    m_store->watchChanges([this] { emit changesAnnounced(); });
}

void BanSyncWorker::sync(const BanSyncRequest& request)
{
    m_waiting = request;
    // After a failure the pause runs out first.
    if (!m_retry.isActive())
        m_soon.start();
}

void BanSyncWorker::work()
{
    if (!m_waiting || !m_store || m_refused)
        return;
    const BanSyncReply reply = exchange(*m_waiting);
    if (reply.ok) {
        m_waiting.reset();
        m_retryMs = 0;
    } else if (reply.refused) {
        m_refused = true;
        m_waiting.reset();
    } else {
        // The request stays, so the next try also tells when the store is back.
        m_retryMs = m_retryMs == 0 ? m_firstRetryMs : std::min(m_retryMs * 2, m_lastRetryMs);
        m_retry.start(m_retryMs);
    }
    emit synced(reply);
}

// Pushes first, then reads: the operations just stored come back with the
// changes, so the monitor's fold holds them when it drops them from its journal.
BanSyncReply BanSyncWorker::exchange(const BanSyncRequest& request)
{
    BanSyncReply reply;
    const bool pushed = m_store->open(&reply.error) && m_store->push(request.ops, &reply.error);
    if (pushed) {
        reply.logId = m_store->logId();
        reply.fromSeq = reply.logId == request.logId ? request.seq : 0;
        reply.ok = m_store->changesSince(reply.fromSeq, &reply.changes, &reply.error);
    }
    if (!reply.ok) {
        reply.refused = !m_store->refusal().isEmpty();
        reply.changes.clear();
        return reply;
    }
    reply.error.clear();
    for (const lists::BanChange& op : request.ops)
        reply.stored.append(op.op);
    return reply;
}

}  // namespace skelvar::rcon
