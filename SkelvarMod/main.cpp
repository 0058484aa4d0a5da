#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "SkelvarMod/window/builderwindow.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // Every file of the builder lives beside the program.
    skelvar::mod::BuilderWindow window(QCoreApplication::applicationDirPath());
    window.show();
    if (!window.loadErrors().isEmpty())
        QTimer::singleShot(0, &window, [&window] {
            QMessageBox::warning(&window, QStringLiteral("Mod Skelvar"), window.loadErrors().join(QLatin1Char('\n')));
        });
    return app.exec();
}
