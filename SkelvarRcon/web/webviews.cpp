#include "SkelvarRcon/web/webviews.h"

#include "SkelvarRcon/store/controlnames.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace skelvar::rcon::web {

using lists::ListKind;
using lists::Record;

namespace {

constexpr int kMaxListLimit = 5000;
constexpr int kMaxLogLines = 1000;
// Enough for the longest tail the page asks for.
constexpr qint64 kLogTailBytes = 256 * 1024;

const QRegularExpression& ipv4Pattern()
{
    static const QRegularExpression re(
        QStringLiteral(R"((?<![\w.])(\d{1,3})\.(\d{1,3})\.(\d{1,3}|xxx)\.(\d{1,3}|xxx)(?![\w.]))"));
    return re;
}

const QRegularExpression& ipv6Pattern()
{
    static const QRegularExpression re(QStringLiteral(R"(\[([0-9A-Fa-f]{0,4})(?::[0-9A-Fa-f.]*)+\])"));
    return re;
}

QString field(const Record& r, const QString& key)
{
    if (key == QLatin1String("ip"))
        return r.ip;
    if (key == QLatin1String("name"))
        return r.name;
    if (key == QLatin1String("reason"))
        return r.reason;
    if (key == QLatin1String("date"))
        return r.date;
    return r.until;
}

QString text(const UiState& ui, const char* control)
{
    return ui.text(QString::fromLatin1(control));
}

QJsonObject progressJson(const UiState& ui, Progress bar)
{
    return {{QStringLiteral("value"), ui.progress(bar)}, {QStringLiteral("maximum"), ui.progressMaximum(bar)}};
}

}  // namespace

QString maskAddress(const QString& address)
{
    const QRegularExpressionMatch v4 = ipv4Pattern().match(address);
    if (v4.hasMatch() && v4.capturedLength() == address.size())
        return v4.captured(1) + QLatin1Char('.') + v4.captured(2) + QStringLiteral(".*.*");
    const QRegularExpressionMatch v6 = ipv6Pattern().match(address);
    if (v6.hasMatch() && v6.capturedLength() == address.size())
        return QLatin1Char('[') + v6.captured(1) + QStringLiteral(":*]");
    return address.isEmpty() ? address : QStringLiteral("*");
}

QString maskAddresses(const QString& text)
{
    QString out = text;
    out.replace(ipv4Pattern(), QStringLiteral("\\1.\\2.*.*"));
    out.replace(ipv6Pattern(), QStringLiteral("[\\1:*]"));
    return out;
}

ServerWatch::ServerWatch(Monitor& monitor, QObject* parent) : QObject(parent), m_monitor(monitor)
{
    connect(&monitor.rcon, &RconTransport::readUnanswered, this, [this](const QString&) {
        if (m_monitor.session.running() && answering())
            setNotice(QStringLiteral("The server does not answer (since %1).")
                          .arg(m_monitor.clock.timeOfDay().toString(QStringLiteral("HH:mm:ss"))));
    });
    connect(&monitor.engine, &Engine::passSummary, this, [this](const PassSummary& s) {
        if (s.playersRead > 0 || s.answersLost == 0)
            setNotice({});
    });
    connect(&monitor.session, &MonitorSession::ended, this, [this] {
        setNotice(m_monitor.session.connectFailure() == MonitorSession::ConnectFailure::Offline
                      ? QStringLiteral("The server is offline: the claim got no answer.")
                      : QString());
    });
}

void ServerWatch::setNotice(const QString& text)
{
    if (text == m_notice)
        return;
    m_notice = text;
    emit changed();
}

QStringList recordKeys(ListKind kind)
{
    QStringList keys{QStringLiteral("ip"), QStringLiteral("name"), QStringLiteral("reason"), QStringLiteral("date")};
    if (kind == ListKind::Bans)
        keys << QStringLiteral("until");
    return keys;
}

std::optional<ListKind> listKindNamed(const QString& name)
{
    for (const ListKind k : {ListKind::Warnings, ListKind::Kicks, ListKind::Bans}) {
        if (listName(k) == name)
            return k;
    }
    return std::nullopt;
}

QString listName(ListKind kind)
{
    switch (kind) {
    case ListKind::Warnings: return QStringLiteral("warnings");
    case ListKind::Kicks: return QStringLiteral("kicks");
    case ListKind::Bans: return QStringLiteral("bans");
    }
    return {};
}

bool readListQuery(const QUrlQuery& query, ListKind kind, ListQuery* out, QString* error)
{
    const auto number = [&query, error](const char* key, int low, int high, int* value) {
        if (!query.hasQueryItem(QLatin1String(key)))
            return true;
        bool ok = false;
        const int n = query.queryItemValue(QLatin1String(key)).toInt(&ok);
        if (ok && n >= low && n <= high) {
            *value = n;
            return true;
        }
        *error = QStringLiteral("%1 is a number from %2 to %3.").arg(QLatin1String(key)).arg(low).arg(high);
        return false;
    };
    out->search = query.queryItemValue(QStringLiteral("search"), QUrl::FullyDecoded);
    if (query.hasQueryItem(QStringLiteral("sort")))
        out->sort = query.queryItemValue(QStringLiteral("sort"));
    if (!recordKeys(kind).contains(out->sort)) {
        *error = QStringLiteral("sort is one of: ") + recordKeys(kind).join(QStringLiteral(", "));
        return false;
    }
    const QString order = query.queryItemValue(QStringLiteral("order"));
    if (!order.isEmpty() && order != QLatin1String("asc") && order != QLatin1String("desc")) {
        *error = QStringLiteral("order is asc or desc.");
        return false;
    }
    out->descending = order == QLatin1String("desc");
    return number("offset", 0, INT_MAX, &out->offset) && number("limit", 1, kMaxListLimit, &out->limit);
}

