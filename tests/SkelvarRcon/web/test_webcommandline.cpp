// Where the web page listens: --web ADDRESS:PORT, the web key of
// rconskelvar.conf, and which of the two wins.
#include "SkelvarRcon/service/monitorcommandline.h"
#include "SkelvarRcon/service/monitorconfig.h"
#include "tests/support/files.h"

#include <QTemporaryDir>
#include <QTest>

using namespace skelvar::rcon;

class TestWebCommandLine : public QObject {
    Q_OBJECT

private slots:
    void webAddress_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("address");  // empty: refused
        QTest::addColumn<int>("port");
        QTest::newRow("port only") << "8080"
                                   << "127.0.0.1" << 8080;
        QTest::newRow("every address") << "0.0.0.0:80"
                                       << "0.0.0.0" << 80;
        QTest::newRow("IPv6") << "[::1]:8080"
                              << "::1" << 8080;
        QTest::newRow("localhost") << "localhost:9000"
                                   << "127.0.0.1" << 9000;
        QTest::newRow("highest port") << "127.0.0.1:65535"
                                      << "127.0.0.1" << 65535;
        QTest::newRow("port 0") << "0"
                                << "" << 0;
        QTest::newRow("port too big") << "127.0.0.1:65536"
                                      << "" << 0;
        QTest::newRow("no port") << "127.0.0.1:"
                                 << "" << 0;
        QTest::newRow("a name") << "monitor.example:80"
                                << "" << 0;
        QTest::newRow("IPv6 without brackets") << "::1:8080"
                                               << "" << 0;
        QTest::newRow("empty") << ""
                               << "" << 0;
    }
    void webAddress()
    {
        QFETCH(QString, text);
        QFETCH(QString, address);
        QFETCH(int, port);
        QHostAddress parsed;
        quint16 parsedPort = 0;
        QString error;
        QCOMPARE(web::parseWebAddress(text, &parsed, &parsedPort, &error), !address.isEmpty());
        if (address.isEmpty()) {
            QVERIFY(error.startsWith("--web: "));
            return;
        }
        QCOMPARE(parsed, QHostAddress(address));
        QCOMPARE(int(parsedPort), port);

        MonitorCommandLine line;
        QCOMPARE(readMonitorCommandLine({"RconSkelvar", "--headless", "--web", text}, &line), std::nullopt);
        QVERIFY(line.web);
        QCOMPARE(line.web->address, QHostAddress(address));
        QCOMPARE(int(line.web->port), port);
    }

    void aWrongWebAddressIsAUsageError()
    {
        MonitorCommandLine line;
        QCOMPARE(readMonitorCommandLine({"RconSkelvar", "--web", "70000"}, &line), std::optional<int>(2));
        MonitorCommandLine none;
        QCOMPARE(readMonitorCommandLine({"RconSkelvar", "--headless"}, &none), std::nullopt);
        QVERIFY(!none.web);
    }

    void webKeyOfTheConfigFile_data()
    {
        QTest::addColumn<QByteArray>("conf");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("listen");  // address:port, empty for no page
        QTest::addColumn<QString>("told");
        QTest::newRow("from the file") << QByteArray("web = 0.0.0.0:8081\n") << QStringList() << "0.0.0.0:8081"
                                       << "";
        QTest::newRow("the command line wins")
            << QByteArray("web = 0.0.0.0:8081\n") << QStringList{"--web", "9090"} << "127.0.0.1:9090"
            << "";
        QTest::newRow("empty value") << QByteArray("web =\n") << QStringList() << ""
                                     << "";
        QTest::newRow("wrong value") << QByteArray("# page\nweb = everywhere:80\n") << QStringList() << ""
                                     << "line 2: --web: 'everywhere' is not an address";
        QTest::newRow("no file") << QByteArray() << QStringList() << ""
                                 << "";
    }
    void webKeyOfTheConfigFile()
    {
        QFETCH(QByteArray, conf);
        QFETCH(QStringList, arguments);
        QFETCH(QString, listen);
        QFETCH(QString, told);
        QTemporaryDir dir;
        if (!conf.isEmpty())
            skelvar::test::writeFile(dir.filePath("rconskelvar.conf"), conf);
        MonitorCommandLine line;
        QCOMPARE(
            readMonitorCommandLine(QStringList{"RconSkelvar", "--headless", "--config", dir.path()} + arguments, &line),
            std::nullopt);
        applyMonitorConfig(&line);
        QCOMPARE(line.web ? QStringLiteral("%1:%2").arg(line.web->address.toString()).arg(line.web->port) : QString(),
                 listen);
        QString messages;
        for (const StoreMessage& m : line.monitor.startMessages)
            messages += m.text;
        if (told.isEmpty())
            QCOMPARE(messages, QString());
        else
            QVERIFY2(messages.contains(told), qPrintable(messages));
    }
};

QTEST_GUILESS_MAIN(TestWebCommandLine)
#include "test_webcommandline.moc"
