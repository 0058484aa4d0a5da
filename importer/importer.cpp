#include "importer/importer.h"

#include "lists/fileaccess.h"

#include <QDir>
#include <QTextStream>

namespace skelvar::importer {

bool isAddressOrPattern(const QString& text)
{
    const QStringList groups = text.split(QLatin1Char('.'));
    if (groups.size() != 4)
        return false;
    bool wildcard = false;
    for (const QString& group : groups) {
        if (group == QLatin1String("xxx")) {
            wildcard = true;
            continue;
        }
        if (wildcard || group.isEmpty() || group.size() > 3)
            return false;
        int value = 0;
        for (const QChar c : group) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
            value = value * 10 + (c.unicode() - '0');
        }
        if (value > 255)
            return false;
    }
    return groups.first() != QLatin1String("xxx");
}

namespace {

// Only ASCII blanks: a byte such as 0xA0 is not taken for one.
QString trimBlanks(const char* data, qsizetype size)
{
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; };
    while (size > 0 && blank(*data)) {
        ++data;
        --size;
    }
    while (size > 0 && blank(data[size - 1]))
        --size;
    return QString::fromLatin1(data, size);
}

}  // namespace

ParsedInput parseBannedIp(const QByteArray& data, const QDate& today)
{
    ParsedInput result;
    const QString date = lists::formatDate(today);
    const QString name = QString::fromLatin1(MarkerName);
    const QString reason = QString::fromLatin1(BanReason);
    // Editors that save as UTF-8 put a byte-order mark before the first address.
    static const QByteArray bom("\xEF\xBB\xBF");
    const QByteArray text = data.startsWith(bom) ? data.mid(bom.size()) : data;
    for (const QByteArrayView raw : lists::splitLines(text)) {
        ++result.lines;
        const QString line = trimBlanks(raw.data(), raw.size());
        if (line.isEmpty()) {
            ++result.blank;
            continue;
        }
        if (!isAddressOrPattern(line)) {
            result.complaints.append({result.lines, line.left(ShownLineLength), line.size() > ShownLineLength});
            continue;
        }
        result.records.append({line, name, reason, date, QString()});
    }
    return result;
}

namespace {

// bannedip.txt read and parsed into result; false when the import ends there.
bool readInput(const QString& folder, const QDate& today, ParsedInput* parsed, ImportResult* result)
{
    const QString inputPath = QDir(folder).filePath(QString::fromLatin1(InputFileName));
    QByteArray data;
    switch (lists::readWholeFile(inputPath, &data, &result->error)) {
    case lists::ReadStatus::Missing:
        result->exitCode = ExitInputUnreadable;
        result->error = QStringLiteral("Cannot find %1").arg(QDir::toNativeSeparators(inputPath));
        return false;
    case lists::ReadStatus::Failed: result->exitCode = ExitInputUnreadable; return false;
    case lists::ReadStatus::Ok: break;
    }

    *parsed = parseBannedIp(data, today);
    result->complaints = parsed->complaints;
    // Blank lines alone are an empty input; only text that is no address
    // at all means the wrong file or a broken one.
    const int textLines = parsed->lines - parsed->blank;
    if (parsed->records.isEmpty() && textLines > 0) {
        result->exitCode = ExitNoAddress;
        result->error = QStringLiteral("No address found in %1 (%2 %3); nothing was imported")
                            .arg(QDir::toNativeSeparators(inputPath))
                            .arg(textLines)
                            .arg(textLines == 1 ? QStringLiteral("line") : QStringLiteral("lines"));
        return false;
    }
    return true;
}

ImportResult nothingImported(ImportResult result, int exitCode, const QString& error)
{
    result.exitCode = exitCode;
    result.error = error + QStringLiteral("; nothing was imported");
    return result;
}

}  // namespace

