#pragma once
// One pass of the engine as it talks to the server: the session generation
// and the server it began with, and the requests, notices, kicks and log
// lines of its steps.
//
// A pass belongs to the session it began in. Every wait of the pass (a
// request, a pause) checks on its end that this session still runs; when it
// does not, the pass is not resumed and its owner is told to drop it, so no
// line of it runs after a stop or a new start and nothing more is sent.

#include "SkelvarRcon/engine/playerrecord.h"
#include "SkelvarRcon/transport/rcontransport.h"
#include "SkelvarRcon/transport/task.h"

#include <QPointer>
#include <QString>

#include <coroutine>
#include <functional>

class QTimer;

namespace skelvar::rcon {

class MonitorSession;
class Settings;
class SkelvarLog;

class PassContext {
public:
    // Takes the session's generation and target as they are now.
    PassContext(MonitorSession& session, RconTransport& rcon, const Settings& settings, SkelvarLog& log);
    PassContext(const PassContext&) = delete;
    PassContext& operator=(const PassContext&) = delete;

    // The session this pass began in still runs.
    bool current() const;
    // A wait found the pass no longer current: it will not go on.
    bool dropped() const { return m_dropped; }
    // Told once, from the wait that found the pass no longer current. The
    // owner destroys the pass's coroutine from the event loop.
    void setOnDropped(std::function<void()> onDropped) { m_onDropped = std::move(onDropped); }

    // What the pass awaits; `co_await` gives the answer (empty for a pause).
    class Wait {
    public:
        enum class Kind { Read, Command, Pause, Checkpoint };
        Wait(PassContext& pass, Kind kind, QString command, int pauseMs = 0);
        Wait(const Wait&) = delete;
        ~Wait();
        bool await_ready() const noexcept;
        void await_suspend(std::coroutine_handle<> h);
        Reply await_resume() { return m_answer; }

    private:
        void finish(std::coroutine_handle<> h);

        PassContext& m_pass;
        QPointer<RconTransport> m_rcon;
        Kind m_kind;
        QString m_command;
        int m_pauseMs;
        quint64 m_id = 0;
        QPointer<QTimer> m_timer;
        Reply m_answer;
    };

    // A read (status, dumpuser, a variable query): asked once more when silent.
    Wait ask(QString command) { return Wait(*this, Wait::Kind::Read, std::move(command)); }
    // A command with effects, sent once.
    Wait send(QString command) { return Wait(*this, Wait::Kind::Command, std::move(command)); }
    // "say" with the text made safe for the console.
    Wait say(const QString& text) { return send(QStringLiteral("say ") + rconArgument(text)); }
    // The player's kick, after the server's status showed his slot still
    // holds him (a slot can change hands during a long pass). True when the
    // kick went out and the server did not refuse it.
    Task<bool> kick(PlayerRecord player);
    // A pause that keeps the window running.
    Wait pause(int ms) { return Wait(*this, Wait::Kind::Pause, QString(), ms); }
    // Goes on only while the pass is current. For the few places where the
    // pass may have lost its session without waiting for the server: after
    // something it ran itself ended the session, or after asking the operator.
    Wait checkpoint() { return Wait(*this, Wait::Kind::Checkpoint, QString()); }

    // A notice to a player, his kick, and the notice in skelvar.log; nothing
    // when his slot holds somebody else, no log line when the kick was refused.
    Task<bool> sayKickLog(QString notice, PlayerRecord player);
    // skelvar.log gets alerts only while the operator has logging ticked.
    void log(const QString& text) const;

private:
    void drop();
    Task<bool> slotStillHolds(const PlayerRecord& player);
    Task<bool> sendKick(const PlayerRecord& player);

    MonitorSession& m_session;
    RconTransport& m_rcon;
    const Settings& m_settings;
    SkelvarLog& m_log;
    quint64 m_generation;
    RconTarget m_target;
    bool m_dropped = false;
    std::function<void()> m_onDropped;
};

}  // namespace skelvar::rcon
