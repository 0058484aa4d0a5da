// The generated mod in the real OpenMoHAA dedicated server (see
// tests/support/openmohaaserver.h). Each build is made by the program the
// operator runs, `ModSkelvar --build`, from the builder's shipped files, and
// its archive goes under the server's main/ as on an installed server; the
// test map's level script runs global/DMprecache.scr, which runs the script.
//
// - The default build, the build with every switch and every additional
//   script ticked, and a build with messages, a scheduled command and map
//   fixes on the map the server runs: the engine's log (developer 1) shows no
//   compile or run-time error, `versionskelvar` reads 2.1 over rcon and
//   `sv_seconds` counts up. Nothing in the log is excused: what only the
//   retail files or the operator's separately installed scripts would give is
//   here as a stand-in of the very name the script asks for (kStandInScripts,
//   kStandInModel), and the test checks that the script asks for exactly those.
// - A scheduled command runs when the script's clock, set over rcon, reaches
//   its time, and sets a variable read back over rcon.
// - The monitor's own parts, at the engine's real request pacing, claim the
//   modded server, see the script running, prime its clock and scan period,
//   get the scan pass acknowledged, and release the server on Stop.
//
// Every server starts with `sv_seconds` near the end of a minute, so the
// script's once-a-minute part runs within seconds instead of a minute. One
// server runs per build; the third build's server serves the scheduled
// command and the monitor in turn.

#include "SkelvarMod/generator/buildmod.h"
#include "SkelvarMod/project/builderfiles.h"
#include "SkelvarRcon/store/controlnames.h"
#include "SkelvarRcon/transport/rcontransport.h"
#include "tests/support/engineparts.h"
#include "tests/support/openmohaaserver.h"
#include "tests/support/processes.h"
#include "zipread.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <functional>
#include <memory>

using namespace skelvar;
using namespace skelvar::mod;
using skelvar::test::OpenMohaaServer;

