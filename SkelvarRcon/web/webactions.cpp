#include "SkelvarRcon/web/webactions.h"

#include "SkelvarRcon/penalties/banmatch.h"
#include "SkelvarRcon/store/controlnames.h"
#include "SkelvarRcon/web/webserver.h"
#include "SkelvarRcon/web/webviews.h"

#include <QJsonArray>

#include <cmath>

namespace skelvar::rcon::web {

using lists::ListKind;
using lists::Record;

struct WebActions::Outcome {
    QString what;        // for the audit log
    QJsonObject answer;  // its "result" or "error" is the audit line's result
    int status = 200;
};

namespace {

constexpr int kMaxFieldLength = 128;

QJsonObject done(const QString& result, const QJsonObject& more = {})
{
    QJsonObject o = more;
    o.insert(QStringLiteral("result"), result);
    return o;
}

// A string field of the body; false when it is there but not a string, or too long.
bool stringField(const QJsonObject& body, const char* key, QString* out, int maxLength = kMaxFieldLength)
{
    const QJsonValue v = body.value(QLatin1String(key));
    if (v.isUndefined() || v.isNull()) {
        out->clear();
        return true;
    }
    if (!v.isString() || v.toString().size() > maxLength)
        return false;
    *out = v.toString();
    return true;
}

// Days of a ban: null or missing for no end, else a whole number in range.
bool banDays(const QJsonObject& body, std::optional<int>* days)
{
    const QJsonValue v = body.value(QStringLiteral("days"));
    if (v.isUndefined() || v.isNull()) {
        days->reset();
        return true;
    }
    const double d = v.toDouble(-1);
    if (!v.isDouble() || d != std::floor(d) || d < 1 || d > WebActions::kMaxBanDays)
        return false;
    *days = int(d);
    return true;
}

std::optional<Record> recordOf(const QJsonValue& value, ListKind kind)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    Record r;
    for (const auto& [key, field] : {std::pair{"ip", &r.ip}, std::pair{"name", &r.name}, std::pair{"reason", &r.reason},
                                     std::pair{"date", &r.date}, std::pair{"until", &r.until}}) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (QLatin1String(key) == QLatin1String("until") && kind != ListKind::Bans)
            continue;
        if (!v.isString())
            return std::nullopt;
        *field = v.toString();
    }
    return r;
}

QString who(const QString& name, const QString& ip)
{
    return QStringLiteral("\"%1\" (%2)").arg(name, ip);
}

WebActions::Outcome refused(const QString& what, int status, const QString& why)
{
    return {what, {{QStringLiteral("error"), why}}, status};
}

}  // namespace

WebActions::WebActions(Monitor& monitor, AuditLog& audit, QObject* parent)
    : QObject(parent), m_monitor(monitor), m_audit(audit), m_settings(monitor)
{
    connect(&monitor, &Monitor::consoleOutput, this, &WebActions::consoleAnswered);
}

WebActions::~WebActions() = default;

std::optional<WebReply> WebActions::run(const WebCall& call, Later later)
{
    const Session& s = *call.session;
    QList<Prompted> told;
    Outcome out;
    {
        const PrompterRelay::Taking taking(m_monitor.prompter(), &told);
        out = s.role == Role::Admin
                  ? dispatch(call, later)
                  : refused(call.path.mid(5), 403, QStringLiteral("A viewer cannot act; log in as an admin."));
    }
    if (!later)  // the console keeps it, and writes its audit line when answered
        return std::nullopt;
    QString result = out.answer.contains(QStringLiteral("error"))
                         ? QStringLiteral("refused: ") + out.answer.value(QStringLiteral("error")).toString()
                         : out.answer.value(QStringLiteral("result")).toString();
    if (!told.isEmpty()) {
        QJsonArray messages;
        for (const Prompted& m : told) {
            messages.append(QJsonObject{{QStringLiteral("title"), m.title}, {QStringLiteral("text"), m.text}});
            result += QStringLiteral("; told: ") + m.title;
        }
        out.answer.insert(QStringLiteral("messages"), messages);
    }
    m_audit.write(s.account, call.client, out.what, result);
    return WebReply::json(out.answer, out.status);
}

