#pragma once
// What the window's list buttons and detection check boxes do: kick and ban
// by hand from Players, remove and convert records, widen bans to address
// patterns, and which controls follow the boxes for private clients, reserved
// skins, the ping kick and the connection warning.
// Every button acts on the row the window passes (its list's selected row at
// the click); a row that is not there does nothing.

#include "SkelvarRcon/session/clock.h"
#include "SkelvarRcon/session/listbuttons.h"
#include "SkelvarRcon/transport/task.h"
#include "lists/prompter.h"
#include "lists/records.h"

#include <QDate>
#include <QObject>
#include <QString>

namespace skelvar::rcon {

class ListStore;
class MonitorSession;
class PlayerList;
struct PlayerRow;
using skelvar::Prompter;
class Settings;
class UiState;

class RecordActions : public QObject {
    Q_OBJECT
public:
    enum class Widen { Subrank, Provider };

    RecordActions(MonitorSession& session, Settings& settings, ListStore& lists, PlayerList& players, UiState& ui,
                  Prompter& prompter, const Clock* clock = nullptr, QObject* parent = nullptr);

    // Hides the Players controls and every list button, as when the window opens.
    void hideAll();
    void playersRowClicked();
    void recordRowClicked(lists::ListKind kind);

    void kickPlayer(int row);
    // For as long as the hand-ban controls say; an empty reason is "Admin. Ban".
    void banPlayer(int row, const QString& reason = {});
    // One of the record lists' buttons, on the row of its list.
    void press(ListButton button, int row);
    void removeRecord(lists::ListKind kind, int row);
    void convertToBan(lists::ListKind kind, int row);
    void widenBan(int row, Widen how);
    // The pattern Ban Subrank or Ban Provider makes of a ban's address, or
    // empty with *why, the reason the window tells, when it makes none.
    static QString widenedPattern(const QString& ip, Widen how, QString* why);
    // The operator typed in the hand ban's days box (not a load): the days apply.
    void handBanDaysEdited();

    // The check boxes, on every click and once after the settings are loaded.
    void privateClientsToggled();
    void pingKickToggled();
    void reservedSkinsToggled();
    void connectionWarningToggled();
    void applyAllCompanions();
    // A box that cannot work without its tag or password: the operator is
    // told, the box unticked and its controls disabled. Also when the tag or
    // the private password box is left empty.
    void refusePrivateClients();
    void refuseReservedSkins();

    // No kick is waiting to be sent.
    bool idle() { return m_tasks.idle(); }

private:
    // The kick of a Players row, when the server's status shows the slot
    // still holds him; the operator is told when it does not.
    Task<> sendKick(PlayerRow player);
    void applyReservedSkinControls();

    MonitorSession& m_session;
    Settings& m_settings;
    ListStore& m_lists;
    PlayerList& m_players;
    UiState& m_ui;
    Prompter& m_prompter;
    TaskKeeper m_tasks;
    const Clock& m_clock;
};

}  // namespace skelvar::rcon
