#include "SkelvarRcon/engine/engine.h"
#include "SkelvarRcon/session/monitorsession.h"
#include "SkelvarRcon/session/passcontext.h"
#include "SkelvarRcon/store/settings.h"
#include "tests/support/gameserverdouble.h"
#include "tests/support/monitorparts.h"
#include "tests/support/scriptedprompter.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <QSignalSpy>

#include <functional>
#include <memory>

using namespace skelvar;
using namespace skelvar::rcon;
using skelvar::test::GameServerDouble;
using skelvar::test::ScriptedPrompter;

using UiChange = std::function<void(UiState&)>;
Q_DECLARE_METATYPE(UiChange)
Q_DECLARE_METATYPE(skelvar::test::GameServerDouble::Dialect)

namespace {
constexpr int kWait = 40;

const QStringList kResets{"set sv_skelvar 0", "set nextmap \"\"", "set resetvalue 0"};

// One monitor without its window, pointed at a game-server double.
struct Rig {
    GameServerDouble server;
    Settings settings;
    RconTransport rcon{nullptr, kWait};
    UiState ui;
    ScriptedPrompter prompter;
    std::unique_ptr<MonitorSession> session;
    std::unique_ptr<Engine> engine;

    explicit Rig(const QString& logDir)
    {
        test::useTestRate(server, rcon);
        rcon.setActivityLogPath(logDir + "/activity.log");
        settings.setText("txtSVR", server.host());
        settings.setText("txtPORT", server.portText());
        settings.setText("txtPWD", server.password());
        session = std::make_unique<MonitorSession>(rcon, settings, ui, prompter);
        session->setTimingForTests({5, 5, 30});
        engine = std::make_unique<Engine>(*session, rcon, settings, ui);
    }
    QStringList commands() const { return server.commands(); }
    QStringList first(int n) const { return server.commands().mid(0, n); }
    // After a stop: the resets went out once, last, and nothing follows them.
    bool resetsLast() const
    {
        const QStringList c = server.commands();
        return c.size() >= 3 && c.mid(c.size() - 3) == kResets && c.count("set sv_skelvar 0") == 1;
    }
    bool idle() { return test::rconIdle(rcon) && !engine->busy(); }
};

// A pass that waits out a pause at the start of each patrol, as the
// Spearhead rename does, with no request of its own in the transport.
struct PausingHooks : DefaultPassHooks {
    static constexpr int kPauseMs = 500;
    bool paused = false;
    Task<> readInGameBan(PassContext& pass) override
    {
        paused = true;
        co_await pass.pause(kPauseMs);
    }
};
}  // namespace

