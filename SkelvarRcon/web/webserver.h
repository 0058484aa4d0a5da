#pragma once
// RconSkelvar --web: the monitor's web page and its JSON API, served by the
// program itself inside the monitor's event loop, in both modes. It shows
// Monitor as the window does and forwards the page's actions to WebActions.
//
// Its defences: nothing but the page's own files and the login answers
// without a session cookie (HttpOnly, SameSite=Strict); every change needs
// the session's CSRF token in X-CSRF-Token and JSON; a Host header that names
// no address, localhost or a configured name is refused (DNS rebinding);
// every answer forbids framing and carries a strict Content-Security-Policy;
// an address that failed to log in 5 times is refused for a while; a request
// larger than 64 KiB, or not whole within 10 s, is refused with its
// connection, and a connection silent for a minute is closed.

#include "SkelvarRcon/app/monitor.h"
#include "SkelvarRcon/web/webaccounts.h"
#include "SkelvarRcon/web/webaudit.h"
#include "SkelvarRcon/web/websessions.h"
#include "SkelvarRcon/web/webviews.h"

#include <QAbstractHttpServer>
#include <QDateTime>
#include <QHostAddress>
#include <QHttpServerResponder>
#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <tuple>
#include <vector>

class QWebSocket;

namespace skelvar::rcon::web {

class WebActions;

struct WebOptions {
    QHostAddress address = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 0;  // 0: a free port (tests)
    // Host names the page may be reached by besides addresses and localhost,
    // such as a reverse proxy's public name.
    QStringList hostNames;
    qint64 idleMs = 30 * 60 * 1000;  // a session without requests ends
    int loginAttempts = 5;           // failed logins in a row before the address is refused
    qint64 refuseMs = 15 * 60 * 1000;
    int livePushMs = 200;          // changes are sent together after this wait
    int requestMs = 10000;         // from a request's first byte to its last
    int connectionIdleMs = 60000;  // a connection without a byte is closed
    MonotonicClock clock;          // steadyClock() when empty
};

// "PORT" (on 127.0.0.1), "ADDRESS:PORT" or "[IPv6]:PORT", the address a
// numeric one or localhost. False with *error otherwise.
bool parseWebAddress(const QString& text, QHostAddress* address, quint16* port, QString* error);

// An answer before its security headers.
struct WebReply {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    QList<std::pair<QByteArray, QByteArray>> headers;

    static WebReply json(const QJsonObject& object, int status = 200);
    static WebReply error(int status, const QString& message);
};

// What a request to the API knows about itself once checked.
struct WebCall {
    QString path;
    QString client;  // the client's address, for the throttle and the audit
    Session* session = nullptr;
    QJsonObject body;  // a POST's JSON object
};

class WebServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    static constexpr qint64 kMaxRequestBytes = 64 * 1024;
    static QByteArray cookieName() { return QByteArrayLiteral("skelvar_session"); }

    WebServer(Monitor& monitor, WebOptions options, QObject* parent = nullptr);
    ~WebServer() override;

    // Listens; false with *error when the address cannot be had.
    bool start(QString* error);
    // The line that tells where the page is, and that it has no account yet.
    QString startedText() const;
    quint16 port() const { return m_port; }

    Sessions& sessions() { return m_sessions; }
    const AuditLog& audit() const { return m_audit; }
    int liveClients() const { return int(m_live.size()); }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Live {
        std::unique_ptr<QWebSocket> socket;
        QByteArray token;
        QByteArray lastSent;
    };

    void send(const QHttpServerRequest& request, QTcpSocket* socket, const WebReply& reply);
    void write(QHttpServerResponder& responder, const QByteArray& host, bool head, const WebReply& reply);
    // Checks every request shares: host, refused address, size. An answer when refused.
    std::optional<WebReply> refusal(const QHttpServerRequest& request, const QString& client);
    QString clientAddress(const QHttpServerRequest& request) const;
    bool hostAllowed(const QByteArray& host) const;
    bool sameOrigin(const QHttpServerRequest& request) const;
    Session* sessionOf(const QByteArray& cookieHeader, bool touch);
    void followAccounts();

    WebReply serveFile(const QHttpServerRequest& request);
    void serveApi(const QHttpServerRequest& request, QTcpSocket* socket, WebCall& call);
    WebReply read(const QHttpServerRequest& request, const WebCall& call);
    WebReply login(const QHttpServerRequest& request, const WebCall& call);
    WebReply logout(const QHttpServerRequest& request, const WebCall& call);
    QJsonObject sessionJson(const Session& s) const;
    QJsonObject stateJson(bool mask) const;

    bool acceptLive(const QHttpServerRequest& request);
    void takeLiveSockets();
    void schedulePush();
    void pushState();

    Monitor& m_monitor;
    WebOptions m_options;
    quint16 m_port = 0;
    QString m_accountsPath;
    // What webaccounts.txt looked like when last read.
    using AccountsStamp = std::tuple<bool, qint64, QDateTime, QDateTime>;
    AccountsStamp m_accountsStamp;
    Sessions m_sessions;
    LoginThrottle m_throttle;
    AuditLog m_audit;
    ServerWatch m_watch;
    WebViews m_views;
    std::unique_ptr<WebActions> m_actions;
    std::vector<Live> m_live;
    QTimer m_pushTimer;
    QTimer m_tickTimer;
    int m_listsVersion = 0;  // moves on with every change of a record list
    int m_settingsVersion = 0;
};

}  // namespace skelvar::rcon::web
