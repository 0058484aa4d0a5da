#pragma once
// A real dedicated server of the same engine family (Debian's openarena-server,
// built on ioquake3) for the tests that must see a real engine's answers. It
// listens on 127.0.0.1 only, keeps its files in a scratch HOME, takes console
// commands on its standard input and is ended by its process id whatever the
// test does.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace skelvar::test {

class EngineServer : public QObject {
    Q_OBJECT
public:
    static constexpr int kReadyTimeoutMs = 30000;

    explicit EngineServer(QObject* parent = nullptr);
    ~EngineServer() override;

    static QString program();
    // A UDP port on 127.0.0.1 that nothing was bound to a moment ago.
    static quint16 freePort();

    // Starts the server on 127.0.0.1:port and waits until its map and bot
    // library are loaded. False, with the reason, when the program is missing,
    // does not start, takes another port or is not ready in time.
    bool start(quint16 port, const QString& password, QString* error = nullptr);
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    qint64 processId() const { return m_process.processId(); }
    quint16 port() const { return m_port; }

    // One line on the server's console (its standard input).
    void command(const QString& line);
    // Adds the bots and waits until each has entered the game.
    bool addBots(const QStringList& names, QString* error = nullptr);

    // A console command of the test's own, sent straight to the server from
    // 127.0.0.2, so it spends none of the monitor's request budget. Returns the
    // answer's datagrams as the engine sent them, none when it stays silent.
    QList<QByteArray> ask(const QString& command);
    // The text of those datagrams, each without its framing, joined.
    static QByteArray answerText(const QList<QByteArray>& datagrams);

    // Ends the process by its id and waits for it; safe to call twice.
    void stop();

    // Everything it printed so far.
    QByteArray output() const { return m_output; }

private:
    bool waitForOutput(const QByteArray& text, int count, int timeoutMs);
    void readOutput();

    QTemporaryDir m_home;
    QProcess m_process;
    QByteArray m_output;
    QString m_password;
    quint16 m_port = 0;
};

}  // namespace skelvar::test
