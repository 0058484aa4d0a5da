#pragma once

// Starting the programs as real processes, the way a machine without a
// desktop would: no display of any kind in their environment.

#include <QProcessEnvironment>

namespace skelvar::test {

inline QProcessEnvironment environmentWithoutDisplay()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    return env;
}

}  // namespace skelvar::test
