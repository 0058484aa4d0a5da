#include "SkelvarRcon/web/webaccounts.h"

#include "SkelvarRcon/web/websessions.h"

#include "lists/fileaccess.h"

#include <QCryptographicHash>
#include <QFile>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace skelvar::rcon::web {

namespace {

const QByteArray kScheme = QByteArrayLiteral("pbkdf2-sha256");

std::optional<Account> parseAccount(const QByteArray& line)
{
    const QList<QByteArray> fields = line.trimmed().split(':');
    if (fields.size() != 6 || fields.at(2) != kScheme)
        return std::nullopt;
    Account a;
    a.name = QString::fromUtf8(fields.at(0));
    const auto role = parseRole(QString::fromLatin1(fields.at(1)));
    bool ok = false;
    a.rounds = fields.at(3).toInt(&ok);
    const auto salt = QByteArray::fromBase64Encoding(fields.at(4), QByteArray::AbortOnBase64DecodingErrors);
    const auto key = QByteArray::fromBase64Encoding(fields.at(5), QByteArray::AbortOnBase64DecodingErrors);
    if (!role || !ok || a.rounds < 1 || !salt || !key || (*key).size() != Accounts::kKeyBytes ||
        !Accounts::checkName(a.name, nullptr))
        return std::nullopt;
    a.role = *role;
    a.salt = *salt;
    a.key = *key;
    return a;
}

QByteArray accountLine(const Account& a)
{
    return a.name.toUtf8() + ':' + roleName(a.role).toLatin1() + ':' + kScheme + ':' + QByteArray::number(a.rounds) +
           ':' + a.salt.toBase64() + ':' + a.key.toBase64() + '\n';
}

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

}  // namespace

QString roleName(Role role)
{
    return role == Role::Admin ? QStringLiteral("admin") : QStringLiteral("viewer");
}

std::optional<Role> parseRole(const QString& text)
{
    if (text == QLatin1String("admin"))
        return Role::Admin;
    if (text == QLatin1String("viewer"))
        return Role::Viewer;
    return std::nullopt;
}

bool Accounts::load(const QString& path, QString* error)
{
    m_accounts.clear();
    m_unparsed.clear();
    QByteArray data;
    switch (lists::readWholeFile(path, &data, error)) {
    case lists::ReadStatus::Missing: return true;
    case lists::ReadStatus::Failed: return false;
    case lists::ReadStatus::Ok: break;
    }
    for (const QByteArray& line : data.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        if (const auto account = parseAccount(line))
            m_accounts.append(*account);
        else
            m_unparsed.append(line.trimmed());
    }
    return true;
}

bool Accounts::save(const QString& path, QString* error) const
{
    QByteArray data;
    for (const Account& a : m_accounts)
        data += accountLine(a);
    for (const QByteArray& line : m_unparsed)
        data += line + '\n';
    if (!lists::writeFileAtomic(path, data, error))
        return false;
    QFile::setPermissions(lists::linkTarget(path), QFile::ReadOwner | QFile::WriteOwner);
    return true;
}

bool Accounts::checkName(const QString& name, QString* error)
{
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9._-]{1,32}$"));
    if (allowed.match(name).hasMatch())
        return true;
    setError(error, QStringLiteral("An account name is 1 to 32 letters, digits, '.', '_' or '-'."));
    return false;
}

bool Accounts::checkPassword(const QString& password, QString* error)
{
    if (password.isEmpty()) {
        setError(error, QStringLiteral("The password is empty."));
        return false;
    }
    if (password.size() > 1024) {
        setError(error, QStringLiteral("The password is longer than 1024 characters."));
        return false;
    }
    return true;
}

QByteArray Accounts::derive(const QString& password, const QByteArray& salt, int rounds)
{
    return QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password.toUtf8(), salt, rounds, kKeyBytes);
}

bool Accounts::set(const QString& name, Role role, const QString& password, QString* error, int rounds)
{
    if (!checkName(name, error) || !checkPassword(password, error))
        return false;
    Account a;
    a.name = name;
    a.role = role;
    a.rounds = std::max(rounds, kMinimumRounds);
    a.salt.resize(kSaltBytes);
    QRandomGenerator::system()->generate(a.salt.begin(), a.salt.end());
    a.key = derive(password, a.salt, a.rounds);
    for (Account& existing : m_accounts) {
        if (existing.name == name) {
            existing = a;
            return true;
        }
    }
    m_accounts.append(a);
    return true;
}

std::optional<Account> Accounts::verify(const QString& name, const QString& password) const
{
    static const QByteArray decoySalt(kSaltBytes, '\x5a');
    const Account* found = nullptr;
    for (const Account& a : m_accounts) {
        if (a.name == name)
            found = &a;
    }
    if (!found || !checkPassword(password, nullptr)) {
        derive(password.left(1024), decoySalt, kDefaultRounds);
        return std::nullopt;
    }
    if (!sameSecret(derive(password, found->salt, found->rounds), found->key))
        return std::nullopt;
    return *found;
}

}  // namespace skelvar::rcon::web
