#include "SkelvarRcon/engine/detections.h"

#include "SkelvarRcon/engine/alerttemplate.h"

#include <QStringList>

namespace skelvar::rcon {

namespace {

// The dumpuser answer as setting lines. Every test looks at a setting by its
// own name or value, so text inside the player's name switches nothing.
class UserInfo {
public:
    explicit UserInfo(const QString& text) : m_lines(text.split(QStringLiteral("\r\n"))) {}

    // A line that starts with the given text (setting name, padding, ": ", value).
    bool hasLine(const QString& prefix) const
    {
        for (const QString& l : m_lines)
            if (l.startsWith(prefix))
                return true;
        return false;
    }
    // Found in any setting other than the name; an empty text is found everywhere.
    bool inSettings(const QString& needle) const
    {
        if (needle.isEmpty())
            return true;
        for (const QString& l : m_lines)
            if (!isNameLine(l) && l.contains(needle))
                return true;
        return false;
    }
    // A setting line, ended by its line break, whose value ends with the word.
    bool wears(const QString& skin) const
    {
        const QString tail = QLatin1Char(' ') + skin;
        for (qsizetype i = 0; i + 1 < m_lines.size(); ++i)
            if (!isNameLine(m_lines[i]) && m_lines[i].endsWith(tail))
                return true;
        return false;
    }
    bool macClient() const
    {
        for (qsizetype i = 1; i < m_lines.size(); ++i)
            if (settingName(m_lines[i]) == QLatin1String("version") && m_lines[i].contains(QLatin1String("macos-ppc")))
                return true;
        return false;
    }

private:
    static QString settingName(const QString& l)
    {
        const qsizetype colon = l.indexOf(QLatin1Char(':'));
        return (colon < 0 ? l : l.left(colon)).trimmed();
    }
    static bool isNameLine(const QString& l) { return settingName(l) == QLatin1String("name"); }

    QStringList m_lines;
};

struct CheatRule {
    Detection detection;
    QStringList lines;       // any of them fires
    const char* absentLine;  // when set, must not be there
    const char* cheat;
    const char* reason;
    int row;
};

const QList<CheatRule>& cheatRules()
{
    static const QList<CheatRule> rules{
        {Detection::NoFog, {"r_farplane_nofog     : 1"}, nullptr, "NoFog", "Cheat: NoFog", 1},
        {Detection::ModifiedBinaries,
         {"cg_f0rc3m0d31        : 1"},
         nullptr,
         "Modified Binaries/Chameleon?",
         "Cheat: Modified Binaries/Chameleon?",
         7},
        {Detection::NoFog,
         {"r_farplane           : "},
         "r_farplane           : 0",
         "NoFog(Clearview)",
         "Cheat: NoFog(Clearview)",
         1},
        {Detection::WhiteWalls, {"r_lightmap           : 1"}, nullptr, "WhiteWalls", "Cheat: WhiteWalls", 2},
        {Detection::ThirdPerson, {"cg_3rd_person        : 1"}, nullptr, "3rd Person", "Cheat: 3rd Person", 4},
        {Detection::Wallhack, {"r_novis              : 1"}, nullptr, "Wallhack", "Cheat: WallHack/DoorHack", 3},
        {Detection::ModifiedBinaries,
         {"r_farplane           : hacked", "r_novis              : hacked", "cg_3rd_person        : hacked",
          "r_lightmap           : hacked", "r_farplane_nofog     : hacked"},
         nullptr,
         "Modified binaries!!",
         "Cheat: Modified binaries!!",
         7},
        {Detection::Aimbot,
         {"dm_playermodel       : tiedie", "dm_playergermanmodel : german_oakleave"},
         nullptr,
         "OGC Aimbot",
         "Cheat: OGC Aimbot",
         5},
    };
    return rules;
}

// Blank lines of a skin file are no entries: they would match every empty value.
template <typename F>
void forEachSkin(const lists::SkinList& list, F&& f)
{
    const qsizetype n = qMin<qsizetype>(list.count, list.entries.size());
    for (qsizetype k = 0; k < n; ++k) {
        const QString& entry = list.entries.at(k);
        const QString skin = entry.toLower().trimmed();
        if (!skin.isEmpty() && f(entry, skin))
            return;
    }
}

}  // namespace

QString fillAlert(const QString& templ, const AlertSubstitutions& subs)
{
    QList<TemplateField> fields{{QLatin1String("$name"), subs.name}};
    if (subs.skin)
        fields.append({QLatin1String("$skin"), *subs.skin});
    else if (subs.cheat)
        fields.append({QLatin1String("$cheat"), *subs.cheat});
    fields.append({QLatin1String("$IP"), subs.ip});
    return fillTemplate(templ, fields);
}

namespace {

// One player's judgement: each rule group adds the rules it fires, in order.
class Judgement {
public:
    Judgement(const PlayerRecord& player, const Settings& settings)
        : m_settings(settings), m_info(player.userinfoText), m_tag(settings.privateTag().toLower()),
          m_password(settings.privatePassword().toLower()),
          // The clan tag is worn in the name; the password sits in a setting.
          m_tagFound(player.userinfoText.contains(m_tag)),
          m_passwordFound(m_info.inSettings(m_password)), m_who{player.name, player.ip, std::nullopt, std::nullopt}
    {
    }

