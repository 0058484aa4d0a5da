#include "SkelvarRcon/service/headless.h"

#include "SkelvarRcon/service/headlessprompter.h"
#include "SkelvarRcon/service/stopsignals.h"

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
        : prompter_(console_, line.force), monitor_(prompter_, line.monitor), folder_(line.monitor.folder)
    {
    }

    int exec();

private:
    void watch();
    void stop(int status);
    Task<> exitSteps(int status);

    ConsoleLines console_;
    HeadlessPrompter prompter_;
    Monitor monitor_;
    QString folder_;
    StopSignals signals_;
    TaskKeeper tasks_;
    QString status_;
    bool stopping_ = false;
};

int HeadlessRun::exec()
{
    QString why;
    if (!folderWritable(folder_, &why)) {
        console_.line(why);
        return kExitFailed;
    }
    if (!signals_.install(&why)) {
        console_.line(why);
        return kExitFailed;
    }
    watch();
    for (const StoreMessage& m : monitor_.create())
        prompter_.message(m.title, m.text, Prompter::Icon::Warning);
    if (monitor_.settingsUnreadable()) {
        console_.line(QStringLiteral("Not started: the settings could not be read."));
        return kExitFailed;
    }
    console_.line(QStringLiteral("Monitoring %1:%2 from %3")
                      .arg(monitor_.settings.serverAddress(), monitor_.settings.serverPort(),
                           QDir::toNativeSeparators(QDir(folder_).absolutePath())));
    monitor_.session.autoStart();
    return QCoreApplication::exec();
}

void HeadlessRun::watch()
{
    monitor_.log.setEcho([this](const QString& text) { console_.line(text); });
    connect(&monitor_.ui, &UiState::serverStatusChanged, this, [this](const QString& text) {
        if (text != status_) {
            status_ = text;
            console_.line(QStringLiteral("Status: ") + text);
        }
    });
    connect(&monitor_.engine, &Engine::passSummary, this,
            [this](const PassSummary& s) { console_.line(summaryLine(s)); });
    connect(&monitor_.session, &MonitorSession::ended, this, [this] {
        if (!stopping_)
            stop(statusFor(monitor_.session.connectFailure()));
    });
    connect(&signals_, &StopSignals::stopRequested, this, [this](int signalNumber) {
        console_.line(QStringLiteral("Signal %1: stopping (a second signal ends the program at once).").arg(signalNumber));
        stop(kExitStopped);
    });
}

void HeadlessRun::stop(int status)
{
    if (stopping_)
        return;
    stopping_ = true;
    tasks_.keep(exitSteps(status));
}

Task<> HeadlessRun::exitSteps(int status)
{
    co_await monitor_.exit();
    console_.line(QStringLiteral("Stopped, exit status %1.").arg(status));
    QCoreApplication::exit(status);
}

}  // namespace

int runHeadless(const MonitorCommandLine& line)
{
    HeadlessRun run(line);
    return run.exec();
}

}  // namespace skelvar::rcon
