#include "SkelvarRcon/app/monitor.h"

#include "SkelvarRcon/store/controlnames.h"
#include "lists/fileaccess.h"
#include "lists/pgbanstore.h"

#include <QDir>
#include <QFileInfo>

namespace skelvar::rcon {

Monitor::Monitor(Prompter& prompter, MonitorOptions options, QObject* parent)
    : QObject(parent), m_relay(prompter), clock(options.clock), rcon(nullptr, options.replyWaitMs),
      session(rcon, settings, ui, m_relay), enforcement(session, settings, lists, m_relay, &clock),
      engine(session, rcon, settings, ui, EngineServices{&lists, &players, &log, &m_relay, &enforcement, &clock}),
      actions(session, settings, lists, players, ui, m_relay, &clock), m_options(std::move(options))
{
    session.setTimingForTests(m_options.timing);
    session.setHolderId(MonitorSession::holderIdFor(m_options.folder));
    rcon.setPacingForTests(m_options.pacing);
    rcon.setActivityLogPath(filePath(QStringLiteral("activity.log")));
    log.setPath(filePath(QStringLiteral("skelvar.log")));
    log.setClock(&clock);
    lists.setFolder(m_options.folder);
    lists.setClock(&clock);
    enforcement.setSpearheadServer([this] { return engine.spearheadServer(); });
    enforcement.setStartScan([this] { engine.scanAtNextTick(); });
    connect(&settings, &Settings::changed, this, &Monitor::onSettingChanged);
    lists.setPrompter(&m_relay);
    settings.setPrompter(&m_relay);
}

Monitor::~Monitor() = default;

QString Monitor::filePath(const QString& name) const
{
    return QDir(m_options.folder).filePath(name);
}

QList<StoreMessage> Monitor::create()
{
    session.engineTimer()->stop();
    ui.resetProgress();
    ui.setStartCaption(StartCaption::Start);
    ui.setServerStatus(QStringLiteral("Server not running!"));
    // The list-row buttons show only once a row of their list is clicked.
    actions.hideAll();

    QList<StoreMessage> messages = m_options.startMessages + lists.load(clock.today());
    shareBans(messages);

    // The companion fields follow their boxes as the defaults have them; while
    // the settings load, each box's own handler runs on its change.
    actions.applyAllCompanions();
    applyLogging();

    SettingsLoad details;
    settings.load(filePath(QStringLiteral("rconskelvar.ini")), &details);
    m_settingsUnreadable = details.readError;
    if (details.readError)
        messages.append({QStringLiteral("Settings not loaded!"),
                         QStringLiteral("rconskelvar.ini could not be read; it will not be overwritten.")});
    actions.pingKickToggled();
    settings.setAutosave(true);
    rcon.setTarget(session.targetFromSettings());
    if (settings.scanOnStart())
        session.autoStart();
    return messages;
}

void Monitor::shareBans(QList<StoreMessage>& messages)
{
    if (m_options.bansDatabase.isEmpty() || m_sharedBans)
        return;
    lists::BanDatabase database;
    QString error;
    if (!lists::parseBanDatabaseUrl(m_options.bansDatabase, &database, &error)) {
        messages.append({QStringLiteral("Shared ban list not used"),
                         QStringLiteral("%1\nThis monitor keeps its own ban list.").arg(error)});
        return;
    }
    SharedBansSetup setup;
    setup.folder = m_options.folder;
    setup.makeStore = [database] { return std::make_unique<lists::PgBanStore>(database); };
    setup.prompter = &m_relay;
    setup.clock = &clock;
    m_sharedBans = std::make_unique<SharedBans>(lists.bans(), std::move(setup));
    // Bans that other monitors gave are enforced from the next patrol pass on.
    connect(&engine, &Engine::passStarted, m_sharedBans.get(), [this](bool scan) {
        if (!scan)
            m_sharedBans->syncNow();
    });
    m_sharedBans->start();
}

void Monitor::onSettingChanged(const QString& control)
{
    if (control == QLatin1String(control::scanPrivateClients))
        actions.privateClientsToggled();
    else if (control == QLatin1String(control::scanReservedSkins))
        actions.reservedSkinsToggled();
    else if (control == QLatin1String(control::kickOnHighPing))
        actions.pingKickToggled();
    else if (control == QLatin1String(control::warnOnConnection))
        actions.connectionWarningToggled();
    else if (control == QLatin1String(control::logAlerts))
        applyLogging();
    else if (control == QLatin1String(control::handBanDays))
        actions.handBanDaysEdited();
}

void Monitor::applyLogging()
{
    // Silent mode only while logging is on, so every alert reaches the server or the log.
    if (!settings.logAlerts())
        settings.setSilent(false);
    ui.setSilentEnabled(settings.logAlerts());
}

QString Monitor::fileName(EditableFile file)
{
    switch (file) {
    case EditableFile::Log: return QStringLiteral("skelvar.log");
    case EditableFile::SuspiciousSkins: return QStringLiteral("skins.txt");
    case EditableFile::ReservedSkins: return QStringLiteral("reserved.txt");
    }
    return {};
}

QString Monitor::prepareForEditor(EditableFile file)
{
    const QString path = QFileInfo(filePath(fileName(file))).absoluteFilePath();
    if (!QFileInfo::exists(path)) {
        // Best effort: an editor that cannot open the file says so itself.
        lists::appendToFile(path, {});
    }
    return path;
}

bool Monitor::selectTab(int tab)
{
    if (tab < 0 || tab >= tabCount || tab == m_currentTab)
        return false;
    m_currentTab = tab;
    ui.setPlayerControlsVisible(false);
    // The two "Convert to Ban" buttons keep their state across a tab change.
    for (const ListButton b : {ListButton::RemoveBan, ListButton::BanSubrank, ListButton::BanProvider,
                               ListButton::RemoveKick, ListButton::RemoveWarning})
        ui.setListButtonVisible(b, false);
    return true;
}

void Monitor::consoleEnter(const QString& line)
{
    if (line.isEmpty() || m_exited)
        return;
    QString command = line;
    if (command.startsWith(QLatin1String("rcon ")))
        command.remove(0, 5);
    m_tasks.keep(runConsole(command));
}

Task<> Monitor::runConsole(QString command)
{
    const QString answer = co_await rcon.send(command);
    emit consoleOutput(answer);
}

void Monitor::deleteLog()
{
    if (m_relay.askYesNo(QStringLiteral("Delete Log File"),
                         QStringLiteral("Are you sure you want to delete the log file??"), Prompter::Icon::Critical,
                         true)) {
        if (!log.clear())
            m_relay.message(QStringLiteral("Delete Log File"), QStringLiteral("skelvar.log could not be emptied."),
                            Prompter::Icon::Critical);
    }
}

const QStringList& Monitor::watchedControls()
{
    static const QStringList names{control::patrolSeconds, control::rconPassword, control::privatePassword,
                                   control::privateTag, control::scanMinutes};
    return names;
}

void Monitor::focusLost(const QString& control)
{
    if (control == QLatin1String(control::patrolSeconds))
        checkPatrolPeriod();
    else if (control == QLatin1String(control::rconPassword))
        checkRconPassword();
    else if (control == QLatin1String(control::privateTag))
        checkPrivateTag();
    else if (control == QLatin1String(control::privatePassword))
        checkPrivatePassword();
}

void Monitor::keyPressed(const QString& control)
{
    // A key in a period box ends the session like an edit of the connection.
    if (control == QLatin1String(control::scanMinutes) || control == QLatin1String(control::patrolSeconds))
        session.connectionEdited();
}

void Monitor::checkPatrolPeriod()
{
    const auto seconds = toInt16(settings.patrolSeconds());
    if (!seconds || *seconds < 30)
        settings.setPatrolSeconds(QStringLiteral("30"));
}

void Monitor::checkRconPassword()
{
    if (settings.rconPassword().isEmpty())
        m_relay.message(QStringLiteral("No rcon password provided!!"),
                        QStringLiteral("Skelvar can't work without any rcon password!!"), Prompter::Icon::Critical);
}

void Monitor::checkPrivateTag()
{
    if (settings.privateTag().isEmpty())
        actions.refusePrivateClients();
}

void Monitor::checkPrivatePassword()
{
    if (settings.privatePassword().isEmpty())
        actions.refuseReservedSkins();
}

Task<> Monitor::exit()
{
    if (m_exited)
        co_return;
    co_await session.exitProcedure();
    settings.saveFile();
    lists.saveAll();
    m_exited = true;
}

}  // namespace skelvar::rcon
