// The Bans model and its autosave at 100,000 records: filling and sorting the
// model, inserting at the sorted place, and the cost of the rewrite that every
// change of the list triggers.
#include "SkelvarRcon/store/liststore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

using skelvar::lists::Record;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    constexpr int count = 100000;
    QList<Record> records;
    records.reserve(count);
    for (int i = 0; i < count; ++i) {
        // Scattered addresses so the sort has work to do.
        const quint32 a = quint32(i) * 2654435761u;
        records.append(
            {QStringLiteral("%1.%2.%3.%4").arg(a >> 24).arg((a >> 16) & 255).arg((a >> 8) & 255).arg(a & 255),
             QStringLiteral("Player %1").arg(i), QStringLiteral("Cheat Detected"), QStringLiteral("2024-06-15"),
             i % 3 ? QString() : QStringLiteral("2030-01-01")});
    }

    QTemporaryDir dir;
    skelvar::rcon::ListStore store;
    store.setFolder(dir.path());
    store.load(QDate(2024, 6, 15));
    auto& bans = store.bans();

    QElapsedTimer t;
    t.start();
    bans.setRecords(records);
    std::printf("setRecords (sorted by IP) of %d bans: %lld ms\n", count, t.elapsed());

    t.restart();
    for (int i = 0; i < 1000; ++i)
        bans.add({QStringLiteral("10.%1.0.1").arg(i),
                  QStringLiteral("n"),
                  QStringLiteral("r"),
                  QStringLiteral("2024-06-15"),
                  {}});
    std::printf("1000 sorted inserts: %lld ms\n", t.elapsed());

    t.restart();
    bans.sort(1);
    std::printf("sort by Name: %lld ms\n", t.elapsed());

    t.restart();
    app.processEvents();  // the coalesced autosave of everything above
    std::printf("autosave write of %d bans: %lld ms\n", bans.size(), t.elapsed());

    t.restart();
    constexpr int rounds = 5;
    for (int i = 0; i < rounds; ++i) {
        bans.setIp(i, QStringLiteral("10.1.xxx.xxx"));
        app.processEvents();
    }
    std::printf("one change + rewrite, mean of %d: %lld ms\n", rounds, t.elapsed() / rounds);
    return 0;
}
