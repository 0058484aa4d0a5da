#pragma once
// The values the script generator reads: the rows of the builder's four
// lists (all values are the texts the lists show) and its switches.
#include <QList>
#include <QString>

namespace skelvar::mod {

// The three kinds of message, as the list shows them and the file keeps them.
inline const QString TypePeriodic = QStringLiteral("Periodic");
inline const QString TypeScheduled = QStringLiteral("Scheduled");
inline const QString TypePerMap = QStringLiteral("Per Map");

struct MessageEntry {
    QString type;      // TypePeriodic, TypeScheduled or TypePerMap
    QString trigger;   // "10 minutes", "At 07:05", "On dm/mohdm6"
    QString priority;  // "Low", "Medium" or "High"
    QString text;
    bool ticked = false;
    bool operator==(const MessageEntry&) const = default;
};

struct CommandEntry {
    QString time;  // hour ":" minute, as typed
    QString command;
    bool ticked = false;
    bool operator==(const CommandEntry&) const = default;
};

struct MapFixEntry {
    QString map, author, description, model, origin, angle;
    QString visibility;  // "show" or "hide"
    QString filename;    // file of the row in the builder's folder
    bool ticked = false;
    bool operator==(const MapFixEntry&) const = default;
};

struct CompatEntry {
    QString description;
    QString script;  // file under the server's global/ folder
    bool ticked = false;
    bool operator==(const CompatEntry&) const = default;
};

// The builder's seven switches, each 0 clear, 1 ticked or 2 greyed; only
// ticked switches take part in the script.
struct Switches {
    // The anti-cheat probes: each resets one client variable on every scan.
    int noFog = 0;            // r_farplane_nofog and r_farplane
    int whiteWalls = 0;       // r_lightmap
    int thirdPersonView = 0;  // cg_3rd_person
    int wallhack = 0;         // r_novis
    // Sets cg_forcemodel 0 on every player.
    int stopForcedModels = 0;
    // Lines of the ping screen.
    int serverTime = 0;
    int nextMap = 0;
    bool operator==(const Switches&) const = default;
};

// Everything the generator reads from the window at the moment of a build.
struct BuildInputs {
    Switches switches;
    QList<MessageEntry> messages;
    QList<CommandEntry> commands;
    QList<MapFixEntry> mapFixes;
    QList<CompatEntry> compat;
};

}  // namespace skelvar::mod
