#include "SkelvarRcon/web/webserver.h"

#include "SkelvarRcon/web/webactions.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHttpServerRequest>
#include <QJsonDocument>
#include <QNetworkRequest>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

namespace skelvar::rcon::web {

namespace {

using Status = QHttpServerResponder::StatusCode;

// Refuses a request that grows past the limit before Qt's server holds it
// whole: the module reads a request's body without bound, and keeps what it
// read of an unfinished request in the socket's buffer (read in a
// transaction), so that buffer is capped and its fill counted here. The
// module waits for a request without end too, so one that is not whole in
// time is answered 408 and a connection that stays silent is closed, lest
// slow clients hold every connection.
class LimitedTcpServer : public QTcpServer {
public:
    LimitedTcpServer(int requestMs, int idleMs, QObject* parent)
        : QTcpServer(parent), m_requestMs(requestMs), m_idleMs(idleMs)
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        socket->setReadBufferSize(WebServer::kMaxRequestBytes);
        auto watch = std::make_shared<Watch>();
        watch->sinceRequest.start();
        watch->sinceBytes.start();
        auto* timer = new QTimer(socket);
        timer->setSingleShot(true);
        // Connected before the server's own handler, so it sees each chunk first.
        watch->reading = connect(socket, &QTcpSocket::readyRead, socket, [socket, watch, timer, this] {
            // Outside a transaction the buffer starts a request; inside one
            // the bytes before it were read already and only the new ones show.
            const bool partOfRequest = socket->isTransactionStarted();
            if (!partOfRequest) {
                // A new request: its time starts now, and more bytes of it do not add to it.
                watch->sinceRequest.start();
                timer->start(m_requestMs);
            }
            watch->sinceBytes.start();
            watch->pending = partOfRequest ? watch->pending + socket->bytesAvailable() : socket->bytesAvailable();
            if (watch->pending < WebServer::kMaxRequestBytes)
                return;
            refuse(socket, "413 Payload Too Large", "The request is too big.");
        });
        connect(timer, &QTimer::timeout, socket, [socket, watch, timer, this] {
            // A WebSocket took the connection over (the module drops every handler then).
            if (!watch->reading)
                return;
            if (socket->isTransactionStarted() && watch->sinceRequest.elapsed() >= m_requestMs)
                refuse(socket, "408 Request Timeout", "The request came too slowly.");
            else if (!socket->isTransactionStarted() && watch->sinceBytes.elapsed() >= m_idleMs)
                socket->disconnectFromHost();
            else
                timer->start(socket->isTransactionStarted() ? m_requestMs - int(watch->sinceRequest.elapsed())
                                                            : m_idleMs - int(watch->sinceBytes.elapsed()));
        });
        timer->start(m_idleMs);
        addPendingConnection(socket);
    }

private:
    struct Watch {
        QMetaObject::Connection reading;
        QElapsedTimer sinceRequest;  // since the first byte of the request being read
        QElapsedTimer sinceBytes;
        qint64 pending = 0;
    };

