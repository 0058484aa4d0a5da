#include "SkelvarRcon/engine/engine.h"

#include "SkelvarRcon/engine/detections.h"
#include "SkelvarRcon/engine/serverparse.h"
#include "SkelvarRcon/penalties/banmatch.h"
#include "SkelvarRcon/session/skelvarlog.h"
#include "SkelvarRcon/store/liststore.h"
#include "SkelvarRcon/store/recordlist.h"
#include "SkelvarRcon/store/settings.h"
#include "SkelvarRcon/transport/printedvalue.h"

#include <QHash>
#include <QTime>
#include <QTimer>

namespace skelvar::rcon {

namespace {

class SilentPrompter : public Prompter {
public:
    bool askYesNo(const QString&, const QString&, Icon, bool) override { return false; }
    void message(const QString&, const QString&, Icon) override {}
};

// dumpuser asks by name, so the answer to a name that another player's name
// goes out as too could be that player's. A name sent as it is gets the
// server's exact match; a name cleaned for sending does not.
QHash<qsizetype, QString> unaskedPlayers(const QList<PlayerRecord>& rows)
{
    QHash<QString, int> names;
    QHash<QString, int> sent;
    for (const PlayerRecord& p : rows) {
        ++names[p.name];
        ++sent[rconSafe(p.name)];
    }
    QHash<qsizetype, QString> out;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QString& name = rows.at(i).name;
        const QString asked = rconSafe(name);
        if (names.value(name) > 1)
            out.insert(i, QStringLiteral("Not scanned: more than one player is named ") + name);
        else if (asked != name && sent.value(asked) > 1)
            out.insert(i, QStringLiteral("Not scanned: the name %1 is asked for as %2, and so is another player's")
                              .arg(name, asked));
    }
    return out;
}

}  // namespace

Task<> DefaultPassHooks::escalate(PassContext& pass, PlayerRecord& player)
{
    if (player.kickFlag != 1)
        co_return;
    co_await pass.kick(player);
}

qint16 PeriodBox::read(const Settings& settings, Prompter* prompter)
{
    const auto v = toInt16((settings.*m_box)());
    if (v && *v >= 1 && *v <= m_maximum) {
        m_last = *v;
        m_told = false;
        return m_last;
    }
    if (!m_told && prompter) {
        m_told = true;
        prompter->message(QStringLiteral("Invalid value"), m_notice.arg(m_last), Prompter::Icon::Warning);
    }
    return m_last;
}

Engine::Engine(MonitorSession& session, RconTransport& rcon, Settings& settings, UiState& ui, EngineServices services,
               QObject* parent)
    : QObject(parent), m_session(session), m_rcon(rcon), m_settings(settings), m_ui(ui), m_lists(services.lists),
      m_players(services.players), m_log(services.log), m_prompter(services.prompter), m_hooks(services.hooks),
      m_clock(services.clock ? *services.clock : Clock::system()),
      // 546 minutes is the longest period whose count of ticks fits 16 bits.
      m_scanMinutes(&Settings::scanMinutes, 3, 546,
                    QStringLiteral("The scan period must be a whole number of minutes from 1 to 546.\n"
                                   "Players are scanned every %1 minutes until it is corrected.")),
      m_patrolSeconds(&Settings::patrolSeconds, 45, 32767,
                      QStringLiteral("The patrol period must be a whole number of seconds from 1 to 32767.\n"
                                     "The server is patrolled every %1 seconds until it is corrected."))
{
    if (!m_lists) {
        m_ownLists = std::make_unique<ListStore>();
        m_lists = m_ownLists.get();
    }
    if (!m_players) {
        m_ownPlayers = std::make_unique<PlayerList>();
        m_players = m_ownPlayers.get();
    }
    if (!m_log) {
        m_ownLog = std::make_unique<SkelvarLog>(QString());  // no path: writes nothing
        m_log = m_ownLog.get();
    }
    if (!m_prompter) {
        static SilentPrompter silent;
        m_prompter = &silent;
    }
    setHooks(m_hooks);
    connectSession();
    // Records a pass adds count as its penalties; rows read from the files do not.
    for (const lists::ListKind kind : {lists::ListKind::Warnings, lists::ListKind::Kicks, lists::ListKind::Bans}) {
        connect(&m_lists->list(kind), &QAbstractItemModel::rowsInserted, this,
                [this](const QModelIndex&, int first, int last) {
                    if (busy() && !m_lists->readingFiles())
                        m_summary.penaltiesGiven += last - first + 1;
                });
    }
    connect(&m_rcon, &RconTransport::readUnanswered, this, &Engine::onReadUnanswered);
}

