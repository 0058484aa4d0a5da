#include "tests/support/openmohaaserver.h"

#include "tests/support/openmohaapacket.h"
#include "tests/support/processes.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTimer>
#include <QUdpSocket>

#include <array>
#include <csignal>
#include <cstring>
#include <sys/prctl.h>

#ifndef SKELVAR_OPENMOHAA_DIR
#define SKELVAR_OPENMOHAA_DIR ""
#endif

namespace skelvar::test {

namespace {

constexpr int kStartAttempts = 3;
constexpr int kLogTailBytes = 3000;
const QByteArray kReadyLine("------ Server Initialization Complete ------");
// A taken port is not fatal to the engine: it says so and binds the next one.
const QByteArray kPortTakenLine("Address already in use");
// A failed start (a map it refuses, a missing default.cfg) prints this; the
// server may then stay up without answering.
const QByteArray kErrorLine("********************\nERROR: ");
const QString kAskAddress = QStringLiteral("127.0.0.2");

// The engine refuses a default.cfg it reads as zero bytes, so it gets a line.
const QByteArray kDefaultConfig("// defaults of the test server\n");
// A script needs one statement: an empty file has no label the level script's
// exec could start at, which the engine reports as a script error.
const QByteArray kPrecacheStandIn("// stands in for the retail precache list\nend\n");

// The level script of the test map: like a real deathmatch map's, it runs the
// precache list, so a mod's own global/DMprecache.scr runs as on a real server.
QByteArray levelScript()
{
    return QByteArrayLiteral("main:\n"
                             "\texec global/DMprecache.scr\n"
                             "end\n");
}

// Little-endian records of the map file.
class Record {
public:
    Record& i32(qint32 v)
    {
        for (int shift = 0; shift < 32; shift += 8)
            m_bytes.append(char((quint32(v) >> shift) & 0xFF));
        return *this;
    }
    Record& f32(float v)
    {
        quint32 bits = 0;
        static_assert(sizeof bits == sizeof v);
        std::memcpy(&bits, &v, sizeof bits);
        return i32(qint32(bits));
    }
    Record& raw(const QByteArray& s)
    {
        m_bytes.append(s);
        return *this;
    }
    // A fixed-size text field, zero-padded and always zero-terminated.
    Record& text(const QByteArray& s, int size)
    {
        m_bytes.append(s.left(size - 1).leftJustified(size, '\0', true));
        return *this;
    }
    QByteArray bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

// Lump numbers and record sizes of BSP version 19 (qfiles.h, cm_load.c).
enum Lump {
    kShaders = 0,       // dshader_t, 140 bytes
    kPlanes = 1,        // dplane_t, 16
    kLeafBrushes = 6,   // int, 4
    kLeafs = 8,         // dleaf_t, 64
    kNodes = 9,         // dnode_t, 36
    kBrushSides = 11,   // dbrushside_t, 12
    kBrushes = 12,      // dbrush_t, 12
    kModels = 13,       // dmodel_t, 40
    kEntities = 14,     // text
    kHeaderLumps = 28,  // the others stay empty
};
constexpr int kBspVersion = 19;
constexpr int kContentsSolid = 1;

// The floor: a box 1024 units wide, 16 deep, its top at z = 0.
constexpr std::array<float, 3> kMins{-512, -512, -16};
constexpr std::array<float, 3> kMaxs{512, 512, 0};

QByteArray shaderLump()
{
    return Record().text("textures/common/floor", 64).i32(0).i32(kContentsSolid).i32(0).text("", 64).bytes();
}

// Six sides, each an outward plane followed by its opposite (the loader
// expects plane x ^ 1 to be the flip of plane x), in the order the brush
// bounds read them: -x, +x, -y, +y, -z, +z.
QByteArray planeLump()
{
    Record r;
    for (int axis = 0; axis < 3; ++axis) {
        for (const float sign : {-1.0F, 1.0F}) {
            const float dist = sign < 0 ? -kMins[axis] : kMaxs[axis];
            std::array<float, 3> normal{0, 0, 0};
            normal[axis] = sign;
            r.f32(normal[0]).f32(normal[1]).f32(normal[2]).f32(dist);
            r.f32(-normal[0]).f32(-normal[1]).f32(-normal[2]).f32(-dist);
        }
    }
    return r.bytes();
}

Record& leaf(Record& r, float minZ, float maxZ, int brushCount)
{
    r.i32(0).i32(0);  // cluster, area
    r.i32(qint32(kMins[0])).i32(qint32(kMins[1])).i32(qint32(minZ));
    r.i32(qint32(kMaxs[0])).i32(qint32(kMaxs[1])).i32(qint32(maxZ));
    r.i32(0).i32(0);           // leaf surfaces
    r.i32(0).i32(brushCount);  // leaf brushes
    r.i32(0).i32(0);           // terrain patches
    return r.i32(0).i32(0);    // static models
}

// The node splits on the floor's top (plane 10, +z): above is the empty leaf
// 0, below leaf 1 with the brush. Children below zero are -(leaf + 1).
QByteArray nodeLump()
{
    return Record().i32(10).i32(-1).i32(-2).i32(-512).i32(-512).i32(-16).i32(512).i32(512).i32(512).bytes();
}

QByteArray leafLump()
{
    Record r;
    leaf(r, 0, 512, 0);
    leaf(r, -16, 0, 1);
    return r.bytes();
}

QByteArray brushSideLump()
{
    Record r;
    for (int side = 0; side < 6; ++side)
        r.i32(2 * side).i32(0).i32(0);  // plane, shader, side equation (none)
    return r.bytes();
}

QByteArray modelLump()
{
    Record r;
    for (const float v : kMins)
        r.f32(v);
    for (const float v : kMaxs)
        r.f32(v);
    return r.i32(0).i32(0).i32(0).i32(1).bytes();  // no surfaces, brush 0
}

QByteArray entityLump()
{
    return QByteArrayLiteral("{\n\"classname\" \"worldspawn\"\n}\n") + '\0';
}

bool writeBytes(const QString& path, const QByteArray& data, QString* error)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly) && f.write(data) == data.size())
        return true;
    if (error)
        *error = QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
    return false;
}

}  // namespace

