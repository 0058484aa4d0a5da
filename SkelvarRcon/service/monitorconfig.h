#pragma once
// rconskelvar.conf, the monitor's settings that have no field in the
// 73-field rconskelvar.ini: `key = value` lines beside the lists, `#` starts
// a comment line. The reader takes any key; what the monitor makes of each
// key, and that the command line wins over the file, is decided here too.
// Nothing in the file stops the monitor: a file it cannot use is told to the
// operator and left out, an unknown key or a line of another form likewise.

#include "SkelvarRcon/service/monitorcommandline.h"
#include "SkelvarRcon/store/liststore.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace skelvar::rcon {

inline constexpr char kConfigFileName[] = "rconskelvar.conf";

struct ConfigEntry {
    int line = 0;  // 1-based
    QString key;
    QString value;  // blanks around it taken away; may be empty
};

// A missing file is an empty one, which is no fault.
struct ConfigFile {
    QList<ConfigEntry> entries;
    QList<int> badLines;  // lines that are neither `key = value`, a comment nor blank
};

// The file's text: UTF-8 (a byte-order mark at the start is skipped), lines
// ended by LF or CR LF. False, with error, for bytes that are no text (an
// invalid UTF-8 sequence, NUL or another control character than tab).
bool parseConfigText(const QByteArray& data, ConfigFile* file, QString* error = nullptr);
// Reads and parses the file through the file layer; a missing file is an
// empty one. False, with error, when it cannot be read or is no text.
bool readConfigFile(const QString& path, ConfigFile* file, QString* error = nullptr);

// Takes <folder>/rconskelvar.conf into the command line where the command
// line left a setting out (bans-db: MonitorOptions::bansDatabase; web: where
// the web page listens, as --web ADDRESS:PORT). What the operator must be
// told goes to line->monitor.startMessages.
void applyMonitorConfig(MonitorCommandLine* line);

}  // namespace skelvar::rcon
