#include "SkelvarRcon/penalties/enforcement.h"

#include "SkelvarRcon/engine/alerttemplate.h"
#include "SkelvarRcon/penalties/escalation.h"
#include "SkelvarRcon/session/monitorsession.h"
#include "SkelvarRcon/session/passcontext.h"
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

Enforcement::Enforcement(MonitorSession& session, Settings& settings, ListStore& lists, Prompter& prompter,
                         const Clock* clock, QObject* parent)
    : QObject(parent), m_session(session), m_settings(settings), m_lists(lists), m_prompter(prompter),
      m_countdownTimer(new QTimer(this)), m_clock(clock ? *clock : Clock::system())
{
    m_countdownTimer->setObjectName(QLatin1String(control::countdownTimer));
    m_countdownTimer->setInterval(kCountdownIntervalMs);
    connect(m_countdownTimer, &QTimer::timeout, this, &Enforcement::onCountdownTick);
    followBans();
}

// Rows added or removed one by one (a merge of a few, a ban given here or
// by another monitor) move the index along; anything else rebuilds it.
void Enforcement::followBans()
{
    RecordList& bans = m_lists.bans();
    connect(&bans, &QAbstractItemModel::rowsInserted, this, [this, &bans](const QModelIndex&, int first, int last) {
        if (m_indexDirty)
            return;
        QList<lists::Record> added;
        for (int row = first; row <= last; ++row)
            added.append(bans.at(row));
        m_index.insertRows(first, added);
    });
    connect(&bans, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex&, int first, int last) {
        if (!m_indexDirty)
            m_index.removeRows(first, last - first + 1);
    });
    const auto rebuild = [this] { m_indexDirty = true; };
    connect(&bans, &QAbstractItemModel::rowsMoved, this, rebuild);
    connect(&bans, &QAbstractItemModel::dataChanged, this, rebuild);
    connect(&bans, &QAbstractItemModel::modelReset, this, rebuild);
    connect(&bans, &QAbstractItemModel::layoutChanged, this, rebuild);
}

Enforcement::~Enforcement() = default;

void Enforcement::setCountdownIntervalForTests(int ms)
{
    m_countdownTimer->setInterval(ms);
}

void Enforcement::ensureIndex()
{
    if (m_indexDirty) {
        m_index.rebuild(m_lists.bans());
        m_indexDirty = false;
        m_unusableSeen = 0;
    }
    if (m_index.unusable().size() == m_unusableSeen)
        return;
    m_unusableSeen = m_index.unusable().size();

    QStringList fresh;
    for (const QString& ip : m_index.unusable()) {
        if (!m_reportedUnusable.contains(ip)) {
            m_reportedUnusable.insert(ip);
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
        m_prompter.message(QStringLiteral("Ban records not enforced"),
                           QStringLiteral("These ban records hold no address or address pattern and ban nobody:\n") +
                               shown.join(QLatin1Char('\n')),
                           Prompter::Icon::Warning);
    });
}

// ---- scan -----------------------------------------------------------------

Task<> Enforcement::warnConnection(PassContext& pass, const PlayerRecord& player)
{
    if (!m_settings.warnOnConnection() || specialPing(player.ping))
        co_return;
    const auto ping = toInt16(player.ping);
    const auto rate = toInt32(player.rate);
    if (!ping || !rate || *ping >= 100 || *rate >= 5001)
        co_return;
    const QString text =
        fillTemplate(m_settings.alertTemplate(Alert::Connection), {{QLatin1String("$name"), player.name}});
    if (!m_settings.silent())
        co_await pass.say(text);
    pass.log(text);
}

Task<> Enforcement::escalate(PassContext& pass, PlayerRecord& player)
{
    const EscalationStep step =
        escalateRecords(m_lists.warnings(), m_lists.kicks(), m_lists.bans(), m_settings.kickAfterWarnings(),
                        m_settings.banAfterKicks(), player.ip, player.name, m_clock.today());
    if (step.kick)
        player.kickFlag = 1;
    if (player.kickFlag == 1)
        co_await pass.kick(player);
}

// ---- patrol pass ------------------------------------------------------------

Task<> Enforcement::readInGameBan(PassContext& pass)
{
    m_currentPing.clear();
    m_seenThisPass.clear();
    for (PendingInGameBan& pending : m_pending)
        pending.thisPass = false;
    const QString answer = co_await pass.ask(QStringLiteral("clientban"));
    const ClientBanValue value = parseClientBan(answer);
    if (!value.set)
        co_return;
    // Kept until a pass has read a status table to look the target up in.
    if (value.request) {
        const auto seen = m_seenSlots.constFind(value.request->target);
        m_pending.append(
            {*value.request, seen == m_seenSlots.constEnd() ? std::nullopt : std::optional<SeenPlayer>(*seen), true});
    }
    co_await pass.send(QStringLiteral("set clientban -1"));
}

