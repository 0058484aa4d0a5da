#pragma once

// The monitor's parts with the engine and the penalties installed, wired as
// the window wires them. Counters follow the passes that ran to their end.

#include "SkelvarRcon/engine/engine.h"
#include "SkelvarRcon/penalties/enforcement.h"
#include "tests/support/monitorparts.h"

#include <memory>

namespace skelvar::test {

struct EngineParts : MonitorParts {
    std::unique_ptr<rcon::Enforcement> hooks;
    std::unique_ptr<rcon::Engine> engine;
    int scans = 0;
    int patrols = 0;

    EngineParts(int replyWaitMs, const rcon::EngineTiming& timing) : MonitorParts(replyWaitMs)
    {
        session->setTimingForTests(timing);
        hooks = std::make_unique<rcon::Enforcement>(rcon, *session, settings, lists, log, prompter);
        engine = std::make_unique<rcon::Engine>(*session, rcon, settings, ui,
                                                rcon::EngineServices{&lists, &players, &log, &prompter, hooks.get()});
        hooks->setSpearheadServer([this] { return engine->spearheadServer(); });
        hooks->setStartScan([this] { engine->scanAtNextTick(); });
        QObject::connect(engine.get(), &rcon::Engine::passFinished, engine.get(),
                         [this](bool scan) { ++(scan ? scans : patrols); });
    }
    // The engine's pass frame refers to the hooks: it lets go of them first.
    ~EngineParts() { engine->setHooks(nullptr); }

    bool idle() { return transportIdle() && !engine->busy(); }
};

} // namespace skelvar::test
