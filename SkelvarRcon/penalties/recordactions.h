#pragma once
// What the window's list buttons and detection check boxes do: kick and ban
// by hand from Players, remove and convert records, widen bans to address
// patterns, and the enable rules of Check1, Check2, Check5 and Check6.
// Every button acts on the row the window passes (its list's selected row at
// the click); a row that is not there does nothing.

#include "lists/prompter.h"
#include "SkelvarRcon/transport/task.h"
#include "lists/records.h"

#include <QDate>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace skelvar::rcon {

class ListStore;
class MonitorSession;
class PlayerList;
using skelvar::Prompter;
class RconTransport;
class Settings;
class UiState;

class RecordActions : public QObject {
    Q_OBJECT
public:
    enum class Widen { Subrank, Provider };

    RecordActions(RconTransport& rcon, MonitorSession& session, Settings& settings, ListStore& lists,
                  PlayerList& players, UiState& ui, Prompter& prompter, QObject* parent = nullptr);

    // The controls each list's row click shows.
    static const QStringList& playerControls();  // Command5, Command6, Option1, Option2, Text2
    static const QStringList& buttonsOf(lists::ListKind kind);

    // Hides all twelve, as when the window opens.
    void hideAll();
    void playersRowClicked();
    void recordRowClicked(lists::ListKind kind);

    void kickPlayer(int row);                            // Command5
    void banPlayer(int row);                             // Command6
    void removeRecord(lists::ListKind kind, int row);    // Command7, Command10, Command11
    void convertToBan(lists::ListKind kind, int row);    // Command14, Command15
    void widenBan(int row, Widen how);                   // Command8, Command9
    // The operator typed in Text2 (not a load): the days apply.
    void text2Edited();

    // Check boxes, on every click and once after the settings are loaded.
    void check1Clicked();
    void check2Clicked();
    void check5Clicked();
    void check6Clicked();
    void applyAllChecks();
    // Check5's three controls; also run when txtPRP loses the focus.
    void applyReservedSkinControls();

    // No kick is waiting to be sent.
    bool idle() { return tasks_.idle(); }
    void setClockForTests(std::function<QDate()> today) { today_ = std::move(today); }

private:
    Task<> sendKick(QString clientNum);

    RconTransport& rcon_;
    MonitorSession& session_;
    Settings& settings_;
    ListStore& lists_;
    PlayerList& players_;
    UiState& ui_;
    Prompter& prompter_;
    TaskKeeper tasks_;
    std::function<QDate()> today_;
};

}  // namespace skelvar::rcon
