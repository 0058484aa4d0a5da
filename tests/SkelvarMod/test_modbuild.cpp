// ModSkelvar --build, the program started as a real process with no display:
// it builds what the window's button builds, and a refused build exits 1 and
// keeps the archive that was there.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "SkelvarMod/project/builderfiles.h"
#include "SkelvarMod/window/builderwindow.h"
#include "modcore_fixture.h"
#include "tests/support/files.h"
#include "tests/support/processes.h"
#include "tests/support/scriptedprompter.h"
#include "zipread.h"

using namespace skelvar::mod;
using namespace modtest;

using skelvar::test::readFile;
using skelvar::test::writeFile;

namespace {

const QByteArray kTemplate = "main:\r\nexec global/skelvar.scr\r\nend\r\n";
const QString kArchive = QStringLiteral("Generated Mod/zzzzz-skelvar.pk3");

// A builder folder holding the small fixture's files and a copy of the program.
struct Folder {
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }

    void prepare(const BuildInputs& in)
    {
        QVERIFY(saveSwitches(path(SettingsFileName), in.switches));
        QVERIFY(saveMessages(path(MessagesFileName), in.messages));
        QVERIFY(saveCommands(path(CommandsFileName), in.commands));
        QVERIFY(saveCompat(path(CompatFileName), in.compat));
        for (const MapFixEntry& f : in.mapFixes)
            QVERIFY(saveMapFix(dir.path(), f));
        writeFile(path(PrecacheTemplateName), kTemplate);
        QVERIFY(QFile::copy(QStringLiteral(MODSKELVAR_PATH), path("ModSkelvar")));
    }
    // Runs the copy with --build from an unrelated working folder.
    int build(QString* err)
    {
        QTemporaryDir cwd;
        QProcess p;
        QProcessEnvironment env = skelvar::test::environmentWithoutDisplay();
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(cwd.path());
        p.start(path("ModSkelvar"), {"--build"});
        if (!p.waitForFinished(20000))
            return -1;
        *err = QString::fromLocal8Bit(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
};

}  // namespace

class TestModBuild : public QObject {
    Q_OBJECT

private slots:
    void buildWritesTheButtonsArchive()
    {
        Folder cli;
        cli.prepare(smallFixture());
        const QByteArray settings = readFile(cli.path(SettingsFileName));
        QString err;
        QCOMPARE(cli.build(&err), 0);
        QVERIFY2(err.contains("Wrote "), qPrintable(err));
        const ZipContent built = readZip(cli.path(kArchive));
        QCOMPARE(built.names(), (QStringList{"global/DMprecache.scr", "global/skelvar.scr"}));
        QCOMPARE(built.content("global/skelvar.scr"), smallFixtureScript());
        QCOMPARE(built.content("global/DMprecache.scr"), kTemplate);
        QVERIFY(!QFileInfo::exists(cli.path(WorkFolderName)));
        // A build saves nothing.
        QCOMPARE(readFile(cli.path(SettingsFileName)), settings);

        Folder window;
        window.prepare(smallFixture());
        skelvar::test::ScriptedPrompter prompter;
        BuilderWindow w(window.dir.path(), &prompter);
        w.setFolderOpener([](const QString&) {});
        w.findChild<QPushButton*>("Command1")->click();
        QVERIFY2(prompter.shown.isEmpty(), qPrintable(prompter.shown.value(0).text));
        QCOMPARE(readZip(window.path(kArchive)).entries, built.entries);
    }

    void refusedBuildKeepsTheArchive_data()
    {
        QTest::addColumn<bool>("badRow");
        QTest::addColumn<QString>("message");
        QTest::newRow("a ticked row that does not validate") << true << "Please correct these rows first";
        QTest::newRow("no precache template") << false << "skelvar.precache";
    }
    void refusedBuildKeepsTheArchive()
    {
        QFETCH(bool, badRow);
        QFETCH(QString, message);
        BuildInputs in = smallFixture();
        if (badRow)
            in.messages.append({"Periodic", "0 minutes", "Low", "Too often", true});
        Folder f;
        f.prepare(in);
        if (!badRow)
            QVERIFY(QFile::remove(f.path(PrecacheTemplateName)));
        writeFile(f.path(kArchive), "the archive of the last build");
        QString err;
        QCOMPARE(f.build(&err), 1);
        QVERIFY2(err.contains(message), qPrintable(err));
        QCOMPARE(readFile(f.path(kArchive)), QByteArray("the archive of the last build"));
        QVERIFY(!QFileInfo::exists(f.path(WorkFolderName)));
    }
};

QTEST_MAIN(TestModBuild)
#include "test_modbuild.moc"
