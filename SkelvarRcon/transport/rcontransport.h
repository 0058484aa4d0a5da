#pragma once
// The remote console: one UDP datagram out, a fixed wait, the cleaned answer back.
// Requests go out strictly one at a time, in the order they were asked for, and
// paced so that the server's own request rate limit never drops one.

#include "SkelvarRcon/transport/task.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <coroutine>
#include <deque>
#include <functional>
#include <optional>

class QTimer;
class QUdpSocket;
class QHostInfo;

namespace skelvar::rcon {

// Where a request goes: the texts of the connection boxes.
struct RconTarget {
    QString host;
    QString port;
    QString password;
    bool operator==(const RconTarget&) const = default;
};

// The datagram for a command: the status query for exactly "getstatus",
// a console command otherwise. Nothing stands between the type byte and the
// words: the open-source engines skip that one byte and then take the raw
// line as "rcon" plus four characters, so a blank there would shift the
// command into the password's place.
QByteArray encodeRequest(const QString& command, const QString& password);

// What one request got back. A server that answers with an empty print (an
// unset variable on the open-source engines, a "set") has answered; only a
// request without a single datagram is silent.
struct Reply {
    QString text;
    bool answered = false;
    operator const QString&() const { return text; }
};

// One answer datagram with its framing removed: its first 11 bytes, and any
// further whole answer header (0xFF x4, 0x01, "print", a line feed) inside it.
QString stripFraming(const QByteArray& datagram);

// The answer text from the datagrams of one request, in arrival order.
QString cleanReply(const QList<QByteArray>& datagrams);

// Text taken from players or the server that is placed inside a command:
// no line break, ';' or '"' that the server's console would read as the end
// of the command or the start of another one.
QString rconSafe(const QString& text);

// rconSafe text as the argument of a command that reads the rest of its line
// (say, set): the engines take "//" and "/*" outside double quotes as the
// start of a comment and drop what follows, so such text goes out quoted.
QString rconArgument(const QString& text);

// A token bucket of requests: `burst` at once, then one more every `periodMs`.
// A burst of 0 paces nothing.
struct Pacing {
    int burst = 10;
    int periodMs = 1000;
    bool operator==(const Pacing&) const = default;
};

class RconTransport : public QObject {
    Q_OBJECT
public:
    static constexpr int kReplyWaitMs = 700;
    // The engines take 10 requests from one address, then one a second, and
    // drop the rest without an answer.
    static constexpr Pacing kEnginePacing{10, 1000};
    // The server's clock and ours differ, and other tools on this host may
    // spend the same budget: each token is earned this much later than the
    // server's.
    static constexpr int kPacingMarginPercent = 3;

    explicit RconTransport(QObject* parent = nullptr, int replyWaitMs = kReplyWaitMs);
    ~RconTransport() override;

    // Test hooks: the product always waits kReplyWaitMs and paces at kEnginePacing.
    void setReplyWaitForTests(int ms) { m_waitMs = ms; }
    int replyWait() const { return m_waitMs; }
    void setPacingForTests(const Pacing& p) { m_pacing = p; }
    Pacing pacing() const { return m_pacing; }

    // Target of requests that do not name their own.
    void setTarget(const RconTarget& t) { m_target = t; }
    RconTarget target() const { return m_target; }

    void setActivityLogPath(const QString& path) { m_logPath = path; }
    QString activityLogPath() const { return m_logPath; }
    // Creates activity.log anew, empty.
    void resetActivityLog();

    // The busy flag: a request is being sent or waited for.
    bool busy() const { return m_current.has_value(); }
    int queued() const { return int(m_queue.size()); }

    // A read (status, dumpuser, getstatus, a variable query) that gets no
    // datagram at all is sent once more before it is given up; a command with
    // effects (say, set, clientkick, the console's lines) never is.
    enum class Kind { Command, Read };

