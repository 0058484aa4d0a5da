#pragma once
// The mod builder's own files beside the program: the switch states
// (modskelvar.ini), the additional scripts (skelvar.dcf), one "*.dmf" file per
// map fix, messages.cfg and commands.cfg; plus the text the editors derive
// from their boxes. Plain functions, no widgets.
//
// All files are Latin-1 text with CR LF line ends. The list files are
// label-and-value lines; records of the multi-record files end with a line of
// 40 hyphens. Readers accept CR LF, LF or a lone CR, a last line without a
// line end, stray lines and missing lines: they keep every record that has at
// least one of its value lines and skip the rest. Writers go through the
// programs' shared atomic writer: a failed write leaves the old file whole,
// and a write-protected file is never replaced.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "SkelvarMod/generator/entries.h"

namespace skelvar::mod {

inline const QString SettingsFileName = QStringLiteral("modskelvar.ini");
inline const QString CompatFileName = QStringLiteral("skelvar.dcf");
inline const QString MessagesFileName = QStringLiteral("messages.cfg");
inline const QString CommandsFileName = QStringLiteral("commands.cfg");
inline const QString MapFixSuffix = QStringLiteral(".dmf");
inline const QByteArray RecordSeparator(40, '-');

// Text of a tick line after its label: a non-zero number or "True" ticks.
bool readsAsTicked(const QString& value);

// A value as it goes on its line: CR and LF become blanks so that a typed
// line break (or a label-like line after it) cannot start a line of its own.
QString flattenValue(const QString& value);

// --- modskelvar.ini: seven lines: thirdPersonView, whiteWalls, noFog, wallhack,
// stopForcedModels, serverTime, nextMap (the boxes Check3, Check2, Check1, Check4 .. Check7).
QByteArray switchesText(const Switches&);
// Lines that are missing or do not read as a number leave their switch at 0.
Switches parseSwitches(const QByteArray& data);
// A missing file gives all switches clear. *error is set (and the switches
// clear) only when the file exists but cannot be read.
Switches loadSwitches(const QString& path, QString* error = nullptr);
bool saveSwitches(const QString& path, const Switches&, QString* error = nullptr);

// --- skelvar.dcf: Description / Script / Run / separator per row.
QByteArray compatText(const QList<CompatEntry>&);
QList<CompatEntry> parseCompat(const QByteArray& data);
QList<CompatEntry> loadCompat(const QString& path, QString* error = nullptr);
bool saveCompat(const QString& path, const QList<CompatEntry>&, QString* error = nullptr);

// --- messages.cfg: Type / Trigger / Priority / Text / Cast / separator.
QByteArray messagesText(const QList<MessageEntry>&);
QList<MessageEntry> parseMessages(const QByteArray& data);
QList<MessageEntry> loadMessages(const QString& path, QString* error = nullptr);
bool saveMessages(const QString& path, const QList<MessageEntry>&, QString* error = nullptr);

// --- commands.cfg: Time / Command / Cast / separator.
QByteArray commandsText(const QList<CommandEntry>&);
QList<CommandEntry> parseCommands(const QByteArray& data);
QList<CommandEntry> loadCommands(const QString& path, QString* error = nullptr);
bool saveCommands(const QString& path, const QList<CommandEntry>&, QString* error = nullptr);

// --- map fixes: one "*.dmf" file of eight lines per row.
// The file's text; Filename is not part of it.
QByteArray mapFixText(const MapFixEntry&);
// Empty when the data holds none of the value lines. Filename is fileName.
std::optional<MapFixEntry> parseMapFix(const QByteArray& data, const QString& fileName);
std::optional<MapFixEntry> loadMapFix(const QString& path, QString* error = nullptr);
// Every "*.dmf" of the folder that parses, sorted by file name; files that
// cannot be read or hold no value line are left out (and left alone).
QList<MapFixEntry> loadMapFixes(const QString& folder);
// Writes folder + entry.filename. Refuses a file name that would not be a
// plain file directly in the folder.
bool saveMapFix(const QString& folder, const MapFixEntry&, QString* error = nullptr);

// The stem of a map's file: "dm/mohdm6" gives "dmmohdm6". Path separators
// are dropped, blanks become '-', and dots, control characters and
// characters that file systems refuse become '_'; an empty result becomes
// "unnamed" and a long one is cut.
QString mapFixFileStem(const QString& map);
// First free name of stem, stem1, stem2, ... (".dmf" appended). A name is
// taken when an entry of that name is in the folder or is in usedNames (the
// rows of the list, saved or not); names compare without regard to case.
QString newMapFixFileName(const QString& folder, const QString& map, const QStringList& usedNames);

// --- the editors' boxes.

struct TriggerBoxes {
    QString minutes;       // Periodic: the every-N-minutes box
    QString hour, minute;  // Scheduled
    QString map;           // Per Map
    bool operator==(const TriggerBoxes&) const = default;
};

// "10 minutes", "At 07:05" or "On dm/mohdm6"; empty for another type.
QString triggerText(const QString& type, const TriggerBoxes&);
// The reverse, for filling the editor from a row: only the type's own boxes
// are set. The prefix or suffix is taken off only where it stands, so a map
// name holding "On " keeps it.
TriggerBoxes triggerBoxes(const QString& type, const QString& trigger);

struct TimeBoxes {
    QString hour, minute;
    bool operator==(const TimeBoxes&) const = default;
};

// hour ":" minute, as typed.
QString timeText(const QString& hour, const QString& minute);
// Split at ":": the first part is the hour, the second the minute; a part
// that is missing comes back empty.
TimeBoxes timeBoxes(const QString& time);

}  // namespace skelvar::mod