namespace {

const QString kScriptEntry = QStringLiteral("global/skelvar.scr");
const QString kPrecacheEntry = QStringLiteral("global/DMprecache.scr");

// The additional scripts of the shipped skelvar.dcf, which the operator
// installs on the server apart from the mod.
const QStringList kStandInScripts{"teambalance.scr", "spawnprotect.scr", "mapvote.scr", "chatadmin.scr"};
// The model of the test's map fixes: a retail model on a real server.
const QString kStandInModel = QStringLiteral("static/crate.tik");
// What the scheduled command does: it sets this variable to "done".
const QString kCommandVariable = QStringLiteral("om_scheduled");

// The script's once-a-minute part runs when its second count passes 59. It
// takes the count from sv_seconds at the map's start.
constexpr int kSecondsBeforeTheMinute = 5;
constexpr int kMinuteWaitMs = 65000;

// ------------------------------------------------------------ stand-ins

// The variable a stand-in additional script sets when it runs.
QString ranVariable(const QString& script)
{
    return QStringLiteral("standin_") + QString(script).remove(QStringLiteral(".scr"));
}

QByteArray standInScript(const QString& script)
{
    return "// stands in for the additional script " + script.toLatin1() + "\nmain:\nsetcvar \"" +
           ranVariable(script).toLatin1() + "\" \"ran\"\nend\n";
}

// Little-endian records of the model files.
class Bytes {
public:
    Bytes& i32(qint32 v)
    {
        for (int shift = 0; shift < 32; shift += 8)
            m_bytes.append(char((quint32(v) >> shift) & 0xFF));
        return *this;
    }
    Bytes& f32(float v)
    {
        quint32 bits = 0;
        static_assert(sizeof bits == sizeof v);
        std::memcpy(&bits, &v, sizeof bits);
        return i32(qint32(bits));
    }
    Bytes& raw(const QByteArray& s)
    {
        m_bytes.append(s);
        return *this;
    }
    // A fixed-size name, zero-padded.
    Bytes& text(const QByteArray& s, int size)
    {
        m_bytes.append(s.left(size - 1).leftJustified(size, '\0', true));
        return *this;
    }
    QByteArray bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

// The skeletal model (SKD version 6, tiki_shared.h skelHeader_t): one surface
// of one vertex, no bones, boxes or morph targets. The engine reads a
// surface's first vertex whatever its count, so it needs one.
QByteArray standInSkd(const QByteArray& name)
{
    constexpr int headerSize = 4 + 4 + 64 + 5 * 4 + 10 * 4 + 4 * 4 + 4;
    constexpr int surfaceSize = 4 + 64 + 8 * 4;
    constexpr int vertexSize = 3 * 4 + 2 * 4 + 4 + 4;
    constexpr int ofsVerts = surfaceSize;
    constexpr int ofsCollapse = ofsVerts + vertexSize;
    constexpr int ofsCollapseIndex = ofsCollapse + 4;
    constexpr int surfaceEnd = ofsCollapseIndex + 4;
    constexpr int end = headerSize + surfaceEnd;
    Bytes b;
    b.raw("SKMD").i32(6).text(name, 64);
    b.i32(1).i32(0).i32(end).i32(headerSize).i32(end);  // surfaces, bones and their offsets, end
    for (int lod = 0; lod < 10; ++lod)
        b.i32(0);
    b.i32(0).i32(end).i32(0).i32(end).f32(1.0F);  // boxes, morph targets, scale
    b.raw("SKL ").text(name, 64);
    b.i32(0).i32(1).i32(0).i32(surfaceSize).i32(ofsVerts).i32(ofsCollapse).i32(surfaceEnd).i32(ofsCollapseIndex);
    b.f32(0).f32(0).f32(1).f32(0).f32(0).i32(0).i32(0);  // normal, texture coordinates, no weights or morphs
    b.i32(0).i32(0);                                     // collapse, collapse index
    return b.bytes();
}

// Its one animation (SKC version 13, skelAnimDataFileHeader_t): one frame of
// no channels, the box of a crate.
QByteArray standInSkc()
{
    constexpr int size = 96;
    Bytes b;
    b.raw("SKAN").i32(13).i32(0).i32(size).f32(0.05F);       // flags, bytes used, frame time
    b.f32(0).f32(0).f32(0).f32(0);                           // total delta and angle delta
    b.i32(0).i32(size).i32(1);                               // channels, their names, frames
    b.f32(-8).f32(-8).f32(0).f32(8).f32(8).f32(16).f32(12);  // the frame's bounds and radius
    b.f32(0).f32(0).f32(0).f32(0).i32(size);                 // its deltas and channels
    return b.bytes();
}

// The model's TIKI. It names its class (a script model) in its server
// section, as a model must for `spawn <model>`: the engine refuses to spawn
// by name a model that names none ("You must specify an explicit classname
// for misc object tik models"), so a map fix needs a model that does.
QByteArray standInTiki(const QByteArray& folder, const QByteArray& stem)
{
    return "TIKI\n"
           "// stands in for the retail model of this name\n"
           "setup\n{\n\tpath " +
           folder + "\n\tskelmodel " + stem + ".skd\n}\n" +
           "init\n{\n\tserver\n\t{\n\t\tclassname ScriptModel\n\t}\n}\n"
           "animations\n{\n\tidle " +
           stem + ".skc\n}\n";
}

// A file under the server's main/: its path and its bytes.
using GameFile = std::pair<QString, QByteArray>;

QList<GameFile> standInScripts(const QStringList& scripts)
{
    QList<GameFile> files;
    for (const QString& script : scripts)
        files.append({QStringLiteral("global/") + script, standInScript(script)});
    return files;
}

// The TIKI of the model's name, with its skeletal model and animation.
QList<GameFile> standInModel(const QString& model)
{
    const QString path = QStringLiteral("models/") + model;
    const QString folder = path.section(QLatin1Char('/'), 0, -2);
    const QString stem = path.section(QLatin1Char('/'), -1).section(QLatin1Char('.'), 0, 0);
    return {{path, standInTiki(folder.toLatin1(), stem.toLatin1())},
            {folder + QLatin1Char('/') + stem + QStringLiteral(".skd"), standInSkd(stem.toLatin1())},
            {folder + QLatin1Char('/') + stem + QStringLiteral(".skc"), standInSkc()}};
}

// ------------------------------------------------------------ the build

// A builder folder as shipped: the program, its precache template and its
// list of additional scripts. A test adds the operator's files before build().
struct BuilderFolder {
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }

