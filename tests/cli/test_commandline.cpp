// The three programs' command lines, run with no display: --help, --version
// and a wrong option or argument, which must never start the program, and
// the window programs started where there is no display for their window.
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "tests/support/processes.h"

class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    void standardOptions_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");  // a pattern standard output must match
        QTest::addColumn<QString>("err");  // a pattern standard error must match
        const QString help = "(?s)^Usage: .*%1.*Exit statuses:.*%2.*--help.*--version";
        const QString version = "^%1 2\\.1( \\(git [0-9a-f]+\\))?\\n$";
        const QString usage = "(?s)^%1: .*'%2'.*\\n\\nUsage: ";
        const struct {
            const char* name;
            QString path;
            const char* file;       // a file its help names
            const char* ownOption;  // an option of its own
        } programs[] = {{"RconSkelvar", RCONSKELVAR_PATH, "bans\\.lst", "--headless"},
                        {"ModSkelvar", MODSKELVAR_PATH, "modskelvar\\.ini", "--build"},
                        {"Ostrel", OSTREL_PATH, "bannedip\\.txt", "bans\\.lst"}};
        for (const auto& p : programs) {
            const QString name = QString::fromLatin1(p.name);
            QTest::addRow("%s --help", p.name)
                << p.path << QStringList{"--help"} << 0 << help.arg(p.file, p.ownOption) << "^$";
            QTest::addRow("%s -h", p.name) << p.path << QStringList{"-h"} << 0 << help.arg(p.file, p.ownOption) << "^$";
            QTest::addRow("%s --help-all", p.name)
                << p.path << QStringList{"--help-all"} << 0 << help.arg(p.file, p.ownOption) << "^$";
            QTest::addRow("%s --version", p.name)
                << p.path << QStringList{"--version"} << 0 << version.arg(name) << "^$";
            QTest::addRow("%s unknown option", p.name)
                << p.path << QStringList{"--frobnicate"} << 2 << "^$" << usage.arg(name, "frobnicate");
            QTest::addRow("%s stray argument", p.name)
                << p.path << QStringList{"extra"} << 2 << "^$" << usage.arg(name, "extra");
        }
        // A known option does not excuse an unknown one.
        QTest::newRow("RconSkelvar --headless --frobnicate")
            << QString(RCONSKELVAR_PATH) << QStringList{"--headless", "--frobnicate"} << 2 << "^$"
            << usage.arg("RconSkelvar", "frobnicate");
    }
    void standardOptions()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        // An empty working folder: nothing there for the programs to start on.
        QTemporaryDir cwd;
        QProcess p;
        QProcessEnvironment env = skelvar::test::environmentWithoutDisplay();
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(cwd.path());
        p.start(program, arguments);
        QVERIFY(p.waitForFinished(20000));
        const QString stdOut = QString::fromUtf8(p.readAllStandardOutput());
        const QString stdErr = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), exitCode);
        QVERIFY2(QRegularExpression(out).match(stdOut).hasMatch(), qPrintable(stdOut));
        QVERIFY2(QRegularExpression(err).match(stdErr).hasMatch(), qPrintable(stdErr));
        // Nothing was started: no file was made in the working folder.
        QCOMPARE(QDir(cwd.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList{});
    }

    // Without a display the window programs say so and name their mode
    // without a window, instead of aborting inside Qt with a core dump.
    void windowWithoutDisplay_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("platform");  // QT_QPA_PLATFORM; empty: not set
        QTest::addColumn<QString>("hint");
        const QString rcon = "Run \"RconSkelvar --headless\"";
        const QString mod = "Run \"ModSkelvar --build\"";
        QTest::newRow("RconSkelvar, empty DISPLAY") << QString(RCONSKELVAR_PATH) << "" << rcon;
        QTest::newRow("RconSkelvar, xcb") << QString(RCONSKELVAR_PATH) << "xcb" << rcon;
        QTest::newRow("ModSkelvar, empty DISPLAY") << QString(MODSKELVAR_PATH) << "" << mod;
        QTest::newRow("ModSkelvar, xcb") << QString(MODSKELVAR_PATH) << "xcb" << mod;
    }
    void windowWithoutDisplay()
    {
        QFETCH(QString, program);
        QFETCH(QString, platform);
        QFETCH(QString, hint);
        QTemporaryDir cwd;
        QProcessEnvironment env = skelvar::test::environmentWithoutDisplay();
        env.insert("DISPLAY", "");
        if (!platform.isEmpty())
            env.insert("QT_QPA_PLATFORM", platform);
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(cwd.path());
        p.start(program, QStringList{});
        QVERIFY(p.waitForFinished(20000));
        const QString stdErr = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);  // not SIGABRT
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(stdErr.contains("there is no display to open the window on") && stdErr.contains(hint),
                 qPrintable(stdErr));
        QCOMPARE(QDir(cwd.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList{});
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_commandline.moc"
