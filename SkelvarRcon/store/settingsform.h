#pragma once
// The values of rconskelvar.ini as the monitor window lays them out: each on
// its tab, in a line with the window's caption before it and the caption of
// its own box, button or unit after it. Front ends other than the window (the
// web page) show the settings through this, so that an admin finds every
// value under the name the window gives it.

#include <QList>
#include <QString>
#include <QStringList>

namespace skelvar::rcon {

struct SettingsField {
    QString control;  // the value's name in Settings
    QString caption;  // a check box's or option's caption, or a box's unit
    // The control that, when disabled, disables this one with it (a caption
    // around its box); empty when only its own state counts.
    QString enabledWith;
};

struct SettingsLine {
    QString caption;
    QList<SettingsField> fields;
};

struct SettingsTab {
    QString title;
    QList<SettingsLine> lines;
};

// The window's four tabs in order; every value of Settings sits in exactly one line.
const QList<SettingsTab>& settingsTabs();
QStringList settingsTabTitles();

}  // namespace skelvar::rcon