    void prepare()
    {
        QVERIFY(dir.isValid());
        QVERIFY(QFile::copy(QStringLiteral(MODSKELVAR_PATH), path(QStringLiteral("ModSkelvar"))));
        for (const QString& shipped : {PrecacheTemplateName, CompatFileName})
            QVERIFY(QFile::copy(QStringLiteral(MODSKELVAR_DATA "/") + shipped, path(shipped)));
    }

    // `ModSkelvar --build` in the folder, from an unrelated working folder:
    // the archive's path, empty (and the test failed) when it was not built.
    QString build()
    {
        QTemporaryDir cwd;
        QProcess p;
        p.setProcessEnvironment(skelvar::test::environmentWithoutDisplay());
        p.setWorkingDirectory(cwd.path());
        p.start(path(QStringLiteral("ModSkelvar")), {QStringLiteral("--build")});
        const bool ended = p.waitForFinished(20000);
        const QString said = QString::fromLocal8Bit(p.readAllStandardError());
        [&] { QVERIFY2(ended && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, qPrintable(said)); }();
        const QString archive = path(OutputFolderName + QLatin1Char('/') + ArchiveName);
        return QTest::currentTestFailed() ? QString() : archive;
    }
};

// A ticked map fix as the editor saves it.
MapFixEntry mapFix(const QString& map, const QString& model, const QString& origin, const QString& angle,
                   const QString& visibility, const QString& file)
{
    return {.map = map,
            .author = "Op",
            .description = "In the way",
            .model = model,
            .origin = origin,
            .angle = angle,
            .visibility = visibility,
            .filename = file,
            .ticked = true};
}

// The archive's entries, its scripts and the names in the script that the
// server must provide.
struct BuiltMod {
    QString archive;
    QStringList entries;
    QByteArray precache;
    QByteArray script;
    QStringList execs;   // exec global/X
    QStringList models;  // spawn X
};

BuiltMod readBuild(const QString& archive)
{
    BuiltMod b;
    b.archive = archive;
    const modtest::ZipContent zip = modtest::readZip(archive);
    b.entries = zip.names();
    b.precache = zip.content(kPrecacheEntry);
    b.script = zip.content(kScriptEntry);
    static const QRegularExpression exec(QStringLiteral("^exec global/(\\S+)\\r?$"),
                                         QRegularExpression::MultilineOption);
    static const QRegularExpression spawn(QStringLiteral("= spawn (\\S+)\\r?$"), QRegularExpression::MultilineOption);
    const QString text = QString::fromLatin1(b.script);
    for (const auto& m : exec.globalMatch(text))
        b.execs << m.captured(1);
    for (const auto& m : spawn.globalMatch(text))
        b.models << m.captured(1);
    return b;
}

// ------------------------------------------------------------ the engine

// The value of a variable in the engine's print ("x" is:"11" default:"1");
// "<unset>" for the empty print of an unset variable, otherwise the answer.
QString valueIn(const QByteArray& answer, const QString& name)
{
    if (answer.isEmpty())
        return QStringLiteral("<unset>");
    const QRegularExpression rx(QStringLiteral("^\"%1\" is:\"([^\"]*)\"").arg(QRegularExpression::escape(name)));
    const QRegularExpressionMatch m = rx.match(QString::fromLatin1(answer));
    return m.hasMatch() ? m.captured(1) : QStringLiteral("<answer: %1>").arg(QString::fromLatin1(answer));
}

QString readValue(OpenMohaaServer& server, const QString& name)
{
    return valueIn(server.ask(name), name);
}

// Reads the variable over rcon until `done` holds for its value or the time
// is up (the event loop runs meanwhile); the last value read.
QString waitForValue(OpenMohaaServer& server, const QString& name, const std::function<bool(const QString&)>& done,
                     int timeoutMs, int everyMs = 1000)
{
    QElapsedTimer clock;
    clock.start();
    QString value = readValue(server, name);
    while (!done(value) && clock.elapsed() < timeoutMs) {
        QTest::qWait(everyMs);
        value = readValue(server, name);
    }
    return value;
}

QString waitForValue(OpenMohaaServer& server, const QString& name, const QString& wanted, int timeoutMs)
{
    return waitForValue(
        server, name, [&](const QString& v) { return v == wanted; }, timeoutMs);
}

// Every line of the log in one of the engine's script error forms (compile:
// "parse error", "syntax error", "Script file compile error: Couldn't parse";
// run time: "Script Error"), and every line that names one of the mod's two
// scripts (the "(FILE, LINE):" line of both forms), each with the line before
// it and the three after it (the statement and the engine's caret). Nothing
// is left out.
QString scriptTrouble(const QByteArray& log)
{
    static const QList<QByteArray> forms{"script error",   "compile error",      "parse error",          "syntax error",
                                         "couldn't parse", "global/skelvar.scr", "global/dmprecache.scr"};
    const QList<QByteArray> lines = log.split('\n');
    QStringList found;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray lower = lines[i].toLower();
        bool hit = false;
        for (const QByteArray& form : forms)
            hit = hit || lower.contains(form);
        if (!hit)
            continue;
        QStringList excerpt;
        for (qsizetype j = qMax<qsizetype>(0, i - 1); j < qMin(lines.size(), i + 4); ++j)
            excerpt << QString::fromLatin1(lines[j]);
        found << excerpt.join(QLatin1Char('\n'));
    }
    return found.join(QStringLiteral("\n----\n"));
}