// What the session asks of the engine, and what its stop resets.
void Engine::connectSession()
{
    m_session.resetCountdowns = [this] {
        m_scanCountdown = 1;
        m_patrolCountdown = 1;
    };
    m_session.passRunning = [this] { return busy(); };
    m_session.beginWarmup = [this] { m_warmupPending = true; };
    connect(m_session.engineTimer(), &QTimer::timeout, this, &Engine::onTimer);
    // The stop resets the status captions and empties Players.
    connect(&m_session, &MonitorSession::clearPlayers, this, [this] {
        m_players->clear();
        m_serverDown = true;
    });
}

Engine::~Engine()
{
    // The tick's frame refers to the hooks and the pass: end it first.
    m_tick = Task<>();
}

void Engine::setHooks(PassHooks* hooks)
{
    if (hooks) {
        m_hooks = hooks;
        return;
    }
    if (!m_ownHooks)
        m_ownHooks = std::make_unique<DefaultPassHooks>();
    m_hooks = m_ownHooks.get();
}

void Engine::onTimer()
{
    // A tick that finds another still at work starts nothing.
    if (busy() || !m_session.running())
        return;
    m_tick = Task<>();
    const quint64 tick = ++m_ticksStarted;
    m_pass = std::make_unique<PassContext>(m_session, m_rcon, m_settings, *m_log);
    m_pass->setOnDropped([this, tick] {
        QTimer::singleShot(0, this, [this, tick] {
            if (tick == m_ticksStarted)
                m_tick = Task<>();
        });
    });
    m_tick = engineTick(*m_pass);
}

void Engine::onReadUnanswered(const QString& command)
{
    // A silent status is a server that does not answer at all: the pass says
    // so once. While it stays silent, each lost read would only repeat that.
    if (!m_session.running() || m_silentSince || command == QLatin1String("status") || !m_pass)
        return;
    const QString text = QStringLiteral("No answer from the server to: ") + command;
    m_pass->log(text);
    showNotice(text);
    m_lostInPass = true;
}

void Engine::setStateLine(const QString& line)
{
    m_stateLine = line;
    if (!m_noticeShown)
        m_ui.setServerStatus(line);
}

void Engine::showNotice(const QString& text)
{
    m_noticeShown = true;
    m_noticeTick = m_regularTicks;
    m_ui.setServerStatus(text);
}

void Engine::hideNotice()
{
    m_noticeShown = false;
    m_ui.setServerStatus(m_stateLine);
}

Task<> Engine::engineTick(PassContext& pass)
{
    ++m_secondsSinceData;
    m_statusText.clear();
    if (m_warmupPending) {
        m_warmupPending = false;
        co_await warmUp(pass);
    } else {
        ++m_regularTicks;
        advanceProgress();
        --m_patrolCountdown;
        --m_scanCountdown;
        if (m_scanCountdown < 1)
            co_await runScan(pass);
        // The scan's end signals may have stopped the session.
        co_await pass.checkpoint();
        if (m_patrolCountdown < 1)
            co_await runPatrol(pass);
    }
    co_await pass.checkpoint();
    m_ui.setLastDataAge(m_secondsSinceData);
}

// Every regular tick: both bars a step on, and the tick's own interval.
void Engine::advanceProgress()
{
    m_ui.advanceProgress(Progress::Patrol);
    m_ui.advanceProgress(Progress::Scan);
    m_session.engineTimer()->setInterval(m_session.timing().tickMs);
}

Task<> Engine::warmUp(PassContext& pass)
{
    // No tick may start a second warm-up while this one waits for the server.
    m_session.engineTimer()->stop();
    m_rcon.resetActivityLog();
    const MonitorSession::Claim claim = co_await m_session.checkConnection(pass);
    if (claim != MonitorSession::Claim::Claimed) {
        co_await m_session.stopMonitoring();
        // The stop ended the session: nothing more of this tick runs.
        co_await pass.checkpoint();
    }
    m_noticeShown = false;
    m_silentSince.reset();
    m_serverDown = false;
    setStateLine(QStringLiteral("Warming engine..."));
    m_ui.setStartCaption(StartCaption::Warming);
    m_ui.setPassLocked(true);

    co_await probeServer(pass);
    armAfterWarmup();
}

