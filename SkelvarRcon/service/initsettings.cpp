#include "SkelvarRcon/service/initsettings.h"

#include "SkelvarRcon/store/settings.h"
#include "lists/fileaccess.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>

#include <cstdio>

#include <termios.h>
#include <unistd.h>

namespace skelvar::rcon {

namespace {

// The settings file is one line of Latin-1 values separated by 0x02: a
// separator or a line break would shift every later value, and a character
// beyond Latin-1 would be written as '?'.
bool fitsTheFile(const QString& text, const QString& what, QString* error)
{
    for (const QChar c : text) {
        if (c == QLatin1Char('\x02') || c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            *error = QStringLiteral("The %1 holds a line break or the field separator 0x02.").arg(what);
            return false;
        }
        if (c.unicode() > 0xff) {
            *error =
                QStringLiteral("The %1 holds a character the settings file cannot keep (it is Latin-1).").arg(what);
            return false;
        }
    }
    return true;
}

bool checkHost(const QString& host, QString* error)
{
    if (host.isEmpty()) {
        *error = QStringLiteral("--init: the host is missing before the port.");
        return false;
    }
    if (!fitsTheFile(host, QStringLiteral("host"), error))
        return false;
    for (const QChar c : host) {
        if (c.isSpace() || c.category() == QChar::Other_Control) {
            *error = QStringLiteral("--init: the host '%1' holds a blank or a control character.").arg(host);
            return false;
        }
    }
    return true;
}

std::optional<quint16> readPort(const QString& text)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    if (!digits.match(text).hasMatch())
        return std::nullopt;
    const uint port = text.toUInt();
    if (port < 1 || port > 65535)
        return std::nullopt;
    return quint16(port);
}

// Echo stays off while the password is typed on a terminal, and comes back
// however the read ends.
class HiddenInput {
public:
    HiddenInput()
    {
        m_hidden = tcgetattr(STDIN_FILENO, &m_saved) == 0;
        if (m_hidden) {
            termios quiet = m_saved;
            quiet.c_lflag &= ~tcflag_t(ECHO);
            m_hidden = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
        }
    }
    ~HiddenInput()
    {
        if (m_hidden)
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_saved);
    }
    HiddenInput(const HiddenInput&) = delete;
    HiddenInput& operator=(const HiddenInput&) = delete;

private:
    termios m_saved{};
    bool m_hidden = false;
};

// One line of standard input without its ending (LF or CR LF); nullopt at
// the end of input before anything was read.
std::optional<QByteArray> readLine()
{
    QByteArray line;
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n')
        line.append(char(c));
    if (c == EOF && line.isEmpty())
        return std::nullopt;
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

}  // namespace

QString ServerAddress::text() const
{
    return host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]:%2").arg(host).arg(port)
                                           : QStringLiteral("%1:%2").arg(host).arg(port);
}

bool parseServerAddress(const QString& text, ServerAddress* server, QString* error)
{
    QString host;
    QString port;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0 || text.mid(close + 1, 1) != QLatin1String(":")) {
            *error = QStringLiteral("--init: '%1' is not [IPv6]:PORT.").arg(text);
            return false;
        }
        host = text.mid(1, close - 1);
        if (QHostAddress(host).protocol() != QAbstractSocket::IPv6Protocol) {
            *error = QStringLiteral("--init: '%1' is not an IPv6 address.").arg(host);
            return false;
        }
        port = text.mid(close + 2);
    } else {
        const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
        if (colon < 0) {
            *error = QStringLiteral("--init: '%1' is not HOST:PORT.").arg(text);
            return false;
        }
        host = text.left(colon);
        port = text.mid(colon + 1);
        if (host.contains(QLatin1Char(':'))) {
            *error = QStringLiteral("--init: an IPv6 address goes in brackets, as in [::1]:12203.");
            return false;
        }
    }
    if (!checkHost(host, error))
        return false;
    const std::optional<quint16> number = readPort(port);
    if (!number) {
        *error = QStringLiteral("--init: the port '%1' is not a number from 1 to 65535.").arg(port);
        return false;
    }
    *server = {host, *number};
    return true;
}

bool checkRconPassword(const QString& password, QString* error)
{
    if (password.isEmpty()) {
        *error = QStringLiteral("The rcon password is empty.");
        return false;
    }
    return fitsTheFile(password, QStringLiteral("rcon password"), error);
}

bool readSecretLine(const QString& prompt, QString* line)
{
    std::optional<QByteArray> bytes;
    if (isatty(STDIN_FILENO)) {
        std::fprintf(stderr, "%s", qPrintable(prompt));
        std::fflush(stderr);
        {
            HiddenInput hidden;
            bytes = readLine();
        }
        std::fprintf(stderr, "\n");
    } else {
        bytes = readLine();
    }
    if (!bytes)
        return false;
    *line = QString::fromLocal8Bit(*bytes);
    return true;
}

bool initSettings(const QString& folder, const ServerAddress& server, const QString& password, QString* report,
                  QString* error)
{
    const QString path = QDir(folder).filePath(QStringLiteral("rconskelvar.ini"));
    Settings settings;
    SettingsLoad kept;
    QByteArray bytes;
    switch (lists::readWholeFile(path, &bytes, error)) {
    case lists::ReadStatus::Missing: break;
    case lists::ReadStatus::Failed: *error += QStringLiteral("; it is left as it is."); return false;
    case lists::ReadStatus::Ok: kept = settings.parse(bytes); break;
    }
    settings.setServerAddress(server.host);
    settings.setServerPort(QString::number(server.port));
    settings.setRconPassword(password);
    if (!settings.save(path, error))
        return false;

    const QString shown = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    if (!kept.exists) {
        *report = QStringLiteral("Wrote %1: the server %2 and its rcon password, every other setting at its default.")
                      .arg(shown, server.text());
        return true;
    }
    *report = QStringLiteral("Updated %1: the server %2 and its rcon password; every other setting is kept as it was.")
                  .arg(shown, server.text());
    if (const int defaulted = kept.missing + kept.unreadable)
        *report +=
            QStringLiteral(" %1 value(s) the file lacked or could not be read now have their default.").arg(defaulted);
    return true;
}

}  // namespace skelvar::rcon
