// Build Mod with 100 messages, 100 scheduled commands and 100 map fixes:
// generation alone, then the whole build (script, package, clean-up).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "SkelvarMod/generator/buildmod.h"
#include "SkelvarMod/generator/scriptgenerator.h"

using namespace skelvar::mod;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    BuildInputs in;
    in.switches = {1, 1, 1, 1, 1, 1, 1};
    const char* types[] = {"Periodic", "Scheduled", "Per Map"};
    const char* priorities[] = {"Low", "Medium", "High"};
    for (int i = 0; i < 100; ++i) {
        const QString type = types[i % 3];
        QString trigger = type == "Periodic" ? QString("%1 minutes").arg(5 + i)
                          : type == "Scheduled"
                              ? QString("At %1:%2").arg(i % 24, 2, 10, QChar('0')).arg(i % 60, 2, 10, QChar('0'))
                              : QString("On dm/map%1").arg(i);
        in.messages.append(
            {type, trigger, priorities[i % 3], QString("Message number %1 for the players").arg(i), true});
        in.commands.append({QString("%1:%2").arg(i % 24).arg((i * 7) % 60), QString("say scheduled %1").arg(i), true});
        MapFixEntry f;
        f.map = QString("obj/obj_team%1").arg(i % 4);
        f.model = "static/indycrate.tik";
        f.origin = QString("%1 %2 %3").arg(i * 10).arg(-i * 5).arg(i);
        f.angle = QString::number(i % 360);
        f.visibility = i % 2 ? "show" : "hide";
        f.filename = QString("fix%1.dmf").arg(i);
        f.ticked = true;
        in.mapFixes.append(f);
    }
    in.compat.append({"Extra", "extra.scr", true});

    QTemporaryDir dir;
    {
        QFile t(dir.filePath(PrecacheTemplateName));
        if (!t.open(QIODevice::WriteOnly))
            return 1;
        t.write("main:\r\nexec global/skelvar.scr\r\nend\r\n");
    }

    const int runs = 20;
    std::vector<double> gen, build;
    qsizetype scriptSize = 0;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        t.start();
        scriptSize = GenerateScript(in).size();
        gen.push_back(t.nsecsElapsed() / 1e6);
        t.restart();
        const BuildResult res = BuildMod(in, {dir.path(), {}});
        build.push_back(t.nsecsElapsed() / 1e6);
        if (!res.ok) {
            std::printf("build failed: %s\n", qPrintable(res.message));
            return 1;
        }
    }
    std::sort(gen.begin(), gen.end());
    std::sort(build.begin(), build.end());
    const qint64 archiveSize = QFileInfo(dir.filePath(OutputFolderName + "/" + ArchiveName)).size();
    std::printf("bench_mod: 100 messages, 100 commands, 100 map fixes, %d runs\n", runs);
    std::printf("  generate script : median %.2f ms, max %.2f ms (%lld bytes)\n", gen[runs / 2], gen.back(),
                (long long)scriptSize);
    std::printf("  generate + pack : median %.2f ms, max %.2f ms (target < 200 ms)\n", build[runs / 2], build.back());
    std::printf("  archive size    : %lld bytes\n", (long long)archiveSize);
    return 0;
}