// Both passes are due at the next tick, and the bars measure their periods.
void Engine::armAfterWarmup()
{
    m_patrolCountdown = 1;
    m_secondsSinceData = 0;
    m_scanCountdown = 1;
    m_ui.resetProgress();
    m_ui.setProgressMaximum(Progress::Patrol, m_patrolSeconds.read(m_settings, m_prompter));
    m_ui.setProgressMaximum(Progress::Scan, m_scanMinutes.read(m_settings, m_prompter) * 60);
    m_session.engineTimer()->start(m_session.timing().followMs);
}

Task<> Engine::probeServer(PassContext& pass)
{
    const QString version = co_await pass.ask(QStringLiteral("version"));
    m_askByNumber = takesClientNumbers(version);
    m_ui.setNotMonitoredShown(false);
    m_ui.setServerOs(serverIsLinux(version) ? ServerOs::Linux : ServerOs::Windows);

    const QString cheats = co_await pass.ask(QStringLiteral("cheats"));
    m_ui.setCheatsState(cheatsDisabled(cheats) ? CheatsState::Disabled : CheatsState::Enabled);

    co_await probeMods(pass);
    co_await primeScript(pass, true);
}

// The ModSkelvar script and the Zov Plinket mod, each with its image pair and label.
Task<> Engine::probeMods(PassContext& pass)
{
    struct Mod {
        const char* query;
        ServerMod mod;
    };
    for (const Mod& m :
         {Mod{"versionskelvar", ServerMod::ModSkelvar}, Mod{"zovplinketversion", ServerMod::ZovPlinket}}) {
        const QString answer = co_await pass.ask(QString::fromLatin1(m.query));
        m_ui.setModState(m.mod, scriptRunning(answer) ? ModState::Running : ModState::NotRunning);
    }
}

// The script's variables: the next map, the clock, the scan period, the probe
// restart and the reset value.
Task<> Engine::primeScript(PassContext& pass, bool warmup)
{
    co_await refreshMapInfo(pass, warmup);
    co_await sendClock(pass);
    const QStringList priming{QStringLiteral("set scantime %1").arg(m_scanMinutes.read(m_settings, m_prompter)),
                              QStringLiteral("set scanpass 1"),
                              m_settings.detectionEnabled(Detection::ModifiedBinaries)
                                  ? QStringLiteral("set resetvalue hacked")
                                  : QStringLiteral("set resetvalue 0")};
    for (const QString& command : priming)
        co_await pass.send(command);
}

Task<> Engine::refreshMapInfo(PassContext& pass, bool warmup)
{
    QString answer = co_await pass.ask(QStringLiteral("getstatus"));
    answer = answer.toLower();
    if (answer.isEmpty())
        co_return;
    const ServerInfo info = parseGetStatus(answer);
    if (warmup && info.spearhead)
        m_spearheadServer = true;
    if (!info.map.isEmpty())
        setStateLine(QStringLiteral("Server: Running - Now playing: ") + info.map + " on " + info.gameType);
    m_currentMap = info.map;
    co_await pass.send(QStringLiteral("set nextmap ") + rconSafe(ComputeNextMap(info.map, info.mapList)));
}

Task<> Engine::sendClock(PassContext& pass)
{
    const QTime now = m_clock.timeOfDay();
    co_await pass.send(QStringLiteral("set sv_minutes %1").arg(now.minute()));
    co_await pass.send(QStringLiteral("set sv_hours %1").arg(now.hour()));
}

void Engine::beginPass(bool scan)
{
    m_summary = PassSummary();
    m_summary.scan = scan;
    m_unansweredAtPassStart = m_rcon.unansweredCount();
    m_lostInPass = false;
    m_rcon.resetActivityLog();
    m_session.engineTimer()->stop();
    m_ui.setStartCaption(StartCaption::Scanning);
    m_ui.setPassLocked(true);
    emit passStarted(scan);
}

void Engine::endPass()
{
    // A notice stays up at least until a pass of a later tick got all its answers.
    if (m_noticeShown && !m_lostInPass && !m_silentSince && m_regularTicks > m_noticeTick)
        hideNotice();
    m_ui.setStartCaption(StartCaption::Start);
    m_ui.setPassLocked(false);
    m_session.engineTimer()->start();
    m_summary.answersLost = m_rcon.unansweredCount() - m_unansweredAtPassStart;
    emit passFinished(m_summary.scan);
    emit passSummary(m_summary);
}

