// The monitor's transport, session and engine against a real dedicated server
// of the same engine family (ioquake3), through the bridge that carries the
// few differences from the target game. What the double cannot show: the
// engine's own variable prints, its cut answers and its request rate limit.

#include "SkelvarRcon/engine/engine.h"
#include "SkelvarRcon/penalties/enforcement.h"
#include "SkelvarRcon/session/monitorsession.h"
#include "SkelvarRcon/store/liststore.h"
#include "SkelvarRcon/store/recordlist.h"
#include "SkelvarRcon/store/settings.h"
#include "tests/support/enginebridge.h"
#include "tests/support/engineparts.h"
#include "tests/support/engineserver.h"
#include "tests/support/files.h"

#include <QDate>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QTest>

#include <memory>

using namespace skelvar;
using namespace skelvar::rcon;
using skelvar::test::EngineBridge;
using skelvar::test::EngineServer;

namespace {

const QString kPassword = QStringLiteral("RealPw");
// The server answers within milliseconds on loopback; the answer window is
// shortened, the pacing is the transport's own.
constexpr int kReplyWaitMs = 300;
constexpr int kTickMs = 50;
constexpr int kPassTimeoutMs = 120000;

const QStringList kEighteenBots{"Sarge",    "Grunt",   "Major", "Tony",    "Angelyss", "Kyonshi",
                                "Gargoyle", "Arachna", "Beret", "Dark",    "Ghost",    "Jenna",
                                "Liz",      "Merman",  "Neko",  "Penguin", "Grism",    "Sorceress"};

// One monitor without its window, with the penalties installed, pointed at the
// bridge in front of a real server.
struct Rig : test::EngineParts {
    EngineServer game;
    std::unique_ptr<EngineBridge> bridge;
    int patrolStarts = 0;

    Rig() : EngineParts(kReplyWaitMs, {5, 5, kTickMs})
    {
        // The real server's limit, so the transport's real pacing.
        rcon.setPacingForTests(RconTransport::kEnginePacing);
        QObject::connect(engine.get(), &Engine::passStarted, engine.get(), [this](bool scan) {
            if (!scan)
                ++patrolStarts;
        });
    }
    // Starts the server with these bots and points the monitor at it. Returns
    // why it failed, empty when all is up.
    QString bringUp(const QStringList& bots)
    {
        QString error;
        const quint16 port = EngineServer::freePort();
        if (!game.start(port, kPassword, &error))
            return error;
        bridge = std::make_unique<EngineBridge>(port);
        settings.setText("txtSVR", bridge->host());
        settings.setText("txtPORT", bridge->portText());
        settings.setText("txtPWD", kPassword);
        if (!bots.isEmpty() && !game.addBots(bots, &error))
            return error;
        return {};
    }

    QStringList sent() const
    {
        QStringList out;
        for (const EngineBridge::Exchange& e : bridge->exchanges())
            out << e.command;
        return out;
    }
    QByteArray skelvarLog() const { return test::readFile(dir.filePath("skelvar.log")); }
    // A variable's print, asked from another address.
    QByteArray printed(const QString& name) { return EngineServer::answerText(game.ask(name)); }
    // The server's own table, asked from another address, lists the name.
    bool listed(const QString& name)
    {
        return EngineServer::answerText(game.ask("status")).contains(" " + name.toLatin1() + " ");
    }
};

#define BRING_UP(rig, bots)                                                                                            \
    do {                                                                                                               \
        const QString why = (rig).bringUp(bots);                                                                       \
        QVERIFY2(why.isEmpty(), qPrintable(why));                                                                      \
    } while (false)

}  // namespace

class TestEngineRealServer : public QObject {
    Q_OBJECT

private slots:
    void freshServerIsClaimedWithoutAskingAndReleasedOnStop()
    {
        Rig r;
        BRING_UP(r, {});
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(r.session->claimed() || !r.session->running(), kPassTimeoutMs);
        QCOMPARE(r.prompter.titles(), QStringList());
        QVERIFY(r.session->claimed());
        QCOMPARE(r.printed("sv_skelvar"), QByteArray("\"sv_skelvar\" is:\"1^7\" default:\"0^7\"\n"));

        r.session->stop();
        QTRY_VERIFY_WITH_TIMEOUT(r.idle() && !r.session->running(), kPassTimeoutMs);
        QCOMPARE(r.printed("sv_skelvar"), QByteArray("\"sv_skelvar\" is:\"0^7\", the default\n"));
    }

    void wrongPasswordEndsTheStart()
    {
        Rig r;
        BRING_UP(r, {});
        r.settings.setText("txtPWD", "not" + kPassword);
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(!r.session->running() && r.idle(), kPassTimeoutMs);
        QCOMPARE(r.prompter.titles(), QStringList{"Bad rcon password!"});
        QCOMPARE(r.sent(), QStringList{"sv_skelvar"});
        // Nothing was set on the server.
        QCOMPARE(r.printed("sv_skelvar"), QByteArray("unknown command: sv_skelvar\n"));
    }

