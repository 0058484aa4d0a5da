#pragma once
// Who is logged in to the web page, and who may not try for a while.
// A session is a random cookie value with its own random CSRF token; it ends
// at logout or after a time without requests. Failed logins are counted per
// client address: after too many, that address is refused for a while.

#include "SkelvarRcon/web/webaccounts.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <functional>

namespace skelvar::rcon::web {

// Milliseconds on a clock that only goes forward; tests move it by hand.
using MonotonicClock = std::function<qint64()>;
MonotonicClock steadyClock();

struct Session {
    QByteArray token;  // the cookie's value
    QByteArray csrf;   // sent back in X-CSRF-Token with every change
    QString account;
    Role role = Role::Viewer;
    QByteArray accountKey;  // the account's password key at login: a new password ends the session
    qint64 lastSeenMs = 0;
};

class Sessions {
public:
    Sessions(MonotonicClock clock, qint64 idleMs) : m_clock(std::move(clock)), m_idleMs(idleMs) {}

    const Session& begin(const Account& account);
    // The live session of that token, its idle time started anew when
    // `touch`; null for an unknown token or one idle too long (then forgotten).
    Session* find(const QByteArray& token, bool touch = true);
    void end(const QByteArray& token);
    // Ends every session for which `ended` holds.
    void endWhere(const std::function<bool(const Session&)>& ended);
    int count() const { return int(m_sessions.size()); }

private:
    MonotonicClock m_clock;
    qint64 m_idleMs;
    QHash<QByteArray, Session> m_sessions;
};

class LoginThrottle {
public:
    LoginThrottle(MonotonicClock clock, int limit, qint64 refuseMs)
        : m_clock(std::move(clock)), m_limit(limit), m_refuseMs(refuseMs)
    {
    }

    // This address has failed `limit` times in a row and its time is not up.
    bool refused(const QString& address);
    // Milliseconds until a refused address may try again.
    qint64 refusedForMs(const QString& address) const;
    void failed(const QString& address);
    void succeeded(const QString& address) { m_entries.remove(address); }

private:
    struct Entry {
        int failures = 0;
        qint64 refusedUntilMs = 0;
    };
    MonotonicClock m_clock;
    int m_limit;
    qint64 m_refuseMs;
    QHash<QString, Entry> m_entries;
};

// A random token for a cookie or a form: 32 bytes from the system's source,
// in base64url without padding.
QByteArray randomToken();
// Equal texts, compared in a time that does not depend on where they differ.
bool sameSecret(const QByteArray& a, const QByteArray& b);

}  // namespace skelvar::rcon::web
