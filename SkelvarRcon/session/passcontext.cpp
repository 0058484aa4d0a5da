#include "SkelvarRcon/session/passcontext.h"

#include "SkelvarRcon/engine/serverparse.h"
#include "SkelvarRcon/penalties/ingameban.h"
#include "SkelvarRcon/session/monitorsession.h"
#include "SkelvarRcon/session/skelvarlog.h"
#include "SkelvarRcon/store/settings.h"

#include <QTimer>

namespace skelvar::rcon {

PassContext::PassContext(MonitorSession& session, RconTransport& rcon, const Settings& settings, SkelvarLog& log)
    : m_session(session), m_rcon(rcon), m_settings(settings), m_log(log), m_generation(session.generation()),
      m_target(session.target())
{
}

bool PassContext::current() const
{
    return m_session.isCurrent(m_generation);
}

void PassContext::drop()
{
    if (m_dropped)
        return;
    m_dropped = true;
    if (m_onDropped)
        m_onDropped();
}

Task<bool> PassContext::slotStillHolds(const PlayerRecord& player)
{
    const Reply status = co_await ask(QStringLiteral("status"));
    const QString who = QStringLiteral("%1 (%2)").arg(player.name, player.ip);
    if (!status.answered) {
        log(QStringLiteral("Not kicked: client %1 %2, the server did not answer status").arg(player.clientNum, who));
        co_return false;
    }
    const std::optional<PlayerRecord> now = playerInSlot(status.text, player.clientNum);
    if (!now) {
        log(QStringLiteral("Not kicked: client %1 %2 has left").arg(player.clientNum, who));
        co_return false;
    }
    if (holdsSlot({now->name, now->ip}, player.name, player.ip))
        co_return true;
    log(QStringLiteral("Not kicked: client %1 %2, the slot now holds %3 (%4)")
            .arg(player.clientNum, who, now->name, now->ip));
    co_return false;
}

Task<bool> PassContext::sendKick(const PlayerRecord& player)
{
    const Reply answer = co_await send(QStringLiteral("clientkick ") + rconSafe(player.clientNum));
    if (!kickRefused(answer.text))
        co_return true;
    log(QStringLiteral("Not kicked: client %1 %2 (%3), the server said: %4")
            .arg(player.clientNum, player.name, player.ip, answer.text.section(QStringLiteral("\r\n"), 0, 0)));
    co_return false;
}

Task<bool> PassContext::kick(PlayerRecord player)
{
    const bool holds = co_await slotStillHolds(player);
    if (!holds)
        co_return false;
    const bool kicked = co_await sendKick(player);
    co_return kicked;
}

Task<bool> PassContext::sayKickLog(QString notice, PlayerRecord player)
{
    const bool holds = co_await slotStillHolds(player);
    if (!holds)
        co_return false;
    co_await say(notice);
    const bool kicked = co_await sendKick(player);
    if (!kicked)
        co_return false;
    log(notice);
    co_return true;
}

void PassContext::log(const QString& text) const
{
    if (m_settings.logAlerts())
        m_log.append(text);
}

PassContext::Wait::Wait(PassContext& pass, Kind kind, QString command, int pauseMs)
    : m_pass(pass), m_rcon(&pass.m_rcon), m_kind(kind), m_command(std::move(command)), m_pauseMs(pauseMs)
{
}

PassContext::Wait::~Wait()
{
    // A pass destroyed while it waits takes its request back.
    if (m_id && m_rcon)
        m_rcon->cancel(m_id);
    delete m_timer;
}

bool PassContext::Wait::await_ready() const noexcept
{
    return m_kind == Kind::Checkpoint && m_pass.current();
}

void PassContext::Wait::await_suspend(std::coroutine_handle<> h)
{
    // A pass that has lost its session starts nothing more.
    if (!m_pass.current()) {
        m_pass.drop();
        return;
    }
    switch (m_kind) {
    case Kind::Read:
    case Kind::Command: {
        const auto kind = m_kind == Kind::Read ? RconTransport::Kind::Read : RconTransport::Kind::Command;
        m_id = m_rcon->request(
            m_command, m_pass.m_target,
            [this, h](const Reply& answer) {
                m_answer = answer;
                m_id = 0;
                finish(h);
            },
            kind);
        break;
    }
    case Kind::Pause:
        m_timer = new QTimer(m_rcon);
        m_timer->setSingleShot(true);
        QObject::connect(m_timer, &QTimer::timeout, m_timer, [this, h] { finish(h); });
        m_timer->start(m_pauseMs);
        break;
    case Kind::Checkpoint: break;  // ready whenever current
    }
}

void PassContext::Wait::finish(std::coroutine_handle<> h)
{
    if (m_pass.current())
        h.resume();
    else
        m_pass.drop();
}

}  // namespace skelvar::rcon