WebActions::Outcome WebActions::dispatch(const WebCall& call, Later& later)
{
    const QString path = call.path;
    const QJsonObject& body = call.body;
    if (path.startsWith(QLatin1String("/api/session/")))
        return session(path.mid(13));
    if (path == QLatin1String("/api/players/kick"))
        return kickOrBan(body, false);
    if (path == QLatin1String("/api/players/ban"))
        return kickOrBan(body, true);
    if (path == QLatin1String("/api/bans"))
        return addBan(body);
    if (path == QLatin1String("/api/console"))
        return console(call, later);
    if (path == QLatin1String("/api/settings"))
        return editSettings(body);
    const QStringList parts = path.split(QLatin1Char('/'));  // "", api, lists, <list>, <action>
    if (parts.size() == 5 && parts.at(2) == QLatin1String("lists"))
        return recordButton(parts.at(3), parts.at(4), body);
    return refused(path.mid(5), 404, QStringLiteral("No such action."));
}

// Start, Stop and a forced scan: the window's two buttons, usable as there.
WebActions::Outcome WebActions::session(const QString& what)
{
    MonitorSession& session = m_monitor.session;
    const UiState& ui = m_monitor.ui;
    const bool startUsable = ui.isEnabled(QString::fromLatin1(control::startButton));
    const QString action = QStringLiteral("session ") + what;
    if (m_monitor.exited())
        return refused(action, 409, QStringLiteral("The monitor is closing."));
    if (what == QLatin1String("start") || what == QLatin1String("scan")) {
        const bool scan = what == QLatin1String("scan");
        if (session.running() != scan)
            return refused(action, 409,
                           scan ? QStringLiteral("Not monitoring: start first.")
                                : QStringLiteral("Already monitoring; a scan is asked for with scan."));
        if (!startUsable)
            return refused(action, 409, QStringLiteral("The monitor is busy with the server; try again shortly."));
        session.start();
        return {action,
                done(scan ? QStringLiteral("A scan starts at the next tick.") : QStringLiteral("Monitoring starts."))};
    }
    if (what == QLatin1String("stop")) {
        if (!session.running())
            return refused(action, 409, QStringLiteral("Not monitoring."));
        if (!ui.isEnabled(QString::fromLatin1(control::stopButton)))
            return refused(action, 409, QStringLiteral("The monitor is busy with the server; try again shortly."));
        session.stop();
        return {action, done(QStringLiteral("Monitoring stops."))};
    }
    return refused(action, 404, QStringLiteral("The session's actions are start, stop and scan."));
}

WebActions::Outcome WebActions::kickOrBan(const QJsonObject& body, bool ban)
{
    QString no;
    QString name;
    QString ip;
    QString reason;
    std::optional<int> days;
    const QString verb = ban ? QStringLiteral("ban player") : QStringLiteral("kick player");
    if (!stringField(body, "no", &no) || !stringField(body, "name", &name) || !stringField(body, "ip", &ip) ||
        no.isEmpty())
        return refused(verb, 400, QStringLiteral("Name the player by no, name and ip, as Players shows him."));
    if (!stringField(body, "reason", &reason))
        return refused(verb, 400, QStringLiteral("reason is a short text."));
    const QString what = QStringLiteral("%1 %2 %3").arg(verb, no, who(name, ip));
    if (ban && !banDays(body, &days))
        return refused(what, 400,
                       QStringLiteral("days is a whole number from 1 to %1, or null for no end.").arg(kMaxBanDays));
    int row = -1;
    for (int i = 0; i < m_monitor.players.size() && row < 0; ++i) {
        const PlayerRow& p = m_monitor.players.at(i);
        if (p.no == no && p.name == name && p.ip == ip)
            row = i;
    }
    if (row < 0)
        return refused(what, 409, QStringLiteral("%1 is no longer in Players.").arg(who(name, ip)));
    if (!ban) {
        m_monitor.actions.kickPlayer(row);
        return {what, done(QStringLiteral("%1 is kicked (slot %2 is read again first).").arg(who(name, ip), no))};
    }
    // The ban's length as the window's controls give it: Indefinitely, or For <days>.
    Settings& s = m_monitor.settings;
    if (days) {
        s.setText(QString::fromLatin1(control::handBanDays), QString::number(*days));
        s.chooseHandBanForDays();
    } else {
        s.setChecked(QString::fromLatin1(control::handBanForever), true);
    }
    m_monitor.actions.banPlayer(row, reason);
    return {what + (days ? QStringLiteral(" for %1 days").arg(*days) : QStringLiteral(" without end")) +
                (reason.trimmed().isEmpty() ? QString() : QStringLiteral(", reason \"%1\"").arg(reason.trimmed())),
            done(QStringLiteral("%1 is banned and kicked.").arg(who(name, ip)))};
}

