// The scan engine's own cost: a scan of 64 players against the UDP double, the
// per-player work outside the socket (parse, detections, dispatch, list
// updates), and the CPU the monitor uses while it idles between passes.
//
//   bench_engine [--wait MS] [--idle-seconds S]
//
// --wait is the transport's reply wait during the scan (default 1 ms: the
// transport reads the answer when its wait ends, so with 0 no answer is ever
// in, and the connect check already fails); --idle-seconds is the length of
// the idle measurement (default 10). The double runs on a thread of its own so
// that the scan's figure is the monitor's thread alone.
//
// Then scans of 32 and 64 players against the double with the engines' rate
// limit on, at the product's wait and pacing: their wall time beside the floor
// the limit allows (10 requests at 700 ms, then one per second) and the
// requests that got no answer (--no-rate-limit skips them).

#include "SkelvarRcon/engine/detections.h"
#include "SkelvarRcon/engine/engine.h"
#include "SkelvarRcon/engine/serverparse.h"
#include "SkelvarRcon/session/monitorsession.h"
#include "SkelvarRcon/session/skelvarlog.h"
#include "SkelvarRcon/store/liststore.h"
#include "SkelvarRcon/store/recordlist.h"
#include "SkelvarRcon/store/settings.h"
#include "tests/SkelvarRcon/engine/statusfixture.h"
#include "tests/support/gameserverdouble.h"
#include "tests/support/scriptedprompter.h"

#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <ctime>

using namespace skelvar;
using namespace skelvar::rcon;
using skelvar::test::GameServerDouble;

