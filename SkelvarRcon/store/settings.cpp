#include "SkelvarRcon/store/settings.h"

#include "lists/fileaccess.h"

#include <QFileInfo>
#include <QHash>

namespace skelvar::rcon {

std::optional<qint16> toInt16(const QString& text)
{
    bool ok = false;
    const short v = text.trimmed().toShort(&ok, 10);
    if (!ok)
        return std::nullopt;
    return qint16(v);
}

std::optional<qint32> toInt32(const QString& text)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return qint32(v);
}

namespace {

using Form = Settings::Form;

struct RowDef {
    const char* enable;
    int warning, kick, ban, days;  // control-array member numbers
    bool enabled;
    Settings::Penalty choice;
};

// Member numbers of the four control arrays differ from row to row.
constexpr RowDef rowDefs[Settings::penaltyRowCount] = {
    {control::detectNoFog, 0, 0, 0, 7, true, Settings::Penalty::Kick},
    {control::detectWhiteWalls, 1, 1, 1, 1, true, Settings::Penalty::Kick},
    {control::detectWallhack, 2, 2, 2, 3, true, Settings::Penalty::Kick},
    {control::detectThirdPerson, 3, 4, 4, 8, true, Settings::Penalty::Kick},
    {control::detectAimbot, 4, 5, 5, 9, true, Settings::Penalty::Kick},
    {control::detectGlowingSkins, 5, 6, 6, 10, true, Settings::Penalty::Kick},
    {control::detectModifiedBinaries, 8, 8, 8, 4, true, Settings::Penalty::Kick},
    {control::scanPrivateClients, 6, 3, 3, 0, false, Settings::Penalty::Warning},
    {control::scanReservedSkins, 7, 7, 7, 2, false, Settings::Penalty::Kick},
};

QByteArray member(const char* array, int number)
{
    return QByteArray(array) + '_' + QByteArray::number(number);
}

struct OwnedDef {
    QByteArray control;
    Form form;
    QByteArray defaultValue;
    int group;
};

QList<OwnedDef> buildTable()
{
    QList<OwnedDef> t;
    auto text = [&](const char* c, const char* d) { t.append({c, Form::Text, d, 0}); };
    auto check = [&](const char* c, bool d) { t.append({c, Form::Check, d ? "1" : "0", 0}); };
    auto option = [&](const QByteArray& c, bool d, int g) { t.append({c, Form::Option, d ? "1" : "0", g}); };
    auto row = [&](int r) {
        const RowDef& d = rowDefs[r - 1];
        const int group = r + 1;
        t.append({d.enable, Form::Check, d.enabled ? "1" : "0", 0});
        option(member(control::penaltyWarningArray, d.warning), d.choice == Settings::Penalty::Warning, group);
        option(member(control::penaltyKickArray, d.kick), d.choice == Settings::Penalty::Kick, group);
        option(member(control::penaltyBanArray, d.ban), d.choice == Settings::Penalty::Ban, group);
        t.append({member(control::penaltyDaysArray, d.days), Form::Text, "0", 0});
    };

    text(control::serverAddress, "127.0.0.1");
    text(control::serverPort, "12203");
    text(control::rconPassword, "kuTrob");
    text(control::scanMinutes, "3");
    text(control::patrolSeconds, "45");
    check(control::warnOnConnection, true);
    text(control::connectionAlert, "Warning: Possible non-optimized connection - Player: $name");
    check(control::logAlerts, true);
    check(control::silent, false);
    text(control::handBanDays, "3");
    option(control::handBanForever, true, 1);
    option(control::handBanForDays, false, 1);
    for (int r = 1; r <= 7; ++r)
        row(r);
    text(control::cheatAlert, "Cheat Detected!! Player: $name Cheat: $cheat IP: $IP");
    text(control::privateTag, "[MyClan]");
    text(control::privatePassword, "KuTrob");
    text(control::privateModeNotice, "Server will be private in $time seconds, public players please leave");
    row(8);
    row(9);
    text(control::privateSlotAlert, "Warning: Public client using private slot. Player: $name");
    text(control::publicSlotAlert, "Warning: Public slot used by private player. Player: $name");
    text(control::reservedSkinAlert, "Warning: Public client using reserved skin. Player: $name Skin: $skin");
    text(control::kickAfterWarnings, "0");
    text(control::banAfterKicks, "3");
    text(control::banNotice, "$ip was banned from this server on $date. Reason: $reason");
    check(control::scanOnStart, false);
    check(control::kickOnHighPing, false);
    text(control::pingLimit, "160");
    text(control::pingScans, "4");
    text(control::pingKickNotice, "Ping Kick: Ping>$ping on $scans consecutive scans - Player: $name");
    check(control::spearheadCompatibility, true);
    Q_ASSERT(t.size() == Settings::valueCount);
    return t;
}

// The SettingDef entries point into this table, which lives for the whole program.
const QList<OwnedDef>& ownedTable()
{
    static const QList<OwnedDef> table = buildTable();
    return table;
}

const QHash<QString, int>& indexByName()
{
    static const QHash<QString, int> index = [] {
        QHash<QString, int> h;
        const auto& t = ownedTable();
        for (int i = 0; i < t.size(); ++i)
            h.insert(QString::fromLatin1(t[i].control), i);
        return h;
    }();
    return index;
}

}  // namespace

