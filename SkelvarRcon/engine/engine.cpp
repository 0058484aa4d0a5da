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
    co_await pass.kick(player.clientNum);
}

qint16 PeriodBox::read(const Settings& settings, Prompter* prompter)
{
    const auto v = toInt16((settings.*box_)());
    if (v && *v >= 1 && *v <= maximum_) {
        last_ = *v;
        told_ = false;
        return last_;
    }
    if (!told_ && prompter) {
        told_ = true;
        prompter->message(QStringLiteral("Invalid value"), notice_.arg(last_), Prompter::Icon::Warning);
    }
    return last_;
}

Engine::Engine(MonitorSession& session, RconTransport& rcon, Settings& settings, UiState& ui,
               EngineServices services, QObject* parent)
    : QObject(parent),
      session_(session),
      rcon_(rcon),
      settings_(settings),
      ui_(ui),
      lists_(services.lists),
      players_(services.players),
      log_(services.log),
      prompter_(services.prompter),
      hooks_(services.hooks),
      clock_(services.clock ? *services.clock : Clock::system()),
      // 546 minutes is the longest period whose count of ticks fits 16 bits.
      scanMinutes_(&Settings::scanMinutes, 3, 546,
                   QStringLiteral("The scan period must be a whole number of minutes from 1 to 546.\n"
                                  "Players are scanned every %1 minutes until it is corrected.")),
      patrolSeconds_(&Settings::patrolSeconds, 45, 32767,
                     QStringLiteral("The patrol period must be a whole number of seconds from 1 to 32767.\n"
                                    "The server is patrolled every %1 seconds until it is corrected."))
{
    if (!lists_) {
        ownLists_ = std::make_unique<ListStore>();
        lists_ = ownLists_.get();
    }
    if (!players_) {
        ownPlayers_ = std::make_unique<PlayerList>();
        players_ = ownPlayers_.get();
    }
    if (!log_) {
        ownLog_ = std::make_unique<SkelvarLog>(QString());  // no path: writes nothing
        log_ = ownLog_.get();
    }
    if (!prompter_) {
        static SilentPrompter silent;
        prompter_ = &silent;
    }
    setHooks(hooks_);

    session_.resetCountdowns = [this] {
        scanCountdown_ = 1;
        patrolCountdown_ = 1;
    };
    session_.passRunning = [this] { return busy(); };
    session_.beginWarmup = [this] { warmupPending_ = true; };
    connect(session_.engineTimer(), &QTimer::timeout, this, &Engine::onTimer);
    // The stop resets the status captions and empties Players.
    connect(&session_, &MonitorSession::clearPlayers, this, [this] {
        players_->clear();
        serverDown_ = true;
    });
    for (const lists::ListKind kind : {lists::ListKind::Warnings, lists::ListKind::Kicks, lists::ListKind::Bans}) {
        connect(&lists_->list(kind), &QAbstractItemModel::rowsInserted, this,
                [this](const QModelIndex&, int first, int last) {
                    if (busy() && !lists_->readingFiles())
                        summary_.penaltiesGiven += last - first + 1;
                });
    }
    connect(&rcon_, &RconTransport::readUnanswered, this, &Engine::onReadUnanswered);
}

Engine::~Engine()
{
    // The tick's frame refers to the hooks and the pass: end it first.
    tick_ = Task<>();
}

void Engine::setHooks(PassHooks* hooks)
{
    if (hooks) {
        hooks_ = hooks;
        return;
    }
    if (!ownHooks_)
        ownHooks_ = std::make_unique<DefaultPassHooks>();
    hooks_ = ownHooks_.get();
}

void Engine::onTimer()
{
    // A tick that finds another still at work starts nothing.
    if (busy() || !session_.running())
        return;
    tick_ = Task<>();
    const quint64 tick = ++ticksStarted_;
    pass_ = std::make_unique<PassContext>(session_, rcon_, settings_, *log_);
    pass_->setOnDropped([this, tick] {
        QTimer::singleShot(0, this, [this, tick] {
            if (tick == ticksStarted_)
                tick_ = Task<>();
        });
    });
    tick_ = engineTick(*pass_);
}

void Engine::onReadUnanswered(const QString& command)
{
    // A silent status is a server that does not answer at all: the pass says
    // so once. While it stays silent, each lost read would only repeat that.
    if (!session_.running() || silentSince_ || command == QLatin1String("status") || !pass_)
        return;
    const QString text = QStringLiteral("No answer from the server to: ") + command;
    pass_->log(text);
    showNotice(text);
    lostInPass_ = true;
}