    static void refuse(QTcpSocket* socket, const QByteArray& status, const QByteArray& message)
    {
        disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
        const QByteArray body = "{\"error\":\"" + message + "\"}";
        socket->write("HTTP/1.1 " + status + "\r\nConnection: close\r\nContent-Type: application/json\r\n" +
                      "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    int m_requestMs;
    int m_idleMs;
};

struct StaticFile {
    const char* path;
    const char* resource;
    const char* type;
};

const StaticFile kFiles[] = {
    {"/", ":/web/index.html", "text/html; charset=utf-8"},
    {"/app.js", ":/web/app.js", "text/javascript; charset=utf-8"},
    {"/app.css", ":/web/app.css", "text/css; charset=utf-8"},
    {"/icon.svg", ":/web/icon.svg", "image/svg+xml"},
};

QByteArray cookieValue(const QByteArray& header, const QByteArray& name)
{
    for (const QByteArray& part : header.split(';')) {
        const QByteArray item = part.trimmed();
        if (item.startsWith(name + '='))
            return item.mid(name.size() + 1);
    }
    return {};
}

// "host[:port]" without its port; an IPv6 address without brackets.
QString hostPart(const QByteArray& authority)
{
    const QString text = QString::fromLatin1(authority).trimmed();
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype end = text.indexOf(QLatin1Char(']'));
        return end < 0 ? QString() : text.mid(1, end - 1);
    }
    return text.section(QLatin1Char(':'), 0, 0);
}

bool isUpgrade(const QHttpServerRequest& request)
{
    return request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0;
}

}  // namespace

bool parseWebAddress(const QString& text, QHostAddress* address, quint16* port, QString* error)
{
    QString host = QStringLiteral("127.0.0.1");
    QString portText = text;
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        host = text.left(colon);
        portText = text.mid(colon + 1);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        else if (host.contains(QLatin1Char(':'))) {
            *error = QStringLiteral("--web: an IPv6 address goes in brackets, as [::1]:8080.");
            return false;
        }
    }
    bool ok = false;
    const uint number = portText.toUInt(&ok);
    if (!ok || number < 1 || number > 65535) {
        *error = QStringLiteral("--web: the port is a number from 1 to 65535, not '%1'.").arg(portText);
        return false;
    }
    QHostAddress parsed =
        host == QLatin1String("localhost") ? QHostAddress(QHostAddress::LocalHost) : QHostAddress(host);
    if (parsed.isNull()) {
        *error = QStringLiteral("--web: '%1' is not an address of this machine's form (such as 127.0.0.1, 0.0.0.0 or "
                                "[::1]).")
                     .arg(host);
        return false;
    }
    *address = parsed;
    *port = quint16(number);
    return true;
}

WebReply WebReply::json(const QJsonObject& object, int status)
{
    WebReply r;
    r.status = status;
    r.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return r;
}

WebReply WebReply::error(int status, const QString& message)
{
    return json({{QStringLiteral("error"), message}}, status);
}

WebServer::WebServer(Monitor& monitor, WebOptions options, QObject* parent)
    : QAbstractHttpServer(parent), m_monitor(monitor), m_options(std::move(options)),
      m_sessions(m_options.clock ? m_options.clock : (m_options.clock = steadyClock()), m_options.idleMs),
      m_throttle(m_options.clock, m_options.loginAttempts, m_options.refuseMs), m_watch(monitor),
      m_views(monitor, m_watch)
{
    m_accountsPath = monitor.filePath(Accounts::fileName());
    m_audit.setPath(monitor.filePath(AuditLog::fileName()));
    m_audit.setClock(&monitor.clock);
    m_actions = std::make_unique<WebActions>(monitor, m_audit);

    m_pushTimer.setSingleShot(true);
    m_pushTimer.setInterval(m_options.livePushMs);
    connect(&m_pushTimer, &QTimer::timeout, this, &WebServer::pushState);
    // Also what changes without a signal: the log's size, a session's end.
    m_tickTimer.setInterval(1000);
    connect(&m_tickTimer, &QTimer::timeout, this, &WebServer::pushState);
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &WebServer::takeLiveSockets);

    connect(&monitor.ui, &UiState::changed, this, &WebServer::schedulePush);
    connect(&m_watch, &ServerWatch::changed, this, &WebServer::schedulePush);
    connect(&monitor, &Monitor::consoleOutput, this, &WebServer::schedulePush);
    const PlayerList* players = &monitor.players;
    connect(players, &QAbstractItemModel::rowsInserted, this, &WebServer::schedulePush);
    connect(players, &QAbstractItemModel::rowsRemoved, this, &WebServer::schedulePush);
    connect(players, &QAbstractItemModel::modelReset, this, &WebServer::schedulePush);
    connect(players, &QAbstractItemModel::dataChanged, this, &WebServer::schedulePush);
    connect(&monitor.settings, &Settings::changed, this, [this] {
        ++m_settingsVersion;
        schedulePush();
    });
    for (const lists::ListKind k : {lists::ListKind::Warnings, lists::ListKind::Kicks, lists::ListKind::Bans}) {
        connect(&monitor.lists.list(k), &RecordList::changed, this, [this] {
            ++m_listsVersion;
            schedulePush();
        });
    }
}

