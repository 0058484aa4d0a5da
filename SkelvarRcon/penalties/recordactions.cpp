#include "SkelvarRcon/penalties/recordactions.h"

#include "SkelvarRcon/penalties/banmatch.h"
#include "SkelvarRcon/session/monitorsession.h"
#include "SkelvarRcon/session/uistate.h"
#include "SkelvarRcon/store/liststore.h"
#include "SkelvarRcon/store/recordlist.h"
#include "SkelvarRcon/store/settings.h"
#include "SkelvarRcon/transport/rcontransport.h"

namespace skelvar::rcon {

using lists::ListKind;
using lists::Record;

namespace {
const QString kNotWidened = QStringLiteral("Ban not widened");
}

RecordActions::RecordActions(RconTransport& rcon, MonitorSession& session, Settings& settings, ListStore& lists,
                             PlayerList& players, UiState& ui, Prompter& prompter, QObject* parent)
    : QObject(parent),
      rcon_(rcon),
      session_(session),
      settings_(settings),
      lists_(lists),
      players_(players),
      ui_(ui),
      prompter_(prompter),
      today_([] { return QDate::currentDate(); })
{
    hideAll();
}

const QStringList& RecordActions::playerControls()
{
    static const QStringList names{"Command5", "Command6", "Option1", "Option2", "Text2"};
    return names;
}

const QStringList& RecordActions::buttonsOf(ListKind kind)
{
    static const QStringList bans{"Command7", "Command8", "Command9"};
    static const QStringList kicks{"Command10", "Command15"};
    static const QStringList warnings{"Command11", "Command14"};
    switch (kind) {
    case ListKind::Bans: return bans;
    case ListKind::Kicks: return kicks;
    case ListKind::Warnings: break;
    }
    return warnings;
}

void RecordActions::hideAll()
{
    ui_.setVisible(playerControls(), false);
    for (const ListKind k : {ListKind::Bans, ListKind::Kicks, ListKind::Warnings})
        ui_.setVisible(buttonsOf(k), false);
}

void RecordActions::playersRowClicked()
{
    ui_.setVisible(playerControls(), true);
}

void RecordActions::recordRowClicked(ListKind kind)
{
    for (const ListKind k : {ListKind::Bans, ListKind::Kicks, ListKind::Warnings})
        ui_.setVisible(buttonsOf(k), k == kind);
}

Task<> RecordActions::sendKick(QString clientNum)
{
    const QString command = QStringLiteral("clientkick ") + clientNum;
    if (session_.running())
        co_await rcon_.send(command, session_.target());
    else
        co_await rcon_.send(command);
}

void RecordActions::kickPlayer(int row)
{
    if (row < 0 || row >= players_.size())
        return;
    // The row as it is now: a scan may rebuild Players while the kick waits.
    const PlayerRow player = players_.at(row);
    lists_.kicks().add({player.ip, player.name, QStringLiteral("Admin. Kick"), lists::formatDate(today_()), QString()});
    players_.removeAt(row);
    ui_.setVisible(playerControls(), false);
    tasks_.keep(sendKick(player.no));
}

void RecordActions::banPlayer(int row)
{
    if (row < 0 || row >= players_.size())
        return;
    const PlayerRow player = players_.at(row);
    const QDate today = today_();
    QString until;
    if (settings_.isChecked(QStringLiteral("Option2"))) {
        const auto days = toInt16(settings_.text(QStringLiteral("Text2")));
        if (!days) {
            prompter_.message(QStringLiteral("Ban not made"),
                              QStringLiteral("The number of days is not a whole number. Type the days of the ban, "
                                             "or choose Indefinitely."),
                              Prompter::Icon::Warning);
            return;
        }
        until = lists::formatDate(today.addDays(*days));
    }
    addBanUnlessCovered(lists_.bans(), {player.ip, player.name, QStringLiteral("Admin. Ban"), lists::formatDate(today), until},
                        today);
    players_.removeAt(row);
    ui_.setVisible(playerControls(), false);
    tasks_.keep(sendKick(player.no));
}

void RecordActions::removeRecord(ListKind kind, int row)
{
    RecordList& list = lists_.list(kind);
    if (row < 0 || row >= list.size())
        return;
    list.removeAt(row);
    ui_.setVisible(buttonsOf(kind), false);
}

void RecordActions::convertToBan(ListKind kind, int row)
{
    if (kind == ListKind::Bans)
        return;
    RecordList& list = lists_.list(kind);
    if (row < 0 || row >= list.size())
        return;
    const Record source = list.at(row);
    const QDate today = today_();
    addBanUnlessCovered(lists_.bans(), {source.ip, source.name, QStringLiteral("Admin. Ban"), lists::formatDate(today), QString()},
                        today);
    list.removeAt(row);
    ui_.setVisible(buttonsOf(kind), false);
}

void RecordActions::widenBan(int row, Widen how)
{
    RecordList& bans = lists_.bans();
    if (row < 0 || row >= bans.size())
        return;
    const Record ban = bans.at(row);
    const int needed = how == Widen::Subrank ? 3 : 2;
    if (ban.ip.split(QLatin1Char('.')).size() < needed) {
        prompter_.message(kNotWidened,
                          QStringLiteral("%1 has too few address groups for this pattern. The ban is left as it was.")
                              .arg(ban.ip),
                          Prompter::Icon::Warning);
        return;
    }
    const QString pattern = how == Widen::Subrank ? SubrankPattern(ban.ip) : ProviderPattern(ban.ip);
    if (!parseBanAddress(pattern)) {
        // Either every group would be xxx, or the text is no address at all.
        prompter_.message(kNotWidened,
                          QStringLiteral("The pattern %1 would not be a usable address range. The ban is left as it "
                                         "was.")
                              .arg(pattern),
                          Prompter::Icon::Warning);
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
    ui_.setVisible(buttonsOf(ListKind::Bans), false);
}

void RecordActions::text2Edited()
{
    settings_.setChecked(QStringLiteral("Option2"), true);
}

void RecordActions::check1Clicked()
{
    const bool on = settings_.isChecked(QStringLiteral("Check1"));
    if (on && settings_.text(QStringLiteral("txtTAG")).isEmpty()) {
        prompter_.message(QStringLiteral("No tag provided!!"),
                          QStringLiteral("Reserved slots can't be checked without an appropiate tag"),
                          Prompter::Icon::Critical);
        settings_.setChecked(QStringLiteral("Check1"), false);
        check1Clicked();
        return;
    }
    ui_.setEnabled(QStringList{"Alert1", "Alert2"}, on);
}

void RecordActions::check5Clicked()
{
    const bool on = settings_.isChecked(QStringLiteral("Check5"));
    if (on && settings_.text(QStringLiteral("txtPRP")).isEmpty()) {
        prompter_.message(QStringLiteral("No password provided!!"),
                          QStringLiteral("Reserved skins can't be checked without an appropiate password"),
                          Prompter::Icon::Critical);
        settings_.setChecked(QStringLiteral("Check5"), false);
        check5Clicked();
        return;
    }
    applyReservedSkinControls();
}

void RecordActions::applyReservedSkinControls()
{
    ui_.setEnabled(QStringList{"Label16", "Label17", "Alert4"}, settings_.isChecked(QStringLiteral("Check5")));
}

void RecordActions::check2Clicked()
{
    ui_.setEnabled(QStringLiteral("Text7"), settings_.isChecked(QStringLiteral("Check2")));
}

void RecordActions::check6Clicked()
{
    ui_.setEnabled(QStringLiteral("Alert5"), settings_.isChecked(QStringLiteral("Check6")));
}

void RecordActions::applyAllChecks()
{
    check1Clicked();
    check2Clicked();
    check5Clicked();
    check6Clicked();
}

}  // namespace skelvar::rcon