QJsonObject recordJson(const Record& r, ListKind kind, bool mask)
{
    QJsonObject o{{QStringLiteral("ip"), mask ? maskAddress(r.ip) : r.ip},
                  {QStringLiteral("name"), r.name},
                  {QStringLiteral("reason"), r.reason},
                  {QStringLiteral("date"), r.date}};
    if (kind == ListKind::Bans)
        o.insert(QStringLiteral("until"), r.until);
    return o;
}

QJsonObject WebViews::status() const
{
    const UiState& ui = m_monitor.ui;
    const Settings& s = m_monitor.settings;
    return {
        {QStringLiteral("state"), ui.serverStatus()},
        {QStringLiteral("lastData"), text(ui, control::lastDataLine)},
        {QStringLiteral("server"), s.serverAddress() + QLatin1Char(':') + s.serverPort()},
        {QStringLiteral("map"), m_monitor.engine.currentMap()},
        {QStringLiteral("os"), text(ui, control::serverOs)},
        {QStringLiteral("cheats"), text(ui, control::cheatsState)},
        {QStringLiteral("mods"), QJsonArray{text(ui, control::modSkelvarState), text(ui, control::zovPlinketState)}},
        {QStringLiteral("startCaption"), text(ui, control::startButton)},
        {QStringLiteral("running"), m_monitor.session.running()},
        {QStringLiteral("claimed"), m_monitor.session.claimed()},
        {QStringLiteral("canStart"), ui.isEnabled(QString::fromLatin1(control::startButton))},
        {QStringLiteral("canStop"), ui.isEnabled(QString::fromLatin1(control::stopButton))},
        {QStringLiteral("canUseConsole"), ui.isEnabled(QString::fromLatin1(control::consoleInput))},
        {QStringLiteral("answering"), m_watch.answering()},
        {QStringLiteral("notice"), m_watch.notice()},
        {QStringLiteral("scanProgress"), progressJson(ui, Progress::Scan)},
        {QStringLiteral("patrolProgress"), progressJson(ui, Progress::Patrol)},
        {QStringLiteral("handBanDays"), s.handBanForDays() ? QJsonValue(s.handBanDays()) : QJsonValue()},
    };
}

QJsonArray WebViews::players(bool mask) const
{
    QJsonArray out;
    const PlayerList& players = m_monitor.players;
    for (int i = 0; i < players.size(); ++i) {
        const PlayerRow& p = players.at(i);
        out.append(QJsonObject{{QStringLiteral("no"), p.no},
                               {QStringLiteral("ping"), p.ping},
                               {QStringLiteral("name"), p.name},
                               {QStringLiteral("ip"), mask ? maskAddress(p.ip) : p.ip},
                               {QStringLiteral("rate"), p.rate},
                               {QStringLiteral("alliedSkin"), p.alliedSkin},
                               {QStringLiteral("axisSkin"), p.axisSkin}});
    }
    return out;
}

QJsonObject WebViews::records(ListKind kind, const ListQuery& query, bool mask) const
{
    RecordList& list = m_monitor.lists.list(kind);
    QList<Record> matched;
    for (int i = 0; i < list.size(); ++i) {
        Record r = list.at(i);
        if (mask)
            r.ip = maskAddress(r.ip);
        if (query.search.isEmpty() || r.name.contains(query.search, Qt::CaseInsensitive) ||
            r.ip.contains(query.search, Qt::CaseInsensitive))
            matched.append(r);
    }
    std::stable_sort(matched.begin(), matched.end(), [&query](const Record& a, const Record& b) {
        const int c = field(a, query.sort).compare(field(b, query.sort), Qt::CaseInsensitive);
        return query.descending ? c > 0 : c < 0;
    });
    QJsonArray rows;
    for (qsizetype i = query.offset; i < matched.size() && rows.size() < query.limit; ++i)
        rows.append(recordJson(matched.at(i), kind, false));
    return {{QStringLiteral("list"), listName(kind)},
            {QStringLiteral("total"), list.size()},
            {QStringLiteral("matched"), matched.size()},
            {QStringLiteral("offset"), query.offset},
            {QStringLiteral("records"), rows}};
}

qint64 WebViews::logSize() const
{
    const QFileInfo info(m_monitor.log.path());
    return info.isFile() ? info.size() : 0;
}

QJsonObject WebViews::logTail(int lines, bool mask) const
{
    lines = std::clamp(lines, 1, kMaxLogLines);
    QJsonArray out;
    // Only a plain file (a link to one included): a pipe or a device in its
    // place is never opened.
    const QFileInfo info(m_monitor.log.path());
    QFile file(info.absoluteFilePath());
    if (info.isFile() && file.open(QIODevice::ReadOnly)) {
        const qint64 from = std::max<qint64>(0, file.size() - kLogTailBytes);
        file.seek(from);
        QList<QByteArray> all = file.readAll().split('\n');
        if (from > 0 && !all.isEmpty())
            all.removeFirst();  // cut in the middle
        if (!all.isEmpty() && all.last().isEmpty())
            all.removeLast();
        for (qsizetype i = std::max<qsizetype>(0, all.size() - lines); i < all.size(); ++i) {
            QByteArray line = all.at(i);
            if (line.endsWith('\r'))
                line.chop(1);
            const QString text = QString::fromLatin1(line);
            out.append(mask ? maskAddresses(text) : text);
        }
    }
    return {{QStringLiteral("lines"), out}, {QStringLiteral("size"), logSize()}};
}

}  // namespace skelvar::rcon::web
