#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTimer>

#include <cstdio>

#include "SkelvarMod/project/builderproject.h"
#include "SkelvarMod/window/builderwindow.h"
#include "cli/commandline.h"
#include "cli/display.h"

namespace {

using namespace skelvar::mod;

const char kDescription[] =
    "Mod Skelvar 2.1 builds the server-side script package that works with Rcon Skelvar: it generates\n"
    "global/skelvar.scr from the switches, messages, scheduled commands and map fixes, and packs it with\n"
    "global/DMprecache.scr into \"Generated Mod/zzzzz-skelvar.pk3\".\n"
    "\n"
    "Without options it opens its window. With --build it builds from the files without a window (the\n"
    "same checks, messages on standard error, the output folder not opened).\n"
    "\n"
    "Files, in the folder that holds the program:\n"
    "  modskelvar.ini                 the switches\n"
    "  skelvar.dcf                    additional scripts\n"
    "  *.dmf                          one map fix each\n"
    "  messages.cfg, commands.cfg     messages and scheduled commands\n"
    "  skelvar.precache               the precache template\n"
    "  Generated Mod/                 the archive\n"
    "\n"
    "Exit statuses:\n"
    "  0  done (--build: the archive was written)\n"
    "  1  --build: the build was refused or failed; without it: no display for the window\n"
    "  2  a wrong command line";

void say(const QString& text)
{
    std::fprintf(stderr, "ModSkelvar: %s\n", text.toLocal8Bit().constData());
}

// Without a window the operator reads the messages on standard error; there
// is no one to answer a question.
class StandardError : public skelvar::Prompter {
public:
    bool askYesNo(const QString&, const QString& text, Icon, bool) override
    {
        say(text);
        return false;
    }
    void message(const QString&, const QString& text, Icon) override { say(text); }
};

int buildWithoutWindow(const QString& folder)
{
    StandardError prompter;
    BuilderProject project(folder, prompter);
    project.load();
    for (const QString& e : project.loadErrors())
        say(e);
    const BuildResult r = project.build(nullptr);
    if (r.archivePath.isEmpty())
        return 1;
    say(QStringLiteral("Wrote %1").arg(QDir::toNativeSeparators(r.archivePath)));
    return 0;
}

int runWindow(int argc, char** argv)
{
    QApplication app(argc, argv);
    // Every file of the builder lives beside the program.
    BuilderWindow window(QCoreApplication::applicationDirPath());
    window.show();
    QTimer::singleShot(0, &window, [&window] { window.tellLoadErrors(); });
    return app.exec();
}

}  // namespace

int main(int argc, char** argv)
{
    {
        // --help and --build need no display; the window's application comes after.
        QCoreApplication app(argc, argv);
        QCommandLineParser parser;
        parser.setApplicationDescription(QString::fromLatin1(kDescription));
        const QCommandLineOption build(QStringLiteral("build"),
                                       QStringLiteral("Build the mod from the files without a window, then exit."));
        parser.addOption(build);
        if (const auto status = skelvar::cli::readCommandLine(parser, app.arguments(), QStringLiteral("ModSkelvar")))
            return *status;
        if (parser.isSet(build))
            return buildWithoutWindow(QCoreApplication::applicationDirPath());
        if (const auto status =
                skelvar::cli::refuseWindowWithoutDisplay(QStringLiteral("ModSkelvar"), QStringLiteral("--build"),
                                                         QStringLiteral("build the mod without a window")))
            return *status;
    }
    return runWindow(argc, argv);
}
