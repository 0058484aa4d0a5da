#include "SkelvarRcon/window/monitor.h"

#include <QDir>

namespace skelvar::rcon {

Monitor::Monitor(Prompter& prompter, MonitorOptions options, QObject* parent)
    : QObject(parent),
      rcon(nullptr, options.replyWaitMs),
      session(rcon, settings, ui, prompter),
      enforcement(rcon, session, settings, lists, log, prompter),
      engine(session, rcon, settings, ui, EngineServices{&lists, &players, &log, &prompter, &enforcement}),
      actions(rcon, session, settings, lists, players, ui, prompter),
      prompter_(prompter),
      options_(std::move(options))
{
    session.setTimingForTests(options_.timing);
    rcon.setPacingForTests(options_.pacing);
    rcon.setActivityLogPath(filePath(QStringLiteral("activity.log")));
    log.setPath(filePath(QStringLiteral("skelvar.log")));
    lists.setFolder(options_.folder);
    enforcement.setSpearheadServer([this] { return engine.spearheadServer(); });
    enforcement.setStartScan([this] { engine.scanAtNextTick(); });
    connect(&settings, &Settings::changed, this, &Monitor::onSettingChanged);
    const Reporter report = [this](const QString& title, const QString& text) {
        prompter_.message(title, text, Prompter::Icon::Critical);
    };
    lists.setReporter(report);
    settings.setReporter(report);
}

Monitor::~Monitor() = default;

QString Monitor::filePath(const QString& name) const { return QDir(options_.folder).filePath(name); }

QList<StoreMessage> Monitor::create()
{
    session.engineTimer()->stop();
    ui.setValue("kickpro", 0);
    ui.setValue("scanpro", 0);
    ui.setText("Command1", "Start");
    ui.setText("Label21", "Server not running!");
    // The list-row buttons show only once a row of their list is clicked.
    actions.hideAll();

    QList<StoreMessage> messages = lists.load(options_.today);

    // The companion fields follow their boxes as the defaults have them; while
    // the settings load, each box's own handler runs on its change.
    actions.applyAllChecks();
    applyLogging();

    SettingsLoad details;
    settings.load(filePath(QStringLiteral("rconskelvar.ini")), &details);
    settingsUnreadable_ = details.readError;
    if (details.readError)
        messages.append({QStringLiteral("Settings not loaded!"),
                         QStringLiteral("rconskelvar.ini could not be read; it will not be overwritten.")});
    actions.check2Clicked();
    settings.setAutosave(true);
    rcon.setTarget(session.targetFromSettings());
    if (settings.isChecked("SoS"))
        session.autoStart();
    return messages;
}

void Monitor::onSettingChanged(const QString& control)
{
    if (control == QLatin1String("Check1"))
        actions.check1Clicked();
    else if (control == QLatin1String("Check5"))
        actions.check5Clicked();
    else if (control == QLatin1String("Check2"))
        actions.check2Clicked();
    else if (control == QLatin1String("Check6"))
        actions.check6Clicked();
    else if (control == QLatin1String("Logea"))
        applyLogging();
    else if (control == QLatin1String("Text2"))
        actions.text2Edited();
}

void Monitor::applyLogging()
{
    // Silent mode only while logging is on, so every alert reaches the server or the log.
    if (!settings.isChecked("Logea"))
        settings.setChecked("Silent", false);
    ui.setEnabled("Silent", settings.isChecked("Logea"));
}

void Monitor::consoleEnter(const QString& line)
{
    if (line.isEmpty() || exited_)
        return;
    QString command = line;
    if (command.startsWith(QLatin1String("rcon ")))
        command.remove(0, 5);
    tasks_.keep(runConsole(command));
}

Task<> Monitor::runConsole(QString command)
{
    const QString answer = co_await rcon.send(command);
    emit consoleOutput(answer);
}

void Monitor::deleteLogClicked()
{
    if (prompter_.askYesNo(QStringLiteral("Delete Log File"), QStringLiteral("Are you sure you want to delete the log file??"),
                           Prompter::Icon::Critical, true)) {
        if (!log.clear())
            prompter_.message(QStringLiteral("Delete Log File"), QStringLiteral("skelvar.log could not be emptied."),
                              Prompter::Icon::Critical);
    }
}

void Monitor::minPoltFocusLost()
{
    const auto seconds = toInt16(settings.text("MinPolt"));
    if (!seconds || *seconds < 30)
        settings.setText("MinPolt", QStringLiteral("30"));
}

void Monitor::pwdFocusLost()
{
    if (settings.text("txtPWD").isEmpty())
        prompter_.message(QStringLiteral("No rcon password provided!!"),
                          QStringLiteral("Skelvar can't work without any rcon password!!"), Prompter::Icon::Critical);
}

void Monitor::tagFocusLost()
{
    if (!settings.text("txtTAG").isEmpty())
        return;
    prompter_.message(QStringLiteral("No tag provided!!"),
                      QStringLiteral("Reserved slots can't be checked without an appropiate tag"),
                      Prompter::Icon::Critical);
    settings.setChecked("Check1", false);
    actions.check1Clicked();
}

void Monitor::prpFocusLost()
{
    if (!settings.text("txtPRP").isEmpty())
        return;
    prompter_.message(QStringLiteral("No password provided!!"),
                      QStringLiteral("Reserved skins can't be checked without an appropiate password"),
                      Prompter::Icon::Critical);
    settings.setChecked("Check5", false);
    actions.applyReservedSkinControls();
}

Task<> Monitor::exit()
{
    if (exited_)
        co_return;
    co_await session.exitProcedure();
    settings.saveFile();
    lists.saveAll();
    exited_ = true;
}

}  // namespace skelvar::rcon