// A ban typed by hand: an address, an address pattern with xxx groups or a
// bracketed IPv6 address, added as the buttons add bans.
WebActions::Outcome WebActions::addBan(const QJsonObject& body)
{
    QString ip;
    QString name;
    QString reason;
    std::optional<int> days;
    if (!stringField(body, "ip", &ip) || !stringField(body, "name", &name) || !stringField(body, "reason", &reason))
        return refused(QStringLiteral("add ban"), 400, QStringLiteral("ip, name and reason are short texts."));
    ip = ip.trimmed();
    const QString what = QStringLiteral("add ban %1").arg(who(name, ip));
    if (!isBracketedV6(ip) && !parseBanAddress(ip))
        return refused(what, 400,
                       QStringLiteral("'%1' is no address or pattern (such as 10.1.2.3, 10.1.xxx.xxx or "
                                      "[2001:db8::7]).")
                           .arg(ip));
    if (!banDays(body, &days))
        return refused(what, 400,
                       QStringLiteral("days is a whole number from 1 to %1, or null for no end.").arg(kMaxBanDays));
    const QDate today = m_monitor.lists.today();
    const Record ban{ip, name, reason.isEmpty() ? QStringLiteral("Admin. Ban") : reason, lists::formatDate(today),
                     days ? lists::formatDate(today.addDays(*days)) : QString()};
    const QString length = days ? QStringLiteral(" for %1 days").arg(*days) : QStringLiteral(" without end");
    if (addBanUnlessCovered(m_monitor.lists.bans(), ban, today) < 0)
        return {what + length, done(QStringLiteral("%1 is banned at least as long already.").arg(ip),
                                    {{QStringLiteral("added"), false}})};
    return {what + length, done(QStringLiteral("%1 is banned.").arg(ip), {{QStringLiteral("added"), true}})};
}

// The record lists' buttons, on the row that holds the record named.
WebActions::Outcome WebActions::recordButton(const QString& listName, const QString& action, const QJsonObject& body)
{
    const auto kind = listKindNamed(listName);
    const QString what = QStringLiteral("%1 %2").arg(listName, action);
    if (!kind)
        return refused(what, 404, QStringLiteral("The lists are warnings, kicks and bans."));
    std::optional<ListButton> button;
    for (const ListButtonDef& def : listButtons()) {
        if (def.list != *kind)
            continue;
        const bool remove = def.button == ListButton::RemoveWarning || def.button == ListButton::RemoveKick ||
                            def.button == ListButton::RemoveBan;
        const bool convert = def.button == ListButton::WarningToBan || def.button == ListButton::KickToBan;
        if ((action == QLatin1String("remove") && remove) || (action == QLatin1String("convert") && convert) ||
            (action == QLatin1String("subrank") && def.button == ListButton::BanSubrank) ||
            (action == QLatin1String("provider") && def.button == ListButton::BanProvider))
            button = def.button;
    }
    if (!button)
        return refused(what, 404, QStringLiteral("No such button on %1.").arg(listName));
    const auto record = recordOf(body.value(QStringLiteral("record")), *kind);
    if (!record)
        return refused(what, 400, QStringLiteral("Name the record by all its fields, as the list shows it."));
    const QString named = QStringLiteral("%1 %2").arg(what, who(record->name, record->ip));
    RecordList& list = m_monitor.lists.list(*kind);
    int row = -1;
    for (int i = 0; i < list.size() && row < 0; ++i) {
        if (list.at(i) == *record)
            row = i;
    }
    if (row < 0)
        return refused(named, 409, QStringLiteral("The record is no longer in the list."));
    if (*button == ListButton::BanSubrank || *button == ListButton::BanProvider) {
        // Refused here with the reason the button would show in a message box.
        const auto how =
            *button == ListButton::BanSubrank ? RecordActions::Widen::Subrank : RecordActions::Widen::Provider;
        QString why;
        if (RecordActions::widenedPattern(record->ip, how, &why).isEmpty())
            return refused(named, 422, why);
    }
    m_monitor.actions.press(*button, row);
    return {named, done(QStringLiteral("Done: %1 %2.").arg(action, who(record->name, record->ip)))};
}

