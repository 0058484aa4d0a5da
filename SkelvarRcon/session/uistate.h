#pragma once
// What the monitor's logic shows: captions, enabled and visible states, progress
// values of the window's controls, addressed by the controls' object names.
// The window applies every change to the widget of that name; tests read it here.

#include "lists/prompter.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace skelvar::rcon {

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

    const QHash<QString, Control>& controls() const { return controls_; }

signals:
    void changed(const QString& name);

private:
    QHash<QString, Control> controls_;
};

using skelvar::Prompter;

}  // namespace skelvar::rcon
