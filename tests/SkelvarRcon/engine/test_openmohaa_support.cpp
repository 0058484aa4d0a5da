// The OpenMoHAA test support against the real engine: the server starts on the
// game data made in code and answers, clients that only connect are listed
// with their own addresses and user info, the level script runs the precache
// list, and a restart and a stop behave.

#include "tests/support/openmohaaclient.h"
#include "tests/support/openmohaapacket.h"
#include "tests/support/openmohaaserver.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTest>
#include <QUdpSocket>

#include <cerrno>
#include <csignal>
#include <memory>
#include <vector>

using skelvar::test::OpenMohaaClient;
using skelvar::test::OpenMohaaServer;

namespace {

const QByteArray kStatusHeader("num score ping name            lastmsg address               qport rate  \n"
                               "--- ----- ---- --------------- ------- --------------------- ----- ----- \n");

// A user info line of dumpuser: the key padded to 20 columns.
QByteArray infoLine(const QByteArray& key, const QByteArray& value)
{
    return key.leftJustified(20, ' ') + " : " + value + '\n';
}

// The status row that carries this address, "" when none does.
QByteArray rowOf(const QByteArray& status, const QString& address)
{
    for (const QByteArray& row : status.split('\n'))
        if (row.contains(' ' + address.toLatin1() + ' '))
            return row;
    return {};
}

// Every printable byte a name can carry: all but '"', '\' and '%'.
QByteArray everyPrintableByte()
{
    QByteArray name;
    for (char b = ' '; b <= '~'; ++b)
        if (!QByteArray("\"\\%").contains(b))
            name += b;
    return name;
}

bool processGone(qint64 pid)
{
    return ::kill(pid_t(pid), 0) == -1 && errno == ESRCH;
}

}  // namespace

class TestOpenMohaaSupport : public QObject {
    Q_OBJECT

    std::unique_ptr<OpenMohaaServer> m_server;
    std::vector<std::unique_ptr<OpenMohaaClient>> m_clients;
    QSet<int> m_numbers;

private slots:
    void initTestCase()
    {
        SKELVAR_REQUIRE_OPENMOHAA();
        m_server = std::make_unique<OpenMohaaServer>();
        m_server->setMaxClients(10);
        // A client may connect again at once (the engine waits 3 s by default).
        m_server->setVariable("sv_reconnectlimit", "0");
        QVERIFY(m_server->addFile("global/DMprecache.scr", "setcvar \"om_precache\" \"ran\"\n"));
        QElapsedTimer clock;
        clock.start();
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        const qint64 upMs = clock.elapsed();
        QVERIFY(m_server->ask("status").startsWith("map: omtest\n"));
        qInfo("server up after %lld ms, answering after %lld ms", upMs, clock.elapsed());
    }

    void serverAnswersStatusAndGetstatus()
    {
        QCOMPARE(m_server->ask("status"), "map: omtest\n" + kStatusHeader + '\n');
        const QList<QByteArray> status = m_server->query("getstatus");
        QCOMPARE(status.size(), 1);
        QVERIFY2(status.first().startsWith("\xFF\xFF\xFF\xFF\x01statusResponse\n\\"), status.first().constData());
        QVERIFY(status.first().contains("\\mapname\\omtest\\"));
        QVERIFY(status.first().contains("\\sv_maxclients\\10\\"));
        QVERIFY(!m_server->log().contains("Address already in use"));
    }

    void levelScriptRunsThePrecacheList()
    {
        // A variable the script made has its first value as its default.
        QCOMPARE(m_server->ask("om_precache"), QByteArray("\"om_precache\" is:\"ran\", the default\n"));
    }

