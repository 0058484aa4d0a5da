#include "SkelvarRcon/service/headless.h"

#include "SkelvarRcon/service/headlessprompter.h"
#include "SkelvarRcon/service/stopsignals.h"
#include "SkelvarRcon/web/webserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

namespace skelvar::rcon {

namespace {

int statusFor(MonitorSession::ConnectFailure failure)
{
    switch (failure) {
    case MonitorSession::ConnectFailure::BadPassword: return kExitBadPassword;
    case MonitorSession::ConnectFailure::Declined: return kExitHeld;
    case MonitorSession::ConnectFailure::Offline: return kExitOffline;
    case MonitorSession::ConnectFailure::None: break;
    }
    return kExitFailed;
}

// The lists and settings are replaced by renaming a new file into place, so
// the folder itself must take new files.
bool folderWritable(const QString& folder, QString* why)
{
    const QFileInfo info(folder);
    if (!info.isDir()) {
        *why = QStringLiteral("%1 is not a folder.").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".rconskelvar-XXXXXX")));
    if (!probe.open()) {
        *why = QStringLiteral("The folder %1 does not take new files: %2")
                   .arg(QDir::toNativeSeparators(QDir(folder).absolutePath()), probe.errorString());
        return false;
    }
    return true;
}

QString summaryLine(const PassSummary& s)
{
    auto count = [](int n, const char* one, const char* many) {
        return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
    };
    return QStringLiteral("%1: %2, %3, %4")
        .arg(s.scan ? QStringLiteral("Scan") : QStringLiteral("Patrol pass"),
             count(s.playersRead, "player read", "players read"), count(s.answersLost, "answer lost", "answers lost"),
             count(s.penaltiesGiven, "penalty given", "penalties given"));
}

class HeadlessRun : public QObject {
public:
    explicit HeadlessRun(const MonitorCommandLine& line)
        : m_prompter(m_console, line.force), m_monitor(m_prompter, line.monitor), m_folder(line.monitor.folder),
          m_webOptions(line.web)
    {
    }

    int exec();

private:
    void watch();
    void stop(int status);
    Task<> exitSteps(int status);
    bool startWeb();

    ConsoleLines m_console;
    HeadlessPrompter m_prompter;
    Monitor m_monitor;
    QString m_folder;
    StopSignals m_signals;
    std::optional<web::WebOptions> m_webOptions;
    std::unique_ptr<web::WebServer> m_web;
    TaskKeeper m_tasks;
    QString m_status;
    bool m_stopping = false;
};

int HeadlessRun::exec()
{
    QString why;
    if (!folderWritable(m_folder, &why)) {
        m_console.line(why);
        return kExitFailed;
    }
    if (!m_signals.install(&why)) {
        m_console.line(why);
        return kExitFailed;
    }
    watch();
    for (const StoreMessage& m : m_monitor.create())
        m_prompter.message(m.title, m.text, Prompter::Icon::Warning);
    if (m_monitor.settingsUnreadable()) {
        m_console.line(QStringLiteral("Not started: the settings could not be read."));
        return kExitFailed;
    }
    m_console.line(QStringLiteral("Monitoring %1:%2 from %3")
                       .arg(m_monitor.settings.serverAddress(), m_monitor.settings.serverPort(),
                            QDir::toNativeSeparators(QDir(m_folder).absolutePath())));
    if (!startWeb())
        return kExitFailed;
    m_monitor.session.autoStart();
    return QCoreApplication::exec();
}

// The web page, when asked for; a port that cannot be had ends the start.
bool HeadlessRun::startWeb()
{
    if (!m_webOptions)
        return true;
    m_web = std::make_unique<web::WebServer>(m_monitor, *m_webOptions);
    QString error;
    if (!m_web->start(&error)) {
        m_console.line(error);
        return false;
    }
    m_console.line(m_web->startedText());
    return true;
}

void HeadlessRun::watch()
{
    m_monitor.log.setEcho([this](const QString& text) { m_console.line(text); });
    connect(&m_monitor.ui, &UiState::serverStatusChanged, this, [this](const QString& text) {
        if (text != m_status) {
            m_status = text;
            m_console.line(QStringLiteral("Status: ") + text);
        }
    });
    connect(&m_monitor.engine, &Engine::passSummary, this,
            [this](const PassSummary& s) { m_console.line(summaryLine(s)); });
    connect(&m_monitor.session, &MonitorSession::ended, this, [this] {
        if (!m_stopping)
            stop(statusFor(m_monitor.session.connectFailure()));
    });
    connect(&m_signals, &StopSignals::stopRequested, this, [this](int signalNumber) {
        m_console.line(
            QStringLiteral("Signal %1: stopping (a second signal ends the program at once).").arg(signalNumber));
        stop(kExitStopped);
    });
}

void HeadlessRun::stop(int status)
{
    if (m_stopping)
        return;
    m_stopping = true;
    m_tasks.keep(exitSteps(status));
}

Task<> HeadlessRun::exitSteps(int status)
{
    co_await m_monitor.exit();
    m_console.line(QStringLiteral("Stopped, exit status %1.").arg(status));
    QCoreApplication::exit(status);
}

}  // namespace

int runHeadless(const MonitorCommandLine& line)
{
    HeadlessRun run(line);
    return run.exec();
}

}  // namespace skelvar::rcon