const QList<Settings::SettingDef>& Settings::definitions()
{
    static const QList<SettingDef> defs = [] {
        QList<SettingDef> s;
        const auto& t = ownedTable();
        for (int i = 0; i < t.size(); ++i)
            s.append({i + 1, t[i].control.constData(), t[i].form, t[i].defaultValue.constData(), t[i].group});
        return s;
    }();
    return defs;
}

int Settings::indexOf(const QString& control)
{
    return indexByName().value(control, -1);
}

std::optional<Settings::Form> Settings::formOf(const QString& control)
{
    const int i = indexOf(control);
    if (i < 0)
        return std::nullopt;
    return definitions()[i].form;
}

PenaltyRowNames Settings::penaltyRow(int row)
{
    if (row < 1 || row > penaltyRowCount)
        return {};
    const RowDef& d = rowDefs[row - 1];
    return {QString::fromLatin1(d.enable), QString::fromLatin1(member(control::penaltyWarningArray, d.warning)),
            QString::fromLatin1(member(control::penaltyKickArray, d.kick)),
            QString::fromLatin1(member(control::penaltyBanArray, d.ban)),
            QString::fromLatin1(member(control::penaltyDaysArray, d.days))};
}

PenaltyRowNames Settings::rowNames(Detection detection)
{
    return penaltyRow(rowOf(detection));
}

const char* Settings::alertControl(Alert alert)
{
    switch (alert) {
    case Alert::PrivateSlot: return control::privateSlotAlert;
    case Alert::PublicSlot: return control::publicSlotAlert;
    case Alert::Cheat: return control::cheatAlert;
    case Alert::ReservedSkin: return control::reservedSkinAlert;
    case Alert::Connection: return control::connectionAlert;
    case Alert::PrivateMode: return control::privateModeNotice;
    case Alert::BanNotice: return control::banNotice;
    case Alert::PingKick: return control::pingKickNotice;
    }
    return control::cheatAlert;
}

Settings::Settings(QObject* parent) : QObject(parent)
{
    m_values.resize(valueCount);
    for (int i = 0; i < valueCount; ++i) {
        const SettingDef& s = definitions()[i];
        if (s.form == Form::Text)
            m_values[i].text = QString::fromLatin1(s.defaultValue);
        else
            m_values[i].checked = qstrcmp(s.defaultValue, "1") == 0;
    }
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(0);
    connect(&m_saveTimer, &QTimer::timeout, this, [this] { saveFile(); });
}

// The index of a value of the asked form, or -1 for a name that is no such
// value: a typo in the code, never something the operator can cause.
int Settings::knownIndex(const QString& control, bool text, const char* where) const
{
    const int i = indexOf(control);
    if (i >= 0 && (definitions()[i].form == Form::Text) == text)
        return i;
    qWarning("Settings::%s: %s is no %s value", where, qPrintable(control), text ? "text" : "check or option");
    Q_ASSERT_X(false, where, "unknown control name or wrong form");
    return -1;
}

