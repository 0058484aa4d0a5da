// The monitor's write of a 100,000-ban bans.lst after another program (Ostrel)
// appended 100 bans to it: the read under the lock, the merge into the Bans
// list and the write. Printed for the file alone, for the file after another
// monitor rewrote it with 100 more, and for the list store, whose Bans model
// also takes the new rows.
#include "SkelvarRcon/store/liststore.h"
#include "lists/listfile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

using skelvar::lists::ListKind;
using skelvar::lists::Record;

namespace {

constexpr int Count = 100000;
constexpr int Appended = 100;
const QDate Today(2024, 6, 15);

QList<Record> bans(int count, quint32 salt)
{
    QList<Record> records;
    records.reserve(count);
    for (int i = 0; i < count; ++i) {
        // Scattered addresses, so the new rows land all over the sorted list.
        const quint32 a = (quint32(i) + salt) * 2654435761u;
        records.append(
            {QStringLiteral("%1.%2.%3.%4").arg(a >> 24).arg((a >> 16) & 255).arg((a >> 8) & 255).arg(a & 255),
             QStringLiteral("Player %1").arg(i), QStringLiteral("Cheat Detected"), QStringLiteral("2024-06-15"),
             i % 3 ? QString() : QStringLiteral("2030-01-01")});
    }
    return records;
}

bool appendOthers(const QString& path, quint32 salt)
{
    QString error;
    if (skelvar::lists::appendRecords(path, bans(Appended, salt), ListKind::Bans, &error))
        return true;
    std::fprintf(stderr, "bench_store_merge: %s\n", qPrintable(error));
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bans.lst"));
    if (!skelvar::lists::saveRecords(path, bans(Count, 0), ListKind::Bans))
        return 1;

    {
        skelvar::lists::ListFile file(path, ListKind::Bans);
        QList<Record> held = file.load(Today).records;
        if (!appendOthers(path, 7777777))
            return 1;
        QElapsedTimer t;
        t.start();
        skelvar::lists::MergeResult merged;
        if (!file.lock(skelvar::lists::LockWaitMs) || !file.merge(held, Today, &merged))
            return 1;
        held += merged.added;
        const bool saved = file.save(held, Today);
        file.unlock();
        std::printf("file: read-merge-write of %d + %d bans: %lld ms (target < 150 ms)\n", Count, Appended,
                    t.elapsed());
        if (!saved || merged.added.size() != Appended)
            return 1;
    }

    {
        // Another monitor's write: the new lines are not at the end.
        skelvar::lists::ListFile mine(path, ListKind::Bans);
        skelvar::lists::ListFile theirs(path, ListKind::Bans);
        QList<Record> held = mine.load(Today).records;
        QList<Record> other = bans(Appended, 9999999) + theirs.load(Today).records;
        if (!theirs.save(other, Today))
            return 1;
        QElapsedTimer t;
        t.start();
        skelvar::lists::MergeResult merged;
        if (!mine.lock(skelvar::lists::LockWaitMs) || !mine.merge(held, Today, &merged))
            return 1;
        held += merged.added;
        const bool saved = mine.save(held, Today);
        mine.unlock();
        std::printf("file: the same after another monitor rewrote it: %lld ms\n", t.elapsed());
        if (!saved || merged.added.size() != Appended)
            return 1;
    }

    skelvar::rcon::ListStore store;
    store.setFolder(dir.path());
    store.load(Today);
    if (!appendOthers(path, 8888888))
        return 1;
    store.bans().add(
        {QStringLiteral("10.0.0.1"), QStringLiteral("n"), QStringLiteral("r"), QStringLiteral("2024-06-15"), {}});
    QElapsedTimer t;
    t.start();
    // The autosave of that change: the store merges the 100 and writes.
    app.processEvents();
    std::printf("store: read-merge-write with the Bans model, %lld bans: %lld ms (target < 150 ms)\n",
                static_cast<long long>(store.bans().size()), t.elapsed());
    return store.bans().size() == Count + 3 * Appended + 1 ? 0 : 1;
}