// Starts a server with the archive under main/, the files given, and the
// script's second count `secondsLeft` short of a minute at the map's start;
// more variables as given. Null (and the test failed) when it did not start.
std::unique_ptr<OpenMohaaServer> startModded(const BuiltMod& mod, const QList<GameFile>& files, int secondsLeft,
                                             const QList<std::pair<QString, QString>>& variables = {})
{
    auto server = std::make_unique<OpenMohaaServer>();
    QString error;
    bool ok = server->addPackage(mod.archive, &error);
    for (const auto& [path, data] : files)
        ok = ok && server->addFile(path, data, &error);
    server->setVariable(QStringLiteral("sv_seconds"), QString::number(60 - secondsLeft));
    for (const auto& [name, value] : variables)
        server->setVariable(name, value);
    ok = ok && server->start(&error);
    [&] { QVERIFY2(ok, qPrintable(error)); }();
    return ok ? std::move(server) : nullptr;
}

// The script's clock moves once a minute; the value it gives the minutes.
QString waitForMinute(OpenMohaaServer& server, const QString& minutes, int timeoutMs)
{
    return waitForValue(server, QStringLiteral("sv_minutes"), minutes, timeoutMs);
}

// The script's second count goes up (read twice within one minute).
void verifySecondsCount(OpenMohaaServer& server)
{
    bool ok = false;
    const int first = readValue(server, QStringLiteral("sv_seconds")).toInt(&ok);
    QVERIFY(ok);
    QVERIFY2(first < 55, "too near the end of the minute to see the count go up");
    QTest::qWait(2000);
    const QString later = readValue(server, QStringLiteral("sv_seconds"));
    QVERIFY2(later.toInt() > first, qPrintable(QStringLiteral("sv_seconds %1, then %2").arg(first).arg(later)));
}

void verifyNoScriptTrouble(OpenMohaaServer& server)
{
    const QString trouble = scriptTrouble(server.log());
    QVERIFY2(trouble.isEmpty(), qPrintable(QStringLiteral("the engine reports script errors:\n") + trouble));
}

}  // namespace

class TestModOpenMohaa : public QObject {
    Q_OBJECT

