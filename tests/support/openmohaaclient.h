#pragma once
// A game client that only connects to a real OpenMoHAA server (see
// openmohaaserver.h): it asks for a challenge, then sends the connect with its
// user info, compressed with the engine's adaptive Huffman coder as a real
// client does, from a loopback source address of its own (127.0.0.N) and a
// chosen qport. The server then lists it in status as CNCT at that address
// until sv_timeout passes without a packet from it; it never enters the game,
// so scripts see no player entity. Enough for status, dumpuser, say and kick.
//
// What the user info can carry (the server reads the connect as one text
// line, takes the info string as one quoted word and then splits it at '\'):
// - no '"' (it ends the quoted word, there is no escape), no '\' (the key and
//   value separator), no NUL or line feed (they end the line): connectTo()
//   refuses such a key or value;
// - a '%' arrives as '.' (the server replaces it in every packet line);
// - blanks, ';', colour codes ("^1") and bytes above 127 arrive as sent;
// - the whole string, with the "ip" key the server adds in front, must stay
//   under 1350 bytes, or the server cuts it;
// - status shows a name's first 31 bytes; the user info keeps it whole.
// Names the server treats alike: dumpuser and kick take a name
// case-insensitively and also without its colour codes, and take the first
// match in slot order ("dumpuser Eve" can find "ev^1E"); a name of digits
// ("0") is read as a client number first.
// Two clients from one address need different qports: the same qport (or
// the same source port) takes over the other's slot.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <memory>

class QUdpSocket;

namespace skelvar::test {

class OpenMohaaClient {
public:
    static constexpr int kConnectAttempts = 3;

    // sourceAddress: a loopback address, 127.0.0.3 and up keep clear of the
    // monitor (127.0.0.1) and the server helper's own requests (127.0.0.2).
    OpenMohaaClient(const QString& sourceAddress, quint16 qport, const QByteArray& name);
    ~OpenMohaaClient();
    OpenMohaaClient(const OpenMohaaClient&) = delete;
    OpenMohaaClient& operator=(const OpenMohaaClient&) = delete;

    QByteArray name() const { return userInfo("name"); }
    void setName(const QByteArray& name) { setUserInfo("name", name); }
    // Sets a user info key in place, or appends it; an empty value removes it.
    // Set from the start: name, rate 5000, snaps 20, dm_playermodel
    // american_army, dm_playergermanmodel german_wehrmacht_soldier.
    void setUserInfo(const QByteArray& key, const QByteArray& value);
    QByteArray userInfo(const QByteArray& key) const;
    // The info string a connect for this challenge carries:
    // \challenge\N\qport\Q\protocol\8 and then the user info in order.
    QByteArray infoString(const QByteArray& challenge) const;

    // Asks the server on 127.0.0.1:port for a challenge and sends the connect
    // (again on silence, up to kConnectAttempts times). True once the server
    // answered connectResponse; false with the server's refusal or the reason.
    // Connecting again from the same client takes over its own slot.
    bool connectTo(quint16 port, QString* error = nullptr);

    QString sourceAddress() const { return m_sourceAddress; }
    quint16 qport() const { return m_qport; }
    // The source UDP port, once connectTo() has bound it (0 before).
    quint16 sourcePort() const;
    // "127.0.0.N:port", as status and the user info's ip show it.
    QString address() const;
    // The client's number in a status answer's text, -1 when it is not listed.
    int numberIn(const QByteArray& statusText) const;

    // The engine's Huff_Compress of data: two bytes of length, then the bits.
    // Sets *fits to false when the engine would cut the bits (data too short
    // to gain from compression, such as a few distinct bytes).
    static QByteArray compress(const QByteArray& data, bool* fits = nullptr);

private:
    bool bind(QString* error);
    bool checkUserInfo(QString* error) const;

    QString m_sourceAddress;
    quint16 m_qport;
    QList<QPair<QByteArray, QByteArray>> m_userInfo;
    std::unique_ptr<QUdpSocket> m_socket;
};

}  // namespace skelvar::test
