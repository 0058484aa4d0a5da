#pragma once
// What every BanStore does the same way, as checks a test runs on two stores
// that share one log (two handles on one bans file, two connections to one
// database): what one pushes the other reads, a repeated operation is taken
// once, a removal is read as one, reading goes on from a sequence number, and
// hostile text comes back as bans.lst would give it back.

#include "lists/banstore.h"
#include "lists/records.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QTest>

#include <algorithm>

namespace skelvar::lists {
// Readable failure output for QCOMPARE on records.
inline char* toString(const Record& r)
{
    return QTest::toString(QStringLiteral("{%1|%2|%3|%4|%5}").arg(r.ip, r.name, r.reason, r.date, r.until));
}
}  // namespace skelvar::lists

namespace skelvar::test {

using lists::BanChange;
using lists::BanStore;
using lists::Record;

// A running ban made on 2024-06-15 (tests that fold pass a day before its end).
inline Record sharedBan(const QString& ip, const QString& name = QStringLiteral("n"),
                        const QString& until = QStringLiteral("2099-01-01"))
{
    return {ip, name, QStringLiteral("r"), QStringLiteral("2024-06-15"), until};
}

inline QList<Record> sortedBans(QList<Record> bans)
{
    std::sort(bans.begin(), bans.end(), [](const Record& a, const Record& b) {
        return lists::recordLine(a, lists::ListKind::Bans) < lists::recordLine(b, lists::ListKind::Bans);
    });
    return bans;
}

inline QList<BanChange> readAll(BanStore& store, qint64 since = 0)
{
    QList<BanChange> changes;
    QString error;
    if (!store.changesSince(since, &changes, &error))
        qWarning("changesSince failed: %s", qPrintable(error));
    return changes;
}

inline QList<Record> foldOf(BanStore& store, const QDate& today)
{
    return sortedBans(lists::foldBanChanges(readAll(store), today));
}

inline qint64 lastSeq(const QList<BanChange>& changes)
{
    return changes.isEmpty() ? 0 : changes.last().seq;
}

// `a` and `b` see one log, empty at the start. `sharedOps`: both handles
// read the same operation ids and sequence numbers, so an operation pushed
// again through the other handle is taken once too (a database; a file
// store numbers what it reads itself and keeps ids only in its own memory).
inline void checkBanStoreContract(BanStore& a, BanStore& b, bool sharedOps)
{
    const QDate today(2024, 6, 15);
    QString error;
    QVERIFY2(a.open(&error), qPrintable(error));
    QVERIFY2(b.open(&error), qPrintable(error));
    QVERIFY(a.isReachable());
    QCOMPARE(a.logId().isEmpty(), false);
    QVERIFY(readAll(a).isEmpty());

    const BanChange first = lists::newBanOperation(BanChange::Kind::Add, sharedBan("10.0.0.1"));
    QVERIFY2(a.push({first}, &error), qPrintable(error));
    QList<BanChange> seen = readAll(b);
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].kind, BanChange::Kind::Add);
    QCOMPARE(seen[0].record, first.record);
    QVERIFY(seen[0].seq > 0);
    if (sharedOps)
        QCOMPARE(seen[0].op, first.op);
    const qint64 aAfterFirst = lastSeq(readAll(a));
    QVERIFY(aAfterFirst > 0);

    // The same operation again, alone and in a batch with a new one.
    // No end: an empty Until, which must not turn into a missing one.
    const BanChange second = lists::newBanOperation(BanChange::Kind::Add, sharedBan("10.0.0.2", "n", QString()));
    QVERIFY2(a.push({first}, &error), qPrintable(error));
    QVERIFY2(a.push({first, second}, &error), qPrintable(error));
    if (sharedOps)
        QVERIFY2(b.push({second, first}, &error), qPrintable(error));
    seen = readAll(a, aAfterFirst);
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].op, second.op);
    QVERIFY(seen[0].seq > aAfterFirst);
    QCOMPARE(foldOf(b, today), QList<Record>({sharedBan("10.0.0.1"), sharedBan("10.0.0.2", "n", QString())}));
    const qint64 aAfterSecond = seen[0].seq;

    // A removal through the other handle, and text a list line cannot hold.
    const Record hostile{"10.0.0.3", "a;b'c\"d\x02x\r\ny\\", "DROP TABLE x; --", "2024-06-15",
                         QStringLiteral("2099-01-01")};
    const BanChange removal = lists::newBanOperation(BanChange::Kind::Remove, sharedBan("10.0.0.1"));
    const BanChange odd = lists::newBanOperation(BanChange::Kind::Add, hostile);
    QVERIFY2(b.push({removal, odd}, &error), qPrintable(error));
    seen = readAll(a, aAfterSecond);
    QCOMPARE(seen.size(), 2);
    QVERIFY(aAfterSecond < seen[0].seq && seen[0].seq < seen[1].seq);
    QCOMPARE(seen[0].kind, BanChange::Kind::Remove);
    QCOMPARE(seen[0].record, sharedBan("10.0.0.1"));
    QCOMPARE(seen[1].kind, BanChange::Kind::Add);
    QCOMPARE(seen[1].record, lists::normalizedBan(hostile));
    QCOMPARE(seen[1].record.name, QStringLiteral("a;b'c\"dxy\\"));
    if (sharedOps)
        QCOMPARE(seen[1].op, odd.op);
    QCOMPARE(foldOf(a, today), sortedBans({sharedBan("10.0.0.2", "n", QString()), lists::normalizedBan(hostile)}));

    // Every operation once in each handle's log.
    for (BanStore* store : {&a, &b}) {
        QSet<QString> ops;
        const QList<BanChange> log = readAll(*store);
        for (const BanChange& c : log)
            ops.insert(c.op);
        QCOMPARE(ops.size(), log.size());
    }
}

}  // namespace skelvar::test
