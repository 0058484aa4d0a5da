#include "SkelvarRcon/window/monitorwindow.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    skelvar::rcon::MonitorWindow window;
    window.show();
    return app.exec();
}