// The values of the window's tabs, each as if typed or clicked there.
WebActions::Outcome WebActions::editSettings(const QJsonObject& body)
{
    const SettingsEdit edit = m_settings.read(body);
    QStringList names;
    for (const SettingChange& c : edit.changes)
        names.append(c.control);
    const QString what =
        QStringLiteral("settings ") + (names.isEmpty() ? QStringLiteral("-") : names.join(QLatin1Char(',')));
    if (!edit.error.isEmpty())
        return refused(QStringLiteral("settings"), edit.status, edit.error);
    if (edit.changes.isEmpty())
        return {what, done(QStringLiteral("Nothing changed."), {{QStringLiteral("settings"), m_settings.form()}})};
    const bool written = m_settings.apply(edit);
    return {what, done(written ? QStringLiteral("Settings saved.")
                               : QStringLiteral("Settings changed, but rconskelvar.ini could not be written."),
                       {{QStringLiteral("saved"), written}, {QStringLiteral("settings"), m_settings.form()}})};
}

// The mini console: the command goes in as typed in the window's box, and the
// answer is the next text the console prints for it.
WebActions::Outcome WebActions::console(const WebCall& call, Later& later)
{
    QString command;
    if (!stringField(call.body, "command", &command, kMaxCommandLength) || command.trimmed().isEmpty() ||
        command.contains(QLatin1Char('\n')) || command.contains(QLatin1Char('\r')))
        return refused(QStringLiteral("console"), 400,
                       QStringLiteral("command is one line of up to %1 characters.").arg(kMaxCommandLength));
    const QString what = QStringLiteral("console ") + command;
    if (m_monitor.exited())
        return refused(what, 409, QStringLiteral("The monitor is closing."));
    if (!m_monitor.ui.isEnabled(QString::fromLatin1(control::consoleInput)))
        return refused(what, 409, QStringLiteral("The console waits for the server; try again shortly."));
    Waiting w;
    w.id = m_nextWaiting++;
    w.command = command;
    w.later = std::move(later);
    w.account = call.session->account;
    w.client = call.client;
    m_waiting.push_back(std::move(w));
    later = nullptr;
    const quint64 id = m_waiting.back().id;
    // Two reply waits (a read is tried twice) and the queue ahead of it.
    QTimer::singleShot(m_monitor.rcon.replyWait() * 2 + 5000, this, [this, id] { expireConsole(id); });
    m_monitor.consoleEnter(command);
    return {what, {}};
}

void WebActions::consoleAnswered(const QString& text)
{
    QJsonObject entry{{QStringLiteral("seq"), ++m_consoleSequence}, {QStringLiteral("text"), text}};
    if (!m_waiting.empty()) {
        Waiting w = std::move(m_waiting.front());
        m_waiting.pop_front();
        entry.insert(QStringLiteral("command"), w.command);
        if (!w.expired) {
            m_audit.write(w.account, w.client, QStringLiteral("console ") + w.command, QStringLiteral("answered"));
            w.later(WebReply::json({{QStringLiteral("command"), w.command}, {QStringLiteral("answer"), text}}));
        }
    }
    m_transcript.append(entry);
    while (m_transcript.size() > kConsoleKept)
        m_transcript.removeFirst();
}

void WebActions::expireConsole(quint64 id)
{
    for (Waiting& w : m_waiting) {
        if (w.id != id || w.expired)
            continue;
        w.expired = true;
        m_audit.write(w.account, w.client, QStringLiteral("console ") + w.command, QStringLiteral("no answer"));
        w.later(WebReply::error(504, QStringLiteral("The console printed nothing for the command.")));
    }
}

QJsonObject WebActions::consoleTranscript() const
{
    QJsonArray entries;
    for (const QJsonObject& e : m_transcript)
        entries.append(e);
    return {{QStringLiteral("entries"), entries}, {QStringLiteral("seq"), m_consoleSequence}};
}

}  // namespace skelvar::rcon::web