    QElapsedTimer m_clock;
    // The build with messages, a command and map fixes, its server and the
    // monitor on it, kept from one step to the next.
    BuiltMod m_mapMod;
    std::unique_ptr<BuilderFolder> m_mapBuilder;
    std::unique_ptr<OpenMohaaServer> m_mapServer;
    std::unique_ptr<test::EngineParts> m_monitor;

    void took(const char* what) { qInfo("%s: done %lld s into the test", what, m_clock.elapsed() / 1000); }

private slots:
    void initTestCase()
    {
        SKELVAR_REQUIRE_OPENMOHAA();
        m_clock.start();
    }

    // The shipped files alone: no switch, message, command, fix or additional script.
    void defaultBuildRunsWithoutScriptErrors()
    {
        BuilderFolder folder;
        folder.prepare();
        const QString archive = folder.build();
        QVERIFY(!archive.isEmpty());
        const BuiltMod mod = readBuild(archive);
        QCOMPARE(mod.entries, (QStringList{kPrecacheEntry, kScriptEntry}));
        QFile shipped(QStringLiteral(MODSKELVAR_DATA "/") + PrecacheTemplateName);
        QVERIFY(shipped.open(QIODevice::ReadOnly));
        QCOMPARE(mod.precache, shipped.readAll());
        QVERIFY(!mod.script.isEmpty());
        // It needs nothing from the server but itself.
        QCOMPARE(mod.execs, QStringList());
        QCOMPARE(mod.models, QStringList());

        const auto server = startModded(mod, {}, kSecondsBeforeTheMinute);
        QVERIFY(server);
        QCOMPARE(waitForValue(*server, "versionskelvar", "2.1", 5000), QStringLiteral("2.1"));
        // The claim variable, the scan period and the reset value exist before any monitor comes.
        QCOMPARE(readValue(*server, "sv_skelvar"), QStringLiteral("0"));
        QCOMPARE(readValue(*server, "scantime"), QStringLiteral("3"));
        QCOMPARE(readValue(*server, "resetvalue"), QStringLiteral("0"));
        // Its once-a-minute part: the clock, unset until now, moves to minute 1.
        QCOMPARE(waitForMinute(*server, "1", (kSecondsBeforeTheMinute + 5) * 1000), QStringLiteral("1"));
        verifySecondsCount(*server);
        verifyNoScriptTrouble(*server);
        took("default build");
    }

    // Every switch and every additional script of the shipped list ticked. The
    // server is claimed with a scan due, so the once-a-minute part takes its
    // probe branch; a rename is asked for, so the rename thread runs; and the
    // ping-screen thread runs once, 15 seconds after the start.
    void everySwitchAndAdditionalScriptRunsWithoutScriptErrors()
    {
        BuilderFolder folder;
        folder.prepare();
        QVERIFY(saveSwitches(folder.path(SettingsFileName), {1, 1, 1, 1, 1, 1, 1}));
        QList<CompatEntry> compat = loadCompat(folder.path(CompatFileName));
        for (CompatEntry& c : compat)
            c.ticked = true;
        QVERIFY(saveCompat(folder.path(CompatFileName), compat));
        const QString archive = folder.build();
        QVERIFY(!archive.isEmpty());
        const BuiltMod mod = readBuild(archive);
        // Exactly the stand-ins' names: nothing else is asked of the server.
        QCOMPARE(mod.execs, kStandInScripts);
        QCOMPARE(mod.models, QStringList());

        const auto server =
            startModded(mod, standInScripts(kStandInScripts), kSecondsBeforeTheMinute,
                        {{"sv_skelvar", "1"}, {"scanpass", "1"}, {"scantime", "1"}, {"nextmap", "omtest"}});
        QVERIFY(server);
        QCOMPARE(waitForValue(*server, "versionskelvar", "2.1", 5000), QStringLiteral("2.1"));
        for (const QString& script : kStandInScripts)
            QCOMPARE(readValue(*server, ranVariable(script)), QStringLiteral("ran"));
        server->ask("set numero 0");
        server->ask("set nombre Renamed");
        QCOMPARE(waitForValue(*server, "nombre", "", 5000), QString());

        QCOMPARE(waitForMinute(*server, "1", (kSecondsBeforeTheMinute + 5) * 1000), QStringLiteral("1"));
        // The scan was due: the script took it up and said so.
        QCOMPARE(readValue(*server, "scanpass"), QStringLiteral("2"));
        verifySecondsCount(*server);
        // The ping-screen thread's first round, 15 s after the start.
        const auto pingScreenRan = [](const QString& v) { return v.toInt() >= 15 - kSecondsBeforeTheMinute + 2; };
        const QString seconds = waitForValue(*server, "sv_seconds", pingScreenRan, 15000);
        QVERIFY2(pingScreenRan(seconds), qPrintable(seconds));
        verifyNoScriptTrouble(*server);
        took("every switch");
    }

