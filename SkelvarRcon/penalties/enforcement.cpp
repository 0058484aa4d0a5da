#include "SkelvarRcon/penalties/enforcement.h"

#include "SkelvarRcon/engine/alerttemplate.h"
#include "SkelvarRcon/penalties/escalation.h"
#include "SkelvarRcon/session/monitorsession.h"
#include "SkelvarRcon/session/passcontext.h"
#include "SkelvarRcon/session/skelvarlog.h"
#include "SkelvarRcon/session/uistate.h"
#include "SkelvarRcon/store/controlnames.h"
#include "SkelvarRcon/store/liststore.h"
#include "SkelvarRcon/store/settings.h"
#include "SkelvarRcon/transport/rcontransport.h"

#include <QTimer>

namespace skelvar::rcon {

namespace {

bool specialPing(const QString& ping)
{
    return ping == QLatin1String("CNCT") || ping == QLatin1String("ZMBI");
}

}  // namespace

Enforcement::Enforcement(RconTransport& rcon, MonitorSession& session, Settings& settings, ListStore& lists,
                         SkelvarLog& log, Prompter& prompter, const Clock* clock, QObject* parent)
    : QObject(parent),
      rcon_(rcon),
      session_(session),
      settings_(settings),
      lists_(lists),
      log_(log),
      prompter_(prompter),
      countdownTimer_(new QTimer(this)),
      clock_(clock ? *clock : Clock::system())
{
    countdownTimer_->setObjectName(QLatin1String(control::countdownTimer));
    countdownTimer_->setInterval(kCountdownIntervalMs);
    connect(countdownTimer_, &QTimer::timeout, this, &Enforcement::onCountdownTick);
    connect(&lists_.bans(), &RecordList::changed, this, [this] { indexDirty_ = true; });
}

Enforcement::~Enforcement() = default;

void Enforcement::setCountdownIntervalForTests(int ms)
{
    countdownTimer_->setInterval(ms);
}

void Enforcement::ensureIndex()
{
    if (!indexDirty_)
        return;
    index_.rebuild(lists_.bans());
    indexDirty_ = false;

    QStringList fresh;
    for (const QString& ip : index_.unusable()) {
        if (!reportedUnusable_.contains(ip)) {
            reportedUnusable_.insert(ip);
            fresh.append(ip);
        }
    }
    if (fresh.isEmpty())
        return;
    emit unusableBansFound(fresh);
    // Told from the event loop, not from inside the pass that found them.
    QTimer::singleShot(0, this, [this, fresh] {
        QStringList shown;
        for (const QString& ip : fresh)
            shown.append(ip.isEmpty() ? QStringLiteral("(empty)") : ip);
        prompter_.message(QStringLiteral("Ban records not enforced"),
                          QStringLiteral("These ban records hold no address or address pattern and ban nobody:\n") +
                              shown.join(QLatin1Char('\n')),
                          Prompter::Icon::Warning);
    });
}

// ---- scan -----------------------------------------------------------------

Task<> Enforcement::warnConnection(PassContext& pass, const PlayerRecord& player)
{
    if (!settings_.warnOnConnection() || specialPing(player.ping))
        co_return;
    const auto ping = toInt16(player.ping);
    const auto rate = toInt32(player.rate);
    if (!ping || !rate || *ping >= 100 || *rate >= 5001)
        co_return;
    const QString text = fillTemplate(settings_.alertTemplate(Alert::Connection), {{QLatin1String("$name"), player.name}});
    if (!settings_.silent())
        co_await pass.say(text);
    pass.log(text);
}

Task<> Enforcement::escalate(PassContext& pass, PlayerRecord& player)
{
    const EscalationStep step =
        escalateRecords(lists_.warnings(), lists_.kicks(), lists_.bans(), settings_.kickAfterWarnings(),
                        settings_.banAfterKicks(), player.ip, player.name, clock_.today());
    if (step.kick)
        player.kickFlag = 1;
    if (player.kickFlag == 1)
        co_await pass.kick(player.clientNum);
}

// ---- patrol pass ------------------------------------------------------------

Task<> Enforcement::readInGameBan(PassContext& pass)
{
    currentPing_.clear();
    seenThisPass_.clear();
    for (PendingInGameBan& pending : pending_)
        pending.thisPass = false;
    const QString answer = co_await pass.ask(QStringLiteral("clientban"));
    const ClientBanValue value = parseClientBan(answer);
    if (!value.set)
        co_return;
    // Kept until a pass has read a status table to look the target up in.
    if (value.request) {
        const auto seen = seenSlots_.constFind(value.request->target);
        pending_.append({*value.request,
                         seen == seenSlots_.constEnd() ? std::nullopt : std::optional<SeenPlayer>(*seen), true});
    }
    co_await pass.send(QStringLiteral("set clientban -1"));
}

Task<> Enforcement::applyInGameBan(PassContext& pass, const PlayerRecord& player)
{
    seenThisPass_.insert(player.clientNum, {player.name, player.ip});
    for (qsizetype i = 0; i < pending_.size();) {
        if (pending_[i].request.target != player.clientNum) {
            ++i;
            continue;
        }
        const PendingInGameBan pending = pending_.takeAt(i);
        if (pending.thisPass || (pending.holder && samePlayer(*pending.holder, player.name, player.ip)))
            takeInGameBan(pending, player);
        else
            dropInGameBan(pass, pending);
    }
    co_return;
}

// The ban row for a request whose target is the player it was made against.
void Enforcement::takeInGameBan(const PendingInGameBan& pending, const PlayerRecord& player)
{
    // A player without a readable address could not be banned by any record.
    if (!parsePlayerAddress(player.ip))
        return;
    ensureIndex();
    const QDate today = clock_.today();
    if (index_.hasActiveExact(player.ip, today))
        return;
    lists_.bans().add({player.ip, player.name, pending.request.reason, lists::formatDate(today), QString()});
}

Task<QString> Enforcement::enforceBans(PassContext& pass, const PlayerRecord& player)
{
    ensureIndex();
    const int row = index_.find(player.ip, clock_.today());
    if (row < 0)
        co_return QString();
    // A copy: the operator may change the list while the commands wait.
    const lists::Record ban = lists_.bans().at(row);
    const QString notice = fillTemplate(settings_.alertTemplate(Alert::BanNotice), {{QLatin1String("$ip"), ban.ip},
                                                                                   {QLatin1String("$date"), ban.date},
                                                                                   {QLatin1String("$reason"), ban.reason}});
    co_await pass.sayKickLog(notice, player.clientNum);
    co_return notice;
}

Task<> Enforcement::renameForSpearhead(PassContext& pass, PlayerRecord& player)
{
    if (!settings_.spearheadCompatibility() || !spearhead_ || !spearhead_() ||
        !player.name.contains(QLatin1Char(' ')))
        co_return;
    QString newName = player.name;
    newName.replace(QLatin1Char(' '), QLatin1Char('_'));
    player.name = newName;
    const QString clientNum = player.clientNum;

    co_await pass.send(QStringLiteral("set numero ") + clientNum);
    co_await pass.send(QStringLiteral("set nombre ") + rconSafe(newName));
    // The server script needs a moment to rename before the next request.
    co_await pass.pause(renamePauseMs_);
}

Task<> Enforcement::checkPing(PassContext& pass, const PlayerRecord& player, const QString& noticeMarker)
{
    if (!settings_.kickOnHighPing() || !noticeMarker.isEmpty() ||
        specialPing(player.ping))
        co_return;
    const QString limitText = settings_.pingLimit();
    const QString scansText = settings_.pingScans();
    if (!pingKickDue(player, limitText, scansText))
        co_return;
    const QString notice = fillTemplate(settings_.alertTemplate(Alert::PingKick), {{QLatin1String("$name"), player.name},
                                                                                  {QLatin1String("$ping"), limitText},
                                                                                  {QLatin1String("$scans"), scansText}});
    co_await pass.sayKickLog(notice, player.clientNum);
}

bool Enforcement::pingKickDue(const PlayerRecord& player, const QString& limitText, const QString& scansText)
{
    const auto ping = toInt16(player.ping);
    const auto limit = toInt16(limitText);
    const auto scans = toInt16(scansText);
    // Numbers that cannot be read put nobody over the limit.
    if (!ping || !limit || !scans || *ping <= *limit)
        return false;
    const auto seen = previousPing_.constFind(player.ip);
    if (seen == previousPing_.constEnd()) {
        currentPing_.insert(player.ip, 1);
        return false;
    }
    const int count = *seen + 1;
    if (count < *scans) {
        currentPing_.insert(player.ip, count);
        return false;
    }
    return true;
}

void Enforcement::finishPingPass(PassContext& pass)
{
    previousPing_ = settings_.kickOnHighPing() ? currentPing_ : QHash<QString, int>();
    currentPing_.clear();
    // This pass read the table: a request whose target was not in it is done.
    for (const PendingInGameBan& pending : std::as_const(pending_)) {
        if (!pending.thisPass)
            dropInGameBan(pass, pending);
    }
    pending_.clear();
    seenSlots_ = seenThisPass_;
}

void Enforcement::dropInGameBan(PassContext& pass, const PendingInGameBan& pending)
{
    const QString what = QStringLiteral("In-game ban of client %1 for %2 dropped: ")
                             .arg(pending.request.target, pending.request.reason);
    if (pending.holder)
        pass.log(what + QStringLiteral("the slot no longer holds %1 (%2)").arg(pending.holder->name,
                                                                               pending.holder->ip));
    else
        pass.log(what + QStringLiteral("nobody was seen in the slot when it was asked for"));
}

// ---- private mode -----------------------------------------------------------

void Enforcement::makePrivate()
{
    if (countdownTimer_->isActive())
        return;
    countdown_ = 60;
    countdownTimer_->start();
}

void Enforcement::onCountdownTick()
{
    const QString notice =
        fillTemplate(settings_.alertTemplate(Alert::PrivateMode), {{QLatin1String("$time"), QString::number(countdown_)}});
    tasks_.keep(sayCountdown(QStringLiteral("say ") + rconSafe(notice)));
    countdown_ -= 10;
    if (countdown_ > 0)
        return;
    countdownTimer_->stop();
    privateMode_ = true;
    // The notice is queued first, so it goes out before the scan's requests.
    if (startScan_)
        startScan_();
}

Task<> Enforcement::sayCountdown(QString command)
{
    // Said whether or not a session runs.
    co_await session_.send(std::move(command));
}

}  // namespace skelvar::rcon
