#pragma once
// The web page's accounts: webaccounts.txt beside the lists, one account a
// line, "name:role:pbkdf2-sha256:rounds:salt:key" (salt and key in base64).
// Passwords are kept only as salted PBKDF2 keys with many rounds, so a copy
// of the file does not give them away; RconSkelvar --web-user writes it.

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace skelvar::rcon::web {

// A viewer sees everything but the players' addresses and cannot act; an
// admin does all the window does.
enum class Role { Viewer, Admin };

QString roleName(Role role);
std::optional<Role> parseRole(const QString& text);

struct Account {
    QString name;
    Role role = Role::Viewer;
    int rounds = 0;
    QByteArray salt;
    QByteArray key;
};

class Accounts {
public:
    static constexpr int kDefaultRounds = 150000;
    static constexpr int kMinimumRounds = 1000;
    static constexpr int kSaltBytes = 16;
    static constexpr int kKeyBytes = 32;

    static QString fileName() { return QStringLiteral("webaccounts.txt"); }

    // A missing file is no account at all. Lines that do not parse are
    // skipped, and kept when the file is saved again.
    bool load(const QString& path, QString* error = nullptr);
    // Replaces the file atomically, readable by its owner only.
    bool save(const QString& path, QString* error = nullptr) const;

    // 1 to 32 letters, digits, '.', '_' or '-'.
    static bool checkName(const QString& name, QString* error);
    // Not empty, at most 1024 characters.
    static bool checkPassword(const QString& password, QString* error);

    // Adds the account or replaces the one of that name, with a new salt.
    bool set(const QString& name, Role role, const QString& password, QString* error, int rounds = kDefaultRounds);
    // The account whose password this is. An unknown name costs as much time
    // as a known one, so the answer's time does not tell which names exist.
    std::optional<Account> verify(const QString& name, const QString& password) const;

    const QList<Account>& accounts() const { return m_accounts; }
    bool isEmpty() const { return m_accounts.isEmpty(); }

    static QByteArray derive(const QString& password, const QByteArray& salt, int rounds);

private:
    QList<Account> m_accounts;
    QList<QByteArray> m_unparsed;
};

}  // namespace skelvar::rcon::web
