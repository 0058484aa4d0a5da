#pragma once
// RconSkelvar's command line: the window by default, --headless for a
// service, --force to take over a held server without asking, --config DIR
// to work in DIR. And the test hook that shortens the waits, which main reads
// from the environment so that it stays out of --help.
// --init HOST:PORT writes the settings for a first start without a window.
// --web-user NAME --role admin|viewer adds an account of the web page;
// --web ADDRESS:PORT serves the web page, in both modes.
// --bans-db URL shares the Bans list through a PostgreSQL database.

#include "SkelvarRcon/app/monitor.h"
#include "SkelvarRcon/service/initsettings.h"
#include "SkelvarRcon/web/webaccounts.h"
#include "SkelvarRcon/web/webserver.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace skelvar::rcon {

// The monitor's exit statuses.
enum ExitStatus : int {
    kExitStopped = 0,      // a normal stop, also on a stop signal
    kExitFailed = 1,       // any other failure: settings unreadable, folder not writable
    kExitBadPassword = 2,  // also a wrong command line
    kExitHeld = 3,         // another monitor holds the server and --force was not given
    kExitOffline = 4,      // the server did not answer
};

struct MonitorCommandLine {
    bool headless = false;
    bool force = false;
    // --init: write the settings for this server and exit
    std::optional<ServerAddress> init;
    // --web-user NAME --role ROLE: add or replace that web account, with the
    // password from standard input, and exit
    QString webUser;
    web::Role webRole = web::Role::Viewer;
    // --web: where the web page listens; none without it
    std::optional<web::WebOptions> web;
    MonitorOptions monitor;  // folder from --config, bansDatabase from --bans-db
    // --bans-db was given (also empty, for no database): rconskelvar.conf's
    // bans-db is not used
    bool bansDatabaseGiven = false;
};

// Reads RconSkelvar's arguments into *line. Returns the exit status when the
// program ends here (--help, --version, a wrong command line). Needs a
// QCoreApplication.
std::optional<int> readMonitorCommandLine(const QStringList& arguments, MonitorCommandLine* line);

// The name of the environment variable of the test hook.
inline constexpr char kTestTimingVariable[] = "SKELVAR_TEST_TIMING";

// The test hook's text, "reply=40,warmup=5,follow=5,tick=20,pace=5"
// (milliseconds, any of them): the transport's reply wait, the engine's
// intervals and the period of the transport's request pacing.
// False with *error for a text that is not of that form.
bool applyTestTiming(const QString& text, MonitorOptions* options, QString* error);

}  // namespace skelvar::rcon
