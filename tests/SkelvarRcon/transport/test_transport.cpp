#include "SkelvarRcon/transport/printedvalue.h"
#include "SkelvarRcon/transport/rcontransport.h"
#include "tests/support/gameserverdouble.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUdpSocket>

using namespace skelvar;
using namespace skelvar::rcon;
using skelvar::test::GameServerDouble;

Q_DECLARE_METATYPE(skelvar::test::GameServerDouble::Dialect)

namespace {
constexpr int kWait = 120;  // the product waits 700 ms; tests keep it short

QByteArray b(const char* s, int n)
{
    return QByteArray(s, n);
}
}  // namespace

class TestTransport : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    RconTarget targetOf(const GameServerDouble& s) { return {s.host(), s.portText(), s.password()}; }

    // Sends one command and waits for its answer through the event loop.
    QString ask(RconTransport& t, const QString& cmd)
    {
        bool done = false;
        QString answer;
        t.request(cmd, [&](const QString& a) {
            answer = a;
            done = true;
        });
        if (!QTest::qWaitFor([&] { return done; }, 5000))
            qWarning("request did not finish");
        return answer;
    }

    QByteArray readLog(const RconTransport& t)
    {
        QFile f(t.activityLogPath());
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void encodesDatagrams_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("status query") << "getstatus"
                                      << "pw" << b("\xFF\xFF\xFF\xFF\x02getstatus", 14);
        QTest::newRow("other case is a console command") << "GetStatus"
                                                         << "pw" << b("\xFF\xFF\xFF\xFF\x02rcon pw GetStatus", 22);
        QTest::newRow("status with password") << "status"
                                              << "P" << b("\xFF\xFF\xFF\xFF\x02rcon P status", 18);
        QTest::newRow("empty password keeps both blanks") << "status"
                                                          << "" << b("\xFF\xFF\xFF\xFF\x02rcon  status", 17);
        QTest::newRow("latin-1 byte for byte")
            << QString::fromLatin1("say caf\xE9") << "p" << b("\xFF\xFF\xFF\xFF\x02rcon p say caf\xE9", 20);
        QTest::newRow("operator's line break goes as typed") << "say a\nb"
                                                             << "p" << b("\xFF\xFF\xFF\xFF\x02rcon p say a\nb", 19);
    }
    void encodesDatagrams()
    {
        QFETCH(QString, command);
        QFETCH(QString, password);
        QFETCH(QByteArray, expected);
        QCOMPARE(encodeRequest(command, password), expected);
    }

    void cleansAnswers_data()
    {
        QTest::addColumn<QList<QByteArray>>("datagrams");
        QTest::addColumn<QString>("expected");
        const QByteArray h("\xFF\xFF\xFF\xFF\x01print\n", 11);
        QTest::newRow("framing and one line") << QList<QByteArray>{h + "hello\n"} << "hello\r\n";
        QTest::newRow("printer keeps his name")
            << QList<QByteArray>{h + "3 0 48 printer 0 1.2.3.4:5 6 7\n"} << "3 0 48 printer 0 1.2.3.4:5 6 7\r\n";
        QTest::newRow("every LF becomes CR LF") << QList<QByteArray>{h + "a\nb\n\n"} << "a\r\nb\r\n\r\n";
        QTest::newRow("short datagram stays whole") << QList<QByteArray>{QByteArray("abc\n")} << "abc\r\n";
        QTest::newRow("exactly the header") << QList<QByteArray>{h} << "";
        QTest::newRow("bytes above 0x7F map one to one")
            << QList<QByteArray>{h + QByteArray("\xE9\xFF\x80\n")} << QString::fromLatin1("\xE9\xFF\x80\r\n");
        QTest::newRow("printer at the very start keeps his name")
            << QList<QByteArray>{h + "printer\n"} << "printer\r\n";
        QTest::newRow("print right after the header is text")
            << QList<QByteArray>{h + "print\nx\n"} << "print\r\nx\r\n";
        QTest::newRow("a header without its line break is text")
            << QList<QByteArray>{h + "a\n" + h.chopped(1) + "er\n"}
            << QString::fromLatin1("a\r\n\xFF\xFF\xFF\xFF\x01printer\r\n");
        QTest::newRow("a second header inside the datagram")
            << QList<QByteArray>{h + "one\n" + h + "two\n"} << "one\r\ntwo\r\n";
        QTest::newRow("split answer joined in order, cut mid-line")
            << QList<QByteArray>{h + "map: dm/mo", h + "hdm6\nrow\n"} << "map: dm/mohdm6\r\nrow\r\n";
    }
    void cleansAnswers()
    {
        QFETCH(QList<QByteArray>, datagrams);
        QFETCH(QString, expected);
        QCOMPARE(cleanReply(datagrams), expected);
    }

    void rconSafeText_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("quote and semicolons") << "x\";quit;\""
                                              << "xquit";
        QTest::newRow("line breaks") << "a\r\nb\nc"
                                     << "a  b c";
        QTest::newRow("control byte") << QString("a") + QChar(2) + "b"
                                      << "ab";
        QTest::newRow("plain") << "Big Name ^1x"
                               << "Big Name ^1x";
    }
    void rconSafeText()
    {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(rconSafe(in), out);
    }

    void printedValues_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("value");
        QTest::newRow("original server") << "\"sv_skelvar\" is:\"0\" default:\"\"\r\n"
                                         << "0";
        QTest::newRow("the default form") << "\"sv_skelvar\" is:\"0^7\", the default\r\n"
                                          << "0";
        QTest::newRow("default: form") << "\"sv_skelvar\" is:\"1^7\" default:\"0^7\"\r\n"
                                       << "1";
        QTest::newRow("codes inside") << "\"nextmap\" is:\"^1dm/^Zmohdm6^7\"\r\n"
                                      << "dm/mohdm6";
        QTest::newRow("caret without letter stays") << "\"x\" is:\"a^ b^^7c^\""
                                                    << "a^ b^c^";
        QTest::newRow("value without codes") << "\"version\" is:\"1.11 win-x86\""
                                             << "1.11 win-x86";
        QTest::newRow("unknown variable") << "unknown command: sv_skelvar\r\n"
                                          << "";
        QTest::newRow("too few quotes") << "\"cheats\""
                                        << "";
        QTest::newRow("no answer") << ""
                                   << "";
    }
    void printedValues()
    {
        QFETCH(QString, answer);
        QFETCH(QString, value);
        QCOMPARE(printedValue(answer), value);
    }

    void answerAndActivityLog()
    {
        GameServerDouble server;
        server.setReply("status", {GameServerDouble::datagram("map: dm/mohdm6\n")});
        RconTransport t(nullptr, kWait);
        t.setActivityLogPath(dir.filePath("activity1.log"));
        t.setTarget(targetOf(server));
        QSignalSpy started(&t, &RconTransport::requestStarted);
        QSignalSpy finished(&t, &RconTransport::requestFinished);

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(ask(t, "status"), QString("map: dm/mohdm6\r\n"));
        // The wait is fixed: an early answer does not shorten it.
        QVERIFY(clock.elapsed() >= kWait);
        QCOMPARE(started.count(), 1);
        QCOMPARE(finished.count(), 1);
        QVERIFY(!t.busy());

        QCOMPARE(ask(t, "silent"), QString("unknown command: silent\r\n"));
        server.setSilent("quiet");
        QCOMPARE(ask(t, "quiet"), QString());
        QCOMPARE(readLog(t), QByteArray("Rcon request: \r\nstatus\r\n"
                                        "Rcon output:\r\nmap: dm/mohdm6\r\n\r\n"
                                        "Rcon request: \r\nsilent\r\n"
                                        "Rcon output:\r\nunknown command: silent\r\n\r\n"
                                        "Rcon request: \r\nquiet\r\n"
                                        "Rcon output:\r\n\r\n"));
        t.resetActivityLog();
        QCOMPARE(readLog(t), QByteArray());
    }

    void busyWhileWaiting()
    {
        GameServerDouble server;
        RconTransport t(nullptr, kWait);
        t.setActivityLogPath(dir.filePath("activity2.log"));
        t.setTarget(targetOf(server));
        bool done = false;
        t.request("status", [&](const QString&) { done = true; });
        QVERIFY(t.busy());
        QTest::qWait(kWait / 3);
        QVERIFY(t.busy());
        QVERIFY(!done);
        QTRY_VERIFY(done);
        QVERIFY(!t.busy());
    }

    void wholeAnswerOverSeveralDatagrams()
    {
        GameServerDouble server;
        QByteArray table = "map: dm/mohdm6\nnum score ping name\n---\n";
        for (int i = 0; i < 20; ++i)
            table += QByteArray::number(i) + "     0   50 Player Number " + QByteArray::number(i) + " 0 10.0.0." +
                     QByteArray::number(i + 1) + ":12203 1234 25000\n";
        table += "\n";
        server.setReply("status", GameServerDouble::splitAnswer(table, 1000));
        QVERIFY(GameServerDouble::splitAnswer(table, 1000).size() >= 2);
        RconTransport t(nullptr, kWait);
        t.setActivityLogPath(dir.filePath("activity3.log"));
        t.setTarget(targetOf(server));
        QCOMPARE(ask(t, "status"), QString::fromLatin1(table).replace("\n", "\r\n"));
    }

    void lateDatagramsAreDropped()
    {
        GameServerDouble server;
        // The answer to "first" comes after its wait is over.
        server.setReply("first", {GameServerDouble::datagram("late\n", kWait + 60)});
        server.setSilent("second");
        RconTransport t(nullptr, kWait);
        t.setActivityLogPath(dir.filePath("activity4.log"));
        t.setTarget(targetOf(server));
        QCOMPARE(ask(t, "first"), QString());
        QCOMPARE(ask(t, "second"), QString());
    }

    // The answer is in the socket before the wait ends, but the event loop is
    // held up past the wait (a slow disk write, a busy machine): both the
    // socket and the timer are due when it runs again, and the answer counts.
    void answerWaitingWhenTheWaitEndsCounts()
    {
        GameServerDouble server;
        server.setReply("status", {GameServerDouble::datagram("in time\n")});
        RconTransport t(nullptr, kWait);
        t.setActivityLogPath(dir.filePath("activity-held.log"));
        t.setTarget(targetOf(server));
        connect(&server, &GameServerDouble::datagramReceived, this, [] { QThread::msleep(kWait + 80); });
        QCOMPARE(ask(t, "status"), QString("in time\r\n"));
        QCOMPARE(t.unansweredCount(), 0);
    }

    // A datagram from anyone but the server asked, while a request waits, is no answer.
    void foreignDatagramsAreDropped_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<bool>("serverPort");
        QTest::newRow("server's host, other port") << "127.0.0.1" << false;
        QTest::newRow("other host, server's port") << "127.0.0.2" << true;
    }
    void foreignDatagramsAreDropped()
    {
        QFETCH(QString, from);
        QFETCH(bool, serverPort);
        GameServerDouble server;
        server.setSilent("second");
        RconTransport t(nullptr, kWait * 3);
        t.setActivityLogPath(dir.filePath("activity4.log"));
        t.setTarget(targetOf(server));
        bool done = false;
        QString answer;
        t.request("second", [&](const QString& a) {
            answer = a;
            done = true;
        });
        QTRY_VERIFY(server.received().size() == 1);
        QUdpSocket stranger;
        QVERIFY(stranger.bind(QHostAddress(from), serverPort ? server.port() : 0));
        QVERIFY(stranger.writeDatagram(GameServerDouble::answer("spoofed\n"), QHostAddress::LocalHost,
                                       server.received().last().fromPort) > 0);
        QTRY_VERIFY(done);
        QCOMPARE(answer, QString());
    }

    void requestsQueueInOrder()
    {
        // While a request waits, a timer and a button each ask for one: all three
        // go out in the order asked, each after the previous wait, and all finish.
        GameServerDouble server;
        RconTransport t(nullptr, kWait);
        t.setActivityLogPath(dir.filePath("activity5.log"));
        t.setTarget(targetOf(server));
        QStringList finished;
        QElapsedTimer clock;
        clock.start();
        QList<qint64> sentAt;
        connect(&t, &RconTransport::requestStarted, this, [&] { sentAt << clock.elapsed(); });
        TaskKeeper keeper;
        auto caller = [&](QString cmd) -> Task<> {
            QString a = co_await t.send(cmd);
            finished << cmd;
            // A caller that got its answer asks again; it queues behind the others.
            if (cmd == "pass")
                co_await t.send("pass2");
            if (cmd == "pass")
                finished << "pass2";
        };
        keeper.keep(caller("pass"));
        QTimer::singleShot(kWait / 4, [&] { keeper.keep(caller("timer")); });
        QTimer::singleShot(kWait / 2, [&] { keeper.keep(caller("button")); });
        QTRY_VERIFY_WITH_TIMEOUT(keeper.idle(), 5000);
        QCOMPARE(server.commands(), (QStringList{"pass", "timer", "button", "pass2"}));
        QCOMPARE(finished, (QStringList{"pass", "timer", "button", "pass2"}));
        // Timed where they go out: a stall of this process (a busy disk) can
        // only push a send later, never bring it closer to the one before.
        QCOMPARE(sentAt.size(), 4);
        for (int i = 1; i < sentAt.size(); ++i)
            QVERIFY2(sentAt[i] - sentAt[i - 1] >= kWait - 2, "requests overlapped");
    }

    void badTargetsEndAfterTheWait_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port");
        QTest::newRow("port not a number") << "127.0.0.1"
                                           << "abc";
        QTest::newRow("port zero") << "127.0.0.1"
                                   << "0";
        QTest::newRow("port too large") << "127.0.0.1"
                                        << "70000";
        QTest::newRow("empty host") << ""
                                    << "12203";
        QTest::newRow("unknown host name") << "no-such-host.invalid"
                                           << "12203";
    }
    void badTargetsEndAfterTheWait()
    {
        QFETCH(QString, host);
        QFETCH(QString, port);
        RconTransport t(nullptr, kWait);
        t.setActivityLogPath(dir.filePath("activity6.log"));
        t.setTarget({host, port, "pw"});
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(ask(t, "status"), QString());
        QVERIFY(clock.elapsed() < 3000);
        QVERIFY(!t.busy());
    }

    void hostNameIsResolved()
    {
        GameServerDouble server;
        server.setReply("status", {GameServerDouble::datagram("ok\n")});
        RconTransport t(nullptr, kWait);
        t.setActivityLogPath(dir.filePath("activity7.log"));
        t.setTarget({"localhost", server.portText(), server.password()});
        QCOMPARE(ask(t, "status"), QString("ok\r\n"));
    }

    void destroyedCallerCancelsItsRequest()
    {
        GameServerDouble server;
        RconTransport t(nullptr, kWait);
        t.setActivityLogPath(dir.filePath("activity8.log"));
        t.setTarget(targetOf(server));
        bool resumed = false;
        auto caller = [&](QString cmd) -> Task<> {
            co_await t.send(cmd);
            resumed = true;
        };
        Task<> first = caller("one");
        {
            Task<> second = caller("two");  // queued, then dropped before it goes out
        }
        first = Task<>();  // in flight: its wait runs out, nobody is resumed
        QTest::qWait(kWait * 3);
        QVERIFY(!resumed);
        QCOMPARE(server.commands(), QStringList{"one"});
        QVERIFY(!t.busy());
    }

    void pacingStaysUnderTheServersLimit_data()
    {
        QTest::addColumn<bool>("paced");
        QTest::newRow("paced") << true;
        QTest::newRow("not paced: the double drops") << false;
    }
    void pacingStaysUnderTheServersLimit()
    {
        // 25 requests back to back, every third one a getstatus, each from a
        // fresh port: the limit is per address and shared by both kinds.
        QFETCH(bool, paced);
        constexpr int kPeriod = 80;
        constexpr int kShortWait = 15;
        constexpr int kRequests = 25;
        GameServerDouble server;
        server.setRateLimit(kPeriod);
        server.setReply("getstatus", {GameServerDouble::datagram("\\mapname\\dm/mohdm6\n")});
        server.setReply("status", {GameServerDouble::datagram("map: dm/mohdm6\n")});
        RconTransport t(nullptr, kShortWait);
        t.setActivityLogPath(dir.filePath("activity10.log"));
        t.setTarget(targetOf(server));
        t.setPacingForTests(paced ? Pacing{10, kPeriod} : Pacing{0, 0});
        int answered = 0;
        for (int i = 0; i < kRequests; ++i)
            t.request(i % 3 == 2 ? "getstatus" : "status", [&](const QString& a) { answered += !a.isEmpty(); });
        QTRY_VERIFY_WITH_TIMEOUT(!t.busy() && t.queued() == 0, 10000);
        QCOMPARE(server.received().size(), kRequests);
        if (!paced) {
            QVERIFY(server.droppedCount() > 0);
            QCOMPARE(answered, kRequests - server.droppedCount());
            return;
        }
        QCOMPARE(server.droppedCount(), 0);
        QCOMPARE(answered, kRequests);
        const auto& rec = server.received();
        // The burst goes out at the answer window's pace, far faster than one
        // per period; the bound leaves room for a stalled moment or two.
        QVERIFY2(rec[9].atMs - rec[0].atMs < 5 * kPeriod, "the burst was paced");
        // Beyond the burst, one per period (a late tick may earn two at once).
        QVERIFY(rec.last().atMs - rec[9].atMs >= (kRequests - 11) * kPeriod);
    }

    // A server whose clock runs 2 % slow earns its tokens 2 % later than our
    // clock says. Unlike the jitter of one send, that adds up over a long run
    // until a pacing without its margin sends into a full bucket (here from
    // about the 16th request on); the margin absorbs it.
    void pacingAllowsForASlowServerClock()
    {
        constexpr int kPeriod = 300;
        constexpr int kServerPeriod = 306;
        constexpr int kShortWait = 2;
        constexpr int kRequests = 30;
        GameServerDouble server;
        server.setRateLimit(kServerPeriod);
        server.setReply("status", {GameServerDouble::datagram("map: dm/mohdm6\n")});
        RconTransport t(nullptr, kShortWait);
        t.setActivityLogPath(dir.filePath("activity14.log"));
        t.setTarget(targetOf(server));
        t.setPacingForTests({10, kPeriod});
        int answered = 0;
        int finished = 0;
        // A running event loop, not QTest::qWait, which sleeps between its
        // looks: each send it let out late would give the slow server back
        // the time it fell behind.
        QEventLoop loop;
        for (int i = 0; i < kRequests; ++i) {
            t.request("status", [&](const QString& a) {
                answered += !a.isEmpty();
                if (++finished == kRequests)
                    loop.quit();
            });
        }
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        loop.exec();
        QCOMPARE(finished, kRequests);
        QCOMPARE(server.received().size(), kRequests);
        QCOMPARE(server.droppedCount(), 0);
        QCOMPARE(answered, kRequests);
    }

    // Text that reads to the end of its line: comment marks go out quoted.
    void rconArgumentText_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("plain") << "Big Name was kicked"
                               << "Big Name was kicked";
        QTest::newRow("one slash") << "a/b / c"
                                   << "a/b / c";
        QTest::newRow("line comment") << "Ev//il was kicked"
                                      << "\"Ev//il was kicked\"";
        QTest::newRow("block comment") << "A/*b"
                                       << "\"A/*b\"";
        QTest::newRow("quotes cannot close it early") << "x\"//;quit"
                                                      << "\"x//quit\"";
    }
    void rconArgumentText()
    {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(rconArgument(in), out);
    }

    void silentReadIsAskedOnceMore_data()
    {
        QTest::addColumn<bool>("read");
        QTest::addColumn<int>("silentTries");  // the server's first answers that are lost
        QTest::addColumn<int>("sent");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("unanswered");
        QTest::newRow("read answered at once") << true << 0 << 1 << "ok\r\n" << 0;
        QTest::newRow("read answered the second time") << true << 1 << 2 << "ok\r\n" << 0;
        QTest::newRow("read silent twice") << true << 2 << 2 << "" << 1;
        QTest::newRow("command silent: never repeated") << false << 1 << 1 << "" << 1;
    }
    void silentReadIsAskedOnceMore()
    {
        QFETCH(bool, read);
        QFETCH(int, silentTries);
        QFETCH(int, sent);
        QFETCH(QString, answer);
        QFETCH(int, unanswered);
        GameServerDouble server;
        for (int i = 0; i < silentTries; ++i)
            server.queueReply("status", {});
        server.setReply("status", {GameServerDouble::datagram("ok\n")});
        RconTransport t(nullptr, kWait);
        t.setActivityLogPath(dir.filePath("activity11.log"));
        QSignalSpy lost(&t, &RconTransport::readUnanswered);
        QString got = "not yet";
        TaskKeeper keeper;
        auto caller = [&]() -> Task<> {
            if (read)
                got = co_await t.read("status", targetOf(server));
            else
                got = co_await t.send("status", targetOf(server));
        };
        keeper.keep(caller());
        QTRY_VERIFY_WITH_TIMEOUT(keeper.idle(), 5000);
        QCOMPARE(got, answer);
        QCOMPARE(server.commands(), QStringList(sent, "status"));
        QCOMPARE(t.unansweredCount(), unanswered);
        QCOMPARE(lost.count(), read ? unanswered : 0);
        if (!lost.isEmpty())
            QCOMPARE(lost.first().first().toString(), QString("status"));
    }

    void anEmptyPrintIsAnAnswer_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<int>("sent");
        // "set" answers with a bare print, and so does OpenMoHAA for an unset
        // variable: no second try, nothing lost. Only silence is no answer.
        QTest::newRow("set") << "set x 1" << true << 1;
        QTest::newRow("unset variable") << "nothing_here" << true << 1;
        QTest::newRow("silence") << "silent" << false << 2;
    }
    void anEmptyPrintIsAnAnswer()
    {
        QFETCH(QString, command);
        QFETCH(bool, answered);
        QFETCH(int, sent);
        GameServerDouble server;
        server.setDialect(GameServerDouble::Dialect::OpenMohaa);
        server.setSilent("silent");
        RconTransport t(nullptr, kWait);
        t.setActivityLogPath(dir.filePath("activity12.log"));
        QSignalSpy lost(&t, &RconTransport::readUnanswered);
        Reply got{"not yet", !answered};
        TaskKeeper keeper;
        auto caller = [&]() -> Task<> { got = co_await t.read(command, targetOf(server)); };
        keeper.keep(caller());
        QTRY_VERIFY_WITH_TIMEOUT(keeper.idle(), 5000);
        QCOMPARE(got.answered, answered);
        QCOMPARE(got.text, QString());
        QCOMPARE(server.commands(), QStringList(sent, command));
        QCOMPARE(t.unansweredCount(), answered ? 0 : 1);
        QCOMPARE(lost.count(), answered ? 0 : 1);
    }

    // The framing with a blank after the type byte: the engines take the
    // password for the command, run nothing and answer an empty print.
    void blankAfterTheTypeByteRunsNothing()
    {
        GameServerDouble server;
        server.setDialect(GameServerDouble::Dialect::OpenMohaa);
        QUdpSocket client;
        QVERIFY(client.bind(QHostAddress(QHostAddress::LocalHost), 0));
        client.writeDatagram(QByteArray("\xFF\xFF\xFF\xFF\x02", 5) + " rcon secret set x 1",
                             QHostAddress(server.host()), server.port());
        QTRY_VERIFY(client.hasPendingDatagrams());
        QCOMPARE(client.receiveDatagram().data(), QByteArray("\xFF\xFF\xFF\xFF\x01print\n", 11));
        QCOMPARE(server.commands(), QStringList{"secret set x 1"});
        QVERIFY(!server.hasVariable("x"));
    }

    void doubleAnswersLikeTheEngines_data()
    {
        QTest::addColumn<GameServerDouble::Dialect>("dialect");
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QStringList>("answers");
        QTest::newRow("ioquake3") << GameServerDouble::Dialect::Engine
                                  << QStringList{"set x 5", "x", "set x 6", "x", "y", "dumpuser \"Bob"}
                                  << QStringList{"",
                                                 "\"x\" is:\"5^7\", the default\r\n",
                                                 "",
                                                 "\"x\" is:\"6^7\" default:\"5^7\"\r\n",
                                                 "unknown command: y\r\n",
                                                 "Player Bob is not on the server\r\n"};
        QTest::newRow("OpenMoHAA") << GameServerDouble::Dialect::OpenMohaa
                                   << QStringList{"set x 5", "x", "set x 6", "x", "y", "dumpuser \"Bob"}
                                   << QStringList{"", "\"x\" is:\"5\", the default\r\n",
                                                  "", "\"x\" is:\"6\" default:\"5\"\r\n",
                                                  "", "Player Bob is not on the server\r\n"};
        QTest::newRow("original") << GameServerDouble::Dialect::Original << QStringList{"set x 5", "x", "y"}
                                  << QStringList{"", "\"x\" is:\"5\" default:\"\"\r\n", "Unknown command \"y\"\r\n"};
    }
    void doubleAnswersLikeTheEngines()
    {
        QFETCH(GameServerDouble::Dialect, dialect);
        QFETCH(QStringList, commands);
        QFETCH(QStringList, answers);
        GameServerDouble server;
        server.setDialect(dialect);
        RconTransport t(nullptr, kWait);
        t.setActivityLogPath(dir.filePath("activity13.log"));
        t.setTarget(targetOf(server));
        QStringList got;
        for (const QString& c : commands)
            got << ask(t, c);
        QCOMPARE(got, answers);
    }

    void engineAnswerIsCutAtLineEnds()
    {
        QByteArray text;
        for (int i = 0; i < 40; ++i)
            text += "row " + QByteArray::number(i) + " " + QByteArray(40, 'x') + "\n";
        const QByteArray longLine(2500, 'y');
        const GameServerDouble::Reply reply = GameServerDouble::engineAnswer(text + longLine);
        QByteArray joined;
        for (int i = 0; i < reply.size(); ++i) {
            const QByteArray& d = reply[i].bytes;
            QVERIFY(d.startsWith("\xFF\xFF\xFF\xFF\x01print\n"));
            QVERIFY(d.size() - 11 <= 1007);
            if (i == 0)
                QVERIFY(d.endsWith('\n'));  // a whole line that fits is never cut
            joined += d.mid(11);
        }
        QCOMPARE(joined, text + longLine);
        QCOMPARE(reply.size(), 5);                               // 1880 bytes of rows in two, the long line in three
        QCOMPARE(GameServerDouble::engineAnswer("").size(), 1);  // an empty print still goes out
    }

    void shutdownAnswersWaitingCallers()
    {
        GameServerDouble server;
        RconTransport t(nullptr, kWait);
        t.setActivityLogPath(dir.filePath("activity9.log"));
        t.setTarget(targetOf(server));
        int answered = 0;
        t.request("one", [&](const QString&) { ++answered; });
        t.request("two", [&](const QString&) { ++answered; });
        t.shutdown();
        QTRY_COMPARE(answered, 2);
        QVERIFY(!t.busy());
        QCOMPARE(server.commands().size() <= 1, true);
    }
};

QTEST_GUILESS_MAIN(TestTransport)
#include "test_transport.moc"
