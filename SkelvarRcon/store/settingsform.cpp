#include "SkelvarRcon/store/settingsform.h"

#include "SkelvarRcon/store/controlnames.h"
#include "SkelvarRcon/store/settings.h"

namespace skelvar::rcon {

namespace {

SettingsField field(const char* control, const char* caption = "", const char* enabledWith = "")
{
    return {QString::fromLatin1(control), QString::fromLatin1(caption), QString::fromLatin1(enabledWith)};
}

SettingsLine line(const char* caption, QList<SettingsField> fields)
{
    return {QString::fromLatin1(caption), std::move(fields)};
}

// A detection's enable box with its penalty frame, as one line.
SettingsLine penaltyLine(Detection detection, const char* caption)
{
    const PenaltyRowNames n = Settings::rowNames(detection);
    return {QString(),
            {{n.enable, QString::fromLatin1(caption), {}},
             {n.warning, QStringLiteral("Warning"), {}},
             {n.kick, QStringLiteral("Kick"), {}},
             {n.ban, QStringLiteral("Ban for"), {}},
             {n.days, QStringLiteral("days (0 for indefinite ban)"), {}}}};
}

SettingsTab mainSetup()
{
    return {QStringLiteral("Main Setup"),
            {line("Server IP", {field(control::serverAddress)}), line("Port", {field(control::serverPort)}),
             line("Password", {field(control::rconPassword)}),
             line("Scan players every", {field(control::scanMinutes, "minutes")}),
             line("Patrol server every", {field(control::patrolSeconds, "seconds")}),
             line("", {field(control::scanOnStart, "Scan on Start"),
                       field(control::logAlerts, "Log Skelvar output to file"),
                       field(control::silent, "Run in Silent Mode")}),
             line("Ban", {field(control::handBanForever, "Indefinitely"), field(control::handBanForDays, "For"),
                          field(control::handBanDays, "days")})}};
}

SettingsTab cheatManagement()
{
    SettingsTab tab{QStringLiteral("Cheat Management"), {}};
    tab.lines = {penaltyLine(Detection::NoFog, "No fog"),
                 penaltyLine(Detection::WhiteWalls, "White Walls"),
                 penaltyLine(Detection::Wallhack, "Wallhack / Doorhack"),
                 penaltyLine(Detection::ThirdPerson, "3rd Person"),
                 penaltyLine(Detection::Aimbot, "Pathetic OGC aimbot *"),
                 penaltyLine(Detection::GlowingSkins, "Glowing skins *"),
                 penaltyLine(Detection::ModifiedBinaries, "Modified binaries"),
                 line("Custom Warning:", {field(control::cheatAlert)})};
    return tab;
}

SettingsTab serverManagement()
{
    return {QStringLiteral("Server Management"),
            {line("Private clients tag:", {field(control::privateTag)}),
             line("Private password:", {field(control::privatePassword)}),
             line("Warning notice:", {field(control::privateModeNotice)}),
             penaltyLine(Detection::PrivateClients, "Scan for private clients:"),
             penaltyLine(Detection::ReservedSkins, "Scan for reserved skins"),
             line("", {field(control::warnOnConnection, "Warn on non-optimized connections")}),
             line("Custom warnings:", {field(control::privateSlotAlert), field(control::publicSlotAlert),
                                       field(control::reservedSkinAlert), field(control::connectionAlert)}),
             line("", {field(control::kickOnHighPing, "Kick on high ping")}),
             line("Kick if ping higher than",
                  {field(control::pingLimit, "ms on"), field(control::pingScans, "consecutive scans")}),
             line("", {field(control::pingKickNotice)}),
             line("", {field(control::spearheadCompatibility, "Enable Spearhead compatibility")})}};
}

SettingsTab penaltiesManagement()
{
    return {QStringLiteral("Penalties Management"),
            {line("Make kick after", {field(control::kickAfterWarnings, "warnings")}),
             line("Make ban after", {field(control::banAfterKicks, "kicks", control::banAfterKicksLabel)}),
             line("Ban Notice:", {field(control::banNotice)})}};
}

}  // namespace

const QList<SettingsTab>& settingsTabs()
{
    static const QList<SettingsTab> tabs{mainSetup(), cheatManagement(), serverManagement(), penaltiesManagement()};
    return tabs;
}

QStringList settingsTabTitles()
{
    QStringList titles;
    for (const SettingsTab& tab : settingsTabs())
        titles.append(tab.title);
    return titles;
}

}  // namespace skelvar::rcon