    // Each row connects one more client; the earlier ones stay connected.
    void clientIsListedAtItsOwnAddress_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<QByteArray>("filler");
        QTest::newRow("blanks") << "127.0.0.3" << QByteArray("Big Bob") << QByteArray("american_ranger")
                                << QByteArray();
        QTest::newRow("colour code") << "127.0.0.4" << QByteArray("Ev^1e") << QByteArray("american_army")
                                     << QByteArray();
        QTest::newRow("plain") << "127.0.0.5" << QByteArray("Eve") << QByteArray("american_airborne") << QByteArray();
        QTest::newRow("case and colour twin")
            << "127.0.0.6" << QByteArray("ev^1E") << QByteArray("american_army") << QByteArray();
        QTest::newRow("digits") << "127.0.0.7" << QByteArray("0") << QByteArray("american_army") << QByteArray();
        // Many symbols new to the coder, so its tree grows and reorders often.
        // Each new one costs more than a byte, so it needs a long run of one
        // byte elsewhere (as a real client's many keys give) to stay shorter
        // than the text, or the engine would cut it.
        QTest::newRow("every printable byte")
            << "127.0.0.8" << everyPrintableByte() << QByteArray("american_army") << QByteArray(600, 'x');
        QTest::newRow("control and high bytes")
            << "127.0.0.9" << QByteArray("Tab\tBell\x07J\xF6rg\xFF\x80") << QByteArray("american_army") << QByteArray();
        // The server reads every packet line with '%' made '.'.
        QTest::newRow("percent") << "127.0.0.10" << QByteArray("100%") << QByteArray("american_army") << QByteArray();
    }
    void clientIsListedAtItsOwnAddress()
    {
        QFETCH(QString, source);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, model);
        QFETCH(QByteArray, filler);
        auto client = std::make_unique<OpenMohaaClient>(source, quint16(1000 + m_clients.size()), name);
        client->setUserInfo("dm_playermodel", model);
        client->setUserInfo("filler", filler);
        QString error;
        QVERIFY2(client->connectTo(m_server->port(), &error), qPrintable(error));

        const QByteArray status = m_server->ask("status");
        const QByteArray row = rowOf(status, client->address());
        QVERIFY2(!row.isEmpty(), status.constData());
        const QByteArray kept = QByteArray(name).replace('%', '.');
        // The server keeps a name's first 31 bytes for its table.
        QVERIFY2(row.contains(" CNCT " + kept.left(31) + ' '), row.constData());
        const int number = client->numberIn(status);
        QVERIFY(number >= 0);
        QVERIFY2(!m_numbers.contains(number), "two clients in one slot");

        const QByteArray user = m_server->ask(QStringLiteral("dumpuser %1").arg(number));
        QVERIFY2(user.startsWith("userinfo\n--------\n"), user.constData());
        // The user info's ip has no port, unlike the status table.
        QVERIFY2(user.contains(infoLine("ip", source.toLatin1())), user.constData());
        QVERIFY2(user.contains(infoLine("name", kept)), user.constData());
        QVERIFY2(user.contains(infoLine("dm_playermodel", model)), user.constData());
        m_numbers.insert(number);
        m_clients.push_back(std::move(client));
    }

    // How a test renames a player: the same client connects again.
    void clientConnectingAgainKeepsItsSlotUnderItsNewName()
    {
        QVERIFY(!m_clients.empty());
        OpenMohaaClient& client = *m_clients.front();
        const int number = client.numberIn(m_server->ask("status"));
        client.setName("Big Bobby");
        QString error;
        QVERIFY2(client.connectTo(m_server->port(), &error), qPrintable(error));
        const QByteArray status = m_server->ask("status");
        QCOMPARE(client.numberIn(status), number);
        QVERIFY2(rowOf(status, client.address()).contains(" CNCT Big Bobby "), status.constData());
        QCOMPARE(status.count(" CNCT "), qsizetype(m_clients.size()));
    }

    // What the server could not read is refused before it is sent.
    void clientRefusesUserInfoTheServerCannotRead_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("quote") << QByteArray("Say \"hi\"") << "the user info name cannot carry the byte 0x22";
        QTest::newRow("backslash") << QByteArray("a\\b") << "the user info name cannot carry the byte 0x5c";
        QTest::newRow("line feed") << QByteArray("two\nlines") << "the user info name cannot carry the byte 0x0a";
        QTest::newRow("too many new bytes")
            << everyPrintableByte() << "the info string is too short for the engine's compression";
    }
    void clientRefusesUserInfoTheServerCannotRead()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, reason);
        OpenMohaaClient client(QStringLiteral("127.0.0.11"), 1, name);
        QString error;
        QVERIFY(!client.connectTo(m_server->port(), &error));
        QCOMPARE(error, reason);
    }

    void restartAnswersOnTheSamePortAndStopEndsTheProcess()
    {
        OpenMohaaServer server;
        QVERIFY(server.addPrecacheStandIn());
        QString error;
        QVERIFY2(server.start(&error), qPrintable(error));
        // The stand-in compiles and runs without a word.
        QVERIFY2(!server.log().toLower().contains("dmprecache"), server.log().constData());
        const quint16 port = server.port();
        const qint64 first = server.processId();

        QVERIFY2(server.restart(&error), qPrintable(error));
        QCOMPARE(server.port(), port);
        QVERIFY(server.processId() != first);
        QVERIFY(processGone(first));
        QVERIFY(server.ask("status").startsWith("map: omtest\n"));

        const qint64 second = server.processId();
        server.stop();
        QVERIFY(!server.running());
        QVERIFY(processGone(second));
        QCOMPARE(server.ask("status"), QByteArray());
    }

    void mapTheEngineRefusesEndsTheStartWithItsError()
    {
        OpenMohaaServer server;
        QByteArray map = OpenMohaaServer::tinyMap();
        map[4] = 5;  // the version
        QVERIFY(server.addFile("maps/omtest.bsp", map));
        QElapsedTimer clock;
        clock.start();
        QString error;
        QVERIFY(!server.start(&error));
        QVERIFY2(error.contains("ERROR: CM_LoadMap: maps/omtest.bsp has wrong version number (5 should be between 17 "
                                "and 21)"),
                 qPrintable(error));
        QVERIFY(clock.elapsed() < OpenMohaaServer::kReadyTimeoutMs);
        QVERIFY(!server.running());
        QVERIFY(processGone(server.processId()));
    }

    void restartOnATakenPortSaysSo()
    {
        OpenMohaaServer server;
        QString error;
        QVERIFY2(server.start(&error), qPrintable(error));
        const quint16 port = server.port();
        server.stop();
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress(QHostAddress::LocalHost), port));

        QVERIFY(!server.restart(&error));
        QVERIFY2(error.contains(QStringLiteral("127.0.0.1:%1 was taken").arg(port)), qPrintable(error));
        QVERIFY(!server.running());
        QVERIFY(processGone(server.processId()));
    }

    void cleanupTestCase()
    {
        m_clients.clear();
        if (!m_server)
            return;
        const qint64 pid = m_server->processId();
        m_server.reset();
        QVERIFY(processGone(pid));
    }
};

QTEST_GUILESS_MAIN(TestOpenMohaaSupport)
#include "test_openmohaa_support.moc"
