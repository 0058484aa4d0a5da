#pragma once
// What the monitor's logic shows: captions, enabled and visible states and
// progress values of the window's controls. The logic sets them through the
// setters named for what they show; the window applies every change to the
// widget of the control's object name, and tests read them here by name.

#include "SkelvarRcon/session/listbuttons.h"
#include "lists/prompter.h"
#include "lists/records.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace skelvar::rcon {

// The caption of the start button.
enum class StartCaption { Start, Warming, Scanning };
enum class ServerOs { Unknown, Linux, Windows };
enum class CheatsState { Unknown, Enabled, Disabled };
// The two server scripts whose state the probe shows.
enum class ServerMod { ModSkelvar, ZovPlinket };
enum class ModState { Unknown, Running, NotRunning };
enum class Progress { Scan, Patrol };

class UiState : public QObject {
    Q_OBJECT
public:
    struct Control {
        std::optional<bool> enabled;
        std::optional<bool> visible;
        std::optional<QString> text;
        std::optional<int> value;
        std::optional<int> maximum;
    };

    using QObject::QObject;

    // The controls a request locks: start, exit, stop, the console input and
    // the connection and period boxes.
    static const QStringList& sessionControls();
    // The controls a pass locks: start, exit, stop and the console input.
    static const QStringList& passLockedControls();
    // Shown once a row of Players is clicked: kick, ban and the ban's length.
    static const QStringList& playerControls();
    // Every name the logic may address: the controls above and every value
    // of the settings table.
    static bool isKnown(const QString& name);

    // Engine status.
    void setServerStatus(const QString& text);
    QString serverStatus() const;
    void setStartCaption(StartCaption caption);
    // "Last Data Retrieval: n seconds ago"; no seconds empties the line.
    void setLastDataAge(std::optional<int> seconds);
    void setServerOs(ServerOs os);
    void setCheatsState(CheatsState state);
    void setModState(ServerMod mod, ModState state);
    void setNotMonitoredShown(bool shown);
    void setProgress(Progress bar, int value);
    void setProgressMaximum(Progress bar, int maximum);
    // One step, unless the bar is full.
    void advanceProgress(Progress bar);
    // Both bars back to 0.
    void resetProgress();
    int progress(Progress bar) const;
    int progressMaximum(Progress bar) const;

    // Session and exit.
    void setPassLocked(bool locked);
    void setSessionControlsEnabled(bool on);
    // The exit has begun: the exit button says so, start, stop and the console lock.
    void showDisconnecting();

    // Row controls of the lists.
    void setPlayerControlsVisible(bool visible);
    void setListButtonVisible(ListButton button, bool visible);
    void setListButtonsVisible(lists::ListKind list, bool visible);

    // Controls that follow a detection's or an option's check box.
    void setPrivateClientControlsEnabled(bool on); // Alert1, Alert2
    void setReservedSkinControlsEnabled(bool on);  // Label16, Label17, Alert4
    void setPingKickNoticeEnabled(bool on);        // Text7
    void setConnectionAlertEnabled(bool on);       // Alert5
    void setSilentEnabled(bool on);

    // By name, for the window and the tests. An unknown name is a programming
    // error: it asserts, and in a release build it is logged, sets nothing
    // and reads as the fallback.
    void setEnabled(const QString& name, bool on);
    void setEnabled(const QStringList& names, bool on);
    void setVisible(const QString& name, bool on);
    void setVisible(const QStringList& names, bool on);
    void setText(const QString& name, const QString& text);
    void setValue(const QString& name, int value);
    void setMaximum(const QString& name, int maximum);

    bool isEnabled(const QString& name, bool fallback = true) const;
    bool isVisible(const QString& name, bool fallback = true) const;
    QString text(const QString& name, const QString& fallback = QString()) const;
    int value(const QString& name, int fallback = 0) const;
    int maximum(const QString& name, int fallback = 0) const;

    const QHash<QString, Control>& controls() const { return m_controls; }

signals:
    void changed(const QString& name);
    // After changed() for the status line.
    void serverStatusChanged(const QString& text);

private:
    Control* slot(const QString& name, const char* where);
    const Control* find(const QString& name, const char* where) const;

    QHash<QString, Control> m_controls;
};

using skelvar::Prompter;

} // namespace skelvar::rcon
