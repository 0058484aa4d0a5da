#include "SkelvarRcon/penalties/escalation.h"

#include "SkelvarRcon/penalties/banmatch.h"
#include "SkelvarRcon/store/recordlist.h"
#include "SkelvarRcon/store/settings.h"

#include <QList>

namespace skelvar::rcon {

std::optional<int> escalationThreshold(const QString& boxText)
{
    const auto n = toInt16(boxText);
    if (!n || *n <= 0)
        return std::nullopt;
    return int(*n);
}

namespace {

// Walks `source` in list order counting the rows whose IP is exactly `ip`;
// each time `threshold` of them are found they are removed and `convert`
// runs once. Returns the number of conversions.
template <typename Convert>
int convertInGroups(RecordList& source, int threshold, const QString& ip, Convert convert)
{
    // The positions of the matching rows found since the last conversion.
    // Sized by the threshold, so any 16-bit threshold can be reached.
    QList<int> positions;
    positions.reserve(qMin(threshold, 1024));
    int conversions = 0;
    for (int row = 0; row < source.size(); ++row) {
        if (source.at(row).ip == ip)
            positions.append(row);
        if (positions.size() < threshold)
            continue;
        convert();
        ++conversions;
        // Highest first, so the lower positions stay valid.
        for (auto it = positions.crbegin(); it != positions.crend(); ++it)
            source.removeAt(*it);
        // Every removed row was at or before this one: go on with its follower.
        row -= threshold;
        positions.clear();
    }
    return conversions;
}

}  // namespace

EscalationStep escalateRecords(RecordList& warnings, RecordList& kicks, RecordList& bans, const QString& acWarns,
                               const QString& acKicks, const QString& ip, const QString& name, const QDate& today)
{
    EscalationStep step;
    const QString date = lists::formatDate(today);
    if (const auto a = escalationThreshold(acWarns)) {
        step.kicksMade = convertInGroups(warnings, *a, ip, [&] {
            kicks.add({ip, name, acWarns + QStringLiteral(" accumulated warnings"), date, QString()});
        });
    }
    if (const auto k = escalationThreshold(acKicks)) {
        step.bansMade = convertInGroups(kicks, *k, ip, [&] {
            addBanUnlessCovered(bans, {ip, name, acKicks + QStringLiteral(" accumulated kicks"), date, QString()},
                                today);
        });
    }
    step.kick = step.kicksMade > 0 || step.bansMade > 0;
    return step;
}

}  // namespace skelvar::rcon