void Engine::setStateLine(const QString& line)
{
    stateLine_ = line;
    if (!noticeShown_)
        ui_.setServerStatus(line);
}

void Engine::showNotice(const QString& text)
{
    noticeShown_ = true;
    noticeTick_ = regularTicks_;
    ui_.setServerStatus(text);
}

void Engine::hideNotice()
{
    noticeShown_ = false;
    ui_.setServerStatus(stateLine_);
}

Task<> Engine::engineTick(PassContext& pass)
{
    ++secondsSinceData_;
    statusText_.clear();
    if (warmupPending_) {
        warmupPending_ = false;
        co_await warmUp(pass);
    } else {
        ++regularTicks_;
        advanceProgress();
        --patrolCountdown_;
        --scanCountdown_;
        if (scanCountdown_ < 1)
            co_await runScan(pass);
        // The scan's end signals may have stopped the session.
        co_await pass.checkpoint();
        if (patrolCountdown_ < 1)
            co_await runPatrol(pass);
    }
    co_await pass.checkpoint();
    ui_.setLastDataAge(secondsSinceData_);
}

// Every regular tick: both bars a step on, and the tick's own interval.
void Engine::advanceProgress()
{
    ui_.advanceProgress(Progress::Patrol);
    ui_.advanceProgress(Progress::Scan);
    session_.engineTimer()->setInterval(session_.timing().tickMs);
}

Task<> Engine::warmUp(PassContext& pass)
{
    // No tick may start a second warm-up while this one waits for the server.
    session_.engineTimer()->stop();
    rcon_.resetActivityLog();
    const MonitorSession::Claim claim = co_await session_.checkConnection(pass);
    if (claim != MonitorSession::Claim::Claimed) {
        co_await session_.stopMonitoring();
        // The stop ended the session: nothing more of this tick runs.
        co_await pass.checkpoint();
    }
    noticeShown_ = false;
    silentSince_.reset();
    recheckClaim_ = false;
    serverDown_ = false;
    setStateLine(QStringLiteral("Warming engine..."));
    ui_.setStartCaption(StartCaption::Warming);
    ui_.setPassLocked(true);

    co_await probeServer(pass);
    armAfterWarmup();
}

// Both passes are due at the next tick, and the bars measure their periods.
void Engine::armAfterWarmup()
{
    patrolCountdown_ = 1;
    secondsSinceData_ = 0;
    scanCountdown_ = 1;
    ui_.resetProgress();
    ui_.setProgressMaximum(Progress::Patrol, patrolSeconds_.read(settings_, prompter_));
    ui_.setProgressMaximum(Progress::Scan, scanMinutes_.read(settings_, prompter_) * 60);
    session_.engineTimer()->start(session_.timing().followMs);
}

Task<> Engine::probeServer(PassContext& pass)
{
    const QString version = co_await pass.ask(QStringLiteral("version"));
    ui_.setNotMonitoredShown(false);
    ui_.setServerOs(ServerIsLinux(version) ? ServerOs::Linux : ServerOs::Windows);

    const QString cheats = co_await pass.ask(QStringLiteral("cheats"));
    ui_.setCheatsState(CheatsDisabled(cheats) ? CheatsState::Disabled : CheatsState::Enabled);

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
    for (const Mod& m : {Mod{"versionskelvar", ServerMod::ModSkelvar}, Mod{"zovplinketversion", ServerMod::ZovPlinket}}) {
        const QString answer = co_await pass.ask(QString::fromLatin1(m.query));
        ui_.setModState(m.mod, ScriptRunning(answer) ? ModState::Running : ModState::NotRunning);
    }
}

// The script's variables: the next map, the clock, the scan period, the probe
// restart and the reset value.
Task<> Engine::primeScript(PassContext& pass, bool warmup)
{
    co_await refreshMapInfo(pass, warmup);
    co_await sendClock(pass);
    const QStringList priming{
        QStringLiteral("set scantime %1").arg(scanMinutes_.read(settings_, prompter_)),
        QStringLiteral("set scanpass 1"),
        settings_.detectionEnabled(Detection::ModifiedBinaries) ? QStringLiteral("set resetvalue hacked")
                                                                : QStringLiteral("set resetvalue 0")};
    for (const QString& command : priming)
        co_await pass.send(command);
}

