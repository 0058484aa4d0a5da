#pragma once
// Puts a real ioquake3 server (see engineserver.h) in the place of the target
// game's server. The engine speaks the same remote console with a few
// differences, which the bridge carries both ways:
// - requests: the one byte after the four 0xFF bytes is removed (the target
//   game's servers skip it, ioquake3 would read it as part of the command);
// - answers: 0x01 goes before "print";
// - the status table gets the target game's eight columns (lastmsg and qport
//   added), and each bot, shown at the address "bot", gets its own made-up
//   address from 192.0.2.0/24 that is only ever written into the table;
// - a user-info table gets the target game's layout: ioquake3 pads each
//   setting's name to 20 and a blank, the target game to 21 and ": ".
// The monitor talks to the bridge on 127.0.0.1; every request goes on to the
// server from the bridge's one socket, so the server sees one client host.

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QUdpSocket;

namespace skelvar::test {

class EngineBridge : public QObject {
    Q_OBJECT
public:
    // One request as the server got it, and how many datagrams it answered with.
    struct Exchange {
        QString command;  // the console command without password, or "getstatus"
        int answers = 0;
        qint64 atMs = 0;  // since the bridge started
    };

    explicit EngineBridge(quint16 serverPort, QObject* parent = nullptr, int lifetimeMs = 300000);
    ~EngineBridge() override;

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const;
    QString portText() const { return QString::number(port()); }

    // The address that a bot's rows carry, "" before the bot was first listed.
    // A bot without one set beforehand gets the next free one at its first row.
    QString botAddress(const QString& name) const { return m_botAddresses.value(name); }
    void setBotAddress(const QString& name, const QString& address) { m_botAddresses.insert(name, address); }

    const QList<Exchange>& exchanges() const { return m_exchanges; }
    // The commands of the requests that got no answer at all.
    QStringList unanswered() const;
    void clearExchanges() { m_exchanges.clear(); }

    // The rewrites, for a reader who wants to see them on their own.
    static QByteArray toEngineRequest(const QByteArray& datagram);
    // Status text in the engine's layout to the target game's layout, one whole
    // line at a time; `addressOf` gives the address for a bot's name.
    static QString toTargetStatus(const QString& engineLines, const std::function<QString(const QString&)>& addressOf);
    static QString toTargetUserinfo(const QString& engineLines);

private:
    void onClientDatagram();
    void onServerDatagram();
    QString madeUpAddress(const QString& name);

    QUdpSocket* m_front;  // the monitor's side
    QUdpSocket* m_back;   // the server's side
    quint16 m_serverPort;
    QHostAddress m_clientHost;
    quint16 m_clientPort = 0;
    bool m_statusAnswer = false;    // the answers now coming are a status table
    bool m_userinfoAnswer = false;  // ... a dumpuser table
    QString m_statusCarry;          // a table line cut between two datagrams
    QList<Exchange> m_exchanges;
    QHash<QString, QString> m_botAddresses;
    qint64 m_started;
};

}  // namespace skelvar::test
