#include "SkelvarRcon/service/headless.h"
#include "SkelvarRcon/service/monitorcommandline.h"
#include "SkelvarRcon/service/monitorconfig.h"
#include "SkelvarRcon/service/stopsignals.h"
#include "SkelvarRcon/web/webserver.h"
#include "SkelvarRcon/window/monitorwindow.h"
#include "cli/display.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QWidget>

#include <cstdio>

namespace {

using namespace skelvar::rcon;

// The command line, the folder and the test hook; the exit status when the
// program ends before it starts.
std::optional<int> prepare(const QStringList& arguments, MonitorCommandLine* line)
{
    if (const auto status = readMonitorCommandLine(arguments, line))
        return status;
    const QString folder = line->monitor.folder;
    if (!QFileInfo(folder).isDir()) {
        std::fprintf(stderr, "RconSkelvar: %s is not a folder\n", qPrintable(folder));
        return kExitFailed;
    }
    const QString timing = qEnvironmentVariable(kTestTimingVariable);
    QString error;
    if (!timing.isEmpty() && !applyTestTiming(timing, &line->monitor, &error)) {
        std::fprintf(stderr, "RconSkelvar: %s\n", qPrintable(error));
        return kExitFailed;
    }
    return std::nullopt;
}

// --init: the settings file for the server on the command line, with the
// password from standard input; nothing is monitored.
int runInit(const MonitorCommandLine& line)
{
    const ServerAddress& server = *line.init;
    QString password;
    QString error;
    if (!readSecretLine(QStringLiteral("Rcon password of %1: ").arg(server.text()), &password)) {
        std::fprintf(stderr, "RconSkelvar: no rcon password on standard input; give it as one line.\n");
        return kExitBadPassword;
    }
    if (!checkRconPassword(password, &error)) {
        std::fprintf(stderr, "RconSkelvar: %s Nothing was written.\n", qPrintable(error));
        return kExitBadPassword;
    }
    QString report;
    if (!initSettings(line.monitor.folder, server, password, &report, &error)) {
        std::fprintf(stderr, "RconSkelvar: %s\n", qPrintable(error));
        return kExitFailed;
    }
    const QString folder =
        line.monitor.folder == QLatin1String(".") ? QString() : QStringLiteral(" --config ") + line.monitor.folder;
    std::fprintf(stderr, "RconSkelvar: %s\nStart monitoring with: RconSkelvar --headless%s\n", qPrintable(report),
                 qPrintable(folder));
    return kExitStopped;
}

// --web-user: one account of the web page, with the password from standard
// input; nothing is monitored.
int runWebUser(const MonitorCommandLine& line)
{
    QString password;
    QString error;
    if (!readSecretLine(QStringLiteral("Password of %1: ").arg(line.webUser), &password)) {
        std::fprintf(stderr, "RconSkelvar: no password on standard input; give it as one line.\n");
        return kExitBadPassword;
    }
    if (!web::Accounts::checkPassword(password, &error)) {
        std::fprintf(stderr, "RconSkelvar: %s Nothing was written.\n", qPrintable(error));
        return kExitBadPassword;
    }
    const QString path = QDir(line.monitor.folder).filePath(web::Accounts::fileName());
    web::Accounts accounts;
    if (!accounts.load(path, &error) || !accounts.set(line.webUser, line.webRole, password, &error) ||
        !accounts.save(path, &error)) {
        std::fprintf(stderr, "RconSkelvar: %s\n", qPrintable(error));
        return kExitFailed;
    }
    std::fprintf(stderr, "RconSkelvar: %s account %s written to %s\n", qPrintable(web::roleName(line.webRole)),
                 qPrintable(line.webUser), qPrintable(QDir::toNativeSeparators(path)));
    return kExitStopped;
}

int runWindow(int argc, char** argv, const MonitorCommandLine& line)
{
    QApplication app(argc, argv);
    MonitorWindow window(line.monitor);
    StopSignals stopSignals;
    // A stop signal closes the window, which runs the exit steps. An open
    // message box would hold them up: it is closed first, as with its escape
    // button (a question so answered is declined).
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &window, [&window] {
        for (int i = 0; i < 10 && QApplication::activeModalWidget(); ++i)
            QApplication::activeModalWidget()->close();
        window.close();
    });
    QString error;
    if (!stopSignals.install(&error))
        std::fprintf(stderr, "RconSkelvar: %s\n", qPrintable(error));
    // The web page beside the window; without its port the window runs alone.
    std::unique_ptr<web::WebServer> page;
    if (line.web) {
        page = std::make_unique<web::WebServer>(window.monitor(), *line.web);
        const bool started = page->start(&error);
        std::fprintf(stderr, "RconSkelvar: %s\n", qPrintable(started ? page->startedText() : error));
    }
    window.show();
    return app.exec();
}

}  // namespace

int main(int argc, char** argv)
{
    MonitorCommandLine line;
    {
        // Reading the command line needs no display, so --help and --headless
        // work without one; the window's application comes after it.
        QCoreApplication app(argc, argv);
        if (const auto status = prepare(app.arguments(), &line))
            return *status;
        if (line.init)
            return runInit(line);
        if (!line.webUser.isEmpty())
            return runWebUser(line);
        // rconskelvar.conf only matters to a monitor that runs.
        applyMonitorConfig(&line);
        if (line.headless)
            return runHeadless(line);
        if (const auto status = skelvar::cli::refuseWindowWithoutDisplay(
                QStringLiteral("RconSkelvar"), QStringLiteral("--headless"),
                QStringLiteral("monitor without a window (its settings can be made with --headless --init HOST:PORT)")))
            return *status;
    }
    return runWindow(argc, argv, line);
}