Task<> Engine::refreshMapInfo(PassContext& pass, bool warmup)
{
    const QString answer = co_await pass.ask(QStringLiteral("getstatus"));
    statusText_ = answer.toLower();
    if (statusText_.isEmpty())
        co_return;
    const ServerInfo info = ParseGetStatus(statusText_);
    if (warmup && info.spearhead)
        spearheadServer_ = true;
    if (!info.map.isEmpty())
        setStateLine(QStringLiteral("Server: Running - Now playing: ") + info.map + " on " + info.gameType);
    currentMap_ = info.map;
    co_await pass.send(QStringLiteral("set nextmap ") + rconSafe(ComputeNextMap(info.map, info.mapList)));
}

Task<> Engine::sendClock(PassContext& pass)
{
    const QTime now = clock_.timeOfDay();
    co_await pass.send(QStringLiteral("set sv_minutes %1").arg(now.minute()));
    co_await pass.send(QStringLiteral("set sv_hours %1").arg(now.hour()));
}

void Engine::beginPass(bool scan)
{
    summary_ = PassSummary();
    summary_.scan = scan;
    unansweredAtPassStart_ = rcon_.unansweredCount();
    lostInPass_ = false;
    rcon_.resetActivityLog();
    session_.engineTimer()->stop();
    ui_.setStartCaption(StartCaption::Scanning);
    ui_.setPassLocked(true);
    emit passStarted(scan);
}

void Engine::endPass()
{
    // A notice stays up at least until a pass of a later tick got all its answers.
    if (noticeShown_ && !lostInPass_ && !silentSince_ && regularTicks_ > noticeTick_)
        hideNotice();
    ui_.setStartCaption(StartCaption::Start);
    ui_.setPassLocked(false);
    session_.engineTimer()->start();
    summary_.answersLost = rcon_.unansweredCount() - unansweredAtPassStart_;
    emit passFinished(summary_.scan);
    emit passSummary(summary_);
}

Task<> Engine::runScan(PassContext& pass)
{
    beginPass(true);
    ui_.setProgress(Progress::Scan, 0);
    statusText_ = co_await readStatus(pass);
    scanCountdown_ = qint16(scanMinutes_.read(settings_, prompter_) * 60);
    // Its notice of a bad period may have waited for the operator.
    co_await pass.checkpoint();
    if (!statusText_.isEmpty()) {
        // Once per scan: a server that restarted in between has lost the claim.
        recheckClaim_ = true;
        co_await reclaimAfterRestart(pass);
        co_await scanPlayers(pass);
    }
    // The table is stale once the scan is over: the patrol pass that follows
    // reads its own instead of acting by client number on changed slots.
    statusText_.clear();
    endPass();
}

Task<> Engine::scanPlayers(PassContext& pass)
{
    QList<PlayerRecord> rows;
    for (const QString& row : StatusPlayerRows(statusText_)) {
        if (auto p = ParseStatusLine(row); p && p->ping != QLatin1String("ZMBI"))
            rows.append(*p);
    }
    const QHash<qsizetype, QString> unasked = unaskedPlayers(rows);
    lists_->reloadSkinLists();
    players_->clear();
    for (qsizetype i = 0; i < rows.size(); ++i) {
        ++summary_.playersRead;
        co_await scanPlayer(pass, rows.at(i), unasked.value(i));
    }
}

Task<> Engine::scanPlayer(PassContext& pass, PlayerRecord p, QString notAsked)
{
    player_ = std::move(p);
    if (!notAsked.isEmpty()) {
        pass.log(notAsked);
        co_return;
    }
    const QString answer = co_await pass.ask(QStringLiteral("dumpuser \"") + rconSafe(player_.name));
    player_.userinfoText = answer.toLower();
    // A refusal ("is not on the server") is no user info to judge.
    if (!IsUserinfoTable(player_.userinfoText))
        co_return;
    const auto skins = UserinfoSkins(player_.userinfoText);
    players_->add({player_.clientNum, player_.ping, player_.name, player_.ip, player_.rate, skins.first, skins.second});
    co_await judgePlayer(pass);
    secondsSinceData_ = 0;
}

// The detections and their penalties, the connection warning, escalation.
Task<> Engine::judgePlayer(PassContext& pass)
{
    player_.kickFlag = 0;
    const Verdict verdict = RunDetections(player_, settings_, lists_->reservedSkins(), lists_->suspiciousSkins(),
                                          hooks_->privateMode());
    if (verdict.privateKick)
        player_.kickFlag = 1;
    for (const FiredRule& rule : verdict.rules)
        co_await dispatchPenalty(pass, rule);
    co_await hooks_->warnConnection(pass, player_);
    co_await hooks_->escalate(pass, player_);
}