    // Messages of all three kinds, a scheduled command and map fixes, on the
    // map the server runs. The monitor comes first; the clock is set for the
    // scheduled command after its priming, and one minute of the script then
    // runs the command and acknowledges the scan pass.
    void mapBuildRunsAndTheMonitorClaimsIt()
    {
        m_mapBuilder = std::make_unique<BuilderFolder>();
        BuilderFolder& folder = *m_mapBuilder;
        folder.prepare();
        const QString map = QStringLiteral("omtest");  // the map OpenMohaaServer runs
        QVERIFY(saveMessages(folder.path(MessagesFileName),
                             {{TypePeriodic, "1 minutes", "Low", "Every minute", true},
                              {TypeScheduled, "At 12:30", "High", "Half past twelve", true},
                              {TypePerMap, "On " + map, "Medium", "Welcome to " + map, true},
                              {TypePerMap, "On dm/mohdm6", "Medium", "Not this map", true}}));
        QVERIFY(saveCommands(folder.path(CommandsFileName), {{"12:30", "set " + kCommandVariable + " done", true}}));
        for (const MapFixEntry& fix : {mapFix(map, kStandInModel, "100 -200 32", "90", "hide", "crate.dmf"),
                                       mapFix(map, kStandInModel, "+16 .5 -8", "-45.5", "show", "block.dmf"),
                                       mapFix("dm/mohdm6", "static/other.tik", "0 0 0", "0", "show", "other.dmf")})
            QVERIFY(saveMapFix(folder.dir.path(), fix));
        const QString archive = folder.build();
        QVERIFY(!archive.isEmpty());
        m_mapMod = readBuild(archive);
        QCOMPARE(m_mapMod.execs, QStringList());
        // The fixes of this map are spawned; the other map's model is never asked for.
        QCOMPARE(m_mapMod.models, (QStringList{kStandInModel, kStandInModel, "static/other.tik"}));

        // Half a minute leaves the monitor time to claim and prime first.
        m_mapServer = startModded(m_mapMod, standInModel(kStandInModel), 30);
        QVERIFY(m_mapServer);
        OpenMohaaServer& server = *m_mapServer;
        QCOMPARE(waitForValue(server, "versionskelvar", "2.1", 5000), QStringLiteral("2.1"));

        // The monitor's parts, pacing their requests as the engine takes them.
        m_monitor = std::make_unique<test::EngineParts>(300, rcon::EngineTiming{5, 5, 1000});
        test::EngineParts& monitor = *m_monitor;
        monitor.rcon.setPacingForTests(rcon::RconTransport::kEnginePacing);
        monitor.clock = rcon::Clock([] { return QDateTime(QDate(2024, 1, 3), QTime(7, 4, 10)); });
        monitor.settings.setText(rcon::control::serverAddress, "127.0.0.1");
        monitor.settings.setText(rcon::control::serverPort, QString::number(server.port()));
        monitor.settings.setText(rcon::control::rconPassword, server.password());
        monitor.settings.setText(rcon::control::scanMinutes, "5");
        monitor.settings.setText(rcon::control::patrolSeconds, "32767");
        monitor.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(monitor.scans >= 1 && monitor.patrols >= 1 && monitor.idle(), 30000);
        QVERIFY(monitor.session->claimed());
        QVERIFY2(monitor.prompter.shown.isEmpty(), qPrintable(monitor.prompter.shown.value(0).text));

        QCOMPARE(readValue(server, "sv_skelvar"), QStringLiteral("1"));
        QCOMPARE(monitor.ui.text(rcon::control::modSkelvarState), QStringLiteral("ModSkelvar - Running"));
        QVERIFY(monitor.ui.isVisible(rcon::control::modSkelvarRunningIcon));
        QVERIFY(!monitor.ui.isVisible(rcon::control::modSkelvarStoppedIcon));
        // The priming: the next map (the map itself, with no map list), the
        // monitor's clock and its scan period.
        QCOMPARE(readValue(server, "nextmap"), map);
        QCOMPARE(readValue(server, "sv_minutes"), QStringLiteral("4"));
        QCOMPARE(readValue(server, "sv_hours"), QStringLiteral("7"));
        QCOMPARE(readValue(server, "scantime"), QStringLiteral("5"));
        took("monitor claimed and primed");
    }

