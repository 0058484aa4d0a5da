#pragma once
// A scriptable game server on 127.0.0.1 for the monitor's tests: it answers the
// remote console over real UDP, records every datagram it receives, keeps server
// variables like the real console does, and closes by itself after its lifetime.

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>

class QUdpSocket;

namespace skelvar::test {

class GameServerDouble : public QObject {
    Q_OBJECT
public:
    struct Datagram {
        QByteArray bytes;
        int delayMs = 0;  // sent this long after the request arrived
    };
    using Reply = QList<Datagram>;

    struct Received {
        QByteArray raw;
        bool statusQuery = false;  // connectionless "getstatus"
        QString password;
        QString command;
        QHostAddress from;
        quint16 fromPort = 0;
        qint64 atMs = 0;  // since the double started
        bool dropped = false;  // over the rate limit: not answered
    };

    explicit GameServerDouble(QObject* parent = nullptr, int lifetimeMs = 120000);
    ~GameServerDouble() override;

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const;
    QString portText() const { return QString::number(port()); }

    // Like the engines: each source address (its port aside) may send `burst`
    // requests, then one more per period, rcon and getstatus alike; the rest
    // are dropped without an answer. Period 0 turns the limit off.
    static constexpr int kEngineRatePeriodMs = 1000;
    void setRateLimit(int periodMs, int burst = 10)
    {
        ratePeriodMs_ = periodMs;
        rateBurst_ = burst;
        buckets_.clear();
    }
    int droppedCount() const;
    // A stopped server process: requests arrive and are recorded, nothing answers.
    void setAnswering(bool on) { answering_ = on; }

    // A wrong password gets the console's refusal text.
    void setPassword(const QString& p) { password_ = p; }
    QString password() const { return password_; }

    // One-shot replies for an exact command, used in order before anything else.
    void queueReply(const QString& command, Reply reply);
    // Answer for every later request of that command (until replaced).
    void setReply(const QString& command, Reply reply);
    void setSilent(const QString& command) { setReply(command, {}); }
    // Full control: return a reply to use it, nullopt to fall through.
    void setHandler(std::function<std::optional<Reply>(const Received&)> h) { handler_ = std::move(h); }

    // How the console prints: the open-source engines add a colour code to
    // every value and say whether it is the default; the original servers
    // print `"name" is:"value" default:""` and "Unknown command".
    enum class Dialect { Engine, Original };
    void setDialect(Dialect d) { dialect_ = d; }

    // Server variables: "set name value" stores, a bare "name" prints them.
    // The first value a variable gets is its default.
    void setVariable(const QString& name, const QString& value)
    {
        vars_.insert(name, value);
        if (!defaults_.contains(name))
            defaults_.insert(name, value);
    }
    void removeVariable(const QString& name)
    {
        vars_.remove(name);
        defaults_.remove(name);
    }
    QString variable(const QString& name) const { return vars_.value(name); }
    bool hasVariable(const QString& name) const { return vars_.contains(name); }

    // Sends a datagram to the client port of the last request (a late answer).
    void sendToLastClient(const QByteArray& bytes);

    const QList<Received>& received() const { return received_; }
    QStringList commands() const;  // the console commands (and "getstatus") in arrival order
    void clearReceived() { received_.clear(); }

    // Console answer framing.
    static QByteArray answer(const QByteArray& text);
    static Datagram datagram(const QByteArray& text, int delayMs = 0) { return {answer(text), delayMs}; }
    // A long answer cut into several datagrams of at most `chunk` text bytes each.
    static Reply splitAnswer(const QByteArray& text, int chunk);
    // The original console's print of a variable: "name" is:"value" default:""
    static QByteArray variableText(const QString& name, const QString& value);
    // The engines' print: "name" is:"value^7", the default / ... default:"d^7"
    static QByteArray engineVariableText(const QString& name, const QString& value, const QString& defaultValue);
    // An answer cut into datagrams as the engines flush their print buffer:
    // at most 1007 bytes of text each, at a line's end where one fits.
    static Reply engineAnswer(const QByteArray& text);
    // dumpuser for a name nobody has.
    static QByteArray notOnServerText(const QString& name);

signals:
    void datagramReceived();

private:
    void onReadyRead();
    Reply replyFor(const Received& r);
    void sendReply(const Reply& reply, const QHostAddress& to, quint16 port);
    bool overRateLimit(const QHostAddress& from, qint64 nowMs);

    struct Bucket {
        int burst = 0;
        qint64 lastTime = 0;
    };
    int ratePeriodMs_ = kEngineRatePeriodMs;
    int rateBurst_ = 10;
    bool answering_ = true;
    QHash<QString, Bucket> buckets_;

    QUdpSocket* socket_;
    QString password_ = QStringLiteral("secret");
    QHash<QString, std::deque<Reply>> queued_;
    QHash<QString, Reply> fixed_;
    QHash<QString, QString> vars_;
    QHash<QString, QString> defaults_;
    Dialect dialect_ = Dialect::Engine;
    std::function<std::optional<Reply>(const Received&)> handler_;
    QList<Received> received_;
    QHostAddress lastFrom_;
    quint16 lastPort_ = 0;
    qint64 started_;
};

}  // namespace skelvar::test