    bool passwordFound() const { return m_passwordFound; }
    bool macClient() const { return m_info.macClient(); }
    QList<FiredRule> rules() const { return m_rules; }

    void privateSlots()
    {
        // An empty tag or password is found in every answer and would punish
        // every player: the two rules need both.
        if (!m_settings.scanPrivateClients() || m_tag.isEmpty() || m_password.isEmpty())
            return;
        if (!m_tagFound && m_passwordFound)
            fire(Alert::PrivateSlot, m_who, QStringLiteral("Use of private slot"), 8);
        if (m_tagFound && !m_passwordFound)
            fire(Alert::PublicSlot, m_who, QStringLiteral("Use of private slot"), 8);
    }

    // The first reserved skin he wears without the clan tag.
    void reservedSkin(const lists::SkinList& reserved)
    {
        if (!m_settings.scanReservedSkins() || m_tagFound)
            return;
        forEachSkin(reserved, [&](const QString& entry, const QString& skin) {
            if (!m_info.wears(skin))
                return false;
            AlertSubstitutions s = m_who;
            s.skin = entry;
            fire(Alert::ReservedSkin, s, QStringLiteral("Use of reserved skin"), 9);
            return true;
        });
    }

    // The first suspicious skin he wears; the aimbot's two skins have their own rule.
    void glowingSkin(const lists::SkinList& suspicious)
    {
        if (!m_settings.detectionEnabled(Detection::GlowingSkins))
            return;
        forEachSkin(suspicious, [&](const QString& entry, const QString& skin) {
            if (skin == QLatin1String("tiedie") || skin == QLatin1String("german_oakleave") || !m_info.wears(skin))
                return false;
            AlertSubstitutions s = m_who;
            s.cheat = QStringLiteral("Cheatskin: ") + entry;
            fire(Alert::Cheat, s, QStringLiteral("Cheatskin: ") + entry, 6);
            return true;
        });
    }

    void cheats()
    {
        for (const CheatRule& r : cheatRules()) {
            if (!m_settings.detectionEnabled(r.detection) || !fires(r))
                continue;
            AlertSubstitutions s = m_who;
            s.cheat = QString::fromLatin1(r.cheat);
            fire(Alert::Cheat, s, QString::fromLatin1(r.reason), r.row);
        }
    }

private:
    bool fires(const CheatRule& r) const
    {
        bool hit = false;
        for (const QString& l : r.lines)
            hit = hit || m_info.hasLine(l);
        return hit && !(r.absentLine && m_info.hasLine(QString::fromLatin1(r.absentLine)));
    }
    void fire(Alert alert, AlertSubstitutions subs, const QString& reason, int row)
    {
        m_rules.append({alert, std::move(subs), reason, row});
    }

    const Settings& m_settings;
    UserInfo m_info;
    QString m_tag;
    QString m_password;
    bool m_tagFound;
    bool m_passwordFound;
    AlertSubstitutions m_who;
    QList<FiredRule> m_rules;
};

}  // namespace

Verdict runDetections(const PlayerRecord& player, const Settings& settings, const lists::SkinList& reserved,
                      const lists::SkinList& suspicious, bool privateMode)
{
    Judgement judge(player, settings);
    Verdict v;
    v.privateKick = privateMode && !judge.passwordFound();
    judge.privateSlots();
    judge.reservedSkin(reserved);
    // The macos-ppc client is judged by the private-slot and reserved-skin rules only.
    v.macClient = judge.macClient();
    if (!v.macClient) {
        judge.glowingSkin(suspicious);
        judge.cheats();
    }
    v.rules = judge.rules();
    return v;
}

QString banUntil(const QString& daysText, const QDate& today)
{
    const auto days = toInt16(daysText);
    if (!days || *days == 0)
        return QString();
    return lists::formatDate(today.addDays(*days));
}

PenaltyOutcome penaltyFor(Settings::Penalty choice, const QString& daysText, const PlayerRecord& player,
                          const QString& reason, const QDate& today)
{
    PenaltyOutcome out;
    out.record = {player.ip, player.name, reason, lists::formatDate(today), QString()};
    switch (choice) {
    case Settings::Penalty::Warning: out.list = lists::ListKind::Warnings; break;
    case Settings::Penalty::Kick:
        out.list = lists::ListKind::Kicks;
        out.kick = true;
        break;
    case Settings::Penalty::Ban:
        out.list = lists::ListKind::Bans;
        out.kick = true;
        out.record.until = banUntil(daysText, today);
        break;
    }
    return out;
}

}  // namespace skelvar::rcon