class TestSession : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void statusSettersShowTheirTexts_data()
    {
        QTest::addColumn<UiChange>("change");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QStringList>("hidden");
        auto row = [](const char* name, UiChange change, const char* control, const char* text, QStringList shown = {},
                      QStringList hidden = {}) {
            QTest::newRow(name) << change << QString(control) << QString(text) << shown << hidden;
        };
        row(
            "start", [](UiState& u) { u.setStartCaption(StartCaption::Start); }, "Command1", "Start");
        row(
            "warming", [](UiState& u) { u.setStartCaption(StartCaption::Warming); }, "Command1", "Warming");
        row(
            "scanning", [](UiState& u) { u.setStartCaption(StartCaption::Scanning); }, "Command1", "Scanning");
        row(
            "data age", [](UiState& u) { u.setLastDataAge(12); }, "Label18", "Last Data Retrieval: 12 seconds ago");
        row(
            "no data age", [](UiState& u) { u.setLastDataAge(std::nullopt); }, "Label18", "");
        row("os unknown", [](UiState& u) { u.setServerOs(ServerOs::Unknown); }, "Label35", "Server OS: ?", {},
            {"Image2", "Image5"});
        row("linux", [](UiState& u) { u.setServerOs(ServerOs::Linux); }, "Label35", "Server OS: Linux", {"Image5"},
            {"Image2"});
        row("windows", [](UiState& u) { u.setServerOs(ServerOs::Windows); }, "Label35", "Server OS: Windows",
            {"Image2"}, {"Image5"});
        row("cheats unknown", [](UiState& u) { u.setCheatsState(CheatsState::Unknown); }, "Label23", "Cheats: ?", {},
            {"Image1_0", "Image1_1"});
        row("cheats enabled", [](UiState& u) { u.setCheatsState(CheatsState::Enabled); }, "Label23",
            "Cheats - Enabled!!", {"Image1_0"}, {"Image1_1"});
        row("cheats disabled", [](UiState& u) { u.setCheatsState(CheatsState::Disabled); }, "Label23",
            "Cheats - Disabled", {"Image1_1"}, {"Image1_0"});
        row("mod unknown", [](UiState& u) { u.setModState(ServerMod::ModSkelvar, ModState::Unknown); }, "Label25",
            "ModSkelvar: ?", {}, {"Image3_0", "Image3_1"});
        row("mod running", [](UiState& u) { u.setModState(ServerMod::ModSkelvar, ModState::Running); }, "Label25",
            "ModSkelvar - Running", {"Image3_1"}, {"Image3_0"});
        row("zov unknown", [](UiState& u) { u.setModState(ServerMod::ZovPlinket, ModState::Unknown); }, "Label26",
            "Zov Plinket: ?", {}, {"Image4_0", "Image4_1"});
        row("zov not running", [](UiState& u) { u.setModState(ServerMod::ZovPlinket, ModState::NotRunning); },
            "Label26", "Zov Plinket - Not Running", {"Image4_0"}, {"Image4_1"});
        row("disconnecting", [](UiState& u) { u.showDisconnecting(); }, "Command2", "Disconnecting...", {}, {});
    }
    void statusSettersShowTheirTexts()
    {
        QFETCH(UiChange, change);
        QFETCH(QString, control);
        QFETCH(QString, text);
        QFETCH(QStringList, shown);
        QFETCH(QStringList, hidden);
        UiState ui;
        change(ui);
        QCOMPARE(ui.text(control, "unset"), text);
        for (const QString& c : shown)
            QVERIFY2(ui.isVisible(c, false), qPrintable(c));
        for (const QString& c : hidden)
            QVERIFY2(!ui.isVisible(c, true), qPrintable(c));
    }

    void uiLocksAndProgress()
    {
        UiState ui;
        ui.setPassLocked(true);
        for (const char* c : {"Command1", "Command2", "Command13", "Text1"})
            QVERIFY2(!ui.isEnabled(c), c);
        QVERIFY(!ui.controls().contains("txtSVR"));
        ui.setSessionControlsEnabled(false);
        ui.setPassLocked(false);
        for (const char* c : {"Command1", "Command2", "Command13", "Text1"})
            QVERIFY2(ui.isEnabled(c), c);
        for (const char* c : {"txtSVR", "txtPORT", "txtPWD", "txtMin", "MinPolt"})
            QVERIFY2(!ui.isEnabled(c), c);
        ui.showDisconnecting();
        for (const char* c : {"Command1", "Command13", "Text1"})
            QVERIFY2(!ui.isEnabled(c), c);
        QVERIFY(ui.isEnabled("Command2"));

        // A bar steps up to its maximum and no further.
        ui.setProgressMaximum(Progress::Patrol, 2);
        for (int i = 0; i < 3; ++i)
            ui.advanceProgress(Progress::Patrol);
        ui.advanceProgress(Progress::Scan);
        QCOMPARE(ui.value("kickpro"), 2);
        QCOMPARE(ui.maximum("kickpro"), 2);
        QCOMPARE(ui.value("scanpro", -1), -1);
        ui.setProgressMaximum(Progress::Scan, 180);
        ui.advanceProgress(Progress::Scan);
        QCOMPARE(ui.value("scanpro"), 1);
        ui.resetProgress();
        QCOMPARE(ui.value("kickpro"), 0);
        QCOMPARE(ui.value("scanpro"), 0);
    }

    void uiUnknownNamesMakeNoEntry()
    {
#ifndef QT_NO_DEBUG
        QSKIP("an unknown name asserts in a debug build");
#else
        UiState ui;
        QSignalSpy spy(&ui, &UiState::changed);
        QTest::ignoreMessage(QtWarningMsg, "UiState::setText: no control Label99");
        ui.setText("Label99", "x");
        QTest::ignoreMessage(QtWarningMsg, "UiState::setVisible: no control Comand1");
        ui.setVisible("Comand1", false);
        QTest::ignoreMessage(QtWarningMsg, "UiState::text: no control Label99");
        QCOMPARE(ui.text("Label99", "fallback"), QString("fallback"));
        QTest::ignoreMessage(QtWarningMsg, "UiState::isVisible: no control Comand1");
        QVERIFY(ui.isVisible("Comand1", true));
        QVERIFY(ui.controls().isEmpty());
        QCOMPARE(spy.size(), 0);
        // A known control that was never set reads as the fallback, silently.
        QCOMPARE(ui.text("Label21", "fallback"), QString("fallback"));
#endif
    }

    void freeServerIsClaimedAndReleased()
    {
        Rig r(dir.path());
        r.server.setVariable("sv_skelvar", "0");
        r.session->start();
        QCOMPARE(r.ui.text("Command1"), QString("Scanning"));
        QTRY_VERIFY(r.session->claimed());
        QCOMPARE(r.first(2), (QStringList{"sv_skelvar", "set sv_skelvar 1"}));
        QVERIFY(r.prompter.shown.isEmpty());

        r.server.clearReceived();
        r.session->stop();
        QTRY_VERIFY(r.idle());
        QVERIFY(r.resetsLast());
        QTest::qWait(kWait * 3);
        QVERIFY(r.resetsLast());
        QCOMPARE(r.server.variable("sv_skelvar"), QString("0"));
        QVERIFY(!r.session->running());
        QVERIFY(!r.session->engineTimer()->isActive());
        QCOMPARE(r.ui.text("Command1"), QString("Start"));
        QCOMPARE(r.ui.text("Label21"), QString("Server not running!!"));
        QCOMPARE(r.ui.text("Label35"), QString("Server OS: ?"));
        for (const QString& c : UiState::sessionControls())
            QVERIFY2(r.ui.isEnabled(c), qPrintable(c));
    }

    void heldServerAsksTheOperator_data()
    {
        QTest::addColumn<bool>("force");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("Yes forces") << true << QStringList{"sv_skelvar", "set sv_skelvar 1"};
        QTest::newRow("No stays idle") << false << QStringList{"sv_skelvar"};
    }
    void heldServerAsksTheOperator()
    {
        QFETCH(bool, force);
        QFETCH(QStringList, expected);
        Rig r(dir.path());
        r.server.setVariable("sv_skelvar", "1");
        r.prompter.answers = {force};
        r.session->start();
        QTRY_VERIFY(r.prompter.shown.size() == 1);
        QTRY_VERIFY(r.idle() || r.session->claimed());
        QCOMPARE(r.first(expected.size()), expected);
        if (!force)
            QCOMPARE(r.commands(), expected);
        QCOMPARE(r.prompter.shown[0].title, QString("Already Monitored!"));
        QCOMPARE(r.prompter.shown[0].text,
                 QString("Apparently, there 's already an Rcon Skelvar monitoring this server.\nYou can force the "
                         "connection, though.\n\nAre you sure you want to continue?"));
        QVERIFY(r.prompter.shown[0].question);
        QCOMPARE(r.session->claimed(), force);
        QCOMPARE(r.session->running(), force);
        if (!force)
            QCOMPARE(r.ui.text("Command1"), QString("Start"));
    }

    void claimReadsThePrintedValue_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("asks");
        QTest::newRow("original server, free") << QByteArray("\"sv_skelvar\" is:\"0\" default:\"\"\n") << false;
        QTest::newRow("colour code, the default") << QByteArray("\"sv_skelvar\" is:\"0^7\", the default\n") << false;
        QTest::newRow("colour code, released") << QByteArray("\"sv_skelvar\" is:\"0^7\" default:\"0^7\"\n") << false;
        QTest::newRow("colour code, held") << QByteArray("\"sv_skelvar\" is:\"1^7\" default:\"0^7\"\n") << true;
    }
    void claimReadsThePrintedValue()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, asks);
        Rig r(dir.path());
        r.server.queueReply("sv_skelvar", {GameServerDouble::datagram(answer)});
        r.prompter.answers = {true};
        r.session->start();
        QTRY_VERIFY(r.session->claimed());
        QCOMPARE(r.first(2), (QStringList{"sv_skelvar", "set sv_skelvar 1"}));
        QCOMPARE(r.prompter.titles(), asks ? QStringList{"Already Monitored!"} : QStringList());
        r.session->stop();
        QTRY_VERIFY(r.idle());
    }

    void wrongPassword()
    {
        Rig r(dir.path());
        r.settings.setText("txtPWD", "wrong");
        r.session->start();
        QTRY_VERIFY(!r.session->running());
        QTRY_VERIFY(r.idle());
        QCOMPARE(r.commands(), QStringList{"sv_skelvar"});
        QCOMPARE(r.prompter.titles(), QStringList{"Bad rcon password!"});
        QCOMPARE(r.prompter.shown[0].text, QString("Rcon password is incorrect!"));
        QCOMPARE(r.prompter.shown[0].icon, Prompter::Icon::Critical);
    }

    void silentServerIsRetriedOnce()
    {
        Rig r(dir.path());
        r.server.setSilent("sv_skelvar");
        r.session->start();
        QTRY_VERIFY(!r.session->running());
        QTRY_VERIFY(r.idle());
        // Silence is no proof that the variable is missing: nothing is reset.
        QCOMPARE(r.commands(), (QStringList{"sv_skelvar", "sv_skelvar"}));
        QCOMPARE(r.prompter.titles(), QStringList{"Server offline!"});
        QCOMPARE(r.prompter.shown[0].text, QString("Server is not responding!"));
        QVERIFY(!r.session->offlineRetried());
    }

    void oneLostDatagramIsRetriedInEveryStart()
    {
        Rig r(dir.path());
        r.server.setVariable("sv_skelvar", "0");
        for (int round = 0; round < 2; ++round) {
            r.server.clearReceived();
            r.server.queueReply("sv_skelvar", {});  // the first answer is lost
            r.session->start();
            QTRY_VERIFY(r.session->claimed());
            QCOMPARE(r.first(3), (QStringList{"sv_skelvar", "sv_skelvar", "set sv_skelvar 1"}));
            r.session->stop();
            QTRY_VERIFY(r.idle());
        }
        QVERIFY(r.prompter.shown.isEmpty());
    }

    // A server without the variable: the original console names the unknown
    // command, ioquake3 too in its words, OpenMoHAA prints nothing at all.
    void unknownVariableIsCreated_data()
    {
        QTest::addColumn<GameServerDouble::Dialect>("dialect");
        QTest::newRow("original: Unknown command") << GameServerDouble::Dialect::Original;
        QTest::newRow("ioquake3: unknown command") << GameServerDouble::Dialect::Engine;
        QTest::newRow("OpenMoHAA: an empty print") << GameServerDouble::Dialect::OpenMohaa;
    }
    void unknownVariableIsCreated()
    {
        QFETCH(GameServerDouble::Dialect, dialect);
        Rig r(dir.path());
        r.server.setDialect(dialect);
        r.server.removeVariable("sv_skelvar");
        r.session->start();
        QTRY_VERIFY(r.session->claimed());
        QCOMPARE(r.first(4), (QStringList{"sv_skelvar", "set sv_skelvar 0", "sv_skelvar", "set sv_skelvar 1"}));
        QVERIFY(r.prompter.shown.isEmpty());
        QCOMPARE(r.session->connectFailure(), MonitorSession::ConnectFailure::None);
    }

    // A monitor killed before it could release the server left its claim:
    // started again from the same folder it takes it back without the
    // question; another monitor's claim, or one that names nobody, still asks.
    void ownClaimIsTakenBack_data()
    {
        QTest::addColumn<QString>("holder");  // sv_skelvarholder on the server; "-" for none
        QTest::addColumn<bool>("asks");
        QTest::newRow("this monitor's") << "ours" << false;
        QTest::newRow("another monitor's") << "0123456789abcdef" << true;
        QTest::newRow("nobody named") << "-" << true;
    }
    void ownClaimIsTakenBack()
    {
        QFETCH(QString, holder);
        QFETCH(bool, asks);
        Rig r(dir.path());
        r.server.setDialect(GameServerDouble::Dialect::OpenMohaa);
        const QString ours = MonitorSession::holderIdFor(dir.path());
        r.session->setHolderId(ours);
        r.server.setVariable("sv_skelvar", "1");
        if (holder != "-")
            r.server.setVariable(MonitorSession::holderVariable(), holder == "ours" ? ours : holder);
        r.prompter.answers = {false};
        r.session->start();
        QTRY_VERIFY(r.idle() && (r.session->claimed() || !r.session->running()));
        QCOMPARE(r.prompter.titles(), asks ? QStringList{"Already Monitored!"} : QStringList());
        QCOMPARE(r.session->claimed(), !asks);
        if (!asks) {
            QCOMPARE(r.first(4), (QStringList{"sv_skelvar", "sv_skelvarholder", "set sv_skelvar 1",
                                              "set sv_skelvarholder " + ours}));
            QCOMPARE(r.server.variable("sv_skelvarholder"), ours);
        }
        r.session->stop();
        QTRY_VERIFY(r.idle());
    }

    void holderIdNamesTheFolder()
    {
        QTemporaryDir other;
        const QString id = MonitorSession::holderIdFor(dir.path());
        QCOMPARE(MonitorSession::holderIdFor(dir.path()), id);
        QVERIFY(MonitorSession::holderIdFor(other.path()) != id);
        QVERIFY(QRegularExpression("^[0-9a-f]{16}$").match(id).hasMatch());
    }

    void editOfConnectionEndsTheSession()
    {
        Rig r(dir.path());
        r.server.setVariable("sv_skelvar", "0");
        // Typing while idle does nothing.
        r.settings.setText("txtPORT", r.server.portText() + "9");
        r.settings.setText("txtPORT", r.server.portText());
        QTest::qWait(kWait);
        QVERIFY(r.commands().isEmpty());

        r.session->start();
        QTRY_VERIFY(r.session->claimed());
        r.server.clearReceived();
        // The operator types a new port: the resets still go to the claimed server.
        r.settings.setText("txtPORT", "1");
        QTRY_VERIFY(r.idle());
        QVERIFY(r.resetsLast());
        QVERIFY(!r.session->running());
        QTest::qWait(kWait * 3);
        QVERIFY(r.resetsLast());
    }

    void startDuringSessionForcesAScan()
    {
        Rig r(dir.path());
        r.server.setVariable("sv_skelvar", "0");
        r.session->start();
        QTRY_VERIFY(r.session->claimed());
        QTRY_VERIFY_WITH_TIMEOUT(r.idle(), 10000);
        r.server.clearReceived();
        r.session->start();
        QTRY_VERIFY(r.commands().size() >= 1);
        QCOMPARE(r.first(1), QStringList{"set scanpass 1"});
        QVERIFY(!r.commands().contains("sv_skelvar"));
        QTRY_VERIFY(r.session->engineTimer()->isActive());
        QCOMPARE(r.engine->scanCountdown() <= 1, true);
        QVERIFY(r.session->claimed());
    }

    void exitReleasesTheServerFirst()
    {
        Rig r(dir.path());
        r.server.setVariable("sv_skelvar", "0");
        r.session->start();
        QTRY_VERIFY(r.session->claimed());
        r.server.clearReceived();
        // The close box while the warm-up still waits for the server.
        Task<> exit = r.session->exitProcedure();
        QCOMPARE(r.ui.text("Command2"), QString("Disconnecting..."));
        QTRY_VERIFY_WITH_TIMEOUT(exit.done(), 5000);
        QVERIFY(r.resetsLast());
        QVERIFY(!r.engine->busy());
        // Nothing goes out after the exit.
        const int sent = r.commands().size();
        r.session->start();
        QTest::qWait(kWait * 3);
        QCOMPARE(r.commands().size(), sent);
    }

    // Exit while a stop still sends its resets, or while a pass waits out a
    // pause: the exit closes the transport only after both, so every reset
    // goes out and no pass outlives it.
    void exitWaitsForAStopAndAPass_data()
    {
        QTest::addColumn<bool>("duringStop");
        QTest::newRow("a stop's resets") << true;
        QTest::newRow("a pass in a pause") << false;
    }
    void exitWaitsForAStopAndAPass()
    {
        QFETCH(bool, duringStop);
        PausingHooks hooks;
        Rig r(dir.path());
        if (!duringStop)
            r.engine->setHooks(&hooks);
        r.server.setVariable("sv_skelvar", "0");
        r.session->start();
        QTRY_VERIFY(r.session->claimed());
        Task<> exit;
        if (duringStop) {
            // The close box the moment the stop's first reset reaches the server.
            connect(&r.server, &GameServerDouble::datagramReceived, this, [&] {
                if (!exit.valid() && r.commands().endsWith(kResets.first()))
                    exit = r.session->exitProcedure();
            });
            r.session->stop();
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(hooks.paused, 5000);
            exit = r.session->exitProcedure();
        }
        QTRY_VERIFY_WITH_TIMEOUT(exit.valid() && exit.done(), 5000);
        QVERIFY(!r.engine->busy());
        const QStringList sent = r.commands();
        for (const QString& reset : kResets)
            QVERIFY2(sent.contains(reset), qPrintable(sent.join(", ")));
    }

    void stopBeforeTheClaimSendsNothing()
    {
        Rig r(dir.path());
        r.server.setVariable("sv_skelvar", "0");
        r.session->start();
        QTRY_VERIFY(r.rcon.busy());  // the connect check is on its way
        r.session->stop();
        QTRY_VERIFY(r.idle());
        QTest::qWait(kWait * 2);
        QCOMPARE(r.commands(), QStringList{"sv_skelvar"});
        QVERIFY(!r.session->claimed());
    }

    void stopDuringTheClaimsWaitReleasesTheServer()
    {
        Rig r(dir.path());
        r.server.setVariable("sv_skelvar", "0");
        // Stop the moment the claim reaches the server, while its reply wait runs.
        bool stopped = false;
        connect(&r.server, &GameServerDouble::datagramReceived, this, [&] {
            if (!stopped && r.commands().endsWith("set sv_skelvar 1")) {
                stopped = true;
                r.session->stop();
            }
        });
        r.session->start();
        QTRY_VERIFY(stopped);
        QTRY_VERIFY(r.idle());
        QCOMPARE(r.commands(), (QStringList{"sv_skelvar", "set sv_skelvar 1"} + kResets));
        QCOMPARE(r.server.variable("sv_skelvar"), QString("0"));
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "test_session.moc"
