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
        bool console = false;      // "rcon" and a password
        QString password;
        QString command;
        QHostAddress from;
        quint16 fromPort = 0;
        qint64 atMs = 0;       // since the double started
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
        m_ratePeriodMs = periodMs;
        m_rateBurst = burst;
        m_buckets.clear();
    }
    int droppedCount() const;
    // A stopped server process: requests arrive and are recorded, nothing answers.
    void setAnswering(bool on) { m_answering = on; }

    // A wrong password gets the console's refusal text.
    void setPassword(const QString& p) { m_password = p; }
    QString password() const { return m_password; }

    // One-shot replies for an exact command, used in order before anything else.
    void queueReply(const QString& command, Reply reply);
    // Answer for every later request of that command (until replaced).
    void setReply(const QString& command, Reply reply);
    void setSilent(const QString& command) { setReply(command, {}); }
    // Full control: return a reply to use it, nullopt to fall through.
    void setHandler(std::function<std::optional<Reply>(const Received&)> h) { m_handler = std::move(h); }

    // How the console prints: ioquake3 adds a colour code to every value,
    // says whether it is the default and names an unknown command; OpenMoHAA
    // prints values without colour codes and answers an unset variable or an
    // unknown command with an empty print; the original servers print
    // `"name" is:"value" default:""` and "Unknown command".
    enum class Dialect { Engine, OpenMohaa, Original };
    void setDialect(Dialect d) { m_dialect = d; }

    // Server variables: "set name value" stores, a bare "name" prints them.
    // The first value a variable gets is its default.
    void setVariable(const QString& name, const QString& value)
    {
        m_vars.insert(name, value);
        if (!m_defaults.contains(name))
            m_defaults.insert(name, value);
    }
    void removeVariable(const QString& name)
    {
        m_vars.remove(name);
        m_defaults.remove(name);
    }
    QString variable(const QString& name) const { return m_vars.value(name); }
    bool hasVariable(const QString& name) const { return m_vars.contains(name); }

    // Connected players, when a test gives them: status, dumpuser and
    // clientkick then answer from this table as the engines do (a name is
    // found case-insensitively or without colour codes, the first match wins,
    // and digits are a client number).
    struct Player {
        int num = 0;
        QString name;
        QString ip;
        int port = 27000;
        QString ping = QStringLiteral("50");
        int rate = 25000;
        QList<std::pair<QString, QString>> userinfo;  // after name and ip
    };
    void setPlayers(const QList<Player>& players);
    QList<Player> players() const { return m_players; }
    static QByteArray statusText(const QString& map, const QList<Player>& players);

    // Sends a datagram to the client port of the last request (a late answer).
    void sendToLastClient(const QByteArray& bytes);

    const QList<Received>& received() const { return m_received; }
    QStringList commands() const;  // the console commands (and "getstatus") in arrival order
    void clearReceived() { m_received.clear(); }

    // Console answer framing.
    static QByteArray answer(const QByteArray& text);
    static Datagram datagram(const QByteArray& text, int delayMs = 0) { return {answer(text), delayMs}; }
    // A long answer cut into several datagrams of at most `chunk` text bytes each.
    static Reply splitAnswer(const QByteArray& text, int chunk);
    // The original console's print of a variable: "name" is:"value" default:""
    static QByteArray variableText(const QString& name, const QString& value);
    // The engines' print: "name" is:"value^7", the default / ... default:"d^7"
    static QByteArray engineVariableText(const QString& name, const QString& value, const QString& defaultValue);
    // OpenMoHAA's: "name" is:"value", the default / ... default:"d"
    static QByteArray openMohaaVariableText(const QString& name, const QString& value, const QString& defaultValue);
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
    std::optional<Reply> playerCommand(const QString& command);
    const Player* playerByHandle(const QString& handle) const;
    void sendReply(const Reply& reply, const QHostAddress& to, quint16 port);
    bool overRateLimit(const QHostAddress& from, qint64 nowMs);

    struct Bucket {
        int burst = 0;
        qint64 lastTime = 0;
    };
    int m_ratePeriodMs = kEngineRatePeriodMs;
    int m_rateBurst = 10;
    bool m_answering = true;
    QHash<QString, Bucket> m_buckets;

    QUdpSocket* m_socket;
    QString m_password = QStringLiteral("secret");
    QHash<QString, std::deque<Reply>> m_queued;
    QHash<QString, Reply> m_fixed;
    QHash<QString, QString> m_vars;
    QHash<QString, QString> m_defaults;
    Dialect m_dialect = Dialect::Engine;
    std::function<std::optional<Reply>(const Received&)> m_handler;
    QList<Player> m_players;
    bool m_hasPlayers = false;
    QList<Received> m_received;
    QHostAddress m_lastFrom;
    quint16 m_lastPort = 0;
    qint64 m_started;
};

}  // namespace skelvar::test
