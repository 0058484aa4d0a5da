#include "SkelvarRcon/service/monitorcommandline.h"

#include "cli/commandline.h"
#include "lists/pgbanstore.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace skelvar::rcon {

namespace {

const char kDescription[] =
    "Rcon Skelvar 2.1 watches one Medal of Honor: Allied Assault or Spearhead game server over its UDP\n"
    "remote console: it claims the server (sv_skelvar), scans the players for cheats, private-slot misuse\n"
    "and reserved skins, patrols for bans, renames and high pings, and warns, kicks or bans offenders.\n"
    "\n"
    "Without options it opens its window. With --headless it needs no display: it starts monitoring at\n"
    "once and prints alerts, messages, status changes and a summary of every pass to standard error,\n"
    "each line after the local time. SIGTERM, SIGINT and SIGHUP release the server (sv_skelvar,\n"
    "nextmap and resetvalue are reset), save the settings and lists, and end the program; a second\n"
    "signal during that ends it at once.\n"
    "\n"
    "First start on a machine without a desktop: --init HOST:PORT reads the server's rcon password\n"
    "from one line of standard input (on a terminal it asks, without echo), writes rconskelvar.ini with\n"
    "that server and the default settings (an existing file keeps its other values) and exits without\n"
    "monitoring. Then start the monitor:\n"
    "  RconSkelvar --headless --init 203.0.113.7:12203\n"
    "  RconSkelvar --headless\n"
    "\n"
    "The web page: --web ADDRESS:PORT (or only PORT, on 127.0.0.1; or the line web = ADDRESS:PORT in\n"
    "rconskelvar.conf, the command line winning) serves a page and a JSON API with the monitor's state,\n"
    "players, lists and actions, in both modes, to the accounts of webaccounts.txt.\n"
    "--web-user NAME --role admin|viewer reads an account's password from one line of standard input\n"
    "and writes it, as a salted PBKDF2 key, to webaccounts.txt, then exits.\n"
    "\n"
    "The shared ban list: --bans-db postgresql://USER@HOST:PORT/DATABASE (or the line\n"
    "bans-db = postgresql://... in rconskelvar.conf; the command line wins) keeps the Bans list in a\n"
    "PostgreSQL database with other monitors. The password comes from ~/.pgpass or PGPASSWORD, never\n"
    "from the address. While the database cannot be reached the monitor goes on with its own list\n"
    "and hands over its changes once it is back. Without it the Bans list is bans.lst's alone.\n"
    "\n"
    "Files, in the working folder (or the folder of --config):\n"
    "  rconskelvar.ini                     settings\n"
    "  rconskelvar.conf                    optional settings, key = value lines, # comments (bans-db, web)\n"
    "  warnings.lst, kicks.lst, bans.lst   penalty records\n"
    "  skins.txt, reserved.txt             suspicious and reserved skins\n"
    "  activity.log                        remote-console traffic of the last pass\n"
    "  skelvar.log                         one line per alert\n"
    "  bans.journal, bans.shared           shared ban list: changes not yet stored, the list last read\n"
    "  webaccounts.txt                     the web page's accounts\n"
    "  webaudit.log                        one line per login and action through the web page\n"
    "\n"
    "Exit statuses:\n"
    "  0  normal stop (also after a stop signal)\n"
    "  1  any other failure (an unreadable settings file, a folder without write access, no display\n"
    "     for the window; --init: the settings file could not be written)\n"
    "  2  wrong rcon password, or a wrong command line (--init: a bad HOST:PORT or password)\n"
    "  3  the server is held by another monitor and --force was not given\n"
    "  4  the server is offline";

}  // namespace

