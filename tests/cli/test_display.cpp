// Whether the window can open, decided from the environment before the
// window's application is made: xcb needs DISPLAY, wayland WAYLAND_DISPLAY,
// and a platform that needs no display server is taken as it is.
#include "cli/display.h"

#include <QTest>

using Variables = QList<std::pair<QString, QString>>;
Q_DECLARE_METATYPE(Variables)

class TestDisplay : public QObject {
    Q_OBJECT

private slots:
    void missingDisplay_data()
    {
        QTest::addColumn<Variables>("variables");
        QTest::addColumn<QString>("missing");  // what the reason names; empty: the window can open
        QTest::newRow("nothing set") << Variables{} << "DISPLAY";
        QTest::newRow("empty DISPLAY") << Variables{{"DISPLAY", ""}} << "DISPLAY";
        QTest::newRow("blank DISPLAY") << Variables{{"DISPLAY", " "}} << "DISPLAY";
        QTest::newRow("X display") << Variables{{"DISPLAY", ":0"}} << "";
        QTest::newRow("Wayland session") << Variables{{"WAYLAND_DISPLAY", "wayland-0"}} << "";
        QTest::newRow("xcb without DISPLAY")
            << Variables{{"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", "wayland-0"}} << "DISPLAY";
        QTest::newRow("xcb with DISPLAY") << Variables{{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", "localhost:10.0"}} << "";
        QTest::newRow("wayland without WAYLAND_DISPLAY")
            << Variables{{"QT_QPA_PLATFORM", "wayland"}, {"DISPLAY", ":0"}} << "WAYLAND_DISPLAY";
        QTest::newRow("wayland-egl with WAYLAND_DISPLAY")
            << Variables{{"QT_QPA_PLATFORM", "wayland-egl"}, {"WAYLAND_DISPLAY", "wayland-1"}} << "";
        QTest::newRow("fallback list, second has its display")
            << Variables{{"QT_QPA_PLATFORM", "wayland;xcb"}, {"DISPLAY", ":1"}} << "";
        QTest::newRow("fallback list, neither")
            << Variables{{"QT_QPA_PLATFORM", "wayland;xcb"}} << "WAYLAND_DISPLAY or DISPLAY is not set";
        QTest::newRow("upper case, options") << Variables{{"QT_QPA_PLATFORM", "XCB:foo=1"}} << "DISPLAY";
        QTest::newRow("empty QT_QPA_PLATFORM is Qt's choice") << Variables{{"QT_QPA_PLATFORM", ""}} << "DISPLAY";
        for (const char* platform : {"offscreen", "minimal", "vnc:size=800x600", "eglfs", "linuxfb:fb=/dev/fb0",
                                     "minimalegl", "vkkhrdisplay", "xcb;offscreen"})
            QTest::addRow("%s", platform) << Variables{{"QT_QPA_PLATFORM", platform}} << "";
    }
    void missingDisplay()
    {
#if !defined(Q_OS_UNIX) || defined(Q_OS_DARWIN)
        QSKIP("there is always a display here");
#endif
        QFETCH(Variables, variables);
        QFETCH(QString, missing);
        QProcessEnvironment environment;
        environment.insert("HOME", "/home/skelvar");
        for (const auto& [name, value] : variables)
            environment.insert(name, value);
        const QString why = skelvar::cli::missingDisplay(environment);
        if (missing.isEmpty())
            QVERIFY2(why.isEmpty(), qPrintable(why));
        else
            QVERIFY2(why.contains(missing), qPrintable(why));
    }
};

QTEST_GUILESS_MAIN(TestDisplay)
#include "test_display.moc"