Task<> Enforcement::applyInGameBan(PassContext& pass, const PlayerRecord& player)
{
    m_seenThisPass.insert(player.clientNum, {player.name, player.ip});
    for (qsizetype i = 0; i < m_pending.size();) {
        if (m_pending[i].request.target != player.clientNum) {
            ++i;
            continue;
        }
        const PendingInGameBan pending = m_pending.takeAt(i);
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
    const QDate today = m_clock.today();
    if (m_index.hasActiveExact(player.ip, today))
        return;
    m_lists.bans().add({player.ip, player.name, pending.request.reason, lists::formatDate(today), QString()});
}

Task<QString> Enforcement::enforceBans(PassContext& pass, const PlayerRecord& player)
{
    ensureIndex();
    const int row = m_index.find(player.ip, m_clock.today());
    if (row < 0)
        co_return QString();
    // A copy: the operator may change the list while the commands wait.
    const lists::Record ban = m_lists.bans().at(row);
    const QString notice = fillTemplate(
        m_settings.alertTemplate(Alert::BanNotice),
        {{QLatin1String("$ip"), ban.ip}, {QLatin1String("$date"), ban.date}, {QLatin1String("$reason"), ban.reason}});
    // A notice whose kick did not happen is no ban enforced.
    const bool kicked = co_await pass.sayKickLog(notice, player);
    if (!kicked)
        co_return QString();
    co_return notice;
}

Task<> Enforcement::renameForSpearhead(PassContext& pass, PlayerRecord& player)
{
    if (!m_settings.spearheadCompatibility() || !m_spearhead || !m_spearhead() ||
        !player.name.contains(QLatin1Char(' ')))
        co_return;
    const QString newName = spearheadName(player.name);
    player.name = newName;
    const QString clientNum = player.clientNum;

    co_await pass.send(QStringLiteral("set numero ") + clientNum);
    co_await pass.send(QStringLiteral("set nombre ") + rconArgument(newName));
    // The server script needs a moment to rename before the next request.
    co_await pass.pause(m_renamePauseMs);
}

Task<> Enforcement::checkPing(PassContext& pass, const PlayerRecord& player, const QString& noticeMarker)
{
    if (!m_settings.kickOnHighPing() || !noticeMarker.isEmpty() || specialPing(player.ping))
        co_return;
    const QString limitText = m_settings.pingLimit();
    const QString scansText = m_settings.pingScans();
    if (!pingKickDue(player, limitText, scansText))
        co_return;
    const QString notice =
        fillTemplate(m_settings.alertTemplate(Alert::PingKick), {{QLatin1String("$name"), player.name},
                                                                 {QLatin1String("$ping"), limitText},
                                                                 {QLatin1String("$scans"), scansText}});
    co_await pass.sayKickLog(notice, player);
}

bool Enforcement::pingKickDue(const PlayerRecord& player, const QString& limitText, const QString& scansText)
{
    const auto ping = toInt16(player.ping);
    const auto limit = toInt16(limitText);
    const auto scans = toInt16(scansText);
    // Numbers that cannot be read put nobody over the limit.
    if (!ping || !limit || !scans || *ping <= *limit)
        return false;
    const auto seen = m_previousPing.constFind(player.ip);
    if (seen == m_previousPing.constEnd()) {
        m_currentPing.insert(player.ip, 1);
        return false;
    }
    const int count = *seen + 1;
    if (count < *scans) {
        m_currentPing.insert(player.ip, count);
        return false;
    }
    return true;
}

void Enforcement::finishPingPass(PassContext& pass)
{
    m_previousPing = m_settings.kickOnHighPing() ? m_currentPing : QHash<QString, int>();
    m_currentPing.clear();
    // This pass read the table: a request whose target was not in it is done.
    for (const PendingInGameBan& pending : std::as_const(m_pending)) {
        if (!pending.thisPass)
            dropInGameBan(pass, pending);
    }
    m_pending.clear();
    m_seenSlots = m_seenThisPass;
}

void Enforcement::dropInGameBan(PassContext& pass, const PendingInGameBan& pending)
{
    const QString what =
        QStringLiteral("In-game ban of client %1 for %2 dropped: ").arg(pending.request.target, pending.request.reason);
    if (pending.holder)
        pass.log(what +
                 QStringLiteral("the slot no longer holds %1 (%2)").arg(pending.holder->name, pending.holder->ip));
    else
        pass.log(what + QStringLiteral("nobody was seen in the slot when it was asked for"));
}

// ---- private mode -----------------------------------------------------------

void Enforcement::makePrivate()
{
    if (m_countdownTimer->isActive())
        return;
    m_countdown = 60;
    m_countdownTimer->start();
}

void Enforcement::onCountdownTick()
{
    const QString notice = fillTemplate(m_settings.alertTemplate(Alert::PrivateMode),
                                        {{QLatin1String("$time"), QString::number(m_countdown)}});
    m_tasks.keep(sayCountdown(QStringLiteral("say ") + rconArgument(notice)));
    m_countdown -= 10;
    if (m_countdown > 0)
        return;
    m_countdownTimer->stop();
    m_privateMode = true;
    // The notice is queued first, so it goes out before the scan's requests.
    if (m_startScan)
        m_startScan();
}

Task<> Enforcement::sayCountdown(QString command)
{
    // Said whether or not a session runs.
    co_await m_session.send(std::move(command));
}

}  // namespace skelvar::rcon
