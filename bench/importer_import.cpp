// Times importing a bannedip.txt of 100,000 lines into an existing bans.lst.
#include "importer/importer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    constexpr int Count = 100000;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    QByteArray input;
    input.reserve(Count * 18);
    for (int i = 0; i < Count; ++i) {
        input += "  " + QByteArray::number(1 + i % 223) + '.' + QByteArray::number(i / 256 % 256) + '.' +
                 (i % 10 ? QByteArray::number(i % 256) + '.' + QByteArray::number(i % 7) : QByteArray("xxx.xxx")) +
                 " \r\n";
    }
    QByteArray existing;
    for (int i = 0; i < 1000; ++i)
        existing += "9.9.9." + QByteArray::number(i % 256) +
                    "\x02name\x02reason\x02"
                    "2024-01-01\x02\r\n";
    for (const auto& [name, bytes] : {std::pair{"bannedip.txt", input}, std::pair{"bans.lst", existing}}) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            return 1;
    }

    QElapsedTimer timer;
    timer.start();
    const skelvar::importer::ImportResult result = skelvar::importer::importBans(dir.path(), QDate(2024, 6, 15));
    const qint64 ms = timer.elapsed();
    if (!result.ok || result.appended != Count) {
        std::fprintf(stderr, "bench_importer: unexpected result (%d appended, %s)\n", result.appended,
                     qPrintable(result.error));
        return 1;
    }
    std::printf("bench_importer: %d lines imported after 1000 existing bans\n", Count);
    std::printf("import: %lld ms (target < 500 ms)\n", static_cast<long long>(ms));
    return 0;
}