    void consoleAnswerOfSeveralDatagramsComesBackWhole()
    {
        Rig r;
        BRING_UP(r, {});
        QString answer;
        bool done = false;
        r.rcon.request("cvarlist", r.session->targetFromSettings(), [&](const QString& a) {
            answer = a;
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
        QCOMPARE(r.sent(), QStringList{"cvarlist"});
        QVERIFY2(r.bridge->exchanges().first().answers > 1, "the engine answered in one datagram");

        const QList<QByteArray> direct = r.game.ask("cvarlist");
        QCOMPARE(direct.size(), r.bridge->exchanges().first().answers);
        QByteArray expected = EngineServer::answerText(direct);
        QVERIFY(expected.endsWith(" cvar indexes\n"));
        expected.replace("\n", "\r\n");
        QCOMPARE(answer.toLatin1(), expected);
    }

    void scanOfEighteenBotsLosesNoAnswer()
    {
        Rig r;
        BRING_UP(r, kEighteenBots);
        r.settings.setChecked("Logea", true);
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT((r.patrols >= 1 || !r.session->running()) && r.idle(), kPassTimeoutMs);
        QCOMPARE(r.prompter.titles(), QStringList());
        QCOMPARE(r.bridge->unanswered(), QStringList());
        QCOMPARE(r.rcon.unansweredCount(), 0);
        QVERIFY2(!r.skelvarLog().contains("No answer"), r.skelvarLog().constData());
        // ioquake3 takes client numbers: every bot got its dumpuser by his
        // number, in table order, was listed from his own table, and the
        // patrol pass read its own table after them.
        const QStringList sent = r.sent();
        const qsizetype scanStatus = sent.indexOf("status");
        QVERIFY(scanStatus >= 0);
        QStringList asked;
        for (const QString& c : sent.mid(scanStatus + 1))
            if (c.startsWith("dumpuser "))
                asked << c.mid(9);
        QVERIFY(sent.lastIndexOf("status") > sent.lastIndexOf(QRegularExpression("^dumpuser ")));
        QCOMPARE(r.players.size(), int(kEighteenBots.size()));
        QStringList listed, numbers;
        for (int i = 0; i < r.players.size(); ++i) {
            listed << r.players.at(i).name;
            numbers << r.players.at(i).no;
        }
        QCOMPARE(listed, kEighteenBots);
        QCOMPARE(asked, numbers);
    }

    void permanentBanKicksTheBotOffTheServer()
    {
        Rig r;
        BRING_UP(r, (QStringList{"Sarge", "Grunt"}));
        const QString address = QStringLiteral("192.0.2.66");
        r.bridge->setBotAddress("Grunt", address);
        r.lists.bans().add({address, "Grunt", "Aimbot", lists::formatDate(QDate::currentDate()), ""});
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT((r.patrols >= 1 || !r.session->running()) && r.idle(), kPassTimeoutMs);
        QVERIFY(r.session->running());
        const QStringList sent = r.sent();
        QVERIFY2(
            sent.filter(QRegularExpression("^say " + QRegularExpression::escape(address) + " was banned")).size() == 1,
            qPrintable(sent.join('|')));
        QCOMPARE(sent.filter(QRegularExpression("^clientkick ")).size(), 1);
        QCOMPARE(r.bridge->unanswered(), QStringList());
        QDeadlineTimer gone(10000);
        while (r.listed("Grunt") && !gone.hasExpired())
            QTest::qWait(200);
        QVERIFY(!r.listed("Grunt"));
        QVERIFY(r.listed("Sarge"));
    }

    void restartedServerGetsItsClaimAndVariablesBack()
    {
        Rig r;
        const QStringList bots{"Sarge", "Grunt"};
        BRING_UP(r, bots);
        r.settings.setText("MinPolt", "2");
        r.settings.setChecked("Logea", true);
        r.session->start();
        QTRY_VERIFY_WITH_TIMEOUT((r.patrols >= 1 || !r.session->running()) && r.idle(), kPassTimeoutMs);
        QVERIFY(r.session->running());

        r.game.stop();
        const int whileDown = r.patrolStarts;
        QTRY_VERIFY_WITH_TIMEOUT(r.patrols > whileDown, kPassTimeoutMs);  // a whole pass met silence
        QString why;
        QVERIFY2(r.game.start(r.game.port(), kPassword, &why), qPrintable(why));
        QVERIFY2(r.game.addBots(bots, &why), qPrintable(why));

        const int afterReturn = r.patrolStarts;
        QTRY_VERIFY_WITH_TIMEOUT(r.patrols > afterReturn || !r.session->running(), kPassTimeoutMs);
        QVERIFY(r.session->running());
        QCOMPARE(r.prompter.titles(), QStringList());
        // The operator was told of both.
        QVERIFY(r.skelvarLog().contains(" Server not answering since "));
        QVERIFY(r.skelvarLog().contains(" Server restarted: "));
        const QList<std::pair<QString, QString>> primed{
            {"sv_skelvar", "1"},   {"scantime", "3"},          {"scanpass", "1"},       {"resetvalue", "hacked"},
            {"nextmap", "oa_dm1"}, {"sv_minutes", "\\d{1,2}"}, {"sv_hours", "\\d{1,2}"}};
        for (const auto& [name, value] : primed) {
            const QString print = QString::fromLatin1(r.printed(name));
            QVERIFY2(QRegularExpression("^\"" + name + "\" is:\"" + value + "\\^7\"").match(print).hasMatch(),
                     qPrintable(print));
        }
    }
};

QTEST_GUILESS_MAIN(TestEngineRealServer)
#include "test_engine_realserver.moc"
