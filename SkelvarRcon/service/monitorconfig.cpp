#include "SkelvarRcon/service/monitorconfig.h"

#include "lists/fileaccess.h"
#include "lists/pgbanstore.h"
#include "lists/records.h"

#include <QDir>
#include <QStringDecoder>

namespace skelvar::rcon {

namespace {

const QString kBansDbKey = QStringLiteral("bans-db");
const QString kWebKey = QStringLiteral("web");

// The first line holding a byte that is no text, or 0.
int firstStrayLine(const QByteArray& data)
{
    int line = 1;
    for (const char c : data) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\n')
            ++line;
        else if ((byte < 0x20 && byte != '\t' && byte != '\r') || byte == 0x7F)
            return line;
    }
    return 0;
}

bool strayBytes(const QString& why, QString* error)
{
    if (error)
        *error = why;
    return false;
}

QString fileText()
{
    return QString::fromLatin1(kConfigFileName);
}

// Tells what the file gave that is not used; one message for the whole file.
class Complaints {
public:
    void addAt(int line, const QString& text) { m_lines.append(QStringLiteral("line %1: %2").arg(line).arg(text)); }
    void tell(QList<StoreMessage>* messages) const
    {
        if (!m_lines.isEmpty())
            messages->append({fileText(), m_lines.join(QLatin1Char('\n'))});
    }

private:
    QStringList m_lines;
};

const QString kOwnList = QStringLiteral("This monitor keeps its own ban list, bans.lst.");

}  // namespace

bool parseConfigText(const QByteArray& data, ConfigFile* file, QString* error)
{
    static const QByteArray bom("\xEF\xBB\xBF");
    const QByteArray bytes = data.startsWith(bom) ? data.mid(bom.size()) : data;
    if (const int line = firstStrayLine(bytes))
        return strayBytes(QStringLiteral("line %1 holds a control character; the file is no text").arg(line), error);
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decode(bytes);
    if (decode.hasError())
        return strayBytes(QStringLiteral("it holds bytes that are no UTF-8 text"), error);
    ConfigFile result;
    int number = 0;
    for (QString line : text.split(QLatin1Char('\n'))) {
        ++number;
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        const QString key = equals < 0 ? QString() : line.left(equals).trimmed();
        if (key.isEmpty() || key.contains(QLatin1Char(' ')) || key.contains(QLatin1Char('\t'))) {
            result.badLines.append(number);
            continue;
        }
        result.entries.append({number, key, line.mid(equals + 1).trimmed()});
    }
    *file = result;
    return true;
}

bool readConfigFile(const QString& path, ConfigFile* file, QString* error)
{
    QByteArray data;
    switch (lists::readWholeFile(path, &data, error)) {
    case lists::ReadStatus::Missing: *file = ConfigFile(); return true;
    case lists::ReadStatus::Failed: return false;
    case lists::ReadStatus::Ok: break;
    }
    return parseConfigText(data, file, error);
}

void applyMonitorConfig(MonitorCommandLine* line)
{
    QList<StoreMessage>& messages = line->monitor.startMessages;
    const QString path = QDir(line->monitor.folder).filePath(fileText());
    ConfigFile file;
    QString error;
    if (!readConfigFile(path, &file, &error)) {
        QString text = QStringLiteral("%1 is not used: %2.").arg(QDir::toNativeSeparators(path), error);
        if (!line->bansDatabaseGiven)
            text += QLatin1Char('\n') + kOwnList;
        messages.append({QStringLiteral("%1 not used").arg(fileText()), text});
        return;
    }
    Complaints complaints;
    for (const int bad : file.badLines)
        complaints.addAt(bad, QStringLiteral("not of the form key = value; left out."));
    QHash<QString, int> seen;
    for (const ConfigEntry& entry : file.entries) {
        if (seen.contains(entry.key)) {
            complaints.addAt(entry.line, QStringLiteral("%1 was given on line %2 already; this line is left out.")
                                             .arg(entry.key)
                                             .arg(seen.value(entry.key)));
            continue;
        }
        seen.insert(entry.key, entry.line);
        if (entry.key == kBansDbKey) {
            if (line->bansDatabaseGiven)
                continue;  // the command line wins
            lists::BanDatabase database;
            if (!entry.value.isEmpty() && !lists::parseBanDatabaseUrl(entry.value, &database, &error)) {
                complaints.addAt(entry.line, QStringLiteral("bans-db: %1. %2").arg(error, kOwnList));
                continue;
            }
            line->monitor.bansDatabase = entry.value;
        } else if (entry.key == kWebKey) {
            if (line->web || entry.value.isEmpty())
                continue;  // --web wins; an empty value serves no page
            web::WebOptions options;
            if (!web::parseWebAddress(entry.value, &options.address, &options.port, &error)) {
                complaints.addAt(entry.line, error + QStringLiteral(" No web page is served."));
                continue;
            }
            line->web = options;
        } else {
            complaints.addAt(entry.line, QStringLiteral("unknown key %1; left out.").arg(entry.key));
        }
    }
    complaints.tell(&messages);
}

}  // namespace skelvar::rcon
