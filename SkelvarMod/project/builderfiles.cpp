#include "SkelvarMod/project/builderfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <cmath>

#include "lists/fileaccess.h"

namespace skelvar::mod {

namespace {

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

// Whole file, or nothing. A missing file is not an error.
std::optional<QByteArray> readWhole(const QString& path, QString* error)
{
    QByteArray data;
    if (lists::readWholeFile(path, &data, error) != lists::ReadStatus::Ok)
        return std::nullopt;
    return data;
}

QStringList splitLines(const QByteArray& data)
{
    QString text = QString::fromLatin1(data);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();  // the line end of the last line
    return lines;
}

// Blanks only, as the files are written; a tab inside a value stays.
QString trimBlanks(const QString& s)
{
    qsizetype begin = 0, end = s.size();
    while (begin < end && s.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && s.at(end - 1) == QLatin1Char(' '))
        --end;
    return s.mid(begin, end - begin);
}

bool isSeparator(const QString& line)
{
    return trimBlanks(line).toLatin1() == RecordSeparator;
}

// One record as read: a value per label, unset when its line was not seen.
using Fields = QList<std::optional<QString>>;

// Splits label-and-value lines into records. The last label is the tick
// line's. A record ends at a separator, or where one of its labels comes
// again (a lost separator). A label counts only at the start of its line, so
// a value may hold label texts of its own. Lines without a label are stray
// and skipped; a record without any value line is dropped.
QList<Fields> parseRecords(const QByteArray& data, const QStringList& labels)
{
    QList<Fields> records;
    Fields current(labels.size());
    auto flush = [&] {
        bool hasValue = false;
        for (qsizetype i = 0; i + 1 < labels.size(); ++i)
            hasValue = hasValue || current.at(i).has_value();
        if (hasValue)
            records.append(current);
        current = Fields(labels.size());
    };
    for (const QString& raw : splitLines(data)) {
        if (isSeparator(raw)) {
            flush();
            continue;
        }
        QString line = raw;
        while (line.startsWith(QLatin1Char(' ')) || line.startsWith(QLatin1Char('\t')))
            line.remove(0, 1);
        for (qsizetype i = 0; i < labels.size(); ++i) {
            if (!line.startsWith(labels.at(i)))
                continue;
            if (current.at(i).has_value())
                flush();
            current[i] = trimBlanks(line.mid(labels.at(i).size()));
            break;
        }
    }
    flush();
    return records;
}

QString fieldText(const Fields& f, qsizetype i)
{
    return f.at(i).value_or(QString());
}

bool fieldTick(const Fields& f, qsizetype i)
{
    // The tick is the text between the first and a second colon.
    return f.at(i).has_value() && readsAsTicked(f.at(i)->section(QLatin1Char(':'), 0, 0));
}

void appendLine(QByteArray& out, const char* label, const QString& value)
{
    out += label;
    out += ' ';
    out += flattenValue(value).toLatin1();
    out += "\r\n";
}

void appendTick(QByteArray& out, const char* label, bool ticked)
{
    out += label;
    out += ticked ? " 1\r\n" : " 0\r\n";
}

void appendSeparator(QByteArray& out)
{
    out += RecordSeparator;
    out += "\r\n";
}

const QStringList& compatLabels()
{
    static const QStringList labels{QStringLiteral("Description:"), QStringLiteral("Script:"), QStringLiteral("Run:")};
    return labels;
}

const QStringList& messageLabels()
{
    static const QStringList labels{QStringLiteral("Type:"), QStringLiteral("Trigger:"), QStringLiteral("Priority:"),
                                    QStringLiteral("Text:"), QStringLiteral("Cast:")};
    return labels;
}

const QStringList& commandLabels()
{
    static const QStringList labels{QStringLiteral("Time:"), QStringLiteral("Command:"), QStringLiteral("Cast:")};
    return labels;
}

const QStringList& mapFixLabels()
{
    static const QStringList labels{
        QStringLiteral("Map:"),    QStringLiteral("Author:"), QStringLiteral("Description:"), QStringLiteral("Model:"),
        QStringLiteral("Origin:"), QStringLiteral("Angle:"),  QStringLiteral("Visibility:"),  QStringLiteral("Apply:")};
    return labels;
}

// A Filename that names a plain ".dmf" file directly in the folder.
bool isPlainMapFixName(const QString& name)
{
    if (name.size() <= MapFixSuffix.size() || !name.endsWith(MapFixSuffix, Qt::CaseInsensitive))
        return false;
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20)
            return false;
    }
    return true;
}

bool isReservedDeviceName(const QString& base)
{
    static const QSet<QString> names = [] {
        QSet<QString> s{QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"), QStringLiteral("NUL")};
        for (int i = 1; i <= 9; ++i) {
            s.insert(QStringLiteral("COM%1").arg(i));
            s.insert(QStringLiteral("LPT%1").arg(i));
        }
        return s;
    }();
    return names.contains(base.toUpper());
}

constexpr qsizetype MaxStemLength = 100;

}  // namespace

