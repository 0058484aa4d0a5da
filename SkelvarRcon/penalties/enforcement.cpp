#include "SkelvarRcon/penalties/enforcement.h"

#include "SkelvarRcon/penalties/escalation.h"
#include "SkelvarRcon/session/monitorsession.h"
#include "SkelvarRcon/session/skelvarlog.h"
#include "SkelvarRcon/session/uistate.h"
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
                         SkelvarLog& log, Prompter& prompter, QObject* parent)
    : QObject(parent),
      rcon_(rcon),
      session_(session),
      settings_(settings),
      lists_(lists),
      log_(log),
      prompter_(prompter),
      timer4_(new QTimer(this)),
      today_([] { return QDate::currentDate(); })
{
    timer4_->setObjectName(QStringLiteral("Timer4"));
    timer4_->setInterval(kCountdownIntervalMs);
    connect(timer4_, &QTimer::timeout, this, &Enforcement::onTimer4);
    connect(&lists_.bans(), &RecordList::changed, this, [this] { indexDirty_ = true; });
}

Enforcement::~Enforcement() = default;

bool Enforcement::current(quint64 generation) const
{
    return session_.isCurrent(generation);
}

void Enforcement::setCountdownIntervalForTests(int ms)
{
    timer4_->setInterval(ms);
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

Task<> Enforcement::warnConnection(quint64 generation, const PlayerRecord& player)
{
    if (!settings_.isChecked(QStringLiteral("Check6")) || specialPing(player.ping))
        co_return;
    const auto ping = toInt16(player.ping);
    const auto rate = toInt32(player.rate);
    if (!ping || !rate || *ping >= 100 || *rate >= 5001)
        co_return;
    QString text = settings_.text(QStringLiteral("Alert5"));
    text.replace(QLatin1String("$name"), player.name);
    if (!settings_.isChecked(QStringLiteral("Silent"))) {
        co_await rcon_.send(QStringLiteral("say ") + rconSafe(text), session_.target());
        if (!current(generation))
            co_return;
    }
    logAlert(text);
}

Task<> Enforcement::escalate(quint64 generation, PlayerRecord& player)
{
    if (!current(generation))
        co_return;
    const EscalationStep step =
        escalateRecords(lists_.warnings(), lists_.kicks(), lists_.bans(), settings_.text(QStringLiteral("AcWarns")),
                        settings_.text(QStringLiteral("AcKicks")), player.ip, player.name, today_());
    if (step.kick)
        player.kickFlag = 1;
    if (player.kickFlag != 1)
        co_return;
    co_await rcon_.send(QStringLiteral("clientkick ") + player.clientNum, session_.target());
}

// ---- patrol pass ------------------------------------------------------------

Task<> Enforcement::readInGameBan(quint64 generation)
{
    currentPing_.clear();
    seenThisPass_.clear();
    for (PendingInGameBan& pending : pending_)
        pending.thisPass = false;
    if (!current(generation))
        co_return;
    const RconTarget target = session_.target();
    const QString answer = co_await rcon_.read(QStringLiteral("clientban"), target);
    if (!current(generation))
        co_return;
    const ClientBanValue value = parseClientBan(answer);
    if (!value.set)
        co_return;
    // Kept until a pass has read a status table to look the target up in.
    if (value.request) {
        const auto seen = seenSlots_.constFind(value.request->target);
        pending_.append({*value.request,
                         seen == seenSlots_.constEnd() ? std::nullopt : std::optional<SeenPlayer>(*seen), true});
    }
    co_await rcon_.send(QStringLiteral("set clientban -1"), target);
}

Task<> Enforcement::applyInGameBan(quint64 generation, const PlayerRecord& player)
{
    if (!current(generation))
        co_return;
    seenThisPass_.insert(player.clientNum, {player.name, player.ip});
    for (qsizetype i = 0; i < pending_.size();) {
        if (pending_[i].request.target != player.clientNum) {
            ++i;
            continue;
        }
        const PendingInGameBan pending = pending_.takeAt(i);
        if (!pending.thisPass && !(pending.holder && samePlayer(*pending.holder, player.name, player.ip))) {
            dropInGameBan(pending);
            continue;
        }
        const InGameBanRequest& request = pending.request;
        // A player without a readable address could not be banned by any record.
        if (!parsePlayerAddress(player.ip))
            continue;
        ensureIndex();
        const QDate today = today_();
        if (index_.hasActiveExact(player.ip, today))
            continue;
        lists_.bans().add({player.ip, player.name, request.reason, lists::formatDate(today), QString()});
    }
    co_return;
}

Task<QString> Enforcement::enforceBans(quint64 generation, const PlayerRecord& player)
{
    if (!current(generation))
        co_return QString();
    ensureIndex();
    const int row = index_.find(player.ip, today_());
    if (row < 0)
        co_return QString();
    // Copies: the operator may change the list while the commands wait.
    const lists::Record ban = lists_.bans().at(row);
    const QString clientNum = player.clientNum;
    const RconTarget target = session_.target();

    QString notice = settings_.text(QStringLiteral("Alert7"));
    notice.replace(QLatin1String("$ip"), ban.ip);
    notice.replace(QLatin1String("$date"), ban.date);
    notice.replace(QLatin1String("$reason"), ban.reason);

    co_await rcon_.send(QStringLiteral("say ") + rconSafe(notice), target);
    if (!current(generation))
        co_return notice;
    co_await rcon_.send(QStringLiteral("clientkick ") + clientNum, target);
    if (!current(generation))
        co_return notice;
    logAlert(notice);
    co_return notice;
}

Task<> Enforcement::renameForSpearhead(quint64 generation, PlayerRecord& player)
{
    if (!current(generation) || !settings_.isChecked(QStringLiteral("Check3")) || !spearhead_ || !spearhead_() ||
        !player.name.contains(QLatin1Char(' ')))
        co_return;
    QString newName = player.name;
    newName.replace(QLatin1Char(' '), QLatin1Char('_'));
    player.name = newName;
    const QString clientNum = player.clientNum;
    const RconTarget target = session_.target();

    co_await rcon_.send(QStringLiteral("set numero ") + clientNum, target);
    if (!current(generation))
        co_return;
    co_await rcon_.send(QStringLiteral("set nombre ") + rconSafe(newName), target);
    if (!current(generation))
        co_return;
    // The server script needs a moment to rename before the next request.
    co_await Delay(this, renamePauseMs_);
}

Task<> Enforcement::checkPing(quint64 generation, const PlayerRecord& player, const QString& noticeMarker)
{
    if (!current(generation) || !settings_.isChecked(QStringLiteral("Check2")) || !noticeMarker.isEmpty() ||
        specialPing(player.ping))
        co_return;
    const QString limitText = settings_.text(QStringLiteral("Text5"));
    const QString scansText = settings_.text(QStringLiteral("Text6"));
    const auto ping = toInt16(player.ping);
    const auto limit = toInt16(limitText);
    const auto scans = toInt16(scansText);
    // Numbers that cannot be read put nobody over the limit.
    if (!ping || !limit || !scans || *ping <= *limit)
        co_return;

    const auto seen = previousPing_.constFind(player.ip);
    if (seen == previousPing_.constEnd()) {
        currentPing_.insert(player.ip, 1);
        co_return;
    }
    const int count = *seen + 1;
    if (count < *scans) {
        currentPing_.insert(player.ip, count);
        co_return;
    }

    QString notice = settings_.text(QStringLiteral("Text7"));
    notice.replace(QLatin1String("$name"), player.name);
    notice.replace(QLatin1String("$ping"), limitText);
    notice.replace(QLatin1String("$scans"), scansText);
    const QString clientNum = player.clientNum;
    const RconTarget target = session_.target();
    co_await rcon_.send(QStringLiteral("say ") + rconSafe(notice), target);
    if (!current(generation))
        co_return;
    co_await rcon_.send(QStringLiteral("clientkick ") + clientNum, target);
    if (!current(generation))
        co_return;
    logAlert(notice);
}

void Enforcement::finishPingPass()
{
    previousPing_ = settings_.isChecked(QStringLiteral("Check2")) ? currentPing_ : QHash<QString, int>();
    currentPing_.clear();
    // This pass read the table: a request whose target was not in it is done.
    for (const PendingInGameBan& pending : std::as_const(pending_)) {
        if (!pending.thisPass)
            dropInGameBan(pending);
    }
    pending_.clear();
    seenSlots_ = seenThisPass_;
}

void Enforcement::dropInGameBan(const PendingInGameBan& pending)
{
    const QString what = QStringLiteral("In-game ban of client %1 for %2 dropped: ")
                             .arg(pending.request.target, pending.request.reason);
    if (pending.holder)
        logAlert(what + QStringLiteral("the slot no longer holds %1 (%2)").arg(pending.holder->name,
                                                                               pending.holder->ip));
    else
        logAlert(what + QStringLiteral("nobody was seen in the slot when it was asked for"));
}

// skelvar.log gets alerts only while the operator has logging ticked.
void Enforcement::logAlert(const QString& text)
{
    if (settings_.isChecked(QStringLiteral("Logea")))
        log_.append(text);
}

// ---- private mode -----------------------------------------------------------

void Enforcement::makePrivate()
{
    if (timer4_->isActive())
        return;
    countdown_ = 60;
    timer4_->start();
}

void Enforcement::onTimer4()
{
    QString notice = settings_.text(QStringLiteral("Alert6"));
    notice.replace(QLatin1String("$time"), QString::number(countdown_));
    tasks_.keep(sayCountdown(QStringLiteral("say ") + rconSafe(notice)));
    countdown_ -= 10;
    if (countdown_ > 0)
        return;
    timer4_->stop();
    privateMode_ = true;
    // The notice is queued first, so it goes out before the scan's requests.
    if (startScan_)
        startScan_();
}

Task<> Enforcement::sayCountdown(QString command)
{
    // Said whether or not a session runs.
    if (session_.running())
        co_await rcon_.send(command, session_.target());
    else
        co_await rcon_.send(command);
}

}  // namespace skelvar::rcon