WebServer::~WebServer() = default;

bool WebServer::start(QString* error)
{
    auto* tcp = new LimitedTcpServer(m_options.requestMs, m_options.connectionIdleMs, this);
    if (!tcp->listen(m_options.address, m_options.port)) {
        *error = QStringLiteral("The web page cannot listen on %1:%2: %3")
                     .arg(m_options.address.toString())
                     .arg(m_options.port)
                     .arg(tcp->errorString());
        delete tcp;
        return false;
    }
    m_port = tcp->serverPort();
    bind(tcp);
    m_tickTimer.start();
    return true;
}

QString WebServer::startedText() const
{
    const QHostAddress& address = m_options.address;
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                             : address.toString();
    QString text = QStringLiteral("Web page on http://%1:%2/").arg(host).arg(m_port);
    Accounts accounts;
    if (accounts.load(m_accountsPath) && accounts.isEmpty())
        text += QStringLiteral(" (no account yet: add one with RconSkelvar --web-user NAME --role admin)");
    return text;
}

// ---- Every request ------------------------------------------------------------

void WebServer::send(const QHttpServerRequest& request, QTcpSocket* socket, const WebReply& reply)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    write(responder, request.value("host"), request.method() == QHttpServerRequest::Method::Head, reply);
}

void WebServer::write(QHttpServerResponder& responder, const QByteArray& host, bool head, const WebReply& reply)
{
    responder.writeStatusLine(Status(reply.status));
    responder.writeHeaders({
        {"Content-Type", reply.contentType},
        {"Content-Length", QByteArray::number(reply.body.size())},
        {"Cache-Control", "no-store"},
        {"X-Frame-Options", "DENY"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        {"Cross-Origin-Opener-Policy", "same-origin"},
        {"Cross-Origin-Resource-Policy", "same-origin"},
        // Only the page's own script and style files; the live updates'
        // socket named as well, as older browsers do not count ws: as 'self'.
        {"Content-Security-Policy", "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
                                    "connect-src 'self' ws://" +
                                        host + " wss://" + host +
                                        "; frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
    });
    for (const auto& [name, value] : reply.headers)
        responder.writeHeader(name, value);
    responder.writeBody(head ? QByteArray() : reply.body);
}

bool WebServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    const QString client = clientAddress(request);
    if (const auto refused = refusal(request, client)) {
        send(request, socket, *refused);
        return true;
    }
    if (isUpgrade(request))
        return acceptLive(request);  // false: missingHandler refuses it
    const QString path = request.url().path();
    if (!path.startsWith(QLatin1String("/api/"))) {
        send(request, socket, serveFile(request));
        return true;
    }
    WebCall call;
    call.path = path;
    call.client = client;
    serveApi(request, socket, call);
    return true;
}

void WebServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    send(request, socket, WebReply::error(403, QStringLiteral("Log in first.")));
    socket->disconnectFromHost();
}

std::optional<WebReply> WebServer::refusal(const QHttpServerRequest& request, const QString& client)
{
    if (!hostAllowed(request.value("host")))
        return WebReply::error(421, QStringLiteral("This page answers only to its address, localhost or a name it "
                                                   "was given."));
    if (m_throttle.refused(client)) {
        WebReply r = WebReply::error(429, QStringLiteral("Too many failed logins from this address; try later."));
        r.headers.append({"Retry-After", QByteArray::number((m_throttle.refusedForMs(client) + 999) / 1000)});
        return r;
    }
    if (request.body().size() > kMaxRequestBytes)
        return WebReply::error(413, QStringLiteral("The request is too big."));
    return std::nullopt;
}

QString WebServer::clientAddress(const QHttpServerRequest& request) const
{
    const QHostAddress peer = request.remoteAddress();
    // Behind a reverse proxy on this machine the client is the last address
    // the proxy adds; from anywhere else the header is not believed.
    const QByteArray forwarded = request.value("x-forwarded-for");
    if (peer.isLoopback() && !forwarded.isEmpty()) {
        const QHostAddress last(QString::fromLatin1(forwarded.split(',').last().trimmed()));
        if (!last.isNull())
            return last.toString();
    }
    return peer.toString();
}

