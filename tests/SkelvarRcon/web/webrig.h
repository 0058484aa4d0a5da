#pragma once
// A Monitor in a scratch folder with its web page on a free loopback port,
// two accounts (an admin and a viewer), a clock the test moves, and a raw
// HTTP client that sends exactly the bytes a test writes, headers included.

#include "SkelvarRcon/app/monitor.h"
#include "SkelvarRcon/web/webaccounts.h"
#include "SkelvarRcon/web/webserver.h"
#include "tests/support/monitorparts.h"
#include "tests/support/scriptedprompter.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMultiMap>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

namespace skelvar::test {

struct HttpAnswer {
    int status = 0;                             // 0: no answer
    QMultiMap<QByteArray, QByteArray> headers;  // names in lower case
    QByteArray body;
    bool closed = false;  // the server closed the connection

    QByteArray header(const QByteArray& name) const { return headers.value(name); }
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

// Sends `request` as it is and reads one answer (by its Content-Length).
inline HttpAnswer rawHttp(quint16 port, const QByteArray& request, int timeoutMs = 5000)
{
    HttpAnswer a;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    QByteArray data;
    bool sent = false;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (!sent && socket.state() == QAbstractSocket::ConnectedState) {
            socket.write(request);
            sent = true;
        }
        data += socket.readAll();
        const qsizetype end = data.indexOf("\r\n\r\n");
        if (end >= 0) {
            const QList<QByteArray> lines = data.left(end).split('\n');
            a.status = lines.value(0).split(' ').value(1).toInt();
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const qsizetype colon = lines.at(i).indexOf(':');
                a.headers.insert(lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed());
            }
            const qsizetype length = a.header("content-length").toLongLong();
            if (data.size() >= end + 4 + length) {
                a.body = data.mid(end + 4, length);
                break;
            }
        }
        if (sent && socket.state() == QAbstractSocket::UnconnectedState)
            break;
        QTest::qWait(2);
    }
    QTest::qWait(20);
    a.closed = socket.state() != QAbstractSocket::ConnectedState;
    return a;
}

class WebRig {
public:
    static constexpr char kAdmin[] = "ada";
    static constexpr char kAdminPassword[] = "admin pw";
    static constexpr char kViewer[] = "vic";
    static constexpr char kViewerPassword[] = "viewer pw";

    QTemporaryDir dir;
    ScriptedPrompter prompter;
    qint64 nowMs = 1000;
    std::unique_ptr<rcon::Monitor> monitor;
    std::unique_ptr<rcon::web::WebServer> web;
    QByteArray cookie;  // of the last login
    QByteArray csrf;

    // `prepare` writes the folder's files before the monitor reads them.
    explicit WebRig(rcon::MonitorOptions options = {}, rcon::web::WebOptions webOptions = {},
                    const std::function<void(const QString& folder)>& prepare = {})
    {
        if (prepare)
            prepare(dir.path());
        rcon::web::Accounts accounts;
        QString error;
        accounts.set(kAdmin, rcon::web::Role::Admin, kAdminPassword, &error, rcon::web::Accounts::kMinimumRounds);
        accounts.set(kViewer, rcon::web::Role::Viewer, kViewerPassword, &error, rcon::web::Accounts::kMinimumRounds);
        accounts.save(dir.filePath(rcon::web::Accounts::fileName()));
        options.folder = dir.path();
        monitor = std::make_unique<rcon::Monitor>(prompter, options);
        monitor->create();
        webOptions.clock = [this] { return nowMs; };
        webOptions.idleMs = 60000;
        webOptions.refuseMs = 120000;
        webOptions.livePushMs = 20;
        web = std::make_unique<rcon::web::WebServer>(*monitor, webOptions);
        QString why;
        if (!web->start(&why))
            qWarning("%s", qPrintable(why));
    }

    // The monitor's connection boxes set to the double, as the window's tests type them.
    void pointAt(const GameServerDouble& server)
    {
        monitor->settings.setText("txtSVR", server.host());
        monitor->settings.setText("txtPORT", server.portText());
        monitor->settings.setText("txtPWD", server.password());
        monitor->rcon.setTarget(monitor->session.targetFromSettings());
    }

    quint16 port() const { return web->port(); }
    QByteArray host() const { return "127.0.0.1:" + QByteArray::number(port()); }

    // A request with this rig's Host, the session's cookie and CSRF token
    // unless left out, and a JSON body for a POST.
    HttpAnswer request(const QByteArray& method, const QByteArray& path, const QByteArray& body = {},
                       const QByteArray& extraHeaders = {}, bool session = true)
    {
        QByteArray r = method + ' ' + path + " HTTP/1.1\r\nHost: " + host() + "\r\n";
        if (session && !cookie.isEmpty())
            r += "Cookie: " + rcon::web::WebServer::cookieName() + '=' + cookie + "\r\n";
        if (session && method == "POST" && !csrf.isEmpty())
            r += "X-CSRF-Token: " + csrf + "\r\n";
        if (method == "POST")
            r += "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
        r += extraHeaders + "\r\n" + body;
        return rawHttp(port(), r);
    }
    HttpAnswer get(const QByteArray& path) { return request("GET", path); }
    HttpAnswer post(const QByteArray& path, const QJsonObject& body = {})
    {
        return request("POST", path, QJsonDocument(body).toJson(QJsonDocument::Compact));
    }

    // Logs in and keeps the session's cookie and token. The answer's status.
    int login(const QByteArray& name, const QByteArray& password, const QByteArray& extraHeaders = {})
    {
        const HttpAnswer a =
            request("POST", "/api/login",
                    QJsonDocument(QJsonObject{{"name", QString(name)}, {"password", QString(password)}}).toJson(),
                    extraHeaders, false);
        if (a.status == 200) {
            const QByteArray setCookie = a.header("set-cookie");
            cookie = setCookie.mid(setCookie.indexOf('=') + 1).split(';').value(0);
            csrf = a.json().value("csrf").toString().toLatin1();
        }
        return a.status;
    }
    void loginAdmin() { login(kAdmin, kAdminPassword); }
    void loginViewer() { login(kViewer, kViewerPassword); }

    QByteArray auditLog() const { return readFileBytes(dir.filePath(rcon::web::AuditLog::fileName())); }
    static QByteArray readFileBytes(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

}  // namespace skelvar::test
