#include "SkelvarMod/generator/scriptgenerator.h"

#include <QRegularExpression>

#include <algorithm>

namespace skelvar::mod {

namespace {

QString withoutPrefix(const QString& text, const QString& prefix)
{
    return text.startsWith(prefix) ? text.mid(prefix.size()) : text;
}

QString withoutSuffix(const QString& text, const QString& suffix)
{
    return text.endsWith(suffix) ? text.chopped(suffix.size()) : text;
}

QString scheduledTime(const MessageEntry& m)
{
    return withoutPrefix(m.trigger, QStringLiteral("At "));
}
QString periodicCount(const MessageEntry& m)
{
    return withoutSuffix(m.trigger, QStringLiteral(" minutes"));
}
// Blanks around a map name are none of the map's: the game's map name has none.
QString perMapName(const MessageEntry& m)
{
    return withoutPrefix(m.trigger, QStringLiteral("On ")).trimmed();
}
QString mapFixMap(const MapFixEntry& f)
{
    return f.map.trimmed();
}
// The model and script names are checked and written without their blanks.
QString modelName(const MapFixEntry& f)
{
    return f.model.trimmed();
}
QString execName(const CompatEntry& c)
{
    return c.script.trimmed();
}

// Operator text as it may stand on one script line. The engine's reader
// takes a NUL for the end of the script.
QString safe(const QString& value)
{
    QString out = value;
    out.replace(QLatin1String("\r\n"), QLatin1String(" "));
    out.replace(QLatin1Char('\r'), QLatin1Char(' '));
    out.replace(QLatin1Char('\n'), QLatin1Char(' '));
    out.replace(QChar(0), QLatin1Char(' '));
    out.replace(QLatin1Char('"'), QLatin1Char('\''));
    return out;
}

// Operator text between double quotes. A backslash is the language's escape
// character: a lone one before the closing quote would swallow it.
QString quoted(const QString& value)
{
    return QLatin1Char('"') + safe(value).replace(QLatin1Char('\\'), QLatin1String("\\\\")) + QLatin1Char('"');
}

bool toWhole(const QString& text, int* value)
{
    bool ok = false;
    const int v = text.trimmed().toShort(&ok);
    if (ok && value)
        *value = v;
    return ok;
}

// A plain decimal number such as -12, +40.5, 007 or .5: its sign, whole
// digits and fraction digits. No match for an exponent, nan or inf.
QRegularExpressionMatch plainNumber(const QString& text)
{
    static const QRegularExpression rx(QStringLiteral("^([-+]?)([0-9]*)(?:\\.([0-9]*))?$"));
    QRegularExpressionMatch m = rx.match(text);
    if (m.hasMatch() && m.captured(2).isEmpty() && m.captured(3).isEmpty())
        return {};
    return m;
}

bool isPlainNumber(const QString& text)
{
    return plainNumber(text).hasMatch();
}

// The engine reads a whole number into a 32-bit int, so a larger one would
// come out as another number.
constexpr qint64 LargestScriptNumber = 2147483647;

// A plain number in the form the script reads as the same number: without
// '+' (the language has no unary plus), without leading zeros and with a
// digit on each side of a dot. Empty when text is no plain number or its
// whole part is beyond LargestScriptNumber.
QString scriptNumber(const QString& text)
{
    const QRegularExpressionMatch m = plainNumber(text);
    if (!m.hasMatch())
        return {};
    QString whole = m.captured(2), fraction = m.captured(3);
    while (whole.size() > 1 && whole.startsWith(QLatin1Char('0')))
        whole.remove(0, 1);
    if (whole.isEmpty())
        whole = QStringLiteral("0");
    if (whole.size() > 10 || whole.toLongLong() > LargestScriptNumber)
        return {};
    QString out = m.captured(1) == QLatin1String("-") ? QStringLiteral("-") : QString();
    out += whole;
    if (!fraction.isEmpty())
        out += QLatin1Char('.') + fraction;
    return out;
}

QStringList originParts(const QString& text)
{
    return text.simplified().split(QLatin1Char(' '));
}

// The origin's three coordinates as the script writes them; empty when it is
// not three numbers separated by blanks, or one is too large.
QString scriptOrigin(const QString& text)
{
    QStringList out;
    for (const QString& part : originParts(text))
        out.append(scriptNumber(part));
    if (out.size() != 3 || out.contains(QString()))
        return {};
    return out.join(QLatin1Char(' '));
}

// Whether the origin is three plain numbers, whatever their size.
bool isPlainOrigin(const QString& text)
{
    const QStringList xyz = originParts(text);
    return xyz.size() == 3 && std::all_of(xyz.begin(), xyz.end(), isPlainNumber);
}

// The periodic message's interval as the script writes it; as typed when it
// is no whole number, which validateInputs refuses.
QString scriptInterval(const MessageEntry& m)
{
    int count = 0;
    return toWhole(periodicCount(m), &count) ? QString::number(count) : safe(periodicCount(m));
}

// Names written unquoted (spawn's model, exec's script) must stay one token.
bool isPlainPath(const QString& text)
{
    static const QRegularExpression rx(QStringLiteral("^[A-Za-z0-9_./-]+$"));
    return rx.match(text).hasMatch();
}

// The engine starts a word at a letter, digit or _; at '.', '-' or '/' it
// reads an operator or a comment. Script names need no such start: they
// follow "global/".
bool isPlainModel(const QString& text)
{
    static const QRegularExpression rx(QStringLiteral("^[A-Za-z0-9_]"));
    return isPlainPath(text) && rx.match(text).hasMatch();
}

class Script {
public:
    void line(const QString& text) { m_out += text.toLatin1() + "\r\n"; }
    void lines(std::initializer_list<const char*> texts)
    {
        for (const char* t : texts)
            m_out += QByteArray(t) + "\r\n";
    }
    QByteArray bytes() const { return m_out; }

private:
    QByteArray m_out;
};

QString num(qsizetype n)
{
    return QString::number(n);
}

void priorityLine(Script& s, const MessageEntry& m)
{
    QString command;
    if (m.priority == QLatin1String("Low"))
        command = QStringLiteral("iprintln_noloc ");
    else if (m.priority == QLatin1String("Medium"))
        command = QStringLiteral("iprintlnbold_noloc ");
    else if (m.priority == QLatin1String("High"))
        command = QStringLiteral("locprint 15 200 ");
    else
        return;
    s.line(command + quoted(m.text));
}

void clockTest(Script& s, const QString& time)
{
    int h = 0, m = 0;
    parseClockTime(time, &h, &m);
    s.line(QStringLiteral("if ((level.v2 == %1) && (level.v1 == %2))").arg(h).arg(m));
}

// The ticked rows of each list, messages split by their type.
struct ScriptRows {
    QList<MessageEntry> periodic, scheduled, perMap;
    QList<CommandEntry> commands;
    QList<MapFixEntry> mapFixes;
    QList<CompatEntry> compat;
};

ScriptRows tickedRows(const BuildInputs& in)
{
    ScriptRows rows;
    for (const MessageEntry& m : in.messages) {
        if (!m.ticked)
            continue;
        if (m.type == TypePeriodic)
            rows.periodic.append(m);
        else if (m.type == TypeScheduled)
            rows.scheduled.append(m);
        else if (m.type == TypePerMap)
            rows.perMap.append(m);
    }
    for (const CommandEntry& c : in.commands)
        if (c.ticked)
            rows.commands.append(c);
    for (const MapFixEntry& f : in.mapFixes)
        if (f.ticked)
            rows.mapFixes.append(f);
    for (const CompatEntry& c : in.compat)
        if (c.ticked)
            rows.compat.append(c);
    return rows;
}

// main: reads the clock and the periodic counters back from the server
// variables, runs the additional scripts, and starts t1 at the first spawn.
void emitMain(Script& s, const ScriptRows& rows, const QString& startedFlag)
{
    s.lines({"main:", "level.v0 = int (getcvar (scantime))", "level.v1 = int (getcvar (sv_minutes))",
             "level.v2 = int(getcvar (sv_hours))", "level.v3 = int (getcvar (sv_seconds))", "if (level.v0 == 0)", "{",
             "level.v0 = 3", "setcvar \"scantime\" 3", "}"});
    for (qsizetype k = 4; k < rows.periodic.size() + 4; ++k)
        s.line(QStringLiteral("level.v%1 = int(getcvar (mensa%2))").arg(k).arg(k - 3));
    s.lines({"if ( getcvar (resetvalue) == \"\")", "{", "setcvar \"resetvalue\" 0", "}",
             "if ( getcvar (sv_skelvar) == \"\")", "{", "setcvar \"sv_skelvar\" 0", "}"});
    for (const CompatEntry& c : rows.compat)
        s.line(QStringLiteral("exec global/") + safe(execName(c)));
    s.line(QStringLiteral("if (") + startedFlag + QStringLiteral(" != 1)"));
    s.lines({"{", "level waittill spawn", "thread t1", "end", "}", "end"});
}

// t1: starts the other threads once per map, whatever number of spawns.
void emitStartOnce(Script& s, const Switches& sw, const QString& startedFlag)
{
    s.line(QStringLiteral("t1:"));
    s.line(QStringLiteral("if (") + startedFlag + QStringLiteral(" != 1)"));
    s.line(QStringLiteral("{"));
    s.line(startedFlag + QStringLiteral(" = 1"));
    s.lines({"}", "else", "end", "setcvar \"versionskelvar\" \"2.1\"", "thread t2", "thread t3", "thread t4"});
    if (sw.stopForcedModels == 1 || sw.serverTime == 1 || sw.nextMap == 1)
        s.line(QStringLiteral("thread t5"));
    s.line(QStringLiteral("end"));
}

// The anti-cheat probes of one scan: each ticked switch resets its client
// variable to the monitor's reset value.
void emitProbes(Script& s, const Switches& sw)
{
    if (sw.noFog + sw.whiteWalls + sw.thirdPersonView + sw.wallhack == 0)
        return;
    s.line(QStringLiteral("$player stufftext (\"set snaps 19\")"));
    if (sw.noFog == 1)
        s.lines({"$player stufftext (\"setu r_farplane_nofog \" + level.m1)",
                 "$player stufftext (\"setu r_farplane \" + level.m1)"});
    if (sw.whiteWalls == 1)
        s.line(QStringLiteral("$player stufftext (\"setu r_lightmap \" + level.m1)"));
    if (sw.thirdPersonView == 1)
        s.line(QStringLiteral("$player stufftext (\"setu cg_3rd_person \" + level.m1)"));
    if (sw.wallhack == 1)
        s.line(QStringLiteral("$player stufftext (\"setu r_novis \" + level.m1)"));
    s.lines({"$player stufftext (\"setu version \" + level.m1)", "waitframe", "$player stufftext (\"set snaps 20\")"});
}

// Once a minute: the scheduled messages and commands whose time has come.
void emitTimedRows(Script& s, const ScriptRows& rows)
{
    for (const MessageEntry& m : rows.scheduled) {
        clockTest(s, scheduledTime(m));
        s.lines({"{", "waitframe"});
        priorityLine(s, m);
        s.line(QStringLiteral("}"));
    }
    for (const CommandEntry& c : rows.commands) {
        clockTest(s, c.time);
        s.lines({"{", "waitframe"});
        s.line(QStringLiteral("thread t6 ") + quoted(c.command));
        s.line(QStringLiteral("}"));
    }
}

// Once a minute: each periodic message counts its minutes in its own
// variable, shows itself when the count is reached, and keeps the count in
// a server variable across map changes.
void emitPeriodicMessages(Script& s, const QList<MessageEntry>& periodic)
{
    for (qsizetype n = 0; n < periodic.size(); ++n) {
        const QString k = num(n + 4);
        const QString i = num(n + 1);
        const MessageEntry& m = periodic[n];
        s.line(QStringLiteral("level.v") + k + QStringLiteral(" = level.v") + k + QStringLiteral(" + 1"));
        s.line(QStringLiteral("if (level.v") + k + QStringLiteral(" == ") + scriptInterval(m) + QLatin1Char(')'));
        s.lines({"{", "waitframe"});
        priorityLine(s, m);
        s.line(QStringLiteral("level.v") + k + QStringLiteral(" = 0"));
        s.line(QStringLiteral("}"));
        s.line(QStringLiteral("setcvar \"mensa") + i + QStringLiteral("\" level.v") + k);
    }
}

// t2: the script's clock. Every second it counts, answers a rename request,
// and once a minute it runs the probes when a scan is due, moves the clock
// on and runs the timed and periodic rows.
void emitClockLoop(Script& s, const Switches& sw, const ScriptRows& rows)
{
    s.lines({"t2:",
             "wait 1",
             "level.v3 = level.v3 + 1",
             "if (getcvar(nombre) != \"\")",
             "thread t7",
             "if (level.v3 > 59)",
             "{",
             "level.m1 = getcvar (resetvalue)",
             "level.v0 = level.v0 - 1",
             "if ( int ( getcvar (scanpass) ) == 1 )",
             "{",
             "level.v0 = int ( getcvar(scantime) ) - 1",
             "setcvar \"scanpass\" 2",
             "}",
             "if (level.v0 == 0)",
             "{",
             "if ( int(getcvar(sv_skelvar)) != 0 )",
             "{",
             "if ($player != NULL)",
             "{"});
    emitProbes(s, sw);
    s.lines({"}", "}", "level.v0 = int ( getcvar(scantime) )", "}", "level.v3 = 0",
             "level.v1 = int (getcvar (sv_minutes)) + 1", "level.v2 = int(getcvar (sv_hours))", "if (level.v1 > 59)",
             "{", "level.v1 = 0", "level.v2 = int(getcvar (sv_hours)) + 1", "if (level.v2 > 23)", "level.v2 = 0", "}",
             "setcvar \"sv_minutes\" level.v1", "setcvar \"sv_hours\" level.v2"});
    emitTimedRows(s, rows);
    emitPeriodicMessages(s, rows.periodic);
    s.lines({"}", "setcvar \"sv_seconds\" level.v3", "goto t2", "end"});
}

// t3: the per-map messages, shown ten seconds after their map starts.
void emitPerMapMessages(Script& s, const QList<MessageEntry>& perMap)
{
    s.line(QStringLiteral("t3:"));
    for (const MessageEntry& m : perMap) {
        s.line(QStringLiteral("if (getcvar(mapname) == ") + quoted(perMapName(m)) + QLatin1Char(')'));
        s.lines({"{", "wait 10", "waitframe"});
        priorityLine(s, m);
        s.line(QStringLiteral("}"));
    }
    s.line(QStringLiteral("end"));
}

// t4: spawns the objects of the map fixes of the running map, solid and
// immune to all damage.
void emitMapFixes(Script& s, const QList<MapFixEntry>& fixes)
{
    s.line(QStringLiteral("t4:"));
    for (qsizetype j = 0; j < fixes.size(); ++j) {
        const MapFixEntry& f = fixes[j];
        const QString v = QStringLiteral("local.v") + num(j);
        s.line(QStringLiteral("if (getcvar(mapname) == ") + quoted(mapFixMap(f)) + QLatin1Char(')'));
        s.line(QStringLiteral("{"));
        s.line(v + QStringLiteral(" = spawn ") + safe(modelName(f)));
        // A value that is no number goes as typed; validateInputs refuses it.
        const QString origin = scriptOrigin(f.origin), angle = scriptNumber(f.angle.trimmed());
        s.line(v + QStringLiteral(".origin = ( ") + (origin.isEmpty() ? safe(f.origin) : origin) +
               QStringLiteral(" )"));
        s.line(v + QStringLiteral(".angle = ") + (angle.isEmpty() ? safe(f.angle) : angle));
        for (const char* flag :
             {" solid", " immune bullet", " immune fast_bullet", " immune bash", " immune explosion"})
            s.line(v + QLatin1String(flag));
        s.line(v + QLatin1Char(' ') + safe(f.visibility));
        s.line(QStringLiteral("}"));
    }
    s.line(QStringLiteral("end"));
}

// t5: every 15 seconds, the next map and the server time for the ping
// screen, and the forced models switched off.
void emitPingScreen(Script& s, const Switches& sw)
{
    s.lines({"t5:", "wait 15", "waitframe"});
    if (sw.nextMap == 1)
        s.lines({"if (getcvar(nextmap) != \"\")", "{ level.zov_order15 = \"Next Map: \" + getcvar(nextmap) }", "else",
                 "{ level.zov_order15 = \"\" }"});
    if (sw.serverTime == 1)
        s.lines({"local.v1 = \"\"", "local.v2 = \"\"", "if (level.v1 < 10)", "local.v1 = \"0\"", "if (level.v2 < 10)",
                 "local.v2 = \"0\"",
                 "level.zov_order16 = \"Server Time: \" + local.v2 + level.v2 + \":\" + local.v1 + level.v1"});
    if (sw.stopForcedModels == 1)
        s.lines({"if ($player != NULL)", "{", "$player stufftext (\"set cg_forcemodel 0\")", "}"});
    s.lines({"goto t5", "end"});
}

// t6: runs a scheduled command on the server console, where the server can.
// Its parameter is named after the map-fix count, as the script always had it.
void emitConsoleCommand(Script& s, qsizetype mapFixCount)
{
    const QString parameter = QStringLiteral("local.v") + num(mapFixCount);
    s.line(QStringLiteral("t6 ") + parameter + QLatin1Char(':'));
    // Of the original servers only the Linux 1.11 release runs it, as the
    // script always had it; OpenMoHAA, the one engine that knows
    // com_target_game, runs it on every platform.
    s.line(QStringLiteral("if ((getcvar(version) == \"Medal of Honor Allied Assault 1.11 linux-i386 Jul 23 2002\") || "
                          "(getcvar(com_target_game) != \"\"))"));
    s.line(QStringLiteral("stuffcmd (") + parameter + QLatin1Char(')'));
    s.line(QStringLiteral("end"));
}

// t7: gives the player the monitor names in numero the name in nombre,
// then asks for a scan at once.
void emitRename(Script& s)
{
    s.lines({"t7:",
             "local.numero = int ( getcvar(numero) )",
             "local.nombre = getcvar(nombre)",
             "if ($player != NULL)",
             "{",
             "level.maxplayers = Int(getcvar(sv_maxclients))",
             "for (local.p=1;local.p<=level.maxplayers;local.p++)",
             "{",
             "if (($player.size>=local.p) && ($player[local.p]!=NULL))",
             "{",
             "local.player = $player[local.p]",
             "if (local.player.entnum == local.numero)",
             "local.player stufftext (\"name \" + local.nombre)",
             "}",
             "}",
             "}",
             "setcvar \"numero\" \"\"",
             "setcvar \"nombre\" \"\"",
             "setcvar \"scantime\" \"1\"",
             "level.v0 = 1",
             "end"});
}

}  // namespace

bool parseClockTime(const QString& text, int* hour, int* minute)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    int h = 0, m = 0;
    if (parts.size() != 2 || !toWhole(parts[0], &h) || !toWhole(parts[1], &m))
        return false;
    if (h < 0 || h > 23 || m < 0 || m > 59)
        return false;
    if (hour)
        *hour = h;
    if (minute)
        *minute = m;
    return true;
}