bool WebServer::hostAllowed(const QByteArray& host) const
{
    const QString name = hostPart(host);
    if (name.isEmpty())
        return false;
    if (!QHostAddress(name).isNull() || name.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    return m_options.hostNames.contains(name, Qt::CaseInsensitive);
}

// A browser names the page a request comes from; it must be this one (as the
// client sees it: a reverse proxy's public name in X-Forwarded-Host).
bool WebServer::sameOrigin(const QHttpServerRequest& request) const
{
    if (request.value("sec-fetch-site") == "cross-site")
        return false;
    const QByteArray origin = request.value("origin");
    if (origin.isEmpty())
        return true;
    const QByteArray authority = QUrl(QString::fromLatin1(origin)).authority().toLatin1();
    if (authority.isEmpty())
        return false;
    return authority.compare(request.value("host"), Qt::CaseInsensitive) == 0 ||
           authority.compare(request.value("x-forwarded-host"), Qt::CaseInsensitive) == 0;
}

Session* WebServer::sessionOf(const QByteArray& cookieHeader, bool touch)
{
    followAccounts();
    return m_sessions.find(cookieValue(cookieHeader, cookieName()), touch);
}

// An account removed, or given another password or role, with --web-user
// while the monitor runs ends the sessions it had.
void WebServer::followAccounts()
{
    const QFileInfo info(m_accountsPath);
    const AccountsStamp stamp{info.exists(), info.size(), info.lastModified(), info.metadataChangeTime()};
    if (stamp == m_accountsStamp)
        return;
    m_accountsStamp = stamp;
    Accounts accounts;
    QString error;
    if (!accounts.load(m_accountsPath, &error)) {
        qWarning("%s", qPrintable(error));
        return;
    }
    m_sessions.endWhere([&accounts](const Session& s) {
        for (const Account& a : accounts.accounts()) {
            if (a.name == s.account)
                return a.role != s.role || a.key != s.accountKey;
        }
        return true;
    });
}

// ---- The page's files -------------------------------------------------------------

WebReply WebServer::serveFile(const QHttpServerRequest& request)
{
    const auto method = request.method();
    if (method != QHttpServerRequest::Method::Get && method != QHttpServerRequest::Method::Head)
        return WebReply::error(405, QStringLiteral("The page's files are only read."));
    const QString path = request.url().path();
    for (const StaticFile& f : kFiles) {
        if (path != QLatin1String(f.path))
            continue;
        QFile file(QString::fromLatin1(f.resource));
        if (!file.open(QIODevice::ReadOnly))
            break;
        WebReply r;
        r.body = file.readAll();
        r.contentType = f.type;
        return r;
    }
    return WebReply::error(404, QStringLiteral("No such page."));
}

// ---- The API ----------------------------------------------------------------------

void WebServer::serveApi(const QHttpServerRequest& request, QTcpSocket* socket, WebCall& call)
{
    const auto method = request.method();
    const bool post = method == QHttpServerRequest::Method::Post;
    if (!post && method != QHttpServerRequest::Method::Get) {
        send(request, socket, WebReply::error(405, QStringLiteral("The API takes GET and POST.")));
        return;
    }
    if (post) {
        // JSON only: a form on another site cannot send it without asking first.
        if (!request.value("content-type").startsWith("application/json")) {
            send(request, socket, WebReply::error(415, QStringLiteral("Send JSON (Content-Type: application/json).")));
            return;
        }
        if (!sameOrigin(request)) {
            send(request, socket, WebReply::error(403, QStringLiteral("The request comes from another site.")));
            return;
        }
        QJsonParseError parseError;
        const QJsonDocument doc =
            QJsonDocument::fromJson(request.body().isEmpty() ? "{}" : request.body(), &parseError);
        if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
            send(request, socket, WebReply::error(400, QStringLiteral("The body is not a JSON object.")));
            return;
        }
        call.body = doc.object();
        if (call.path == QLatin1String("/api/login")) {
            send(request, socket, login(request, call));
            return;
        }
    }
    // The live poll does not count as the admin's activity: a page left open
    // still ends its session when idle.
    call.session = sessionOf(request.value("cookie"), call.path != QLatin1String("/api/state"));
    if (!call.session) {
        send(request, socket, WebReply::error(401, QStringLiteral("Log in first.")));
        return;
    }
    if (!post) {
        send(request, socket, read(request, call));
        return;
    }
    if (!sameSecret(request.value("x-csrf-token"), call.session->csrf)) {
        send(request, socket, WebReply::error(403, QStringLiteral("The request lacks this session's CSRF token.")));
        return;
    }
    if (call.path == QLatin1String("/api/logout")) {
        send(request, socket, logout(request, call));
        return;
    }
    // The console's answer comes after this handler returns: the responder
    // is made now, while the request is there, and kept.
    const QPointer<QTcpSocket> alive(socket);
    auto responder = std::make_shared<QHttpServerResponder>(makeResponder(request, socket));
    const QByteArray host = request.value("host");
    const auto now = m_actions->run(call, [this, alive, responder, host](const WebReply& reply) {
        if (alive)
            write(*responder, host, false, reply);
    });
    if (now)
        write(*responder, host, false, *now);
}

