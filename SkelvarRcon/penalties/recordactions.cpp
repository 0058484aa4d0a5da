#include "SkelvarRcon/penalties/recordactions.h"

#include "SkelvarRcon/engine/serverparse.h"
#include "SkelvarRcon/penalties/banmatch.h"
#include "SkelvarRcon/penalties/ingameban.h"
#include "SkelvarRcon/session/monitorsession.h"
#include "SkelvarRcon/session/uistate.h"
#include "SkelvarRcon/store/liststore.h"
#include "SkelvarRcon/store/recordlist.h"
#include "SkelvarRcon/store/settings.h"

namespace skelvar::rcon {

using lists::ListKind;
using lists::Record;

namespace {
const QString kNotWidened = QStringLiteral("Ban not widened");
}

RecordActions::RecordActions(MonitorSession& session, Settings& settings, ListStore& lists, PlayerList& players,
                             UiState& ui, Prompter& prompter, const Clock* clock, QObject* parent)
    : QObject(parent), m_session(session), m_settings(settings), m_lists(lists), m_players(players), m_ui(ui),
      m_prompter(prompter), m_clock(clock ? *clock : Clock::system())
{
    hideAll();
}

void RecordActions::hideAll()
{
    m_ui.setPlayerControlsVisible(false);
    for (const ListKind k : {ListKind::Bans, ListKind::Kicks, ListKind::Warnings})
        m_ui.setListButtonsVisible(k, false);
}

void RecordActions::playersRowClicked()
{
    m_ui.setPlayerControlsVisible(true);
}

void RecordActions::recordRowClicked(ListKind kind)
{
    for (const ListKind k : {ListKind::Bans, ListKind::Kicks, ListKind::Warnings})
        m_ui.setListButtonsVisible(k, k == kind);
}

void RecordActions::press(ListButton button, int row)
{
    const ListKind list = listButton(button).list;
    switch (button) {
    case ListButton::RemoveWarning:
    case ListButton::RemoveKick:
    case ListButton::RemoveBan: removeRecord(list, row); return;
    case ListButton::WarningToBan:
    case ListButton::KickToBan: convertToBan(list, row); return;
    case ListButton::BanSubrank: widenBan(row, Widen::Subrank); return;
    case ListButton::BanProvider: widenBan(row, Widen::Provider); return;
    }
}

Task<> RecordActions::sendKick(PlayerRow player)
{
    // Players is as old as the last scan: the slot may have changed hands.
    const Reply status = co_await m_session.read(QStringLiteral("status"));
    const std::optional<PlayerRecord> now = playerInSlot(status.text, player.no);
    if (!now || !holdsSlot({now->name, now->ip}, player.name, player.ip)) {
        m_prompter.message(
            QStringLiteral("Player not kicked"),
            status.answered
                ? QStringLiteral("%1 (%2) is no longer in slot %3.").arg(player.name, player.ip, player.no)
                : QStringLiteral("The server did not answer; %1 (%2) was not kicked.").arg(player.name, player.ip),
            Prompter::Icon::Warning);
        co_return;
    }
    co_await m_session.send(QStringLiteral("clientkick ") + rconSafe(player.no));
}

void RecordActions::kickPlayer(int row)
{
    if (row < 0 || row >= m_players.size())
        return;
    // The row as it is now: a scan may rebuild Players while the kick waits.
    const PlayerRow player = m_players.at(row);
    m_lists.kicks().add(
        {player.ip, player.name, QStringLiteral("Admin. Kick"), lists::formatDate(m_clock.today()), QString()});
    m_players.removeAt(row);
    m_ui.setPlayerControlsVisible(false);
    m_tasks.keep(sendKick(player));
}

void RecordActions::banPlayer(int row, const QString& reason)
{
    if (row < 0 || row >= m_players.size())
        return;
    const PlayerRow player = m_players.at(row);
    const QDate today = m_clock.today();
    QString until;
    if (m_settings.handBanForDays()) {
        const auto days = toInt16(m_settings.handBanDays());
        if (!days) {
            m_prompter.message(QStringLiteral("Ban not made"),
                               QStringLiteral("The number of days is not a whole number. Type the days of the ban, "
                                              "or choose Indefinitely."),
                               Prompter::Icon::Warning);
            return;
        }
        until = lists::formatDate(today.addDays(*days));
    }
    const QString why = reason.trimmed().isEmpty() ? QStringLiteral("Admin. Ban") : reason.trimmed();
    addBanUnlessCovered(m_lists.bans(), {player.ip, player.name, why, lists::formatDate(today), until}, today);
    m_players.removeAt(row);
    m_ui.setPlayerControlsVisible(false);
    m_tasks.keep(sendKick(player));
}

void RecordActions::removeRecord(ListKind kind, int row)
{
    RecordList& list = m_lists.list(kind);
    if (row < 0 || row >= list.size())
        return;
    list.removeAt(row);
    m_ui.setListButtonsVisible(kind, false);
}

void RecordActions::convertToBan(ListKind kind, int row)
{
    if (kind == ListKind::Bans)
        return;
    RecordList& list = m_lists.list(kind);
    if (row < 0 || row >= list.size())
        return;
    const Record source = list.at(row);
    const QDate today = m_clock.today();
    addBanUnlessCovered(m_lists.bans(),
                        {source.ip, source.name, QStringLiteral("Admin. Ban"), lists::formatDate(today), QString()},
                        today);
    list.removeAt(row);
    m_ui.setListButtonsVisible(kind, false);
}

// The address pattern the ban widens to; empty, with the operator told why,
// when the address cannot be widened that way.
QString RecordActions::widenedPattern(const QString& ip, Widen how, QString* why)
{
    const int needed = how == Widen::Subrank ? 3 : 2;
    if (ip.split(QLatin1Char('.')).size() < needed) {
        *why = QStringLiteral("%1 has too few address groups for this pattern. The ban is left as it was.").arg(ip);
        return {};
    }
    const QString pattern = how == Widen::Subrank ? SubrankPattern(ip) : ProviderPattern(ip);
    if (!parseBanAddress(pattern)) {
        // Either every group would be xxx, or the text is no address at all.
        *why = QStringLiteral("The pattern %1 would not be a usable address range. The ban is left as it was.")
                   .arg(pattern);
        return {};
    }
    return pattern;
}

void RecordActions::widenBan(int row, Widen how)
{
    RecordList& bans = m_lists.bans();
    if (row < 0 || row >= bans.size())
        return;
    const Record ban = bans.at(row);
    QString why;
    const QString pattern = widenedPattern(ban.ip, how, &why);
    if (pattern.isEmpty()) {
        m_prompter.message(kNotWidened, why, Prompter::Icon::Warning);
        return;
    }
    if (pattern != ban.ip) {
        bool same = false;
        for (int i = 0; i < bans.size() && !same; ++i)
            same = i != row && bans.at(i).ip == pattern && bans.at(i).until == ban.until;
        // The same ban exists already: the widened row would be its twin.
        if (same)
            bans.removeAt(row);
        else
            bans.setIp(row, pattern);
    }
    m_ui.setListButtonsVisible(ListKind::Bans, false);
}

void RecordActions::handBanDaysEdited()
{
    m_settings.chooseHandBanForDays();
}

void RecordActions::privateClientsToggled()
{
    const bool on = m_settings.scanPrivateClients();
    if (on && m_settings.privateTag().isEmpty()) {
        refusePrivateClients();
        return;
    }
    m_ui.setPrivateClientControlsEnabled(on);
}

void RecordActions::refusePrivateClients()
{
    m_prompter.message(QStringLiteral("No tag provided!!"),
                       QStringLiteral("Reserved slots can't be checked without an appropiate tag"),
                       Prompter::Icon::Critical);
    m_settings.setDetectionEnabled(Detection::PrivateClients, false);
    privateClientsToggled();
}

void RecordActions::reservedSkinsToggled()
{
    if (m_settings.scanReservedSkins() && m_settings.privatePassword().isEmpty()) {
        refuseReservedSkins();
        return;
    }
    applyReservedSkinControls();
}

void RecordActions::refuseReservedSkins()
{
    m_prompter.message(QStringLiteral("No password provided!!"),
                       QStringLiteral("Reserved skins can't be checked without an appropiate password"),
                       Prompter::Icon::Critical);
    m_settings.setDetectionEnabled(Detection::ReservedSkins, false);
    applyReservedSkinControls();
}

void RecordActions::applyReservedSkinControls()
{
    m_ui.setReservedSkinControlsEnabled(m_settings.scanReservedSkins());
}

void RecordActions::pingKickToggled()
{
    m_ui.setPingKickNoticeEnabled(m_settings.kickOnHighPing());
}

void RecordActions::connectionWarningToggled()
{
    m_ui.setConnectionAlertEnabled(m_settings.warnOnConnection());
}

void RecordActions::applyAllCompanions()
{
    privateClientsToggled();
    pingKickToggled();
    reservedSkinsToggled();
    connectionWarningToggled();
}

}  // namespace skelvar::rcon