    using Callback = std::function<void(const Reply&)>;
    // Queues a request; `done` runs later from the event loop with the answer
    // (not answered, empty, when nothing came). Returns an id for cancel().
    quint64 request(const QString& command, const RconTarget& target, Callback done, Kind kind = Kind::Command);
    quint64 request(const QString& command, Callback done, Kind kind = Kind::Command)
    {
        return request(command, m_target, std::move(done), kind);
    }

    // Requests given up without a single datagram from the server, counted
    // once each: a read only after its second try was silent too. Requests
    // dropped by shutdown() are not counted.
    int unansweredCount() const { return m_unanswered; }
    // Drops the callback; a request not yet sent is not sent at all.
    void cancel(quint64 id);

    class Awaiter {
    public:
        Awaiter(RconTransport* t, QString command, std::optional<RconTarget> target, Kind kind)
            : m_transport(t), m_command(std::move(command)), m_target(std::move(target)), m_kind(kind)
        {
        }
        Awaiter(const Awaiter&) = delete;
        ~Awaiter()
        {
            if (m_id && m_transport)
                m_transport->cancel(m_id);
        }
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> h)
        {
            auto done = [this, h](const Reply& answer) {
                m_answer = answer;
                m_id = 0;
                h.resume();
            };
            m_id = m_target ? m_transport->request(m_command, *m_target, done, m_kind)
                            : m_transport->request(m_command, done, m_kind);
        }
        Reply await_resume() { return m_answer; }

    private:
        QPointer<RconTransport> m_transport;
        QString m_command;
        std::optional<RconTarget> m_target;
        Kind m_kind;
        quint64 m_id = 0;
        Reply m_answer;
    };

    // `QString answer = co_await rcon.send("status");`
    Awaiter send(QString command) { return Awaiter(this, std::move(command), std::nullopt, Kind::Command); }
    Awaiter send(QString command, RconTarget target)
    {
        return Awaiter(this, std::move(command), std::move(target), Kind::Command);
    }
    // `QString info = co_await rcon.read("dumpuser \"Name", target);`
    Awaiter read(QString command, RconTarget target)
    {
        return Awaiter(this, std::move(command), std::move(target), Kind::Read);
    }

    // Closes the socket and drops every queued request (program exit).
    void shutdown();

    QTimer* replyTimer() const { return m_replyTimer; }

signals:
    // Around every request: the window disables its nine session controls on
    // the first and enables all of them on the second.
    void requestStarted();
    void requestFinished();
    // A read was given up: neither it nor its second try got an answer.
    void readUnanswered(const QString& command);

private:
    struct Pending {
        quint64 id;
        QString command;
        RconTarget target;
        Kind kind = Kind::Command;
        bool retried = false;
    };
    void startNext();
    void launch();
    double tokenPeriodMs() const;
    int tokensHeld(qint64 now) const;
    int pacingDelayMs() const;
    void spendToken();
    void sendDatagram(const QHostAddress& addr);
    void onHostFound(const QHostInfo& info);
    void onReadyRead();
    void takeDatagrams(QUdpSocket* socket);
    void onWaitOver();
    void appendLog(const QByteArray& bytes);

    int m_waitMs;
    Pacing m_pacing = kEnginePacing;
    QElapsedTimer m_clock;
    int m_tokensSpent = 0;     // in the bucket as we model it, never below the server's count
    qint64 m_lastSendMs = -1;  // on m_clock, of the last datagram sent
    QTimer* m_pacingTimer = nullptr;
    RconTarget m_target;
    QString m_logPath = QStringLiteral("activity.log");
    quint64 m_nextId = 1;
    std::deque<Pending> m_queue;
    QHash<quint64, Callback> m_callbacks;
    std::optional<Pending> m_current;
    QList<QByteArray> m_datagrams;
    QHostAddress m_peer;
    quint16 m_peerPort = 0;
    int m_lookupId = -1;
    QUdpSocket* m_socket = nullptr;  // UDPClient
    QTimer* m_replyTimer = nullptr;  // Timer2
    bool m_shutDown = false;
    int m_unanswered = 0;
};

}  // namespace skelvar::rcon
