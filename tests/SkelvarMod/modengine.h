#pragma once
// The generated mod in the real OpenMoHAA dedicated server, for the tests
// that build it with `ModSkelvar --build` and run it there: the builder's
// folder as shipped, the archive read back, stand-ins for what only an
// installed server has (the operator's additional scripts, a retail model),
// a server started with the archive, and the engine's log searched for
// script errors. The test target defines MODSKELVAR_PATH (the program) and
// MODSKELVAR_DATA (its shipped files).

#include "SkelvarMod/generator/buildmod.h"
#include "SkelvarMod/project/builderfiles.h"
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

namespace modtest {

using namespace skelvar::mod;
using skelvar::test::OpenMohaaServer;

inline const QString kScriptEntry = QStringLiteral("global/skelvar.scr");
inline const QString kPrecacheEntry = QStringLiteral("global/DMprecache.scr");

// The model of the test's map fixes: a retail model on a real server.
inline const QString kStandInModel = QStringLiteral("static/crate.tik");

// ------------------------------------------------------------ stand-ins

// The variable a stand-in additional script sets when it runs, named after
// its file.
inline QString ranVariable(const QString& script)
{
    return QStringLiteral("standin_") + script.section(QLatin1Char('/'), -1).remove(QStringLiteral(".scr"));
}

inline QByteArray standInScript(const QString& script)
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
inline QByteArray standInSkd(const QByteArray& name)
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
inline QByteArray standInSkc()
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
inline QByteArray standInTiki(const QByteArray& folder, const QByteArray& stem)
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

inline QList<GameFile> standInScripts(const QStringList& scripts)
{
    QList<GameFile> files;
    for (const QString& script : scripts)
        files.append({QStringLiteral("global/") + script, standInScript(script)});
    return files;
}

// The TIKI of the model's name, with its skeletal model and animation.
inline QList<GameFile> standInModel(const QString& model)
{
    const QString path = QStringLiteral("models/") + model;
    const QString folder = path.section(QLatin1Char('/'), 0, -2);
    const QString stem = path.section(QLatin1Char('/'), -1).section(QLatin1Char('.'), 0, 0);
    return {{path, standInTiki(folder.toLatin1(), stem.toLatin1())},
            {folder + QLatin1Char('/') + stem + QStringLiteral(".skd"), standInSkd(stem.toLatin1())},
            {folder + QLatin1Char('/') + stem + QStringLiteral(".skc"), standInSkc()}};
}
// ------------------------------------------------------------ the build

// What `ModSkelvar --build` did: whether it ended by itself, its exit status
// and what it said on standard error.
struct BuildRun {
    bool ended = false;
    int exitCode = -1;
    QString said;
};

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

    // `ModSkelvar --build` in the folder, from an unrelated working folder.
    BuildRun run()
    {
        QTemporaryDir cwd;
        QProcess p;
        p.setProcessEnvironment(skelvar::test::environmentWithoutDisplay());
        p.setWorkingDirectory(cwd.path());
        p.start(path(QStringLiteral("ModSkelvar")), {QStringLiteral("--build")});
        BuildRun r;
        r.ended = p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit;
        r.exitCode = p.exitCode();
        r.said = QString::fromLocal8Bit(p.readAllStandardError());
        return r;
    }

    QString archive() const { return path(OutputFolderName + QLatin1Char('/') + ArchiveName); }

    // The archive's path, empty (and the test failed) when it was not built.
    QString build()
    {
        const BuildRun r = run();
        [&] { QVERIFY2(r.ended && r.exitCode == 0, qPrintable(r.said)); }();
        return QTest::currentTestFailed() ? QString() : archive();
    }
};

// A ticked map fix as the editor saves it.
inline MapFixEntry mapFix(const QString& map, const QString& model, const QString& origin, const QString& angle,
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

inline BuiltMod readBuild(const QString& archive)
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
inline QString valueIn(const QByteArray& answer, const QString& name)
{
    if (answer.isEmpty())
        return QStringLiteral("<unset>");
    const QRegularExpression rx(QStringLiteral("^\"%1\" is:\"([^\"]*)\"").arg(QRegularExpression::escape(name)));
    const QRegularExpressionMatch m = rx.match(QString::fromLatin1(answer));
    return m.hasMatch() ? m.captured(1) : QStringLiteral("<answer: %1>").arg(QString::fromLatin1(answer));
}

inline QString readValue(OpenMohaaServer& server, const QString& name)
{
    return valueIn(server.ask(name), name);
}

// Reads the variable over rcon until `done` holds for its value or the time
// is up (the event loop runs meanwhile); the last value read.
inline QString waitForValue(OpenMohaaServer& server, const QString& name,
                            const std::function<bool(const QString&)>& done, int timeoutMs, int everyMs = 1000)
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

inline QString waitForValue(OpenMohaaServer& server, const QString& name, const QString& wanted, int timeoutMs)
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
inline QString scriptTrouble(const QByteArray& log)
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
inline std::unique_ptr<OpenMohaaServer> startModded(const BuiltMod& mod, const QList<GameFile>& files, int secondsLeft,
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
    {
        QFile dbg("/tmp/startfail.txt");
        dbg.open(QIODevice::WriteOnly);
        dbg.write(server->log());
    }
    [&] { QVERIFY2(ok, qPrintable(error)); }();
    return ok ? std::move(server) : nullptr;
}

inline void verifyNoScriptTrouble(OpenMohaaServer& server)
{
    const QString trouble = scriptTrouble(server.log());
    QVERIFY2(trouble.isEmpty(), qPrintable(QStringLiteral("the engine reports script errors:\n") + trouble));
}

}  // namespace modtest