std::optional<int> readMonitorCommandLine(const QStringList& arguments, MonitorCommandLine* line)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption headless(QStringLiteral("headless"),
                                      QStringLiteral("Run without a window or display, as a service."));
    const QCommandLineOption force(
        QStringLiteral("force"),
        QStringLiteral("Headless: take the server over when another monitor appears to hold it."));
    const QCommandLineOption config(QStringLiteral("config"),
                                    QStringLiteral("Keep and read the files in <dir> instead of the working folder."),
                                    QStringLiteral("dir"));
    const QCommandLineOption init(QStringLiteral("init"),
                                  QStringLiteral("Write rconskelvar.ini for the server at <host:port> (an IPv6 address "
                                                 "in brackets) with the rcon password read from standard input, then "
                                                 "exit."),
                                  QStringLiteral("host:port"));
    const QCommandLineOption webUser(QStringLiteral("web-user"),
                                     QStringLiteral("Add or replace the web page's account <name>, with the password "
                                                    "read from standard input, then exit."),
                                     QStringLiteral("name"));
    const QCommandLineOption webRole(QStringLiteral("role"),
                                     QStringLiteral("With --web-user: admin (acts) or viewer (only sees, addresses "
                                                    "masked)."),
                                     QStringLiteral("role"));
    const QCommandLineOption web(QStringLiteral("web"),
                                 QStringLiteral("Serve the web page on <address:port> (only a port: on 127.0.0.1)."),
                                 QStringLiteral("address:port"));
    const QCommandLineOption bansDb(QStringLiteral("bans-db"),
                                    QStringLiteral("Share the Bans list through the PostgreSQL database at <url> "
                                                   "(postgresql://user@host:port/database; the password from "
                                                   "~/.pgpass or PGPASSWORD). Wins over rconskelvar.conf's bans-db."),
                                    QStringLiteral("url"));
    parser.addOptions({headless, force, config, init, webUser, webRole, web, bansDb});
    if (const auto status = cli::readCommandLine(parser, arguments, QStringLiteral("RconSkelvar")))
        return status;
    line->headless = parser.isSet(headless);
    line->force = parser.isSet(force);
    if (parser.isSet(config))
        line->monitor.folder = parser.value(config);
    if (parser.isSet(init)) {
        ServerAddress server;
        QString error;
        if (!parseServerAddress(parser.value(init), &server, &error))
            return cli::usageError(parser, QStringLiteral("RconSkelvar"), error);
        line->init = server;
    }
    if (parser.isSet(webUser) || parser.isSet(webRole)) {
        const auto role = web::parseRole(parser.value(webRole));
        if (!parser.isSet(webUser) || !role)
            return cli::usageError(parser, QStringLiteral("RconSkelvar"),
                                   QStringLiteral("--web-user NAME goes with --role admin or --role viewer."));
        QString error;
        if (!web::Accounts::checkName(parser.value(webUser), &error))
            return cli::usageError(parser, QStringLiteral("RconSkelvar"), error);
        line->webUser = parser.value(webUser);
        line->webRole = *role;
    }
    if (parser.isSet(web)) {
        web::WebOptions options;
        QString error;
        if (!web::parseWebAddress(parser.value(web), &options.address, &options.port, &error))
            return cli::usageError(parser, QStringLiteral("RconSkelvar"), error);
        line->web = options;
    }
    if (parser.isSet(bansDb)) {
        const QString url = parser.value(bansDb);
        lists::BanDatabase database;
        QString error;
        if (!url.isEmpty() && !lists::parseBanDatabaseUrl(url, &database, &error))
            return cli::usageError(parser, QStringLiteral("RconSkelvar"), QStringLiteral("--bans-db ") + error);
        line->monitor.bansDatabase = url;
        line->bansDatabaseGiven = true;
    }
    return std::nullopt;
}

bool applyTestTiming(const QString& text, MonitorOptions* options, QString* error)
{
    for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList pair = item.split(QLatin1Char('='));
        bool ok = false;
        const int ms = pair.size() == 2 ? pair.at(1).trimmed().toInt(&ok) : 0;
        const QString key = pair.value(0).trimmed();
        if (!ok || ms < 1) {
            *error = QStringLiteral("%1: '%2' is not name=milliseconds").arg(QLatin1String(kTestTimingVariable), item);
            return false;
        }
        if (key == QLatin1String("reply"))
            options->replyWaitMs = ms;
        else if (key == QLatin1String("warmup"))
            options->timing.warmupMs = ms;
        else if (key == QLatin1String("follow"))
            options->timing.followMs = ms;
        else if (key == QLatin1String("tick"))
            options->timing.tickMs = ms;
        else if (key == QLatin1String("pace"))
            options->pacing.periodMs = ms;
        else {
            *error = QStringLiteral("%1: unknown name '%2'").arg(QLatin1String(kTestTimingVariable), key);
            return false;
        }
    }
    return true;
}

}  // namespace skelvar::rcon
