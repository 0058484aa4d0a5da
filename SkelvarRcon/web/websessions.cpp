#include "SkelvarRcon/web/websessions.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <memory>

namespace skelvar::rcon::web {

MonotonicClock steadyClock()
{
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return [timer] { return timer->elapsed(); };
}

QByteArray randomToken()
{
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

bool sameSecret(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a.at(i) ^ b.at(i));
    return diff == 0;
}

const Session& Sessions::begin(const Account& account)
{
    Session s;
    s.token = randomToken();
    s.csrf = randomToken();
    s.account = account.name;
    s.role = account.role;
    s.accountKey = account.key;
    s.lastSeenMs = m_clock();
    return *m_sessions.insert(s.token, s);
}

Session* Sessions::find(const QByteArray& token, bool touch)
{
    const auto it = m_sessions.find(token);
    if (token.isEmpty() || it == m_sessions.end())
        return nullptr;
    const qint64 now = m_clock();
    if (now - it->lastSeenMs > m_idleMs) {
        m_sessions.erase(it);
        return nullptr;
    }
    if (touch)
        it->lastSeenMs = now;
    return &*it;
}

void Sessions::end(const QByteArray& token)
{
    m_sessions.remove(token);
}

void Sessions::endWhere(const std::function<bool(const Session&)>& ended)
{
    m_sessions.removeIf([&ended](const auto& it) { return ended(it.value()); });
}

bool LoginThrottle::refused(const QString& address)
{
    const auto it = m_entries.find(address);
    if (it == m_entries.end() || it->refusedUntilMs == 0)
        return false;
    if (m_clock() >= it->refusedUntilMs) {
        m_entries.erase(it);
        return false;
    }
    return true;
}

qint64 LoginThrottle::refusedForMs(const QString& address) const
{
    const auto it = m_entries.constFind(address);
    return it == m_entries.cend() ? 0 : std::max<qint64>(0, it->refusedUntilMs - m_clock());
}

void LoginThrottle::failed(const QString& address)
{
    Entry& e = m_entries[address];
    if (++e.failures >= m_limit)
        e.refusedUntilMs = m_clock() + m_refuseMs;
}

}  // namespace skelvar::rcon::web
