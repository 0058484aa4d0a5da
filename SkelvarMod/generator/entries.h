#pragma once
// Rows of the mod builder's four lists. All values are the texts the lists show.
#include <QList>
#include <QString>

namespace skelvar::mod {

struct MessageEntry {
    QString type;      // "Periodic", "Scheduled" or "Per Map"
    QString trigger;   // "10 minutes", "At 07:05", "On dm/mohdm6"
    QString priority;  // "Low", "Medium" or "High"
    QString text;
    bool ticked = false;
    bool operator==(const MessageEntry&) const = default;
};

struct CommandEntry {
    QString time;      // hour ":" minute, as typed
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
    QString script;      // file under the server's global/ folder
    bool ticked = false;
    bool operator==(const CompatEntry&) const = default;
};

// Switch states of the builder window: 0 clear, 1 ticked, 2 greyed.
struct Switches {
    int check1 = 0, check2 = 0, check3 = 0, check4 = 0, check5 = 0, check6 = 0, check7 = 0;
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
