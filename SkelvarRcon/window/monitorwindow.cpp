#include "SkelvarRcon/window/monitorwindow.h"

namespace skelvar::rcon {

MonitorWindow::MonitorWindow(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Rcon Skelvar 2.1"));
}

}  // namespace skelvar::rcon