bool readsAsTicked(const QString& value)
{
    const QString v = value.trimmed();
    if (v.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    bool ok = false;
    const double number = v.toDouble(&ok);
    return ok && !std::isnan(number) && number != 0.0;
}

QString flattenValue(const QString& value)
{
    QString v = value;
    v.replace(QLatin1String("\r\n"), QLatin1String(" "));
    v.replace(QLatin1Char('\r'), QLatin1Char(' '));
    v.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return v;
}

// --- modskelvar.ini

QByteArray switchesText(const Switches& s)
{
    QByteArray out;
    for (const int state :
         {s.thirdPersonView, s.whiteWalls, s.noFog, s.wallhack, s.stopForcedModels, s.serverTime, s.nextMap})
        out += ' ' + QByteArray::number(state) + " \r\n";
    return out;
}

Switches parseSwitches(const QByteArray& data)
{
    const QStringList lines = splitLines(data);
    auto state = [&](qsizetype line) {
        bool ok = false;
        const int v = lines.value(line).trimmed().toInt(&ok);
        return ok && v >= 0 && v <= 2 ? v : 0;
    };
    Switches s;
    s.thirdPersonView = state(0);
    s.whiteWalls = state(1);
    s.noFog = state(2);
    s.wallhack = state(3);
    s.stopForcedModels = state(4);
    s.serverTime = state(5);
    s.nextMap = state(6);
    return s;
}

Switches loadSwitches(const QString& path, QString* error)
{
    const auto data = readWhole(path, error);
    return data ? parseSwitches(*data) : Switches{};
}

bool saveSwitches(const QString& path, const Switches& s, QString* error)
{
    return lists::writeFileAtomic(path, switchesText(s), error);
}

// --- skelvar.dcf

QByteArray compatText(const QList<CompatEntry>& rows)
{
    QByteArray out;
    for (const CompatEntry& e : rows) {
        appendLine(out, "Description:", e.description);
        appendLine(out, "Script:", e.script);
        appendTick(out, "Run:", e.ticked);
        appendSeparator(out);
    }
    return out;
}

QList<CompatEntry> parseCompat(const QByteArray& data)
{
    QList<CompatEntry> rows;
    for (const Fields& f : parseRecords(data, compatLabels()))
        rows.append({fieldText(f, 0), fieldText(f, 1), fieldTick(f, 2)});
    return rows;
}

QList<CompatEntry> loadCompat(const QString& path, QString* error)
{
    const auto data = readWhole(path, error);
    return data ? parseCompat(*data) : QList<CompatEntry>{};
}

bool saveCompat(const QString& path, const QList<CompatEntry>& rows, QString* error)
{
    return lists::writeFileAtomic(path, compatText(rows), error);
}

// --- messages.cfg

QByteArray messagesText(const QList<MessageEntry>& rows)
{
    QByteArray out;
    for (const MessageEntry& e : rows) {
        appendLine(out, "Type:", e.type);
        appendLine(out, "Trigger:", e.trigger);
        appendLine(out, "Priority:", e.priority);
        appendLine(out, "Text:", e.text);
        appendTick(out, "Cast:", e.ticked);
        appendSeparator(out);
    }
    return out;
}

QList<MessageEntry> parseMessages(const QByteArray& data)
{
    QList<MessageEntry> rows;
    for (const Fields& f : parseRecords(data, messageLabels()))
        rows.append({fieldText(f, 0), fieldText(f, 1), fieldText(f, 2), fieldText(f, 3), fieldTick(f, 4)});
    return rows;
}

QList<MessageEntry> loadMessages(const QString& path, QString* error)
{
    const auto data = readWhole(path, error);
    return data ? parseMessages(*data) : QList<MessageEntry>{};
}

bool saveMessages(const QString& path, const QList<MessageEntry>& rows, QString* error)
{
    return lists::writeFileAtomic(path, messagesText(rows), error);
}

// --- commands.cfg

QByteArray commandsText(const QList<CommandEntry>& rows)
{
    QByteArray out;
    for (const CommandEntry& e : rows) {
        appendLine(out, "Time:", e.time);
        appendLine(out, "Command:", e.command);
        appendTick(out, "Cast:", e.ticked);
        appendSeparator(out);
    }
    return out;
}

QList<CommandEntry> parseCommands(const QByteArray& data)
{
    QList<CommandEntry> rows;
    for (const Fields& f : parseRecords(data, commandLabels()))
        rows.append({fieldText(f, 0), fieldText(f, 1), fieldTick(f, 2)});
    return rows;
}

QList<CommandEntry> loadCommands(const QString& path, QString* error)
{
    const auto data = readWhole(path, error);
    return data ? parseCommands(*data) : QList<CommandEntry>{};
}

bool saveCommands(const QString& path, const QList<CommandEntry>& rows, QString* error)
{
    return lists::writeFileAtomic(path, commandsText(rows), error);
}

// --- map fixes

QByteArray mapFixText(const MapFixEntry& e)
{
    QByteArray out;
    appendLine(out, "Map:", e.map);
    appendLine(out, "Author:", e.author);
    appendLine(out, "Description:", e.description);
    appendLine(out, "Model:", e.model);
    appendLine(out, "Origin:", e.origin);
    appendLine(out, "Angle:", e.angle);
    appendLine(out, "Visibility:", e.visibility);
    appendTick(out, "Apply:", e.ticked);
    return out;
}

std::optional<MapFixEntry> parseMapFix(const QByteArray& data, const QString& fileName)
{
    const QList<Fields> records = parseRecords(data, mapFixLabels());
    if (records.isEmpty())
        return std::nullopt;
    const Fields& f = records.first();
    MapFixEntry e;
    e.map = fieldText(f, 0);
    e.author = fieldText(f, 1);
    e.description = fieldText(f, 2);
    e.model = fieldText(f, 3);
    e.origin = fieldText(f, 4);
    e.angle = fieldText(f, 5);
    e.visibility = fieldText(f, 6);
    e.filename = fileName;
    e.ticked = fieldTick(f, 7);
    return e;
}

std::optional<MapFixEntry> loadMapFix(const QString& path, QString* error)
{
    const auto data = readWhole(path, error);
    if (!data)
        return std::nullopt;
    return parseMapFix(*data, QFileInfo(path).fileName());
}

QList<MapFixEntry> loadMapFixes(const QString& folder)
{
    const QDir dir(folder);
    QList<MapFixEntry> rows;
    const QStringList names = dir.entryList({QStringLiteral("*") + MapFixSuffix}, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        if (auto e = loadMapFix(dir.filePath(name)))
            rows.append(*e);
    }
    return rows;
}

bool saveMapFix(const QString& folder, const MapFixEntry& e, QString* error)
{
    if (!isPlainMapFixName(e.filename)) {
        setError(error, QStringLiteral("Map fix \"%1\" has no usable file name (\"%2\")").arg(e.map, e.filename));
        return false;
    }
    return lists::writeFileAtomic(QDir(folder).filePath(e.filename), mapFixText(e), error);
}

QString mapFixFileStem(const QString& map)
{
    static const QString refused = QStringLiteral("<>:\"|?*.");
    QString stem;
    for (const QChar c : map) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\'))
            continue;
        if (c == QLatin1Char(' '))
            stem += QLatin1Char('-');
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f || refused.contains(c))
            stem += QLatin1Char('_');
        else
            stem += c;
    }
    if (stem.size() > MaxStemLength) {
        qsizetype cut = MaxStemLength;
        if (stem.at(cut - 1).isHighSurrogate())
            --cut;
        stem.truncate(cut);
    }
    return stem.isEmpty() ? QStringLiteral("unnamed") : stem;
}

