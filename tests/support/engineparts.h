#pragma once

// The monitor's parts with the engine and the penalties installed, wired as
// the window wires them. Counters follow the passes that ran to their end.

#include "SkelvarRcon/engine/engine.h"
#include "SkelvarRcon/penalties/enforcement.h"
#include "SkelvarRcon/session/clock.h"
#include "tests/support/monitorparts.h"

#include <QTest>

#include <memory>

namespace skelvar::test {

struct EngineParts : MonitorParts {
    rcon::Clock clock;  // the local time unless a test sets it
    std::unique_ptr<rcon::Enforcement> hooks;
    std::unique_ptr<rcon::Engine> engine;
    int scans = 0;
    int patrols = 0;

    EngineParts(int replyWaitMs, const rcon::EngineTiming& timing) : MonitorParts(replyWaitMs)
    {
        session->setTimingForTests(timing);
        log.setClock(&clock);
        hooks = std::make_unique<rcon::Enforcement>(*session, settings, lists, prompter, &clock);
        engine = std::make_unique<rcon::Engine>(
            *session, rcon, settings, ui, rcon::EngineServices{&lists, &players, &log, &prompter, hooks.get(), &clock});
        hooks->setSpearheadServer([this] { return engine->spearheadServer(); });
        hooks->setStartScan([this] { engine->scanAtNextTick(); });
        QObject::connect(engine.get(), &rcon::Engine::passFinished, engine.get(),
                         [this](bool scan) { ++(scan ? scans : patrols); });
    }
    // The engine's pass frame refers to the hooks: it lets go of them first.
    ~EngineParts() { engine->setHooks(nullptr); }

    bool idle() { return transportIdle() && !engine->busy(); }

    // A claimed session whose first passes are over, on the longest periods
    // so that no pass comes by itself; nothing received is kept. The warm-up
    // waits `warmupReplyWaitMs` for each answer, the passes after it the rig's wait.
    void startWithoutPasses(int warmupReplyWaitMs = 20)
    {
        const int wait = rcon.replyWait();
        rcon.setReplyWaitForTests(warmupReplyWaitMs);
        settings.setText("txtMin", "546");
        settings.setText("MinPolt", "32767");
        session->autoStart();
        QTRY_VERIFY_WITH_TIMEOUT(patrols == 1 && idle(), 5000);
        rcon.setReplyWaitForTests(wait);
        server.clearReceived();
    }
    // One patrol pass of the engine, against the status table the double serves.
    void patrolOnce()
    {
        const int before = patrols;
        engine->patrolAtNextTickForTests();
        QTRY_VERIFY_WITH_TIMEOUT(patrols > before && idle(), 5000);
    }
};

}  // namespace skelvar::test