QByteArray GenerateScript(const BuildInputs& in)
{
    const ScriptRows rows = tickedRows(in);
    // The counters of the periodic messages come first, so the flag after
    // them moves with their number.
    const QString startedFlag = QStringLiteral("level.v") + num(rows.periodic.size() + 4);
    Script s;
    emitMain(s, rows, startedFlag);
    emitStartOnce(s, in.switches, startedFlag);
    emitClockLoop(s, in.switches, rows);
    emitPerMapMessages(s, rows.perMap);
    emitMapFixes(s, rows.mapFixes);
    emitPingScreen(s, in.switches);
    emitConsoleCommand(s, rows.mapFixes.size());
    emitRename(s);
    return s.bytes();
}

QString mapFixRowName(qsizetype index, const MapFixEntry& fix)
{
    return QStringLiteral("Map fix %1 (%2 %3)").arg(index + 1).arg(fix.map, fix.description);
}

namespace {

QString tooLong(const QString& what, qsizetype limit = MaxValueLength)
{
    return QStringLiteral("the %1 is longer than %2 characters.").arg(what).arg(limit);
}

}  // namespace

QStringList mapFixValueProblems(const MapFixEntry& fix)
{
    QStringList problems;
    const QString model = modelName(fix);
    if (model.isEmpty())
        problems.append(QStringLiteral("the model is empty."));
    else if (!isPlainModel(model))
        problems.append(QStringLiteral("the model must be a plain path of letters, digits and _ - . /, "
                                       "starting with a letter, digit or _."));
    else if (model.size() > MaxNameLength)
        problems.append(tooLong(QStringLiteral("model"), MaxNameLength));
    if (fix.origin.trimmed().isEmpty())
        problems.append(QStringLiteral("the origin is empty."));
    else if (!isPlainOrigin(fix.origin))
        problems.append(QStringLiteral("the origin must be three numbers separated by blanks."));
    else if (fix.origin.size() > MaxValueLength)
        problems.append(tooLong(QStringLiteral("origin")));
    else if (scriptOrigin(fix.origin).isEmpty())
        problems.append(QStringLiteral("the origin's numbers must lie between -%1 and %1.").arg(LargestScriptNumber));
    const QString angle = fix.angle.trimmed();
    if (angle.isEmpty())
        problems.append(QStringLiteral("the angle is empty."));
    else if (!isPlainNumber(angle))
        problems.append(QStringLiteral("the angle must be a number."));
    else if (angle.size() > MaxValueLength)
        problems.append(tooLong(QStringLiteral("angle")));
    else if (scriptNumber(angle).isEmpty())
        problems.append(QStringLiteral("the angle must lie between -%1 and %1.").arg(LargestScriptNumber));
    return problems;
}

