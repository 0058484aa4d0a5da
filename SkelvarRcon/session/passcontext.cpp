#include "SkelvarRcon/session/passcontext.h"

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

Task<> PassContext::sayKickLog(QString notice, QString clientNum)
{
    co_await say(notice);
    co_await kick(clientNum);
    log(notice);
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
            [this, h](const QString& answer) {
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
