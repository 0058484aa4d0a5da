#include "cli/commandline.h"
#include "importer/importer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QTextStream>

#include <cstdio>

namespace {

const char kDescription[] =
    "Ostrel appends the addresses of Autokick's bannedip.txt to Rcon Skelvar's bans.lst as permanent\n"
    "bans. Run it while the monitor is not running.\n"
    "\n"
    "Files, in the folder that holds the program:\n"
    "  bannedip.txt   one address or address pattern (1.2.3.xxx) per line, read\n"
    "  bans.lst       the monitor's ban list, appended to\n"
    "\n"
    "Exit statuses:\n"
    "  0  done (also for an empty bannedip.txt)\n"
    "  1  bannedip.txt is missing or cannot be read\n"
    "  2  bans.lst could not be written or its lock could not be had, or a wrong command line\n"
    "  3  bannedip.txt has lines but no address";

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    if (const auto status = skelvar::cli::readCommandLine(parser, app.arguments(), QStringLiteral("Ostrel")))
        return *status;
    QTextStream out(stdout);
    QTextStream err(stderr);
    out.setEncoding(QStringConverter::Latin1);
    // Both files live beside the program, not in the working folder.
    return skelvar::importer::runImport(QCoreApplication::applicationDirPath(), QDate::currentDate(), out, err);
}