Task<> Engine::dispatchPenalty(PassContext& pass, FiredRule rule)
{
    const QString alert = FillAlert(settings_.alertTemplate(rule.alert), rule.subs);
    // Silent mode tells nobody and records nothing: the alert goes to the log only.
    if (!settings_.silent()) {
        co_await pass.say(alert);
        recordPenalty(rule);
    }
    pass.log(alert);
}

void Engine::recordPenalty(const FiredRule& rule)
{
    const QDate today = clock_.today();
    const PenaltyOutcome out =
        PenaltyFor(settings_.penaltyChoice(rule.row), settings_.penaltyDays(rule.row), player_, rule.reason, today);
    // A player already banned at least as long gets no second ban row.
    if (out.list == lists::ListKind::Bans)
        addBanUnlessCovered(lists_->bans(), out.record, today);
    else
        lists_->list(out.list).add(out.record);
    if (out.kick)
        player_.kickFlag = 1;
}

// "status", and what its silence or its return says about the server.
Task<QString> Engine::readStatus(PassContext& pass)
{
    QString answer = co_await pass.ask(QStringLiteral("status"));
    if (answer.isEmpty()) {
        lostInPass_ = true;
        recheckClaim_ = true;
        if (!silentSince_) {
            silentSince_ = clock_.timeOfDay();
            const QString text =
                QStringLiteral("Server not answering since ") + silentSince_->toString(QStringLiteral("HH:mm"));
            pass.log(text);
            showNotice(text);
        }
    } else if (silentSince_) {
        silentSince_.reset();
        pass.log(QStringLiteral("Server answering again"));
        hideNotice();
    }
    co_return answer;
}

// A server that restarted has forgotten every variable the monitor set: the
// claim is back at 0 or unset. This monitor held it, so it takes it back
// without asking and primes the script again.
Task<> Engine::reclaimAfterRestart(PassContext& pass)
{
    if (!recheckClaim_ || !session_.claimed())
        co_return;
    const QString answer = co_await pass.ask(QStringLiteral("sv_skelvar"));
    if (answer.isEmpty() || answer.contains(QLatin1String("rconpassword")))
        co_return;
    recheckClaim_ = false;
    if (printedValue(answer) == QLatin1String("1"))
        co_return;
    pass.log(QStringLiteral("Server restarted: claimed again and the script's variables set anew"));
    co_await pass.send(QStringLiteral("set sv_skelvar 1"));
    // The map refresh keeps its getstatus answer in statusText_; the pass goes
    // on with its status table.
    const QString status = statusText_;
    co_await primeScript(pass, false);
    statusText_ = status;
}

Task<> Engine::runPatrol(PassContext& pass)
{
    beginPass(false);
    // Bans that other programs wrote are enforced from this pass on.
    lists_->syncFromDisk();
    ui_.setProgress(Progress::Patrol, 0);
    patrolCountdown_ = patrolSeconds_.read(settings_, prompter_);
    if (!serverDown_)
        co_await patrolTable(pass);
    endPass();
}

// The in-game ban request, then every player of the status table.
Task<> Engine::patrolTable(PassContext& pass)
{
    co_await hooks_->readInGameBan(pass);
    if (statusText_.isEmpty())
        statusText_ = co_await readStatus(pass);
    if (statusText_.isEmpty())
        co_return;
    co_await reclaimAfterRestart(pass);
    const QString status = statusText_;
    for (const QString& row : StatusPlayerRows(status)) {
        auto parsed = ParseStatusLine(row);
        if (parsed && parsed->ping != QLatin1String("ZMBI"))
            co_await patrolPlayer(pass, std::move(*parsed));
    }
    secondsSinceData_ = 0;
    hooks_->finishPingPass(pass);
    co_await followMapChange(pass, status);
}

Task<> Engine::patrolPlayer(PassContext& pass, PlayerRecord player)
{
    player_ = std::move(player);
    ++summary_.playersRead;
    co_await hooks_->applyInGameBan(pass, player_);
    const QString marker = co_await hooks_->enforceBans(pass, player_);
    co_await hooks_->renameForSpearhead(pass, player_);
    co_await hooks_->checkPing(pass, player_, marker);
}

// A new map gets the script's next map and clock anew. An answer that names
// no map (a refusal, a cut-off table) says nothing about a map change.
Task<> Engine::followMapChange(PassContext& pass, const QString& status)
{
    const QStringList mapLine = StatusRows(status).value(0).split(QStringLiteral(": "));
    if (mapLine.size() <= 1 || mapLine.at(1) == currentMap_)
        co_return;
    co_await refreshMapInfo(pass, false);
    co_await sendClock(pass);
}

}  // namespace skelvar::rcon