WebReply WebServer::read(const QHttpServerRequest& request, const WebCall& call)
{
    const bool mask = call.session->role != Role::Admin;
    const QString& path = call.path;
    if (path == QLatin1String("/api/session"))
        return WebReply::json(sessionJson(*call.session));
    if (path == QLatin1String("/api/status"))
        return WebReply::json(m_views.status());
    if (path == QLatin1String("/api/players"))
        return WebReply::json({{QStringLiteral("players"), m_views.players(mask)}});
    if (path == QLatin1String("/api/state"))
        return WebReply::json(stateJson(mask));
    if (path == QLatin1String("/api/log")) {
        bool ok = true;
        const QString lines = request.query().queryItemValue(QStringLiteral("lines"));
        const int n = lines.isEmpty() ? 100 : lines.toInt(&ok);
        if (!ok || n < 1 || n > 1000)
            return WebReply::error(400, QStringLiteral("lines is a number from 1 to 1000."));
        return WebReply::json(m_views.logTail(n, mask));
    }
    if (path == QLatin1String("/api/console")) {
        if (call.session->role != Role::Admin)
            return WebReply::error(403, QStringLiteral("Only an admin uses the console."));
        return WebReply::json(m_actions->consoleTranscript());
    }
    if (path == QLatin1String("/api/settings")) {
        // They hold the rcon password.
        if (call.session->role != Role::Admin)
            return WebReply::error(403, QStringLiteral("Only an admin sees the settings."));
        return WebReply::json(m_actions->settingsForm());
    }
    if (path.startsWith(QLatin1String("/api/lists/"))) {
        const auto kind = listKindNamed(path.mid(11));
        if (!kind)
            return WebReply::error(404, QStringLiteral("The lists are warnings, kicks and bans."));
        ListQuery query;
        QString error;
        if (!readListQuery(request.query(), *kind, &query, &error))
            return WebReply::error(400, error);
        return WebReply::json(m_views.records(*kind, query, mask));
    }
    return WebReply::error(404, QStringLiteral("No such API call."));
}

QJsonObject WebServer::sessionJson(const Session& s) const
{
    return {{QStringLiteral("account"), s.account},
            {QStringLiteral("role"), roleName(s.role)},
            {QStringLiteral("csrf"), QString::fromLatin1(s.csrf)}};
}