QString Settings::text(const QString& control) const
{
    const int i = knownIndex(control, true, "text");
    return i < 0 ? QString() : m_values[i].text;
}

void Settings::setText(const QString& control, const QString& value)
{
    const int i = knownIndex(control, true, "setText");
    if (i >= 0)
        assignText(i, value);
}

bool Settings::isChecked(const QString& control) const
{
    const int i = knownIndex(control, false, "isChecked");
    return i >= 0 && m_values[i].checked;
}

void Settings::setChecked(const QString& control, bool checked)
{
    const int i = knownIndex(control, false, "setChecked");
    if (i >= 0)
        assignChecked(i, checked);
}

void Settings::assignText(int index, const QString& value)
{
    if (m_values[index].text == value)
        return;
    m_values[index].text = value;
    noteChange(index);
}

void Settings::assignChecked(int index, bool checked)
{
    const SettingDef& s = definitions()[index];
    if (s.form == Form::Check) {
        if (m_values[index].checked != checked) {
            m_values[index].checked = checked;
            noteChange(index);
        }
        return;
    }
    // Options: only selecting does anything, and it clears the rest of the group.
    if (!checked || m_values[index].checked)
        return;
    m_values[index].checked = true;
    QList<int> cleared;
    for (int j = 0; j < valueCount; ++j) {
        if (j != index && definitions()[j].group == s.group && m_values[j].checked) {
            m_values[j].checked = false;
            cleared.append(j);
        }
    }
    for (int j : cleared)
        noteChange(j);
    noteChange(index);
}

void Settings::noteChange(int index)
{
    if (m_autosave && !m_file.isEmpty() && !m_fileProtected)
        m_saveTimer.start();
    const char* name = definitions()[index].control;
    emit changed(QString::fromLatin1(name));
    if (qstrcmp(name, control::serverAddress) == 0 || qstrcmp(name, control::serverPort) == 0 ||
        qstrcmp(name, control::rconPassword) == 0)
        emit connectionChanged();
}

Settings::Penalty Settings::penaltyChoice(int row) const
{
    const PenaltyRowNames n = penaltyRow(row);
    if (isChecked(n.ban))
        return Penalty::Ban;
    if (isChecked(n.warning))
        return Penalty::Warning;
    return Penalty::Kick;
}

bool Settings::penaltyEnabled(int row) const
{
    return isChecked(penaltyRow(row).enable);
}

QString Settings::penaltyDays(int row) const
{
    return text(penaltyRow(row).days);
}

Settings::PenaltyRow Settings::penaltyRow(Detection detection) const
{
    return {detectionEnabled(detection), penaltyChoice(detection), penaltyDays(detection)};
}

bool Settings::detectionEnabled(Detection detection) const
{
    return penaltyEnabled(rowOf(detection));
}

void Settings::setDetectionEnabled(Detection detection, bool on)
{
    setChecked(rowNames(detection).enable, on);
}

Settings::Penalty Settings::penaltyChoice(Detection detection) const
{
    return penaltyChoice(rowOf(detection));
}

void Settings::setPenaltyChoice(Detection detection, Penalty choice)
{
    const PenaltyRowNames n = rowNames(detection);
    setChecked(choice == Penalty::Warning ? n.warning : choice == Penalty::Kick ? n.kick : n.ban, true);
}

QString Settings::penaltyDays(Detection detection) const
{
    return penaltyDays(rowOf(detection));
}

QString Settings::alertTemplate(Alert alert) const
{
    return text(alertControl(alert));
}

void Settings::resetToDefaults()
{
    for (int i = 0; i < valueCount; ++i) {
        const SettingDef& s = definitions()[i];
        if (s.form == Form::Text)
            assignText(i, QString::fromLatin1(s.defaultValue));
        else if (qstrcmp(s.defaultValue, "1") == 0)
            assignChecked(i, true);
        else if (s.form == Form::Check)
            assignChecked(i, false);
    }
}