QString newMapFixFileName(const QString& folder, const QString& map, const QStringList& usedNames)
{
    QSet<QString> taken;
    const QStringList present =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : present)
        taken.insert(name.toLower());
    for (const QString& name : usedNames)
        taken.insert(name.toLower());

    const QString stem = mapFixFileStem(map);
    // Ends: every taken name blocks at most one number.
    for (qint64 n = 0;; ++n) {
        QString base = n > 0 ? stem + QString::number(n) : stem;
        if (isReservedDeviceName(base))
            base += QLatin1Char('_');
        const QString name = base + MapFixSuffix;
        if (!taken.contains(name.toLower()))
            return name;
    }
}

// --- the editors' boxes

QString triggerText(const QString& type, const TriggerBoxes& b)
{
    if (type == TypePeriodic)
        return b.minutes + QStringLiteral(" minutes");
    if (type == TypeScheduled)
        return QStringLiteral("At ") + timeText(b.hour, b.minute);
    if (type == TypePerMap)
        return QStringLiteral("On ") + b.map;
    return {};
}

TriggerBoxes triggerBoxes(const QString& type, const QString& trigger)
{
    TriggerBoxes b;
    QString t = trigger;
    if (type == TypePeriodic) {
        if (t.endsWith(QLatin1String(" minutes")))
            t.chop(8);
        b.minutes = t;
    } else if (type == TypeScheduled) {
        if (t.startsWith(QLatin1String("At ")))
            t.remove(0, 3);
        const TimeBoxes time = timeBoxes(t);
        b.hour = time.hour;
        b.minute = time.minute;
    } else if (type == TypePerMap) {
        if (t.startsWith(QLatin1String("On ")))
            t.remove(0, 3);
        b.map = t;
    }
    return b;
}

QString timeText(const QString& hour, const QString& minute)
{
    return hour + QLatin1Char(':') + minute;
}

TimeBoxes timeBoxes(const QString& time)
{
    const QStringList parts = time.split(QLatin1Char(':'));
    return {parts.value(0), parts.value(1)};
}

}  // namespace skelvar::mod