Task<> Engine::runScan(PassContext& pass)
{
    beginPass(true);
    m_ui.setProgress(Progress::Scan, 0);
    m_statusText = co_await readStatus(pass);
    m_scanCountdown = qint16(m_scanMinutes.read(m_settings, m_prompter) * 60);
    // Its notice of a bad period may have waited for the operator.
    co_await pass.checkpoint();
    if (!m_statusText.isEmpty()) {
        // Once per scan: a server that restarted in between has lost the claim.
        co_await reclaimAfterRestart(pass);
        co_await scanPlayers(pass);
    }
    // The table is stale once the scan is over: the patrol pass that follows
    // reads its own instead of acting by client number on changed slots.
    m_statusText.clear();
    endPass();
}

Task<> Engine::scanPlayers(PassContext& pass)
{
    const QList<PlayerRecord> rows = livePlayers(m_statusText);
    // Asked by client number, nobody's table can be another's.
    const QHash<qsizetype, QString> unasked = m_askByNumber ? QHash<qsizetype, QString>() : unaskedPlayers(rows);
    m_lists->reloadSkinLists();
    m_players->clear();
    for (qsizetype i = 0; i < rows.size(); ++i) {
        ++m_summary.playersRead;
        co_await scanPlayer(pass, rows.at(i), unasked.value(i));
    }
}

Task<> Engine::scanPlayer(PassContext& pass, PlayerRecord p, QString notAsked)
{
    m_player = std::move(p);
    if (!notAsked.isEmpty()) {
        pass.log(notAsked);
        co_return;
    }
    const QString asked = m_askByNumber ? m_player.clientNum : QStringLiteral("\"") + rconSafe(m_player.name);
    const QString answer = co_await pass.ask(QStringLiteral("dumpuser ") + asked);
    m_player.userinfoText = answer.toLower();
    // A refusal ("is not on the server") is no user info to judge.
    if (!isUserinfoTable(m_player.userinfoText))
        co_return;
    if (!tableIsHis(pass, answer))
        co_return;
    const auto skins = userinfoSkins(m_player.userinfoText);
    m_players->add(
        {m_player.clientNum, m_player.ping, m_player.name, m_player.ip, m_player.rate, skins.first, skins.second});
    co_await judgePlayer(pass);
    m_secondsSinceData = 0;
}

// The engines match a name case-insensitively and without its colour codes,
// the slot may have changed hands since the status table, and a status row
// joined from two cut rows carries another player's address: a table is his
// only when it names him exactly and, where it shows one, his address.
bool Engine::tableIsHis(PassContext& pass, const QString& answer)
{
    const std::optional<QString> name = userinfoValue(answer, QLatin1String("name"));
    if (name != m_player.name) {
        pass.log(QStringLiteral("Not scanned: the table asked for %1 (client %2) names %3")
                     .arg(m_player.name, m_player.clientNum, name.value_or(QStringLiteral("nobody"))));
        return false;
    }
    const std::optional<QString> ip = userinfoAddress(answer);
    if (ip && *ip != m_player.ip) {
        pass.log(QStringLiteral("Not scanned: the table of %1 (client %2) gives the address %3, the status %4")
                     .arg(m_player.name, m_player.clientNum, *ip, m_player.ip));
        return false;
    }
    return true;
}

// The detections and their penalties, the connection warning, escalation.
Task<> Engine::judgePlayer(PassContext& pass)
{
    m_player.kickFlag = 0;
    const Verdict verdict = runDetections(m_player, m_settings, m_lists->reservedSkins(), m_lists->suspiciousSkins(),
                                          m_hooks->privateMode());
    if (verdict.privateKick)
        m_player.kickFlag = 1;
    for (const FiredRule& rule : verdict.rules)
        co_await dispatchPenalty(pass, rule);
    co_await m_hooks->warnConnection(pass, m_player);
    co_await m_hooks->escalate(pass, m_player);
}

Task<> Engine::dispatchPenalty(PassContext& pass, FiredRule rule)
{
    const QString alert = fillAlert(m_settings.alertTemplate(rule.alert), rule.subs);
    // Silent mode tells nobody and records nothing: the alert goes to the log only.
    if (!m_settings.silent()) {
        co_await pass.say(alert);
        recordPenalty(rule);
    }
    pass.log(alert);
}