WebReply WebServer::login(const QHttpServerRequest& request, const WebCall& call)
{
    const QString name = call.body.value(QStringLiteral("name")).toString();
    const QString password = call.body.value(QStringLiteral("password")).toString();
    // Read at every login, so an account written while the monitor runs counts at once.
    Accounts accounts;
    QString error;
    if (!accounts.load(m_accountsPath, &error))
        qWarning("%s", qPrintable(error));
    const auto account = accounts.verify(name, password);
    if (!account) {
        m_throttle.failed(call.client);
        m_audit.write(name, call.client, QStringLiteral("login"), QStringLiteral("refused: wrong name or password"));
        return WebReply::error(401, QStringLiteral("Wrong name or password."));
    }
    m_throttle.succeeded(call.client);
    const Session& s = m_sessions.begin(*account);
    m_audit.write(account->name, call.client, QStringLiteral("login"), QStringLiteral("ok"));
    WebReply r = WebReply::json(sessionJson(s));
    // Secure where the page is reached over TLS, as through a reverse proxy.
    const bool tls = request.remoteAddress().isLoopback() && request.value("x-forwarded-proto") == "https";
    r.headers.append(
        {"Set-Cookie", cookieName() + '=' + s.token + "; Path=/; HttpOnly; SameSite=Strict" + (tls ? "; Secure" : "")});
    return r;
}

WebReply WebServer::logout(const QHttpServerRequest&, const WebCall& call)
{
    m_audit.write(call.session->account, call.client, QStringLiteral("logout"), QStringLiteral("ok"));
    m_sessions.end(call.session->token);
    WebReply r = WebReply::json({{QStringLiteral("loggedOut"), true}});
    r.headers.append({"Set-Cookie", cookieName() + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict"});
    return r;
}

QJsonObject WebServer::stateJson(bool mask) const
{
    QJsonObject counts;
    for (const lists::ListKind k : {lists::ListKind::Warnings, lists::ListKind::Kicks, lists::ListKind::Bans})
        counts.insert(listName(k), m_monitor.lists.list(k).size());
    return {{QStringLiteral("status"), m_views.status()},
            {QStringLiteral("players"), m_views.players(mask)},
            {QStringLiteral("lists"), counts},
            {QStringLiteral("listsVersion"), m_listsVersion},
            {QStringLiteral("settingsVersion"), m_settingsVersion},
            {QStringLiteral("logSize"), m_views.logSize()},
            {QStringLiteral("console"), mask ? 0 : m_actions->consoleSequence()}};
}

// ---- Live updates -----------------------------------------------------------------

bool WebServer::acceptLive(const QHttpServerRequest& request)
{
    return request.url().path() == QLatin1String("/api/live") && sameOrigin(request) &&
           sessionOf(request.value("cookie"), false);
}

void WebServer::takeLiveSockets()
{
    while (hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = nextPendingWebSocketConnection();
        const QByteArray token = cookieValue(socket->request().rawHeader("Cookie"), cookieName());
        if (!m_sessions.find(token, false)) {
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("Log in first."));
            continue;
        }
        QWebSocket* raw = socket.get();
        connect(raw, &QWebSocket::disconnected, this,
                [this, raw] { std::erase_if(m_live, [raw](const Live& l) { return l.socket.get() == raw; }); });
        m_live.push_back({std::move(socket), token, {}});
    }
    pushState();
}

void WebServer::schedulePush()
{
    if (!m_live.empty() && !m_pushTimer.isActive())
        m_pushTimer.start();
}

void WebServer::pushState()
{
    // The tick runs without a page open too; then there is nothing to check.
    if (m_live.empty())
        return;
    followAccounts();
    QByteArray forRole[2];
    for (auto it = m_live.begin(); it != m_live.end();) {
        const Session* s = m_sessions.find(it->token, false);
        if (!s) {
            // Closed later: its disconnected signal would change the list under this loop.
            std::unique_ptr<QWebSocket> ended = std::move(it->socket);
            it = m_live.erase(it);
            ended->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("The session has ended."));
            ended.release()->deleteLater();
            continue;
        }
        const bool mask = s->role != Role::Admin;
        QByteArray& text = forRole[mask];
        if (text.isEmpty()) {
            QJsonObject state = stateJson(mask);
            state.insert(QStringLiteral("type"), QStringLiteral("state"));
            text = QJsonDocument(state).toJson(QJsonDocument::Compact);
        }
        if (text != it->lastSent) {
            it->socket->sendTextMessage(QString::fromUtf8(text));
            it->lastSent = text;
        }
        ++it;
    }
}

}  // namespace skelvar::rcon::web
