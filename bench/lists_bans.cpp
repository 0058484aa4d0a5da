// Times loading and saving a bans.lst of 100,000 records and prints the peak memory.
#include "lists/records.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

using namespace skelvar::lists;

namespace {

QByteArray peakMemory()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return "unknown";
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed();
    }
    return "unknown";
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    constexpr int Count = 100000;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QString path = dir.filePath(QStringLiteral("bans.lst"));
    const QDate today(2024, 6, 15);

    QByteArray data;
    data.reserve(Count * 80);
    for (int i = 0; i < Count; ++i) {
        data += QByteArray::number(10 + i % 200) + '.' + QByteArray::number(i / 256 % 256) + '.' +
                QByteArray::number(i % 256) + ".xxx\x02Player name " + QByteArray::number(i) +
                "\x02"
                "Cheat: wallhack detected\x02"
                "2024-06-01\x02" +
                (i % 2 ? QByteArray("2025-01-01") : QByteArray()) + "\r\n";
    }
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
            return 1;
    }

    QElapsedTimer timer;
    timer.start();
    const LoadResult loaded = loadRecords(path, ListKind::Bans, today);
    const qint64 loadMs = timer.elapsed();

    timer.restart();
    QString error;
    const bool saved = saveRecords(path, loaded.records, ListKind::Bans, &error);
    const qint64 saveMs = timer.elapsed();

    if (loaded.records.size() != Count || !saved) {
        std::fprintf(stderr, "bench_lists: unexpected result (%lld records, %s)\n",
                     static_cast<long long>(loaded.records.size()), qPrintable(error));
        return 1;
    }
    std::printf("bench_lists: %d records, %lld bytes\n", Count, static_cast<long long>(data.size()));
    std::printf("load: %lld ms (target < 300 ms)\n", static_cast<long long>(loadMs));
    std::printf("save: %lld ms (target < 300 ms)\n", static_cast<long long>(saveMs));
    std::printf("peak memory (VmHWM): %s\n", peakMemory().constData());
    return 0;
}
