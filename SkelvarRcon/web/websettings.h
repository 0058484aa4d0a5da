#pragma once
// The settings on the web page: the window's four tabs with every value of
// rconskelvar.ini under the window's caption, and whether the window would
// let it be edited now; and an edit from the page, applied as the window
// applies typing and clicks, followed by the checks the window makes when a
// box loses the focus, then written to the file at once.

#include "SkelvarRcon/app/monitor.h"

#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

namespace skelvar::rcon::web {

// One value as the page sends it, checked.
struct SettingChange {
    int index = -1;  // in Settings::definitions(), which is the file's order
    QString control;
    QString text;  // Form::Text
    bool checked = false;
};

// What a checked edit asks for, or why it is refused.
struct SettingsEdit {
    QList<SettingChange> changes;  // only values that differ, in the file's order
    int status = 200;              // 400 or 409 when refused
    QString error;
};

class WebSettings {
public:
    static constexpr int kMaxTextLength = 1000;

    explicit WebSettings(Monitor& monitor) : m_monitor(monitor) {}

    QJsonObject form() const;
    // Reads {"values": {"<control>": text, true or false}}. Refused as a
    // whole: an unknown name, a value of the wrong form or with a line break,
    // a field separator or a character the file cannot hold, an option
    // unchosen or two chosen in one group, a value the window has disabled
    // now, a settings file that may not be written.
    SettingsEdit read(const QJsonObject& body) const;
    // Applies what read() let through; true when the file was written.
    bool apply(const SettingsEdit& edit);
    // "Run in Silent Mode (Silent)": how the page names a value.
    static QString label(const QString& control);

private:
    bool editable(const QString& control) const;
    // Why a value cannot be taken in its form; empty when it can. Notes a
    // chosen option in *chosenInGroup.
    static QString valueError(const QString& control, const QJsonValue& value, const Settings::SettingDef& def,
                              QHash<int, QString>* chosenInGroup);

    Monitor& m_monitor;
};

}  // namespace skelvar::rcon::web
