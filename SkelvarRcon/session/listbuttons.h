#pragma once
// The row buttons of the three record lists: which list each belongs to, its
// object name and caption. The window builds the buttons from this table,
// RecordActions acts on the enum, UiState shows and hides them.

#include "SkelvarRcon/store/controlnames.h"
#include "lists/records.h"

#include <QList>

namespace skelvar::rcon {

enum class ListButton {
    RemoveWarning,
    WarningToBan,
    RemoveKick,
    KickToBan,
    RemoveBan,
    BanSubrank,
    BanProvider,
};

struct ListButtonDef {
    ListButton button;
    lists::ListKind list;
    const char* name;
    const char* caption;
};

// In the order the window shows them, list by list.
inline const QList<ListButtonDef>& listButtons()
{
    static const QList<ListButtonDef> buttons{
        {ListButton::RemoveWarning, lists::ListKind::Warnings, control::removeWarningButton, "Remove Warning"},
        {ListButton::WarningToBan, lists::ListKind::Warnings, control::warningToBanButton, "Convert to Ban"},
        {ListButton::RemoveKick, lists::ListKind::Kicks, control::removeKickButton, "Remove Kick"},
        {ListButton::KickToBan, lists::ListKind::Kicks, control::kickToBanButton, "Convert to Ban"},
        {ListButton::RemoveBan, lists::ListKind::Bans, control::removeBanButton, "Remove Ban"},
        {ListButton::BanSubrank, lists::ListKind::Bans, control::banSubrankButton, "Ban Subrank"},
        {ListButton::BanProvider, lists::ListKind::Bans, control::banProviderButton, "Ban Provider"},
    };
    return buttons;
}

inline const ListButtonDef& listButton(ListButton button)
{
    return listButtons()[int(button)];
}

} // namespace skelvar::rcon
