#pragma once
// RconSkelvar --headless: the monitor's session, engine, penalties and list
// files without a window or a display. It starts monitoring at once, as the
// automatic start would, and runs until a stop signal or until the session
// ends by itself (a refused claim); then the exit steps run as on Exit.

#include "SkelvarRcon/service/monitorcommandline.h"

namespace skelvar::rcon {

// Runs the headless monitor in the current QCoreApplication and returns the
// exit status (ExitStatus).
int runHeadless(const MonitorCommandLine& line);

}  // namespace skelvar::rcon
