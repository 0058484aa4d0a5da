#pragma once
// Whether a program's window can open here. Without a display the window's
// application aborts inside Qt with a core dump and a hint to reinstall; the
// programs decide before they create it and point to their mode that needs
// no window instead.

#include <QProcessEnvironment>
#include <QString>

#include <optional>

namespace skelvar::cli {

// The exit status of a program whose window has no display to open on.
inline constexpr int kNoDisplay = 1;

// Why the window's platform finds no display in this environment, or an
// empty text when it can open (as far as the environment tells). On Linux
// xcb needs DISPLAY and wayland WAYLAND_DISPLAY; QT_QPA_PLATFORM may name a
// platform that draws without a display server (offscreen, minimal, vnc,
// eglfs, linuxfb...), which is taken as it is. Elsewhere there is always one.
QString missingDisplay(const QProcessEnvironment& environment);

// For a program about to open its window: when the process's environment has
// no display, prints so on standard error, naming the option that runs
// without a window (for example "--headless" and what it does), and returns
// kNoDisplay. Call it before the QApplication is made.
std::optional<int> refuseWindowWithoutDisplay(const QString& programName, const QString& optionWithoutWindow,
                                              const QString& whatItDoes);

}  // namespace skelvar::cli