namespace {

constexpr int kPlayers = 64;

// The CPU time of the calling thread: the monitor's, without the double's.
double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

QString playerName(int i)
{
    return QStringLiteral("^%1Player %2 [x]").arg(i % 8).arg(i);
}

// Every fourth player cheats, so dispatch and the lists are part of the work.
QByteArray userinfo(int i)
{
    QList<std::pair<QString, QString>> s{{"name", playerName(i)},
                                         {"dm_playermodel", "american_army"},
                                         {"dm_playergermanmodel", "german_wehrmacht"},
                                         {"r_farplane", "0"},
                                         {"r_farplane_nofog", i % 4 == 0 ? "1" : "0"},
                                         {"r_lightmap", "0"},
                                         {"cg_3rd_person", "0"},
                                         {"r_novis", "0"},
                                         {"version", "mohaa 1.11 win-x86"},
                                         {"rate", "25000"},
                                         {"snaps", "20"},
                                         {"password", ""}};
    return test::userinfoAnswer(s);
}

QList<test::StatusPlayer> table(int count = kPlayers)
{
    QList<test::StatusPlayer> t;
    for (int i = 0; i < count; ++i)
        t.append({i, i, QString::number(30 + i), playerName(i), QStringLiteral("10.2.%1.%2:12203").arg(i / 8).arg(i), 0,
                  4711, 25000});
    return t;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

// The fastest a run of requests can go under the engines' limit.
double floorSeconds(int requests)
{
    const int burst = RconTransport::kEnginePacing.burst;
    const double wait = RconTransport::kReplyWaitMs / 1000.0;
    if (requests <= burst)
        return requests * wait;
    return burst * wait + (requests - burst) * RconTransport::kEnginePacing.periodMs / 1000.0;
}

// One scan of `count` players, begun with the server's bucket empty.
void rateLimitedScan(QCoreApplication& app, int count, const QString& folder)
{
    GameServerDouble server(nullptr, 600000);
    server.setRateLimit(GameServerDouble::kEngineRatePeriodMs);
    Settings settings;
    RconTransport rcon;  // the product's wait and pacing
    UiState ui;
    test::ScriptedPrompter prompter;
    ListStore lists;
    PlayerList players;
    SkelvarLog log(folder + "/skelvar-limit.log");
    rcon.setActivityLogPath(folder + "/activity-limit.log");
    lists.setFolder(folder);
    settings.setServerAddress(server.host());
    settings.setServerPort(server.portText());
    settings.setRconPassword(server.password());
    MonitorSession session(rcon, settings, ui, prompter);
    // The warm-up spends the burst; the scan waits until the server has
    // forgotten it, so the floor below is the scan's own.
    const int drainMs = RconTransport::kEnginePacing.burst * RconTransport::kEnginePacing.periodMs *
                            (100 + RconTransport::kPacingMarginPercent) / 100 +
                        500;
    session.setTimingForTests({100, drainMs, 1000});
    Engine engine(session, rcon, settings, ui, EngineServices{&lists, &players, &log, &prompter, nullptr});

    server.setVariable("sv_skelvar", "0");
    server.setVariable("version", "Medal of Honor Allied Assault 1.11 win-x86 Mar 2002");
    server.setVariable("cheats", "0");
    server.setReply("status", GameServerDouble::engineAnswer(test::statusAnswer(table(count))));
    QHash<QString, GameServerDouble::Reply> infos;
    for (int i = 0; i < count; ++i)
        infos.insert("dumpuser \"" + playerName(i), GameServerDouble::engineAnswer(userinfo(i)));
    server.setHandler([&](const GameServerDouble::Received& r) -> std::optional<GameServerDouble::Reply> {
        const auto it = infos.constFind(r.command);
        if (it == infos.constEnd())
            return std::nullopt;
        return *it;
    });

    int requests = 0;
    int unanswered0 = 0;
    qint64 wallNs = 0;
    QElapsedTimer wall;
    QObject::connect(&rcon, &RconTransport::requestStarted, &app, [&] { ++requests; });
    QObject::connect(&engine, &Engine::passStarted, &app, [&](bool scan) {
        if (scan) {
            requests = 0;
            unanswered0 = rcon.unansweredCount();
            wall.start();
        }
    });
    QObject::connect(&engine, &Engine::passFinished, &app, [&](bool scan) {
        if (scan) {
            wallNs = wall.nsecsElapsed();
            session.engineTimer()->stop();
            app.quit();
        }
    });
    QObject scope;  // ends the guard with this run
    QTimer::singleShot(300000, &scope, [&app] { app.quit(); });
    session.start();
    app.exec();

    const double wallS = double(wallNs) / 1e9;
    const double floorS = floorSeconds(requests);
    std::printf("rate-limited scan of %d players (%d scanned): %d requests in %.2f s, floor %.2f s (%+.1f %%, "
                "target within 5 %%), %d unanswered, %d dropped by the server (target 0)\n",
                count, int(players.size()), requests, wallS, floorS, 100.0 * (wallS - floorS) / floorS,
                rcon.unansweredCount() - unanswered0, server.droppedCount());

    session.stop();
    QTimer::singleShot(3000, &app, &QCoreApplication::quit);
    app.exec();
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int waitMs = 1;
    int idleSeconds = 10;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--wait"))
            waitMs = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--idle-seconds"))
            idleSeconds = args[i + 1].toInt();
    }

    QTemporaryDir dir;
    writeFile(dir.filePath("skins.txt"), "glowskin\r\nneon_blue\r\nbright\r\n");
    writeFile(dir.filePath("reserved.txt"), "clan_a\r\nclan_b\r\n");

    // 1. The per-player work without any socket, repeated for a stable figure.
    {
        Settings settings;
        ListStore lists;
        lists.setFolder(dir.path());
        lists.reloadSkinLists();
        PlayerList players;
        SkelvarLog log(dir.filePath("skelvar-direct.log"));
        QStringList rows;
        for (const test::StatusPlayer& p : table())
            rows << test::statusRow(p);
        QList<QString> answers;
        for (int i = 0; i < kPlayers; ++i)
            answers << QString::fromLatin1(userinfo(i)).replace("\n", "\r\n");
        constexpr int kRounds = 50;
        int fired = 0;
        const double c0 = cpuSeconds();
        for (int round = 0; round < kRounds; ++round) {
            players.clear();
            for (int i = 0; i < kPlayers; ++i) {
                auto p = ParseStatusLine(rows[i]);
                p->userinfoText = answers[i].toLower();
                const auto skins = userinfoSkins(p->userinfoText);
                players.add({p->clientNum, p->ping, p->name, p->ip, p->rate, skins.first, skins.second});
                const Verdict v = runDetections(*p, settings, lists.reservedSkins(), lists.suspiciousSkins(), false);
                for (const FiredRule& r : v.rules) {
                    const QString alert = fillAlert(settings.alertTemplate(r.alert), r.subs);
                    const QString say = QStringLiteral("say ") + rconSafe(alert);
                    const PenaltyOutcome out = penaltyFor(settings.penaltyChoice(r.row), settings.penaltyDays(r.row),
                                                          *p, r.reason, QDate::currentDate());
                    lists.list(out.list).add(out.record);
                    log.append(alert);
                    fired += int(say.size() > 0);
                }
            }
        }
        const double us = (cpuSeconds() - c0) * 1e6 / (kRounds * kPlayers);
        std::printf("engine work per player outside the socket (parse, detections, dispatch, lists, log): %.1f us "
                    "(target < 100 us) [%d alerts]\n",
                    us, fired);
    }

    // 2. A whole scan of 64 players against the double, and then the idle time.
    auto* serverPtr = new GameServerDouble(nullptr, 600000);
    GameServerDouble& server = *serverPtr;
    Settings settings;
    RconTransport rcon(nullptr, waitMs);
    UiState ui;
    test::ScriptedPrompter prompter;
    ListStore lists;
    PlayerList players;
    SkelvarLog log(dir.filePath("skelvar.log"));
    rcon.setActivityLogPath(dir.filePath("activity.log"));
    lists.setFolder(dir.path());
    settings.setServerAddress(server.host());
    settings.setServerPort(server.portText());
    settings.setRconPassword(server.password());
    MonitorSession session(rcon, settings, ui, prompter);
    Engine engine(session, rcon, settings, ui, EngineServices{&lists, &players, &log, &prompter, nullptr});

    // The engine's own cost: no rate limit, no pacing.
    server.setRateLimit(0);
    rcon.setPacingForTests({0, 0});
    server.setVariable("sv_skelvar", "0");
    server.setReply("status", GameServerDouble::splitAnswer(test::statusAnswer(table()), 1000));
    QHash<QString, GameServerDouble::Reply> infos;
    for (int i = 0; i < kPlayers; ++i)
        infos.insert("dumpuser \"" + playerName(i), {GameServerDouble::datagram(userinfo(i))});
    server.setHandler([&](const GameServerDouble::Received& r) -> std::optional<GameServerDouble::Reply> {
        const auto it = infos.constFind(r.command);
        if (it == infos.constEnd())
            return std::nullopt;
        return *it;
    });

    QThread serverThread;
    server.moveToThread(&serverThread);
    serverThread.start();
    int requestsSent = 0;
    QObject::connect(&rcon, &RconTransport::requestStarted, &app, [&] { ++requestsSent; });

    double scanCpu0 = 0, scanCpu = 0;
    qint64 scanWallNs = 0;
    QElapsedTimer scanWall;
    QObject::connect(&engine, &Engine::passStarted, &app, [&](bool scan) {
        if (scan) {
            scanCpu0 = cpuSeconds();
            scanWall.start();
        }
    });
    QObject::connect(&engine, &Engine::passFinished, &app, [&](bool scan) {
        if (scan) {
            scanCpu = cpuSeconds() - scanCpu0;
            scanWallNs = scanWall.nsecsElapsed();
        } else {
            app.quit();  // the first tick's patrol pass ends the busy part
        }
    });
    QTimer busyGuard;  // stopped once the scan is in, so it cannot end a later run
    busyGuard.setSingleShot(true);
    QObject::connect(&busyGuard, &QTimer::timeout, &app, &QCoreApplication::quit);
    busyGuard.start(120000);
    session.start();
    app.exec();
    busyGuard.stop();

    const int scanned = players.size();
    if (!prompter.shown.isEmpty())
        std::printf("  the session did not run: %s\n", qPrintable(prompter.shown.first().text));
    std::printf("scan of %d players (%d answered) with a %d ms wait: %.2f ms wall, %.1f us CPU per player "
                "on the monitor's thread, sockets and activity.log included\n",
                kPlayers, scanned, waitMs, double(scanWallNs) / 1e6, scanned ? scanCpu * 1e6 / scanned : 0.0);
    if (scanned < kPlayers)
        std::printf("  (answers that miss a %d ms wait are empty: try a longer --wait)\n", waitMs);

    // Idle between passes: the real tick, no pass due for the whole measurement.
    const double idle0 = cpuSeconds();
    QElapsedTimer idleWall;
    idleWall.start();
    const int before = requestsSent;
    QTimer::singleShot(idleSeconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    const double idleCpu = cpuSeconds() - idle0;
    const double wallS = double(idleWall.nsecsElapsed()) / 1e9;
    std::printf("idle between passes: %.3f s CPU over %.1f s = %.3f %% (target < 1 %%), %d requests sent\n", idleCpu,
                wallS, 100.0 * idleCpu / wallS, requestsSent - before);

    session.stop();
    QTimer::singleShot(200, &app, &QCoreApplication::quit);
    app.exec();
    serverThread.quit();
    serverThread.wait();
    delete serverPtr;

    if (!app.arguments().contains("--no-rate-limit")) {
        for (const int count : {32, 64})
            rateLimitedScan(app, count, dir.path());
    }
    return 0;
}
