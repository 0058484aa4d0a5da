#include "SkelvarRcon/web/websettings.h"

#include "SkelvarRcon/store/controlnames.h"
#include "SkelvarRcon/store/settingsform.h"

#include <QHash>
#include <QJsonArray>

namespace skelvar::rcon::web {

namespace {

using Form = Settings::Form;

QString formName(Form form)
{
    switch (form) {
    case Form::Text: return QStringLiteral("text");
    case Form::Check: return QStringLiteral("check");
    case Form::Option: return QStringLiteral("option");
    }
    return {};
}

const SettingsField* fieldOf(const QString& control, const SettingsLine** lineOut = nullptr)
{
    for (const SettingsTab& tab : settingsTabs()) {
        for (const SettingsLine& line : tab.lines) {
            for (const SettingsField& f : line.fields) {
                if (f.control != control)
                    continue;
                if (lineOut)
                    *lineOut = &line;
                return &f;
            }
        }
    }
    return nullptr;
}

// What the file can hold of a text: one line of Latin-1 without the field separator.
bool storable(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0xFF)
            return false;
    }
    return true;
}

SettingsEdit refused(int status, const QString& error)
{
    return {{}, status, error};
}

}  // namespace

QString WebSettings::label(const QString& control)
{
    const SettingsLine* line = nullptr;
    const SettingsField* f = fieldOf(control, &line);
    QStringList words;
    if (line && !line->caption.isEmpty())
        words.append(line->caption);
    if (f && !f->caption.isEmpty())
        words.append(f->caption);
    return words.isEmpty() ? control : QStringLiteral("%1 (%2)").arg(words.join(QLatin1Char(' ')), control);
}

bool WebSettings::editable(const QString& control) const
{
    const SettingsField* f = fieldOf(control);
    const UiState& ui = m_monitor.ui;
    return ui.isEnabled(control) && (!f || f->enabledWith.isEmpty() || ui.isEnabled(f->enabledWith));
}

QJsonObject WebSettings::form() const
{
    const Settings& s = m_monitor.settings;
    QJsonArray tabs;
    for (const SettingsTab& tab : settingsTabs()) {
        QJsonArray lines;
        for (const SettingsLine& line : tab.lines) {
            QJsonArray fields;
            for (const SettingsField& f : line.fields) {
                const Settings::SettingDef& def = Settings::definitions().at(Settings::indexOf(f.control));
                QJsonObject o{{QStringLiteral("control"), f.control},
                              {QStringLiteral("caption"), f.caption},
                              {QStringLiteral("form"), formName(def.form)},
                              {QStringLiteral("enabled"), editable(f.control)}};
                if (def.form == Form::Text)
                    o.insert(QStringLiteral("value"), s.text(f.control));
                else
                    o.insert(QStringLiteral("value"), s.isChecked(f.control));
                if (def.form == Form::Option)
                    o.insert(QStringLiteral("group"), def.group);
                if (f.control == QLatin1String(control::rconPassword) ||
                    f.control == QLatin1String(control::privatePassword))
                    o.insert(QStringLiteral("secret"), true);
                fields.append(o);
            }
            lines.append(QJsonObject{{QStringLiteral("caption"), line.caption}, {QStringLiteral("fields"), fields}});
        }
        tabs.append(QJsonObject{{QStringLiteral("title"), tab.title}, {QStringLiteral("lines"), lines}});
    }
    return {{QStringLiteral("tabs"), tabs}, {QStringLiteral("protected"), !s.fileWritable()}};
}

SettingsEdit WebSettings::read(const QJsonObject& body) const
{
    const QJsonValue values = body.value(QStringLiteral("values"));
    if (!values.isObject() || values.toObject().isEmpty())
        return refused(400, QStringLiteral("values is an object of settings by their names."));
    const Settings& s = m_monitor.settings;
    SettingsEdit edit;
    QHash<int, QString> chosenInGroup;
    const QJsonObject given = values.toObject();
    for (auto it = given.begin(); it != given.end(); ++it) {
        const QString control = it.key();
        const int index = Settings::indexOf(control);
        if (index < 0)
            return refused(400, QStringLiteral("There is no setting named '%1'.").arg(control));
        const Settings::SettingDef& def = Settings::definitions().at(index);
        const QString why = valueError(control, it.value(), def, &chosenInGroup);
        if (!why.isEmpty())
            return refused(400, why);
        const SettingChange change{index, control, it->toString(), it->toBool()};
        const bool same =
            def.form == Form::Text ? change.text == s.text(control) : change.checked == s.isChecked(control);
        if (same)
            continue;
        if (!editable(control))
            return refused(409, QStringLiteral("%1 cannot be changed now, as in the window: it waits for the server or "
                                               "for the setting it belongs to.")
                                    .arg(label(control)));
        edit.changes.append(change);
    }
    QString why;
    if (!edit.changes.isEmpty() && !s.fileWritable(&why))
        return refused(409, why + QStringLiteral(" Nothing was changed."));
    std::sort(edit.changes.begin(), edit.changes.end(),
              [](const SettingChange& a, const SettingChange& b) { return a.index < b.index; });
    return edit;
}

QString WebSettings::valueError(const QString& control, const QJsonValue& value, const Settings::SettingDef& def,
                                QHash<int, QString>* chosenInGroup)
{
    if (def.form == Form::Text) {
        if (!value.isString() || value.toString().size() > kMaxTextLength || !storable(value.toString()))
            return QStringLiteral("%1 is one line of up to %2 Latin-1 characters.")
                .arg(label(control))
                .arg(kMaxTextLength);
        return {};
    }
    if (!value.isBool())
        return QStringLiteral("%1 is true or false.").arg(label(control));
    if (def.form != Form::Option)
        return {};
    if (!value.toBool())
        return QStringLiteral("%1 is left by choosing another option of its line.").arg(label(control));
    if (chosenInGroup->contains(def.group))
        return QStringLiteral("%1 and %2 cannot both be chosen.")
            .arg(label(chosenInGroup->value(def.group)), label(control));
    chosenInGroup->insert(def.group, control);
    return {};
}

bool WebSettings::apply(const SettingsEdit& edit)
{
    Settings& s = m_monitor.settings;
    for (const SettingChange& c : edit.changes) {
        if (Settings::definitions().at(c.index).form != Form::Text) {
            s.setChecked(c.control, c.checked);
            continue;
        }
        // Typed into the box and left, as in the window.
        m_monitor.keyPressed(c.control);
        s.setText(c.control, c.text);
        m_monitor.focusLost(c.control);
    }
    return s.saveFile();
}

}  // namespace skelvar::rcon::web