    // The command at 12:30 runs on the server console when the script's
    // clock, set to 12:29 over rcon, moves on.
    void scheduledCommandRunsWhenTheScriptClockReachesIt()
    {
        QVERIFY(m_mapServer);
        OpenMohaaServer& server = *m_mapServer;
        QCOMPARE(readValue(server, kCommandVariable), QStringLiteral("<unset>"));
        server.ask("set sv_hours 12");
        server.ask("set sv_minutes 29");
        QCOMPARE(waitForMinute(server, "30", kMinuteWaitMs), QStringLiteral("30"));
        QCOMPARE(readValue(server, "sv_hours"), QStringLiteral("12"));
        // The command thread waits a frame before it runs the command.
        const QString ran = waitForValue(server, kCommandVariable, "done", 3000);
        QVERIFY2(ran == QLatin1String("done"),
                 qPrintable(QStringLiteral("the script's clock reached 12:30 but the command did not run (%1 is %2) "
                                           "on the server of version %3")
                                .arg(kCommandVariable, ran, readValue(server, "version"))));
        // The periodic message of every minute showed and started counting again.
        QCOMPARE(readValue(server, "mensa1"), QStringLiteral("0"));
        verifySecondsCount(server);
        took("scheduled command");
    }

    // The script reads scanpass once a minute and writes 2 when it took up
    // the monitor's 1.
    void scriptAcknowledgesTheScanPass()
    {
        QVERIFY(m_mapServer && m_monitor);
        QCOMPARE(waitForValue(*m_mapServer, "scanpass", "2", kMinuteWaitMs), QStringLiteral("2"));
        took("scan pass acknowledged");
    }

    void stopReleasesTheServer()
    {
        QVERIFY(m_mapServer && m_monitor);
        test::EngineParts& monitor = *m_monitor;
        monitor.session->stop();
        QTRY_VERIFY_WITH_TIMEOUT(!monitor.session->running() && monitor.idle(), 10000);
        OpenMohaaServer& server = *m_mapServer;
        QCOMPARE(readValue(server, "sv_skelvar"), QStringLiteral("0"));
        QCOMPARE(readValue(server, "resetvalue"), QStringLiteral("0"));
        QCOMPARE(readValue(server, "nextmap"), QString());
        took("stop");
    }

    // Everything the build's script did on this server: the map fixes at the
    // start, the per-map message after 10 s, a minute with its scheduled and
    // periodic messages and its command, and the monitor's claim and release.
    void mapBuildRanWithoutScriptErrors()
    {
        QVERIFY(m_mapServer);
        verifyNoScriptTrouble(*m_mapServer);
        // The engine names a model first loaded after the map's start: the fixes were spawned.
        QVERIFY2(m_mapServer->log().contains("cache models/" + kStandInModel.toLatin1()),
                 m_mapServer->log().right(3000).constData());
    }

    void cleanupTestCase()
    {
        m_monitor.reset();
        m_mapServer.reset();
        qInfo("the whole test took %lld s", m_clock.elapsed() / 1000);
    }
};

QTEST_GUILESS_MAIN(TestModOpenMohaa)
#include "test_mod_openmohaa.moc"
