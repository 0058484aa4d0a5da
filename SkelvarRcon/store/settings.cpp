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
    int warning, kick, ban, days; // control-array member numbers
    bool enabled;
    Settings::Penalty choice;
};

// Member numbers of the four control arrays differ from row to row.
constexpr RowDef rowDefs[Settings::penaltyRowCount] = {
    {"Cheats_0", 0, 0, 0, 7, true, Settings::Penalty::Kick},
    {"Cheats_1", 1, 1, 1, 1, true, Settings::Penalty::Kick},
    {"Cheats_2", 2, 2, 2, 3, true, Settings::Penalty::Kick},
    {"Cheats_3", 3, 4, 4, 8, true, Settings::Penalty::Kick},
    {"Cheats_4", 4, 5, 5, 9, true, Settings::Penalty::Kick},
    {"Cheats_5", 5, 6, 6, 10, true, Settings::Penalty::Kick},
    {"Cheats_6", 8, 8, 8, 4, true, Settings::Penalty::Kick},
    {"Check1", 6, 3, 3, 0, false, Settings::Penalty::Warning},
    {"Check5", 7, 7, 7, 2, false, Settings::Penalty::Kick},
};

struct OwnedSpec {
    QByteArray control;
    Form form;
    QByteArray defaultValue;
    int group;
};

QList<OwnedSpec> buildTable()
{
    QList<OwnedSpec> t;
    auto text = [&](const char* c, const char* d) { t.append({c, Form::Text, d, 0}); };
    auto check = [&](const char* c, bool d) { t.append({c, Form::Check, d ? "1" : "0", 0}); };
    auto option = [&](const QByteArray& c, bool d, int g) { t.append({c, Form::Option, d ? "1" : "0", g}); };
    auto row = [&](int r) {
        const RowDef& d = rowDefs[r - 1];
        const int group = r + 1;
        t.append({d.enable, Form::Check, d.enabled ? "1" : "0", 0});
        option("Option5_" + QByteArray::number(d.warning), d.choice == Settings::Penalty::Warning, group);
        option("Option3_" + QByteArray::number(d.kick), d.choice == Settings::Penalty::Kick, group);
        option("Option4_" + QByteArray::number(d.ban), d.choice == Settings::Penalty::Ban, group);
        t.append({"Text3_" + QByteArray::number(d.days), Form::Text, "0", 0});
    };

    text("txtSVR", "127.0.0.1");
    text("txtPORT", "12203");
    text("txtPWD", "kuTrob");
    text("txtMin", "3");
    text("MinPolt", "45");
    check("Check6", true);
    text("Alert5", "Warning: Possible non-optimized connection - Player: $name");
    check("Logea", true);
    check("Silent", false);
    text("Text2", "3");
    option("Option1", true, 1);
    option("Option2", false, 1);
    for (int r = 1; r <= 7; ++r)
        row(r);
    text("Alert3", "Cheat Detected!! Player: $name Cheat: $cheat IP: $IP");
    text("txtTAG", "[MyClan]");
    text("txtPRP", "KuTrob");
    text("Alert6", "Server will be private in $time seconds, public players please leave");
    row(8);
    row(9);
    text("Alert1", "Warning: Public client using private slot. Player: $name");
    text("Alert2", "Warning: Public slot used by private player. Player: $name");
    text("Alert4", "Warning: Public client using reserved skin. Player: $name Skin: $skin");
    text("AcWarns", "0");
    text("AcKicks", "3");
    text("Alert7", "$ip was banned from this server on $date. Reason: $reason");
    check("SoS", false);
    check("Check2", false);
    text("Text5", "160");
    text("Text6", "4");
    text("Text7", "Ping Kick: Ping>$ping on $scans consecutive scans - Player: $name");
    check("Check3", true);
    Q_ASSERT(t.size() == Settings::valueCount);
    return t;
}

// The Spec entries point into this table, which lives for the whole program.
const QList<OwnedSpec>& ownedTable()
{
    static const QList<OwnedSpec> table = buildTable();
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

} // namespace

const QList<Settings::Spec>& Settings::specs()
{
    static const QList<Spec> specs = [] {
        QList<Spec> s;
        const auto& t = ownedTable();
        for (int i = 0; i < t.size(); ++i)
            s.append({i + 1, t[i].control.constData(), t[i].form, t[i].defaultValue.constData(), t[i].group});
        return s;
    }();
    return specs;
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
    return specs()[i].form;
}

PenaltyRowNames Settings::penaltyRow(int row)
{
    if (row < 1 || row > penaltyRowCount)
        return {};
    const RowDef& d = rowDefs[row - 1];
    return {QString::fromLatin1(d.enable), QStringLiteral("Option5_%1").arg(d.warning),
            QStringLiteral("Option3_%1").arg(d.kick), QStringLiteral("Option4_%1").arg(d.ban),
            QStringLiteral("Text3_%1").arg(d.days)};
}

Settings::Settings(QObject* parent)
    : QObject(parent)
{
    m_values.resize(valueCount);
    for (int i = 0; i < valueCount; ++i) {
        const Spec& s = specs()[i];
        if (s.form == Form::Text)
            m_values[i].text = QString::fromLatin1(s.defaultValue);
        else
            m_values[i].checked = qstrcmp(s.defaultValue, "1") == 0;
    }
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(0);
    connect(&m_saveTimer, &QTimer::timeout, this, [this] { saveFile(); });
}

QString Settings::text(const QString& control) const
{
    const int i = indexOf(control);
    if (i < 0 || specs()[i].form != Form::Text)
        return {};
    return m_values[i].text;
}

void Settings::setText(const QString& control, const QString& value)
{
    const int i = indexOf(control);
    if (i < 0 || specs()[i].form != Form::Text)
        return;
    assignText(i, value);
}

bool Settings::isChecked(const QString& control) const
{
    const int i = indexOf(control);
    if (i < 0 || specs()[i].form == Form::Text)
        return false;
    return m_values[i].checked;
}

void Settings::setChecked(const QString& control, bool checked)
{
    const int i = indexOf(control);
    if (i < 0 || specs()[i].form == Form::Text)
        return;
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
    const Spec& s = specs()[index];
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
        if (j != index && specs()[j].group == s.group && m_values[j].checked) {
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
    emit changed(QString::fromLatin1(specs()[index].control));
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

void Settings::resetToDefaults()
{
    for (int i = 0; i < valueCount; ++i) {
        const Spec& s = specs()[i];
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
        const Spec& s = specs()[i];
        switch (s.form) {
        case Form::Text: {
            // A separator or line break inside a text would shift every later value.
            QByteArray t = m_values[i].text.toLatin1();
            t.removeIf([](char c) { return c == '\x02' || c == '\r' || c == '\n'; });
            line += t;
            break;
        }
        case Form::Check:
            line += m_values[i].checked ? "1" : "0";
            break;
        case Form::Option:
            line += m_values[i].checked ? "-1" : "0";
            break;
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
        const Spec& s = specs()[i];
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
    case lists::ReadStatus::Missing:
        resetToDefaults();
        break;
    case lists::ReadStatus::Failed:
        resetToDefaults();
        result.exists = true;
        result.readError = true;
        m_fileProtected = true;
        break;
    case lists::ReadStatus::Ok:
        result = parse(bytes);
        break;
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

} // namespace skelvar::rcon
