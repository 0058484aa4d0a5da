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
// a console command otherwise.
QByteArray encodeRequest(const QString& command, const QString& password);

// One answer datagram with its framing removed: its first 11 bytes, and any
// further whole answer header (0xFF x4, 0x01, "print", a line feed) inside it.
QString stripFraming(const QByteArray& datagram);

// The answer text from the datagrams of one request, in arrival order.
QString cleanReply(const QList<QByteArray>& datagrams);

// Text taken from players or the server that is placed inside a command:
// no line break, ';' or '"' that the server's console would read as the end
// of the command or the start of another one.
QString rconSafe(const QString& text);

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
    void setReplyWaitForTests(int ms) { waitMs_ = ms; }
    int replyWait() const { return waitMs_; }
    void setPacingForTests(const Pacing& p) { pacing_ = p; }
    Pacing pacing() const { return pacing_; }

    // Target of requests that do not name their own.
    void setTarget(const RconTarget& t) { target_ = t; }
    RconTarget target() const { return target_; }

    void setActivityLogPath(const QString& path) { logPath_ = path; }
    QString activityLogPath() const { return logPath_; }
    // Creates activity.log anew, empty.
    void resetActivityLog();

    // The busy flag: a request is being sent or waited for.
    bool busy() const { return current_.has_value(); }
    int queued() const { return int(queue_.size()); }

    // A read (status, dumpuser, getstatus, a variable query) that gets no
    // datagram at all is sent once more before it is given up; a command with
    // effects (say, set, clientkick, the console's lines) never is.
    enum class Kind { Command, Read };

    using Callback = std::function<void(const QString&)>;
    // Queues a request; `done` runs later from the event loop with the answer
    // (empty when nothing came). Returns an id for cancel().
    quint64 request(const QString& command, const RconTarget& target, Callback done, Kind kind = Kind::Command);
    quint64 request(const QString& command, Callback done, Kind kind = Kind::Command)
    {
        return request(command, target_, std::move(done), kind);
    }

    // Requests given up without a single datagram from the server, counted
    // once each: a read only after its second try was silent too. Requests
    // dropped by shutdown() are not counted.
    int unansweredCount() const { return unanswered_; }
    // Drops the callback; a request not yet sent is not sent at all.
    void cancel(quint64 id);

    class Awaiter {
    public:
        Awaiter(RconTransport* t, QString command, std::optional<RconTarget> target, Kind kind)
            : t_(t), command_(std::move(command)), target_(std::move(target)), kind_(kind) {}
        Awaiter(const Awaiter&) = delete;
        ~Awaiter()
        {
            if (id_ && t_)
                t_->cancel(id_);
        }
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> h)
        {
            auto done = [this, h](const QString& answer) {
                answer_ = answer;
                id_ = 0;
                h.resume();
            };
            id_ = target_ ? t_->request(command_, *target_, done, kind_) : t_->request(command_, done, kind_);
        }
        QString await_resume() { return answer_; }

    private:
        QPointer<RconTransport> t_;
        QString command_;
        std::optional<RconTarget> target_;
        Kind kind_;
        quint64 id_ = 0;
        QString answer_;
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

    QTimer* timer2() const { return timer2_; }

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

    int waitMs_;
    Pacing pacing_ = kEnginePacing;
    QElapsedTimer clock_;
    int tokensSpent_ = 0;     // in the bucket as we model it, never below the server's count
    qint64 lastSendMs_ = -1;  // on clock_, of the last datagram sent
    QTimer* pacingTimer_ = nullptr;
    RconTarget target_;
    QString logPath_ = QStringLiteral("activity.log");
    quint64 nextId_ = 1;
    std::deque<Pending> queue_;
    QHash<quint64, Callback> callbacks_;
    std::optional<Pending> current_;
    QList<QByteArray> datagrams_;
    QHostAddress peer_;
    quint16 peerPort_ = 0;
    int lookupId_ = -1;
    QUdpSocket* socket_ = nullptr;  // UDPClient
    QTimer* timer2_ = nullptr;
    bool shutDown_ = false;
    int unanswered_ = 0;
};

}  // namespace skelvar::rcon