namespace {

// The problems found so far, one sentence each, naming the row.
class Problems {
public:
    void add(const QString& row, const QString& problem) { m_list.append(row + QStringLiteral(": ") + problem); }
    void quoteCheck(const QString& row, const QString& what, const QString& value)
    {
        if (value.contains(QLatin1Char('"')))
            add(row, QStringLiteral("the ") + what + QStringLiteral(" holds a double quote (\")."));
    }
    // False (and noted) when the value is empty.
    bool emptyCheck(const QString& row, const QString& what, const QString& value)
    {
        if (!value.trimmed().isEmpty())
            return true;
        add(row, QStringLiteral("the ") + what + QStringLiteral(" is empty."));
        return false;
    }
    void lengthCheck(const QString& row, const QString& what, const QString& value, qsizetype limit = MaxValueLength)
    {
        if (value.size() > limit)
            add(row, tooLong(what, limit));
    }
    QStringList list() const { return m_list; }

private:
    QStringList m_list;
};

const QString BadTime = QStringLiteral("the time must be hour:minute, whole numbers from 0:0 to 23:59.");

void checkMessages(Problems& problems, const QList<MessageEntry>& messages)
{
    for (qsizetype n = 0; n < messages.size(); ++n) {
        const MessageEntry& m = messages[n];
        if (!m.ticked)
            continue;
        const QString row = QStringLiteral("Message %1 (%2 %3)").arg(n + 1).arg(m.type, m.trigger);
        problems.quoteCheck(row, QStringLiteral("text"), m.text);
        problems.lengthCheck(row, QStringLiteral("text"), m.text);
        if (m.type == TypeScheduled) {
            if (!parseClockTime(scheduledTime(m), nullptr, nullptr))
                problems.add(row, BadTime);
        } else if (m.type == TypePeriodic) {
            int count = 0;
            if (!toWhole(periodicCount(m), &count) || count < 1)
                problems.add(row, QStringLiteral("the interval must be a whole number of minutes, at least 1."));
        } else if (m.type == TypePerMap) {
            if (problems.emptyCheck(row, QStringLiteral("map"), perMapName(m))) {
                problems.quoteCheck(row, QStringLiteral("map"), perMapName(m));
                problems.lengthCheck(row, QStringLiteral("map"), perMapName(m));
            }
        }
    }
}

void checkCommands(Problems& problems, const QList<CommandEntry>& commands)
{
    for (qsizetype n = 0; n < commands.size(); ++n) {
        const CommandEntry& c = commands[n];
        if (!c.ticked)
            continue;
        const QString row = QStringLiteral("Command %1 (%2)").arg(n + 1).arg(c.command);
        if (!parseClockTime(c.time, nullptr, nullptr))
            problems.add(row, BadTime);
        problems.quoteCheck(row, QStringLiteral("command"), c.command);
        problems.lengthCheck(row, QStringLiteral("command"), c.command);
    }
}

void checkMapFixes(Problems& problems, const QList<MapFixEntry>& fixes)
{
    for (qsizetype n = 0; n < fixes.size(); ++n) {
        const MapFixEntry& f = fixes[n];
        if (!f.ticked)
            continue;
        const QString row = mapFixRowName(n, f);
        if (problems.emptyCheck(row, QStringLiteral("map"), f.map)) {
            problems.quoteCheck(row, QStringLiteral("map"), f.map);
            problems.lengthCheck(row, QStringLiteral("map"), mapFixMap(f));
        }
        for (const QString& problem : mapFixValueProblems(f))
            problems.add(row, problem);
        if (f.visibility != QLatin1String("show") && f.visibility != QLatin1String("hide"))
            problems.add(row, QStringLiteral("the visibility must be show or hide."));
    }
}

void checkCompat(Problems& problems, const QList<CompatEntry>& compat)
{
    for (qsizetype n = 0; n < compat.size(); ++n) {
        const CompatEntry& c = compat[n];
        if (!c.ticked)
            continue;
        const QString row = QStringLiteral("Additional script %1 (%2)").arg(n + 1).arg(c.description);
        if (!problems.emptyCheck(row, QStringLiteral("script name"), execName(c)))
            continue;
        if (!isPlainPath(execName(c)))
            problems.add(row, QStringLiteral("the script name must be a plain path of letters, digits and _ - . /."));
        problems.lengthCheck(row, QStringLiteral("script name"), execName(c), MaxNameLength);
    }
}

}  // namespace

QStringList validateInputs(const BuildInputs& in)
{
    Problems problems;
    checkMessages(problems, in.messages);
    checkCommands(problems, in.commands);
    checkMapFixes(problems, in.mapFixes);
    checkCompat(problems, in.compat);
    return problems.list();
}

}  // namespace skelvar::mod
