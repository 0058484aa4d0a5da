#include "lists/banjournal.h"

namespace skelvar::lists {

namespace {

const QByteArray kAdd = QByteArrayLiteral("add");
const QByteArray kRemove = QByteArrayLiteral("remove");
const QByteArray kStateMagic = QByteArrayLiteral("skelvar shared bans");
constexpr int kStateVersion = 1;

QByteArray checksumText(QByteArrayView data)
{
    return QByteArray::number(qChecksum(data), 16).rightJustified(4, '0');
}

// The text before the last 0x02 and the checksum after it agree.
bool checks(QByteArrayView line, QByteArrayView* body)
{
    const qsizetype sep = line.lastIndexOf(FieldSeparator);
    if (sep < 0)
        return false;
    *body = line.first(sep);
    return line.sliced(sep + 1) == checksumText(*body);
}

// A ban of the state file, every Until kept, expired or not.
std::optional<Record> stateRecord(QByteArrayView line)
{
    ParsedLine parsed = parseLine(line, ListKind::Bans, QDate(1, 1, 1));
    if (parsed.status == LineStatus::Short)
        return std::nullopt;
    return normalizedBan(parsed.record);
}

}  // namespace

QByteArray journalLine(const BanChange& op)
{
    QByteArray line = op.op.toLatin1();
    line += FieldSeparator;
    line += op.kind == BanChange::Kind::Add ? kAdd : kRemove;
    line += FieldSeparator;
    appendRecordLine(line, op.record, ListKind::Bans);
    line.chop(2);
    const QByteArray sum = checksumText(line);
    line += FieldSeparator;
    line += sum;
    line += "\r\n";
    return line;
}

std::optional<BanChange> parseJournalLine(QByteArrayView line)
{
    QByteArrayView body;
    if (!checks(line, &body))
        return std::nullopt;
    const qsizetype firstSep = body.indexOf(FieldSeparator);
    const qsizetype secondSep = firstSep < 0 ? -1 : body.indexOf(FieldSeparator, firstSep + 1);
    if (secondSep < 0)
        return std::nullopt;
    BanChange op;
    op.op = QString::fromLatin1(body.first(firstSep));
    const QByteArrayView kind = body.sliced(firstSep + 1, secondSep - firstSep - 1);
    if (!isOperationId(op.op) || (kind != kAdd && kind != kRemove))
        return std::nullopt;
    op.kind = kind == kAdd ? BanChange::Kind::Add : BanChange::Kind::Remove;
    const QByteArrayView fields = body.sliced(secondSep + 1);
    if (fields.count(FieldSeparator) != fieldCount(ListKind::Bans) - 1)
        return std::nullopt;
    const auto record = stateRecord(fields);
    if (!record)
        return std::nullopt;
    op.record = *record;
    return op;
}

JournalLoad loadBanJournal(const QString& path)
{
    JournalLoad result;
    QByteArray data;
    result.status = readWholeFile(path, &data, &result.error);
    if (result.status != ReadStatus::Ok)
        return result;
    for (const QByteArrayView line : splitLines(data)) {
        if (const auto op = parseJournalLine(line))
            result.ops.append(*op);
        else if (!line.trimmed().isEmpty())
            ++result.damaged;
    }
    return result;
}

bool saveBanJournal(const QString& path, const QList<BanChange>& ops, QString* error)
{
    QByteArray data;
    for (const BanChange& op : ops)
        data += journalLine(op);
    return writeFileAtomic(path, data, error);
}

// The header line: magic, version, log id, sequence, the counts of confirmed
// ids and records that follow, and the checksum of everything after it.
bool saveSharedBansState(const QString& path, const SharedBansState& state, QString* error)
{
    QByteArray body;
    for (const QString& op : state.confirmed)
        body += op.toLatin1() + "\r\n";
    for (const Record& r : state.bans)
        appendRecordLine(body, r, ListKind::Bans);
    const QByteArray sep(1, FieldSeparator);
    const QByteArray header = kStateMagic + sep + QByteArray::number(kStateVersion) + sep + state.logId.toLatin1() +
                              sep + QByteArray::number(state.seq) + sep + QByteArray::number(state.confirmed.size()) +
                              sep + QByteArray::number(state.bans.size()) + sep + checksumText(body) + "\r\n";
    return writeFileAtomic(path, header + body, error);
}

StateStatus loadSharedBansState(const QString& path, SharedBansState* state, QString* error)
{
    *state = {};
    QByteArray data;
    const ReadStatus read = readWholeFile(path, &data, error);
    if (read == ReadStatus::Missing)
        return StateStatus::Missing;
    if (read == ReadStatus::Failed)
        return StateStatus::Damaged;
    auto damaged = [&](const QString& why) {
        *state = {};
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, why);
        return StateStatus::Damaged;
    };
    const qsizetype headerEnd = data.indexOf('\n');
    const QList<QByteArray> header = data.left(headerEnd < 0 ? 0 : headerEnd).trimmed().split(FieldSeparator);
    if (header.size() != 7 || header[0] != kStateMagic || header[1] != QByteArray::number(kStateVersion))
        return damaged(QStringLiteral("not a shared ban state of this program"));
    const QByteArray body = data.mid(headerEnd + 1);
    if (checksumText(body) != header[6])
        return damaged(QStringLiteral("the content does not match its checksum"));
    bool seqOk = false, confirmedOk = false, bansOk = false;
    state->logId = QString::fromLatin1(header[2]);
    state->seq = header[3].toLongLong(&seqOk);
    const int confirmed = header[4].toInt(&confirmedOk);
    const int bans = header[5].toInt(&bansOk);
    const QList<QByteArrayView> lines = splitLines(body);
    if (!seqOk || !confirmedOk || !bansOk || confirmed < 0 || bans < 0 || lines.size() != qsizetype(confirmed) + bans)
        return damaged(QStringLiteral("the counts in its first line do not match its lines"));
    for (int i = 0; i < confirmed; ++i)
        state->confirmed.append(QString::fromLatin1(lines[i]));
    for (qsizetype i = confirmed; i < lines.size(); ++i) {
        const auto record = stateRecord(lines[i]);
        if (!record)
            return damaged(QStringLiteral("a ban line is cut short"));
        state->bans.append(*record);
    }
    return StateStatus::Ok;
}

}  // namespace skelvar::lists
