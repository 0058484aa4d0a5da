#pragma once
// The side of the shared ban list that waits on the network: a worker that
// lives in a thread of its own with its own store (a database connection is
// made, used and closed in that thread), so the monitor's window and passes
// never wait for it. It takes requests and answers by queued signals: each
// request hands over the operations still to store and the last change the
// monitor has seen, each answer brings what the store holds now. A store that
// cannot be reached is tried again after a pause that grows up to a bound.

#include "lists/banstore.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace skelvar::rcon {

struct BanSyncRequest {
    QString logId;                // the log the monitor has read from; empty: none yet
    qint64 seq = 0;               // the last change it has seen in that log
    QList<lists::BanChange> ops;  // its operations the store may not have yet
};

struct BanSyncReply {
    bool ok = false;
    QString error;         // why not, when not ok
    bool refused = false;  // the store will not be used; it is not tried again
    QString logId;
    qint64 fromSeq = 0;  // `changes` are every change above this number
    QList<lists::BanChange> changes;
    QStringList stored;  // the request's operations, all in the store now
};

class BanSyncWorker : public QObject {
    Q_OBJECT
public:
    static constexpr int kFirstRetryMs = 1000;
    static constexpr int kLastRetryMs = 30000;

    using StoreFactory = std::function<std::unique_ptr<lists::BanStore>()>;
    // The store is made by start(), in the worker's thread.
    explicit BanSyncWorker(StoreFactory makeStore, QObject* parent = nullptr);
    ~BanSyncWorker() override;

    void setRetryForTests(int firstMs, int lastMs);

public slots:
    void start();
    // The newest request replaces one still waiting; requests that arrive
    // together are answered once.
    void sync(const skelvar::rcon::BanSyncRequest& request);

signals:
    void synced(const skelvar::rcon::BanSyncReply& reply);
    // Another writer has changed the store: a request is worth making.
    void changesAnnounced();

private:
    void work();
    BanSyncReply exchange(const BanSyncRequest& request);

    StoreFactory m_makeStore;
    std::unique_ptr<lists::BanStore> m_store;
    std::optional<BanSyncRequest> m_waiting;
    // Children, so they move to the worker's thread with it.
    QTimer m_soon{this};   // gathers the requests of one turn of the event loop
    QTimer m_retry{this};  // the pause after a failure
    int m_firstRetryMs = kFirstRetryMs;
    int m_lastRetryMs = kLastRetryMs;
    int m_retryMs = 0;  // the next pause; 0 after a success
    bool m_refused = false;
};

}  // namespace skelvar::rcon

Q_DECLARE_METATYPE(skelvar::rcon::BanSyncRequest)
Q_DECLARE_METATYPE(skelvar::rcon::BanSyncReply)