QString missingOpenMohaa()
{
    const QString folder = OpenMohaaServer::engineFolder();
    QString why;
    if (folder.isEmpty())
        why = QStringLiteral("the build was configured without an engine folder");
    else if (!QFileInfo(OpenMohaaServer::program()).isExecutable())
        why = OpenMohaaServer::program() + QStringLiteral(" is missing or not executable");
    else if (!QFileInfo::exists(folder + QStringLiteral("/game.so")))
        why = folder + QStringLiteral("/game.so is missing");
    else
        return {};
    return QStringLiteral("no OpenMoHAA server to test against: %1. Point the build at a folder holding omohaaded "
                          "and game.so with cmake -S . -B build -DSKELVAR_OPENMOHAA_DIR=/path/to/folder "
                          "(with SKELVAR_REQUIRE_ENGINES=1 this is a failure)")
        .arg(why);
}

OpenMohaaServer::OpenMohaaServer(const QString& mapName, const QString& password)
    : m_mapName(mapName), m_password(password)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // The server dies with the test process, even when that one is killed.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process, [this] { readOutput(); });
    writeGameData();
}

OpenMohaaServer::~OpenMohaaServer()
{
    stop();
}

QString OpenMohaaServer::engineFolder()
{
    return QStringLiteral(SKELVAR_OPENMOHAA_DIR);
}

QString OpenMohaaServer::program()
{
    return engineFolder() + QStringLiteral("/omohaaded");
}

quint16 OpenMohaaServer::freePort()
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress(QHostAddress::LocalHost), 0))
        return 0;
    return probe.localPort();
}

QByteArray OpenMohaaServer::tinyMap()
{
    QList<QByteArray> lumps(kHeaderLumps);
    lumps[kShaders] = shaderLump();
    lumps[kPlanes] = planeLump();
    lumps[kLeafBrushes] = Record().i32(0).bytes();
    lumps[kLeafs] = leafLump();
    lumps[kNodes] = nodeLump();
    lumps[kBrushSides] = brushSideLump();
    lumps[kBrushes] = Record().i32(0).i32(6).i32(0).bytes();  // first side, sides, shader
    lumps[kModels] = modelLump();
    lumps[kEntities] = entityLump();

    constexpr int headerSize = 12 + kHeaderLumps * 8;
    Record header;
    header.raw("2015").i32(kBspVersion).i32(0);  // ident (not checked), version, checksum
    QByteArray body;
    for (const QByteArray& lump : lumps) {
        header.i32(headerSize + int(body.size())).i32(int(lump.size()));
        body += lump;
        body.append((4 - body.size() % 4) % 4, '\0');
    }
    return header.bytes() + body;
}

void OpenMohaaServer::writeGameData()
{
    if (!m_data.isValid()) {
        m_dataError = QStringLiteral("no scratch folder for the game data");
        return;
    }
    QDir().mkpath(baseFolder() + QStringLiteral("/home"));
    const QString map = QStringLiteral("maps/") + m_mapName;
    if (addFile(QStringLiteral("default.cfg"), kDefaultConfig, &m_dataError) &&
        addFile(map + QStringLiteral(".bsp"), tinyMap(), &m_dataError))
        addFile(map + QStringLiteral(".scr"), levelScript(), &m_dataError);
}

bool OpenMohaaServer::addFile(const QString& path, const QByteArray& data, QString* error)
{
    return writeBytes(baseFolder() + QStringLiteral("/main/") + path, data, error);
}

bool OpenMohaaServer::addPackage(const QString& pk3Path, QString* error)
{
    QFile source(pk3Path);
    if (!source.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(pk3Path, source.errorString());
        return false;
    }
    return addFile(QFileInfo(pk3Path).fileName(), source.readAll(), error);
}

bool OpenMohaaServer::addPrecacheStandIn(QString* error)
{
    return addFile(QStringLiteral("global/DMprecache.scr"), kPrecacheStandIn, error);
}

