#include "SkelvarRcon/penalties/ingameban.h"

#include "SkelvarRcon/transport/printedvalue.h"
#include "SkelvarRcon/transport/rcontransport.h"
#include "lists/records.h"

namespace skelvar::rcon {

namespace {

bool isClientNumber(const QString& text)
{
    if (text.isEmpty() || text.size() > 3)
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

}  // namespace

ClientBanValue parseClientBan(const QString& answer)
{
    ClientBanValue out;
    const QString value = printedValue(answer);
    if (value.isEmpty() || value == QLatin1String("-1"))
        return out;
    out.set = true;

    QString target = value;
    QString reason = QStringLiteral("Admin.Ban");
    const int at = value.indexOf(QLatin1Char('@'));
    if (at >= 0) {
        target = value.left(at);
        const int second = value.indexOf(QLatin1Char('@'), at + 1);
        reason = value.mid(at + 1, second < 0 ? -1 : second - at - 1);
        // Anyone who can reach the variable writes this text: it goes into
        // a "say" and a line of bans.lst.
        reason = lists::cleanField(rconSafe(reason)).trimmed();
        if (reason.isEmpty())
            reason = QStringLiteral("Admin.Ban");
    }
    target = target.trimmed();
    if (isClientNumber(target))
        out.request = InGameBanRequest{target, reason};
    return out;
}

QString spearheadName(QString name)
{
    return name.replace(QLatin1Char(' '), QLatin1Char('_'));
}

bool samePlayer(const SeenPlayer& seen, const QString& name, const QString& ip)
{
    if (ip != seen.ip)
        return false;
    return name == seen.name || name == spearheadName(seen.name);
}

bool holdsSlot(const SeenPlayer& now, const QString& name, const QString& ip)
{
    return ip == now.ip && spearheadName(name) == spearheadName(now.name);
}

}  // namespace skelvar::rcon
