#include "cli/commandline.h"
#include "importer/importer.h"
#include "lists/pgbanstore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QTextStream>

#include <cstdio>
#include <memory>

namespace {

const char kDescription[] =
    "Ostrel appends the addresses of Autokick's bannedip.txt to Rcon Skelvar's bans.lst as permanent\n"
    "bans. It may run while the monitor runs.\n"
    "\n"
    "With --bans-db postgresql://USER@HOST:PORT/DATABASE it imports them into the shared ban list\n"
    "the monitors keep in that PostgreSQL database instead (the password from ~/.pgpass or\n"
    "PGPASSWORD), in one step: all or none. An address the shared list already bans for good is left\n"
    "out. bans.lst is not touched; the monitors take the bans from the database.\n"
    "\n"
    "Files, in the folder that holds the program:\n"
    "  bannedip.txt   one address or address pattern (1.2.3.xxx) per line, read\n"
    "  bans.lst       the monitor's ban list, appended to (not with --bans-db)\n"
    "\n"
    "Exit statuses:\n"
    "  0  done (also for an empty bannedip.txt)\n"
    "  1  bannedip.txt is missing or cannot be read\n"
    "  2  bans.lst could not be written or its lock could not be had, or a wrong command line\n"
    "  3  bannedip.txt has lines but no address\n"
    "  4  --bans-db: the database could not be reached or refused the import";

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption bansDb(QStringLiteral("bans-db"),
                                    QStringLiteral("Import into the shared ban list in the PostgreSQL database at "
                                                   "<url> (postgresql://user@host:port/database) instead of "
                                                   "bans.lst."),
                                    QStringLiteral("url"));
    parser.addOption(bansDb);
    if (const auto status = skelvar::cli::readCommandLine(parser, app.arguments(), QStringLiteral("Ostrel")))
        return *status;
    std::unique_ptr<skelvar::lists::PgBanStore> store;
    if (parser.isSet(bansDb)) {
        skelvar::lists::BanDatabase database;
        QString error;
        if (!skelvar::lists::parseBanDatabaseUrl(parser.value(bansDb), &database, &error))
            return skelvar::cli::usageError(parser, QStringLiteral("Ostrel"), QStringLiteral("--bans-db ") + error);
        store = std::make_unique<skelvar::lists::PgBanStore>(database);
    }
    QTextStream out(stdout);
    QTextStream err(stderr);
    out.setEncoding(QStringConverter::Latin1);
    // Both files live beside the program, not in the working folder.
    return skelvar::importer::runImport(QCoreApplication::applicationDirPath(), QDate::currentDate(), out, err,
                                        store.get());
}