void OpenMohaaServer::setVariable(const QString& name, const QString& value)
{
    m_variables << QStringLiteral("+set") << name << value;
}

QStringList OpenMohaaServer::arguments() const
{
    auto set = [](const QString& name, const QString& value) { return QStringList{"+set", name, value}; };
    // net_enabled 1: IPv4 only, so nothing listens beyond 127.0.0.1. No
    // GameSpy socket or heartbeat. Allied Assault (com_target_game 0), free-
    // for-all. developer 1 logs script errors and each connectionless packet.
    // sv_timeout keeps clients that never send again listed for ten minutes.
    QStringList args;
    args << set("fs_basepath", baseFolder()) << set("fs_homepath", baseFolder() + QStringLiteral("/home"))
         << set("net_enabled", "1") << set("net_ip", "127.0.0.1") << set("net_port", QString::number(m_port))
         << set("sv_gamespy", "0") << set("dedicated", "1") << set("com_target_game", "0")
         << set("rconpassword", m_password) << set("g_gametype", "1")
         << set("sv_maxclients", QString::number(m_maxClients)) << set("developer", "1") << set("sv_timeout", "600")
         << m_variables << QStringLiteral("+map") << m_mapName;
    return args;
}

bool OpenMohaaServer::start(QString* error)
{
    bool portTaken = true;
    for (int attempt = 0; attempt < kStartAttempts && portTaken; ++attempt) {
        if (startOn(freePort(), &portTaken, error))
            return true;
    }
    return false;
}

bool OpenMohaaServer::restart(QString* error)
{
    const quint16 port = m_port;
    stop();
    bool portTaken = false;
    return startOn(port, &portTaken, error);
}

bool OpenMohaaServer::startOn(quint16 port, bool* portTaken, QString* error)
{
    *portTaken = false;
    auto fail = [&](const QString& why) {
        stop();
        if (error)
            *error = why;
        return false;
    };
    const QString missing = missingOpenMohaa();
    if (!missing.isEmpty())
        return fail(missing);
    if (!m_dataError.isEmpty())
        return fail(m_dataError);
    if (port == 0)
        return fail(QStringLiteral("no free UDP port on 127.0.0.1"));
    stop();
    m_log.clear();
    m_port = port;
    m_process.setWorkingDirectory(m_data.path());
    m_process.start(program(), arguments());
    if (!m_process.waitForStarted(kStopWaitMs))
        return fail(program() + QStringLiteral(" did not start: ") + m_process.errorString());
    m_processId = m_process.processId();
    waitUntil([this] { return m_log.contains(kReadyLine) || m_log.contains(kErrorLine); }, kReadyTimeoutMs);
    const QString tail = QStringLiteral("; it printed:\n") + QString::fromLatin1(m_log.right(kLogTailBytes));
    if (m_log.contains(kPortTakenLine)) {
        *portTaken = true;
        return fail(QStringLiteral("127.0.0.1:%1 was taken").arg(port) + tail);
    }
    if (m_log.contains(kErrorLine))
        return fail(QStringLiteral("the server failed to start") + tail);
    if (!running())
        return fail(QStringLiteral("the server ended at once") + tail);
    if (!m_log.contains(kReadyLine))
        return fail(QStringLiteral("the server was not up within %1 s").arg(kReadyTimeoutMs / 1000) + tail);
    return true;
}

void OpenMohaaServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    endProcess(m_process, kStopWaitMs);
    readOutput();
}

QByteArray OpenMohaaServer::log()
{
    readOutput();
    return m_log;
}

void OpenMohaaServer::readOutput()
{
    m_log += m_process.readAllStandardOutput();
}

bool OpenMohaaServer::waitForLog(const QByteArray& text, int count, int timeoutMs)
{
    return waitUntil([&] { return m_log.count(text) >= count; }, timeoutMs);
}

bool OpenMohaaServer::waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    // Waits in the event loop, so the monitor keeps working meanwhile.
    const QDeadlineTimer deadline(timeoutMs);
    readOutput();
    while (!done() && running() && !deadline.hasExpired()) {
        QEventLoop loop;
        QTimer::singleShot(int(qMin<qint64>(deadline.remainingTime(), 100)), &loop, &QEventLoop::quit);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &loop, &QEventLoop::quit);
        loop.exec();
        readOutput();
    }
    return done();
}

void OpenMohaaServer::command(const QString& line)
{
    if (running())
        m_process.write(line.toLatin1() + '\n');
}

QList<QByteArray> OpenMohaaServer::query(const QByteArray& text)
{
    QUdpSocket socket;
    if (!socket.bind(QHostAddress(kAskAddress), 0))
        return {};
    return openmohaa::exchange(socket, m_port, openmohaa::request(text));
}

QByteArray OpenMohaaServer::ask(const QString& command)
{
    return openmohaa::answerText(query("rcon " + m_password.toLatin1() + ' ' + command.toLatin1()));
}

}  // namespace skelvar::test