QByteArray Settings::serialize() const
{
    QByteArray line;
    for (int i = 0; i < valueCount; ++i) {
        const SettingDef& s = definitions()[i];
        switch (s.form) {
        case Form::Text: {
            // A separator or line break inside a text would shift every later value.
            QByteArray t = m_values[i].text.toLatin1();
            t.removeIf([](char c) { return c == '\x02' || c == '\r' || c == '\n'; });
            line += t;
            break;
        }
        case Form::Check: line += m_values[i].checked ? "1" : "0"; break;
        case Form::Option: line += m_values[i].checked ? "-1" : "0"; break;
        }
        line += '\x02';
    }
    line += "\r\n";
    return line;
}

SettingsLoad Settings::parse(const QByteArray& bytes)
{
    resetToDefaults();
    SettingsLoad result;
    result.exists = true;

    qsizetype end = bytes.size();
    for (qsizetype k = 0; k < bytes.size(); ++k) {
        if (bytes[k] == '\r' || bytes[k] == '\n') {
            end = k;
            break;
        }
    }
    const QList<QByteArray> fields = bytes.left(end).split('\x02');
    // A complete line ends with a separator, so its last piece is empty and
    // not a value; a line cut short in its last value still yields that value.
    qsizetype present = fields.size();
    if (present > 0 && fields.last().isEmpty())
        --present;
    for (int i = 0; i < valueCount; ++i) {
        if (i >= present) {
            ++result.missing;
            continue;
        }
        const QString value = QString::fromLatin1(fields[i]);
        const SettingDef& s = definitions()[i];
        if (s.form == Form::Text) {
            assignText(i, value);
            continue;
        }
        const std::optional<qint32> n = toInt32(value);
        if (!n || (s.form == Form::Check && *n != 0 && *n != 1)) {
            ++result.unreadable;
            continue;
        }
        assignChecked(i, *n != 0);
    }
    return result;
}

bool Settings::load(const QString& path, SettingsLoad* details)
{
    m_file = path;
    m_fileProtected = false;
    m_reported = false;
    SettingsLoad result;
    QByteArray bytes;
    switch (lists::readWholeFile(path, &bytes)) {
    case lists::ReadStatus::Missing: resetToDefaults(); break;
    case lists::ReadStatus::Failed:
        resetToDefaults();
        result.exists = true;
        result.readError = true;
        m_fileProtected = true;
        break;
    case lists::ReadStatus::Ok: result = parse(bytes); break;
    }
    // Loading is not an edit: it must not write the file back.
    m_saveTimer.stop();
    if (details)
        *details = result;
    return result.exists && !result.readError;
}

bool Settings::save(const QString& path, QString* error) const
{
    return lists::writeFileAtomic(path, serialize(), error);
}

bool Settings::saveFile()
{
    m_saveTimer.stop();
    if (m_file.isEmpty() || m_fileProtected)
        return false;
    QString error;
    if (save(m_file, &error)) {
        m_reported = false;
        return true;
    }
    if (!m_reported) {
        m_reported = true;
        if (m_prompter)
            m_prompter->message(tr("Settings not saved"),
                                tr("Could not write %1: %2\nThe settings are kept in the window and "
                                   "will be written again at the next change and at exit.")
                                    .arg(QFileInfo(m_file).fileName(), error),
                                Prompter::Icon::Critical);
    }
    return false;
}

bool Settings::fileWritable(QString* error) const
{
    if (m_file.isEmpty() || m_fileProtected) {
        if (error)
            *error = m_file.isEmpty()
                         ? tr("No settings file was loaded.")
                         : tr("%1 could not be read at start, so it is not written.").arg(QFileInfo(m_file).fileName());
        return false;
    }
    return lists::mayWrite(m_file, error);
}

void Settings::setAutosave(bool on)
{
    m_autosave = on;
    if (!on)
        m_saveTimer.stop();
}

void Settings::setPrompter(Prompter* prompter)
{
    m_prompter = prompter;
}

}  // namespace skelvar::rcon
