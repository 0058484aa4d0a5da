#pragma once
// The real OpenMoHAA dedicated server (omohaaded and its game.so) for the
// tests that must see the target game's own engine. It runs an Allied Assault
// deathmatch on a tiny map made here, on 127.0.0.1 at a free port, from game
// data in a scratch folder the test can add files to, and is ended by its
// process id whatever the test does (it also dies with the test process).
//
// The engine's folder comes from the CMake cache variable
// SKELVAR_OPENMOHAA_DIR. A test starts with SKELVAR_REQUIRE_OPENMOHAA() (in
// initTestCase, so every function follows it): without the engine the test is
// skipped and says how to point the build at one, or fails (requiredserver.h).
// Register such a test with skelvar_skips_without_engine(<test>) in CMake, so
// CTest reports the skip as a skip.
//
// Connected clients come from openmohaaclient.h.

#include "tests/support/requiredserver.h"

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

namespace skelvar::test {

// Empty when the engine is there, otherwise why the test cannot run and how
// to point the build at an engine.
QString missingOpenMohaa();
#define SKELVAR_REQUIRE_OPENMOHAA() SKELVAR_REQUIRE_SERVER(skelvar::test::missingOpenMohaa())

class OpenMohaaServer {
public:
    static constexpr int kReadyTimeoutMs = 15000;
    static constexpr int kStopWaitMs = 5000;  // after SIGTERM, then SIGKILL
    static constexpr int kLogWaitMs = 5000;
    static constexpr int kDefaultMaxClients = 8;

    // Writes the game data for the map `mapName` (a plain name: the game
    // refuses dm/ names in its free-for-all): main/default.cfg, the map and its
    // level script, which runs `exec global/DMprecache.scr` as real deathmatch
    // maps do. No DMprecache.scr is written unless addPrecacheStandIn() is
    // called or the test adds its own.
    explicit OpenMohaaServer(const QString& mapName = QStringLiteral("omtest"),
                             const QString& password = QStringLiteral("OmPw"));
    ~OpenMohaaServer();
    OpenMohaaServer(const OpenMohaaServer&) = delete;
    OpenMohaaServer& operator=(const OpenMohaaServer&) = delete;

    // The folder with omohaaded and game.so (SKELVAR_OPENMOHAA_DIR).
    static QString engineFolder();
    static QString program();
    // A UDP port on 127.0.0.1 that nothing was bound to a moment ago.
    static quint16 freePort();
    // The map file's bytes: BSP version 19 with one floor brush (12 planes),
    // one node over two leaves, model 0, one shader and a worldspawn.
    static QByteArray tinyMap();

    // Game data, before start() (or before a restart): files under main/,
    // relative paths with '/'. A file given twice keeps the last content.
    bool addFile(const QString& path, const QByteArray& data, QString* error = nullptr);
    // Copies an archive into main/ under its own file name.
    bool addPackage(const QString& pk3Path, QString* error = nullptr);
    // A global/DMprecache.scr that does nothing, in place of the retail one
    // the level script runs.
    bool addPrecacheStandIn(QString* error = nullptr);
    // The folder holding main/ (the server's fs_basepath).
    QString baseFolder() const { return m_data.path() + QStringLiteral("/G"); }
    QString mapName() const { return m_mapName; }
    QString password() const { return m_password; }

    // Server variables for the next start: sv_maxclients (8 unless set), and
    // any other, set on the command line after the fixed ones.
    void setMaxClients(int count) { m_maxClients = count; }
    void setVariable(const QString& name, const QString& value);

    // Starts the server on a free port of 127.0.0.1 and waits until the map
    // is up ("Server Initialization Complete"). A port taken meanwhile is
    // retried on another. False, with the reason and the log's end, when the
    // engine is missing, reports an error (a map it refuses), ends or is not
    // up in time; the process is then stopped.
    bool start(QString* error = nullptr);
    // Stops it and starts it again on the same port with the same data.
    bool restart(QString* error = nullptr);
    // SIGTERM by its process id, then SIGKILL if it has not ended within
    // kStopWaitMs; waits for the end. Safe to call when not running.
    void stop();

    bool running() const { return m_process.state() != QProcess::NotRunning; }
    qint64 processId() const { return m_processId; }  // of the last start, also once stopped
    quint16 port() const { return m_port; }

    // Everything the server printed since its last start (stdout and stderr).
    QByteArray log();
    // Waits, keeping the event loop running, until the log holds `text` at
    // least `count` times; false when that did not happen in time or the
    // server ended.
    bool waitForLog(const QByteArray& text, int count = 1, int timeoutMs = kLogWaitMs);
    // One line on the server's console (its standard input).
    void command(const QString& line);

    // A console command sent straight to the server over rcon from 127.0.0.2,
    // so it spends none of the monitor's request allowance, paced to the
    // server's limit for that address. Returns the answer's text without the
    // framing and the "print" line; empty when nothing came.
    QByteArray ask(const QString& command);
    // Any connectionless request ("getstatus", "getinfo") from 127.0.0.2;
    // the answer's datagrams as the server sent them.
    QList<QByteArray> query(const QByteArray& text);

private:
    void writeGameData();
    bool startOn(quint16 port, bool* portTaken, QString* error);
    bool waitUntil(const std::function<bool()>& done, int timeoutMs);
    QStringList arguments() const;
    void readOutput();

    QTemporaryDir m_data;
    QString m_mapName;
    QString m_password;
    int m_maxClients = kDefaultMaxClients;
    QStringList m_variables;  // "+set", name, value, ...
    QProcess m_process;
    QByteArray m_log;
    qint64 m_processId = 0;
    quint16 m_port = 0;
    QString m_dataError;  // why the game data could not be written, if so
};

}  // namespace skelvar::test