ImportResult importBans(const QString& folder, const QDate& today, int lockWaitMs)
{
    ImportResult result;
    ParsedInput parsed;
    if (!readInput(folder, today, &parsed, &result))
        return result;
    const QString banPath = QDir(folder).filePath(lists::fileName(lists::ListKind::Bans));
    QString error;
    // Under bans.lst's lock: a monitor that holds the list merges these lines
    // in at its next write instead of writing over them.
    if (!lists::appendRecords(banPath, parsed.records, lists::ListKind::Bans, &error, lockWaitMs))
        return nothingImported(result, ExitBansUnwritable, error);
    result.ok = true;
    result.appended = int(parsed.records.size());
    return result;
}

ImportResult importBansToStore(const QString& folder, const QDate& today, lists::BanStore& store)
{
    ImportResult result;
    ParsedInput parsed;
    if (!readInput(folder, today, &parsed, &result))
        return result;
    QString error;
    QList<lists::BanChange> log;
    if (!store.open(&error) || !store.changesSince(0, &log, &error))
        return nothingImported(result, ExitStoreUnusable, error);
    lists::BanFold fold;
    fold.apply(log, today);
    QList<lists::BanChange> ops;
    ops.reserve(parsed.records.size());
    for (const lists::Record& ban : std::as_const(parsed.records)) {
        // The fold takes an Add that no ban there covers.
        lists::BanChange op = lists::newBanOperation(lists::BanChange::Kind::Add, ban);
        if (fold.apply(op, today))
            ops.append(std::move(op));
        else
            ++result.alreadyBanned;
    }
    if (!store.push(ops, &error))
        return nothingImported(result, ExitStoreUnusable, error);
    result.ok = true;
    result.appended = int(ops.size());
    return result;
}

namespace {

// Keeps stray control bytes of a bad line off the operator's terminal.
QString printable(const QString& text)
{
    QString out = text;
    for (QChar& c : out) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('?');
    }
    return out;
}

}  // namespace

bool StreamPrompter::askYesNo(const QString& title, const QString& text, Icon icon, bool)
{
    message(title, text + QStringLiteral(" Answered No."), icon);
    return false;
}

void StreamPrompter::message(const QString& title, const QString& text, Icon icon)
{
    QTextStream& stream = icon == Icon::Information ? m_out : m_err;
    if (!title.isEmpty())
        stream << title << ": ";
    stream << text << '\n';
    stream.flush();
}

int runImport(const QString& folder, const QDate& today, Prompter& prompter, lists::BanStore* store)
{
    const ImportResult result = store ? importBansToStore(folder, today, *store) : importBans(folder, today);
    for (const LineComplaint& c : result.complaints) {
        prompter.message(QStringLiteral("%1 line %2").arg(QLatin1String(InputFileName)).arg(c.line),
                         QStringLiteral("not an address or address pattern, skipped: ") + printable(c.text) +
                             (c.cut ? QStringLiteral("\u2026") : QString()),
                         Prompter::Icon::Warning);
    }
    if (!result.ok) {
        prompter.message(QStringLiteral("Ostrel"), result.error, Prompter::Icon::Critical);
        return result.exitCode;
    }
    const QString bans = result.appended == 1 ? QStringLiteral("ban") : QStringLiteral("bans");
    if (store) {
        prompter.message(QString(),
                         QStringLiteral("Imported %1 %2 into the shared ban list; %3 already banned")
                             .arg(result.appended)
                             .arg(bans)
                             .arg(result.alreadyBanned),
                         Prompter::Icon::Information);
        return ExitDone;
    }
    prompter.message(
        QString(),
        QStringLiteral("Appended %1 %2 to %3").arg(result.appended).arg(bans, lists::fileName(lists::ListKind::Bans)),
        Prompter::Icon::Information);
    return ExitDone;
}

int runImport(const QString& folder, const QDate& today, QTextStream& out, QTextStream& err, lists::BanStore* store)
{
    // The cut mark and the Latin-1 letters of a shown line reach a UTF-8
    // terminal intact only in UTF-8.
    err.setEncoding(QStringConverter::Utf8);
    StreamPrompter prompter(out, err);
    return runImport(folder, today, prompter, store);
}

}  // namespace skelvar::importer
