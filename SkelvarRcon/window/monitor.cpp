#include "SkelvarRcon/window/monitor.h"

#include <QDir>

namespace skelvar::rcon {

Monitor::Monitor(Prompter& prompter, MonitorOptions options, QObject* parent)
    : QObject(parent),
      rcon(nullptr, options.replyWaitMs),
      session(rcon, settings, ui, prompter),
      engine(session, rcon, settings, ui),
      prompter_(prompter),
      options_(std::move(options))
{
    session.setTimingForTests(options_.timing);
    rcon.setActivityLogPath(filePath(QStringLiteral("activity.log")));
    log.setPath(filePath(QStringLiteral("skelvar.log")));
    lists.setFolder(options_.folder);
    connect(&session, &MonitorSession::clearPlayers, &players, &PlayerList::clear);
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
    formLoaded_ = false;
    session.timer3()->stop();
    ui.setValue("kickpro", 0);
    ui.setValue("scanpro", 0);
    ui.setText("Command1", "Start");
    ui.setText("Label21", "Server not running!");
    // The list-row buttons show only once a row of their list is clicked.
    ui.setVisible({"Option1", "Option2", "Text2", "Command5", "Command6", "Command7", "Command8", "Command9",
                   "Command10", "Command11", "Command14", "Command15"},
                  false);

    QList<StoreMessage> messages = lists.load(options_.today);

    // The companion fields follow their boxes as the defaults have them.
    for (const char* box : {"Check1", "Check5", "Check2", "Check6", "Logea"})
        applyCheckCouplings(box);

    SettingsLoad details;
    settings.load(filePath(QStringLiteral("rconskelvar.ini")), &details);
    if (details.readError)
        messages.append({QStringLiteral("Settings not loaded!"),
                         QStringLiteral("rconskelvar.ini could not be read; it will not be overwritten.")});
    for (const char* box : {"Check1", "Check5", "Check2", "Check6", "Logea"})
        applyCheckCouplings(box);
    settings.setAutosave(true);
    rcon.setTarget(session.targetFromSettings());
    formLoaded_ = true;
    if (settings.isChecked("SoS"))
        session.autoStart();
    return messages;
}

void Monitor::onSettingChanged(const QString& control)
{
    applyCheckCouplings(control);
    // Typing a number of days chooses the limited ban.
    if (control == QLatin1String("Text2"))
        settings.setChecked("Option2", true);
}

void Monitor::applyCheckCouplings(const QString& control)
{
    if (control == QLatin1String("Check1")) {
        ui.setEnabled({"Alert1", "Alert2"}, settings.isChecked("Check1"));
    } else if (control == QLatin1String("Check5")) {
        ui.setEnabled({"Label16", "Label17", "Alert4"}, settings.isChecked("Check5"));
    } else if (control == QLatin1String("Check2")) {
        ui.setEnabled("Text7", settings.isChecked("Check2"));
    } else if (control == QLatin1String("Check6")) {
        ui.setEnabled("Alert5", settings.isChecked("Check6"));
    } else if (control == QLatin1String("Logea")) {
        // Silent mode only while logging is on, so every alert reaches the server or the log.
        if (!settings.isChecked("Logea"))
            settings.setChecked("Silent", false);
        ui.setEnabled("Silent", settings.isChecked("Logea"));
    }
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
    ui.setEnabled({"Alert1", "Alert2"}, settings.isChecked("Check1"));
}

void Monitor::prpFocusLost()
{
    if (!settings.text("txtPRP").isEmpty())
        return;
    prompter_.message(QStringLiteral("No password provided!!"),
                      QStringLiteral("Reserved skins can't be checked without an appropiate password"),
                      Prompter::Icon::Critical);
    settings.setChecked("Check5", false);
    ui.setEnabled({"Label16", "Label17", "Alert4"}, settings.isChecked("Check5"));
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
