#pragma once
// Connectionless packets to a real OpenMoHAA server (see openmohaaserver.h),
// shared by the server helper and the connecting client: the request framing,
// the server's request limit kept from the sending side, and bounded waits
// for answers that keep the event loop running.
//
// The server takes 10 requests from one source address at once and then one
// a second (rcon, getstatus, getinfo and getchallenge share that allowance),
// and drops the rest without an answer. Every request sent through exchange()
// waits for the allowance of its source address, so no helper loses an answer
// to the limit. Other senders (the monitor on 127.0.0.1) are not counted: give
// each helper a loopback address of its own.

#include <QByteArray>
#include <QList>

class QUdpSocket;

namespace skelvar::test::openmohaa {

constexpr int kAnswerWaitMs = 2000;  // for the first datagram of an answer
constexpr int kRestWaitMs = 150;     // for each further one

// FF FF FF FF, the direction byte the server skips, then the text, with no
// blank between them (a blank there breaks rcon).
QByteArray request(const QByteArray& text);

// Waits in the event loop until the socket has a datagram or the time is up.
bool waitForDatagram(QUdpSocket& socket, int timeoutMs);

// Sends one datagram (a request() or a client's connect) from the socket,
// bound to its loopback source address, to 127.0.0.1:port once the source's
// allowance permits it, and returns every datagram of the answer as sent, none
// when the server stays silent. Only connectionless datagrams (FF FF FF FF)
// count: a connected client's game packets are passed over. Datagrams already
// waiting on the socket are dropped first, so a late answer to an earlier
// request is not taken.
QList<QByteArray> exchange(QUdpSocket& socket, quint16 port, const QByteArray& datagram);

// An answer's text: each datagram without FF FF FF FF 01 and, for printed
// answers, without the "print\n" line, joined.
QByteArray answerText(const QList<QByteArray>& datagrams);

}  // namespace skelvar::test::openmohaa