void Engine::recordPenalty(const FiredRule& rule)
{
    const QDate today = m_clock.today();
    const PenaltyOutcome out =
        penaltyFor(m_settings.penaltyChoice(rule.row), m_settings.penaltyDays(rule.row), m_player, rule.reason, today);
    // A player already banned at least as long gets no second ban row.
    if (out.list == lists::ListKind::Bans)
        addBanUnlessCovered(m_lists->bans(), out.record, today);
    else
        m_lists->list(out.list).add(out.record);
    if (out.kick)
        m_player.kickFlag = 1;
}

// "status", and what its silence or its return says about the server.
Task<QString> Engine::readStatus(PassContext& pass)
{
    const Reply answer = co_await pass.ask(QStringLiteral("status"));
    if (!answer.answered) {
        m_lostInPass = true;
        if (!m_silentSince) {
            m_silentSince = m_clock.timeOfDay();
            const QString text =
                QStringLiteral("Server not answering since ") + m_silentSince->toString(QStringLiteral("HH:mm"));
            pass.log(text);
            showNotice(text);
        }
    } else if (m_silentSince) {
        m_silentSince.reset();
        pass.log(QStringLiteral("Server answering again"));
        hideNotice();
    }
    co_return answer.text;
}

// A server that restarted has forgotten every variable the monitor set: the
// claim is back at 0 or unset. This monitor held it, so it takes it back
// without asking and primes the script again.
Task<> Engine::reclaimAfterRestart(PassContext& pass)
{
    if (!m_session.claimed())
        co_return;
    // An unset variable answers with an empty print on some engines: that is
    // a restarted server too. Only silence says nothing.
    const Reply answer = co_await pass.ask(QStringLiteral("sv_skelvar"));
    if (!answer.answered || answer.text.contains(QLatin1String("rconpassword")))
        co_return;
    if (printedValue(answer) == QLatin1String("1"))
        co_return;
    pass.log(QStringLiteral("Server restarted: claimed again and the script's variables set anew"));
    co_await m_session.claim(pass);
    co_await primeScript(pass, false);
}

Task<> Engine::runPatrol(PassContext& pass)
{
    beginPass(false);
    // Bans that other programs wrote are enforced from this pass on.
    m_lists->syncFromDisk();
    m_ui.setProgress(Progress::Patrol, 0);
    m_patrolCountdown = m_patrolSeconds.read(m_settings, m_prompter);
    if (!m_serverDown)
        co_await patrolTable(pass);
    endPass();
}

// The in-game ban request, then every player of the status table.
Task<> Engine::patrolTable(PassContext& pass)
{
    co_await m_hooks->readInGameBan(pass);
    if (m_statusText.isEmpty())
        m_statusText = co_await readStatus(pass);
    if (m_statusText.isEmpty())
        co_return;
    // A server restarts between two passes more often than not, answering
    // status as before but with the claim and the script's variables gone.
    co_await reclaimAfterRestart(pass);
    const QString status = m_statusText;
    const QList<PlayerRecord> players = livePlayers(status);
    for (const PlayerRecord& player : players)
        co_await patrolPlayer(pass, player);
    m_secondsSinceData = 0;
    m_hooks->finishPingPass(pass);
    co_await followMapChange(pass, status);
}

Task<> Engine::patrolPlayer(PassContext& pass, PlayerRecord player)
{
    m_player = std::move(player);
    ++m_summary.playersRead;
    co_await m_hooks->applyInGameBan(pass, m_player);
    const QString marker = co_await m_hooks->enforceBans(pass, m_player);
    co_await m_hooks->renameForSpearhead(pass, m_player);
    co_await m_hooks->checkPing(pass, m_player, marker);
}

// A new map gets the script's next map and clock anew. An answer that names
// no map (a refusal, a cut-off table) says nothing about a map change.
Task<> Engine::followMapChange(PassContext& pass, const QString& status)
{
    const QStringList mapLine = statusRows(status).value(0).split(QStringLiteral(": "));
    if (mapLine.size() <= 1 || mapLine.at(1) == m_currentMap)
        co_return;
    co_await refreshMapInfo(pass, false);
    co_await sendClock(pass);
}

}  // namespace skelvar::rcon
