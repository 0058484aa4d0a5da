// The web page's server against a running Monitor: nothing without a login,
// the session cookie and its end, the CSRF token on every change, the login
// throttle, the host check, the security headers on every answer, the page's
// files only, the size limit, the read-only API (status, players, lists with
// search and sort, the log's tail, viewers' masked addresses) and the live
// updates over a WebSocket.
#include "tests/SkelvarRcon/web/webrig.h"
#include "tests/support/files.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QNetworkRequest>
#include <QWebSocket>

using namespace skelvar;
using namespace skelvar::rcon;
using skelvar::test::HttpAnswer;
using skelvar::test::WebRig;

namespace {

QStringList names(const QJsonArray& rows, const char* key)
{
    QStringList out;
    for (const QJsonValue& v : rows)
        out << v.toObject().value(key).toString();
    return out;
}

}  // namespace

class TestWebServer : public QObject {
    Q_OBJECT

private slots:
    void nothingButTheLoginWithoutASession_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<int>("status");
        QTest::newRow("the page") << QByteArray("GET") << QByteArray("/") << 200;
        QTest::newRow("its script") << QByteArray("GET") << QByteArray("/app.js") << 200;
        for (const char* path : {"/api/session", "/api/status", "/api/players", "/api/state", "/api/lists/bans",
                                 "/api/log", "/api/console"})
            QTest::newRow(path) << QByteArray("GET") << QByteArray(path) << 401;
        QTest::newRow("logout") << QByteArray("POST") << QByteArray("/api/logout") << 401;
        QTest::newRow("an action") << QByteArray("POST") << QByteArray("/api/session/start") << 401;
    }
    void nothingButTheLoginWithoutASession()
    {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, path);
        QFETCH(int, status);
        WebRig rig;
        QCOMPARE(rig.request(method, path, method == "POST" ? "{}" : "").status, status);
        QVERIFY(!rig.monitor->session.running());
    }

    void loginSetsACookieAndLogoutEndsIt()
    {
        WebRig rig;
        const HttpAnswer refused = rig.request("POST", "/api/login", R"({"name":"ada","password":"wrong"})", {}, false);
        QCOMPARE(refused.status, 401);
        QVERIFY(!refused.headers.contains("set-cookie"));

        const HttpAnswer ok = rig.request("POST", "/api/login", R"({"name":"ada","password":"admin pw"})", {}, false);
        QCOMPARE(ok.status, 200);
        const QByteArray setCookie = ok.header("set-cookie");
        QVERIFY2(setCookie.startsWith("skelvar_session="), setCookie);
        for (const char* attribute : {"; Path=/", "; HttpOnly", "; SameSite=Strict"})
            QVERIFY2(setCookie.contains(attribute), attribute);
        QVERIFY(!setCookie.contains("Secure"));  // plain HTTP
        QCOMPARE(ok.json().value("role").toString(), QString("admin"));
        QVERIFY(ok.json().value("csrf").toString().size() >= 40);
        // The cookie's value is not the CSRF token.
        QVERIFY(!setCookie.contains(ok.json().value("csrf").toString().toLatin1()));

        QVERIFY(rig.login("ada", "admin pw") == 200);
        QCOMPARE(rig.get("/api/session").json().value("account").toString(), QString("ada"));
        const HttpAnswer out = rig.post("/api/logout");
        QCOMPARE(out.status, 200);
        QVERIFY(out.header("set-cookie").contains("Max-Age=0"));
        QCOMPARE(rig.get("/api/session").status, 401);

        // Over TLS at a reverse proxy on this machine the cookie is Secure.
        QCOMPARE(rig.login("ada", "admin pw", "X-Forwarded-Proto: https\r\n"), 200);
        QCOMPARE(rig.get("/api/status").status, 200);
        const QByteArray audit = rig.auditLog();
        QVERIFY2(audit.contains("\tada\t127.0.0.1\tlogin\trefused: wrong name or password\r\n"), audit);
        QVERIFY2(audit.contains("\tada\t127.0.0.1\tlogout\tok\r\n"), audit);
        QCOMPARE(audit.count("\tlogin\tok\r\n"), 3);
    }

    void secureCookieBehindTls()
    {
        WebRig rig;
        const HttpAnswer ok = rig.request("POST", "/api/login", R"({"name":"vic","password":"viewer pw"})",
                                          "X-Forwarded-Proto: https\r\n", false);
        QVERIFY(ok.header("set-cookie").endsWith("; Secure"));
    }

    void changesNeedTheSessionsToken_data()
    {
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<bool>("withToken");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<int>("status");
        const QByteArray json = "application/json";
        QTest::newRow("no token") << QByteArray() << false << json << 403;
        QTest::newRow("another token") << QByteArray("X-CSRF-Token: AAAA\r\n") << false << json << 403;
        QTest::newRow("a form's type") << QByteArray() << true << QByteArray("application/x-www-form-urlencoded")
                                       << 415;
        QTest::newRow("plain text") << QByteArray() << true << QByteArray("text/plain") << 415;
        QTest::newRow("another site's page") << QByteArray("Origin: http://evil.example\r\n") << true << json << 403;
        QTest::newRow("cross-site fetch") << QByteArray("Sec-Fetch-Site: cross-site\r\n") << true << json << 403;
        QTest::newRow("this page") << QByteArray("Origin: http://127.0.0.1:%PORT%\r\n") << true << json << 200;
        QTest::newRow("the proxy's name") << QByteArray("Origin: https://admin.example\r\n"
                                                        "X-Forwarded-Host: admin.example\r\n")
                                          << true << json << 200;
    }
    void changesNeedTheSessionsToken()
    {
        QFETCH(QByteArray, headers);
        QFETCH(bool, withToken);
        QFETCH(QByteArray, contentType);
        QFETCH(int, status);
        WebRig rig;
        rig.loginAdmin();
        headers.replace("%PORT%", QByteArray::number(rig.port()));
        QByteArray r = "POST /api/logout HTTP/1.1\r\nHost: " + rig.host() +
                       "\r\nCookie: skelvar_session=" + rig.cookie + "\r\nContent-Type: " + contentType +
                       "\r\nContent-Length: 2\r\n" + headers;
        if (withToken)
            r += "X-CSRF-Token: " + rig.csrf + "\r\n";
        QCOMPARE(test::rawHttp(rig.port(), r + "\r\n{}").status, status);
        // A refused logout leaves the session as it was.
        QCOMPARE(rig.get("/api/session").status, status == 200 ? 401 : 200);
    }

    void aSessionEndsWhenIdle()
    {
        WebRig rig;
        rig.loginViewer();
        rig.nowMs += 59000;
        QCOMPARE(rig.get("/api/status").status, 200);  // starts the idle time anew
        rig.nowMs += 59000;
        // The live poll keeps nothing alive.
        QCOMPARE(rig.get("/api/state").status, 200);
        rig.nowMs += 2000;
        QCOMPARE(rig.get("/api/state").status, 401);
        QCOMPARE(rig.get("/api/status").status, 401);
    }

    // --web-user run while the monitor runs: a new password, another role or
    // a removed account ends that account's sessions at their next request.
    void aChangedAccountEndsItsSessions_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("adminKept");
        QTest::addColumn<bool>("viewerKept");
        QTest::newRow("admin's new password") << "password" << false << true;
        QTest::newRow("admin made viewer") << "role" << false << true;
        QTest::newRow("admin removed") << "remove" << false << true;
        QTest::newRow("file removed") << "file" << false << false;
        QTest::newRow("another account added") << "add" << true << true;
    }
    void aChangedAccountEndsItsSessions()
    {
        QFETCH(QString, change);
        QFETCH(bool, adminKept);
        QFETCH(bool, viewerKept);
        WebRig rig;
        rig.loginViewer();
        const QByteArray viewerCookie = rig.cookie;
        rig.loginAdmin();
        const QByteArray adminCookie = rig.cookie;
        QCOMPARE(rig.get("/api/session").status, 200);

        const QString path = rig.dir.filePath(web::Accounts::fileName());
        QTest::qWait(20);  // a later modification time than the file's first one
        web::Accounts accounts;
        QVERIFY(accounts.load(path));
        QString error;
        const int rounds = web::Accounts::kMinimumRounds;
        if (change == "password")
            accounts.set(WebRig::kAdmin, web::Role::Admin, "new pw", &error, rounds);
        else if (change == "role")
            accounts.set(WebRig::kAdmin, web::Role::Viewer, WebRig::kAdminPassword, &error, rounds);
        else if (change == "add")
            accounts.set("eve", web::Role::Admin, "eve pw", &error, rounds);
        if (change == "remove") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QByteArray kept;
            for (const QByteArray& line : f.readAll().split('\n'))
                if (!line.isEmpty() && !line.startsWith(QByteArray(WebRig::kAdmin) + ':'))
                    kept += line + '\n';
            f.close();
            test::writeFile(path, kept);
        } else if (change == "file") {
            QVERIFY(QFile::remove(path));
        } else {
            QVERIFY(accounts.save(path));
        }

        rig.cookie = adminCookie;
        QCOMPARE(rig.get("/api/session").status, adminKept ? 200 : 401);
        rig.cookie = viewerCookie;
        QCOMPARE(rig.get("/api/session").status, viewerKept ? 200 : 401);
    }

    void failedLoginsRefuseTheAddress()
    {
        WebRig rig;
        const QByteArray from = "X-Forwarded-For: 198.51.100.7\r\n";
        for (int i = 0; i < 4; ++i)
            QCOMPARE(rig.login("ada", "guess", from), 401);
        // A success in between starts the count anew.
        QCOMPARE(rig.login("ada", "admin pw", from), 200);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(rig.login("ada", "guess", from), 401);
        // Now even the right password is refused, and so is every other request.
        const HttpAnswer refused =
            rig.request("POST", "/api/login", R"({"name":"ada","password":"admin pw"})", from, false);
        QCOMPARE(refused.status, 429);
        QCOMPARE(refused.header("retry-after"), QByteArray("120"));
        QCOMPARE(rig.request("GET", "/", {}, from).status, 429);
        // Another address is not refused.
        QCOMPARE(rig.login("ada", "admin pw", "X-Forwarded-For: 198.51.100.8\r\n"), 200);
        QCOMPARE(rig.login("ada", "admin pw"), 200);
        rig.nowMs += 120000;
        QCOMPARE(rig.login("ada", "admin pw", from), 200);
        QCOMPARE(rig.auditLog().count("198.51.100.7\tlogin\trefused"), 9);
    }

    void hostHeader_data()
    {
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<int>("status");
        QTest::newRow("its address") << QByteArray("127.0.0.1:%PORT%") << 200;
        QTest::newRow("localhost") << QByteArray("localhost:%PORT%") << 200;
        QTest::newRow("IPv6 loopback") << QByteArray("[::1]:%PORT%") << 200;
        QTest::newRow("a given name") << QByteArray("admin.example") << 200;
        QTest::newRow("a rebound name") << QByteArray("attacker.example:%PORT%") << 421;
        QTest::newRow("localhost's lookalike") << QByteArray("localhost.attacker.example") << 421;
        QTest::newRow("empty") << QByteArray() << 421;
    }
    void hostHeader()
    {
        QFETCH(QByteArray, host);
        QFETCH(int, status);
        web::WebOptions options;
        options.hostNames = QStringList{"admin.example"};
        WebRig rig({}, options);
        host.replace("%PORT%", QByteArray::number(rig.port()));
        QCOMPARE(test::rawHttp(rig.port(), "GET / HTTP/1.1\r\nHost: " + host + "\r\n\r\n").status, status);
    }

    void everyAnswerForbidsFramesAndInlineScript_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("path");
        QTest::newRow("page") << QByteArray("GET") << QByteArray("/");
        QTest::newRow("api") << QByteArray("GET") << QByteArray("/api/status");
        QTest::newRow("not found") << QByteArray("GET") << QByteArray("/nothing");
        QTest::newRow("refused") << QByteArray("POST") << QByteArray("/api/logout");
    }
    void everyAnswerForbidsFramesAndInlineScript()
    {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, path);
        WebRig rig;
        rig.loginViewer();
        rig.csrf.clear();
        const HttpAnswer a = rig.request(method, path, method == "POST" ? "{}" : "");
        QVERIFY(a.status != 0);
        QCOMPARE(a.header("x-frame-options"), QByteArray("DENY"));
        QCOMPARE(a.header("x-content-type-options"), QByteArray("nosniff"));
        const QByteArray csp = a.header("content-security-policy");
        for (const char* part : {"default-src 'none'", "script-src 'self';", "frame-ancestors 'none'"})
            QVERIFY2(csp.contains(part), csp);
        QVERIFY2(!csp.contains("unsafe"), csp);
        QCOMPARE(a.header("cache-control"), QByteArray("no-store"));
    }

    void onlyThePagesOwnFiles_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");
        QTest::newRow("the page") << QByteArray("GET /") << 200;
        QTest::newRow("the accounts") << QByteArray("GET /webaccounts.txt") << 404;
        QTest::newRow("up a folder") << QByteArray("GET /../webaccounts.txt") << 404;
        QTest::newRow("up, encoded") << QByteArray("GET /%2e%2e/%2e%2e/etc/passwd") << 404;
        QTest::newRow("the resource's name") << QByteArray("GET /:/web/index.html") << 404;
        QTest::newRow("a folder") << QByteArray("GET /web/") << 404;
        QTest::newRow("a post") << QByteArray("POST /") << 405;
    }
    void onlyThePagesOwnFiles()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, status);
        WebRig rig;
        const HttpAnswer a =
            test::rawHttp(rig.port(), request + " HTTP/1.1\r\nHost: " + rig.host() + "\r\nContent-Length: 0\r\n\r\n");
        QCOMPARE(a.status, status);
        if (status == 200) {
            QVERIFY(a.header("content-type").startsWith("text/html"));
            QVERIFY(a.body.contains("app.js"));
        }
    }

    void aHugeRequestIsRefused()
    {
        WebRig rig;
        rig.loginAdmin();
        rig.monitor->lists.bans().add({"10.0.0.1", "n", "r", "2026-01-01", ""});
        const QByteArray bans = test::readFile(rig.dir.filePath("bans.lst"));
        const QByteArray body = "{\"ip\":\"" + QByteArray(300 * 1024, '1') + "\"}";
        const HttpAnswer a = rig.request("POST", "/api/bans", body);
        QCOMPARE(a.status, 413);
        QVERIFY(a.closed);
        QCOMPARE(rig.monitor->lists.bans().size(), 1);
        // Headers that claim more than the limit without sending it are refused as well.
        QCOMPARE(rig.request("GET", "/api/status").status, 200);
    }

    // A client that sends a request a byte at a time, or nothing, does not
    // hold its connection for ever.
    void slowAndSilentConnectionsAreClosed_data()
    {
        QTest::addColumn<QByteArray>("dribble");  // sent a byte every 50 ms
        QTest::addColumn<int>("status");          // 0: closed without an answer
        QTest::newRow("silent") << QByteArray() << 0;
        QTest::newRow("slow headers") << QByteArray("GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ") +
                                             QByteArray(100, 'a')
                                      << 408;
    }
    void slowAndSilentConnectionsAreClosed()
    {
        QFETCH(QByteArray, dribble);
        QFETCH(int, status);
        web::WebOptions quick;
        quick.requestMs = 500;
        quick.connectionIdleMs = 500;
        WebRig rig({}, quick);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, rig.port());
        QVERIFY(socket.waitForConnected(2000));
        QByteArray answer;
        QElapsedTimer timer;
        timer.start();
        qsizetype sent = 0;
        while (socket.state() == QAbstractSocket::ConnectedState && timer.elapsed() < 4000) {
            if (sent < dribble.size() && timer.elapsed() >= sent * 50)
                socket.write(dribble.mid(sent++, 1));
            QTest::qWait(10);
            answer += socket.readAll();
        }
        answer += socket.readAll();
        QCOMPARE(socket.state(), QAbstractSocket::UnconnectedState);
        QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(answer.split(' ').value(1).toInt(), status);
        // A request in good time on a new connection is answered as ever.
        QCOMPARE(rig.get("/api/status").status, 401);
    }

    void statusAndPlayers()
    {
        WebRig rig;
        rig.monitor->players.add({"3", "48", "<b>Big</b> Name", "10.1.2.3", "25000", "allied_pilot", "german_scout"});
        rig.monitor->players.add({"5", "120", "Eve", "[2001:db8::7]", "25000", "", ""});
        rig.loginAdmin();
        const QJsonObject status = rig.get("/api/status").json();
        QCOMPARE(status.value("state").toString(), QString("Server not running!"));
        QCOMPARE(status.value("running").toBool(), false);
        QCOMPARE(status.value("answering").toBool(), true);
        const QJsonArray players = rig.get("/api/players").json().value("players").toArray();
        QCOMPARE(players.size(), 2);
        const QJsonObject big = players.at(0).toObject();
        QCOMPARE(big.value("name").toString(), QString("<b>Big</b> Name"));  // text, as the player wrote it
        QCOMPARE(big.value("ip").toString(), QString("10.1.2.3"));
        QCOMPARE(big.value("axisSkin").toString(), QString("german_scout"));
        QCOMPARE(big.value("ping").toString(), QString("48"));

        rig.loginViewer();
        const QJsonArray masked = rig.get("/api/players").json().value("players").toArray();
        QCOMPARE(names(masked, "ip"), (QStringList{"10.1.*.*", "[2001:*]"}));
        QCOMPARE(names(masked, "name"), (QStringList{"<b>Big</b> Name", "Eve"}));
        QCOMPARE(rig.get("/api/console").status, 403);
    }

    void listsWithSearchAndSort_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<bool>("viewer");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("matched");
        QTest::newRow("all, by address") << QByteArray("") << false << QStringList{"bob", "Carl", "al", "dora"} << 4;
        QTest::newRow("by name") << QByteArray("?sort=name") << false << QStringList{"al", "bob", "Carl", "dora"} << 4;
        QTest::newRow("by name, descending")
            << QByteArray("?sort=name&order=desc") << false << QStringList{"dora", "Carl", "bob", "al"} << 4;
        QTest::newRow("by until") << QByteArray("?sort=until") << false << QStringList{"bob", "dora", "Carl", "al"}
                                  << 4;
        QTest::newRow("name search, any case") << QByteArray("?search=CAR") << false << QStringList{"Carl"} << 1;
        QTest::newRow("address search") << QByteArray("?search=10.1.") << false << QStringList{"bob", "Carl"} << 2;
        QTest::newRow("page") << QByteArray("?sort=name&offset=1&limit=2") << false << QStringList{"bob", "Carl"} << 4;
        QTest::newRow("viewer searches what shows") << QByteArray("?search=10.1.2.3") << true << QStringList{} << 0;
        QTest::newRow("viewer, masked part") << QByteArray("?search=10.1.") << true << QStringList{"bob", "Carl"} << 2;
    }
    void listsWithSearchAndSort()
    {
        QFETCH(QByteArray, query);
        QFETCH(bool, viewer);
        QFETCH(QStringList, names);
        QFETCH(int, matched);
        WebRig rig;
        RecordList& bans = rig.monitor->lists.bans();
        bans.add({"10.1.2.3", "bob", "r", "2026-01-02", ""});
        bans.add({"10.1.9.9", "Carl", "r", "2026-01-03", "2027-01-01"});
        bans.add({"172.16.0.1", "al", "r", "2026-01-01", "2028-01-01"});
        bans.add({"192.168.xxx.xxx", "dora", "r", "2026-01-04", ""});
        viewer ? rig.loginViewer() : rig.loginAdmin();
        const QJsonObject answer = rig.get("/api/lists/bans" + query).json();
        QCOMPARE(::names(answer.value("records").toArray(), "name"), names);
        QCOMPARE(answer.value("matched").toInt(), matched);
        QCOMPARE(answer.value("total").toInt(), 4);
        if (viewer && !names.isEmpty())
            QCOMPARE(::names(answer.value("records").toArray(), "ip"), (QStringList{"10.1.*.*", "10.1.*.*"}));
    }

    void badQueriesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<int>("status");
        QTest::newRow("unknown list") << QByteArray("/api/lists/friends") << 404;
        QTest::newRow("unknown column") << QByteArray("/api/lists/bans?sort=password") << 400;
        QTest::newRow("until of warnings") << QByteArray("/api/lists/warnings?sort=until") << 400;
        QTest::newRow("order") << QByteArray("/api/lists/kicks?order=up") << 400;
        QTest::newRow("limit 0") << QByteArray("/api/lists/kicks?limit=0") << 400;
        QTest::newRow("limit too big") << QByteArray("/api/lists/kicks?limit=100000") << 400;
        QTest::newRow("negative offset") << QByteArray("/api/lists/kicks?offset=-1") << 400;
        QTest::newRow("log lines") << QByteArray("/api/log?lines=0") << 400;
        QTest::newRow("log lines, word") << QByteArray("/api/log?lines=all") << 400;
        QTest::newRow("unknown call") << QByteArray("/api/secrets") << 404;
    }
    void badQueriesAreRefused()
    {
        QFETCH(QByteArray, path);
        QFETCH(int, status);
        WebRig rig;
        rig.loginAdmin();
        QCOMPARE(rig.get(path).status, status);
    }

    void logTail()
    {
        WebRig rig;
        QByteArray log;
        for (int i = 1; i <= 150; ++i)
            log += "2026-03-01 09:00:00 line " + QByteArray::number(i) + " Player: Bob (10.1.2.3)\r\n";
        test::writeFile(rig.dir.filePath("skelvar.log"), log);
        rig.loginAdmin();
        QJsonArray lines = rig.get("/api/log").json().value("lines").toArray();
        QCOMPARE(lines.size(), 100);
        QCOMPARE(lines.first().toString(), QString("2026-03-01 09:00:00 line 51 Player: Bob (10.1.2.3)"));
        QCOMPARE(lines.last().toString(), QString("2026-03-01 09:00:00 line 150 Player: Bob (10.1.2.3)"));
        QCOMPARE(rig.get("/api/log?lines=3").json().value("lines").toArray().size(), 3);
        rig.loginViewer();
        lines = rig.get("/api/log?lines=1").json().value("lines").toArray();
        QCOMPARE(lines.first().toString(), QString("2026-03-01 09:00:00 line 150 Player: Bob (10.1.*.*)"));
    }

    void masking_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("masked");
        QTest::newRow("address") << "10.1.2.3"
                                 << "10.1.*.*";
        QTest::newRow("pattern") << "10.1.xxx.xxx"
                                 << "10.1.*.*";
        QTest::newRow("IPv6") << "[2001:db8::7]"
                              << "[2001:*]";
        QTest::newRow("anything else") << "somewhere"
                                       << "*";
        QTest::newRow("in a line") << "Kick 10.0.0.4 and [::1], ver 1.11.2"
                                   << "Kick 10.0.*.* and [:*], ver 1.11.2";
    }
    void masking()
    {
        QFETCH(QString, text);
        QFETCH(QString, masked);
        if (text.contains(' '))
            QCOMPARE(web::maskAddresses(text), masked);
        else
            QCOMPARE(web::maskAddress(text), masked);
    }

    void liveUpdatesOverAWebSocket()
    {
        // The live socket outlives the waits for a slow request and a silent connection.
        web::WebOptions quick;
        quick.requestMs = 300;
        quick.connectionIdleMs = 300;
        WebRig rig({}, quick);
        rig.loginViewer();
        QWebSocket live;
        QStringList received;
        connect(&live, &QWebSocket::textMessageReceived, this, [&received](const QString& m) { received << m; });
        QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/live").arg(rig.port())));
        request.setRawHeader("Cookie", "skelvar_session=" + rig.cookie);
        request.setRawHeader("Origin", "http://" + rig.host());
        live.open(request);
        QTRY_COMPARE(received.size(), 1);
        QCOMPARE(QJsonDocument::fromJson(received.last().toUtf8()).object().value("type").toString(), QString("state"));
        QTest::qWait(800);
        QCOMPARE(live.state(), QAbstractSocket::ConnectedState);
        rig.monitor->players.add({"4", "60", "Newcomer", "10.9.8.7", "25000", "", ""});
        QTRY_VERIFY_WITH_TIMEOUT(received.last().contains("Newcomer"), 2000);
        const QJsonArray players =
            QJsonDocument::fromJson(received.last().toUtf8()).object().value("players").toArray();
        QCOMPARE(players.at(0).toObject().value("ip").toString(), QString("10.9.*.*"));
        // A logout ends the updates.
        rig.post("/api/logout");
        QTRY_COMPARE_WITH_TIMEOUT(live.state(), QAbstractSocket::UnconnectedState, 3000);
        QCOMPARE(rig.web->liveClients(), 0);
    }

    void liveUpdatesNeedASessionAndThisPage_data()
    {
        QTest::addColumn<bool>("cookie");
        QTest::addColumn<QByteArray>("origin");
        QTest::newRow("no session") << false << QByteArray("http://%HOST%");
        QTest::newRow("another site") << true << QByteArray("http://evil.example");
    }
    void liveUpdatesNeedASessionAndThisPage()
    {
        QFETCH(bool, cookie);
        QFETCH(QByteArray, origin);
        WebRig rig;
        rig.loginAdmin();
        QWebSocket live;
        bool message = false;
        connect(&live, &QWebSocket::textMessageReceived, this, [&message] { message = true; });
        QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/live").arg(rig.port())));
        if (cookie)
            request.setRawHeader("Cookie", "skelvar_session=" + rig.cookie);
        request.setRawHeader("Origin", origin.replace("%HOST%", rig.host()));
        live.open(request);
        QTest::qWait(300);
        QVERIFY(live.state() != QAbstractSocket::ConnectedState);
        QVERIFY(!message);
        QCOMPARE(rig.web->liveClients(), 0);
    }
};

QTEST_GUILESS_MAIN(TestWebServer)
#include "test_webserver.moc"
