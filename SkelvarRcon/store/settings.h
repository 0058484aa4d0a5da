#pragma once
// rconskelvar.ini: the 73 values of the monitor window's settings, their
// defaults, their one-line file form, and the accessors the logic reads
// them through.

#include "SkelvarRcon/store/controlnames.h"
#include "lists/prompter.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

namespace skelvar::rcon {

// Operator numbers are read as 16-bit (rates as 32-bit) signed whole numbers:
// surrounding blanks are ignored, the rest must be a number in range.
std::optional<qint16> toInt16(const QString& text);
std::optional<qint32> toInt32(const QString& text);

// The nine detections, in the order of their penalty rows (row = value + 1).
enum class Detection {
    NoFog,
    WhiteWalls,
    Wallhack,
    ThirdPerson,
    Aimbot,
    GlowingSkins,
    ModifiedBinaries,
    PrivateClients,
    ReservedSkins,
};

// The alert and notice templates the monitor fills in and says.
enum class Alert {
    PrivateSlot,   // Alert1: a public client in a private slot
    PublicSlot,    // Alert2: a private player in a public slot
    Cheat,         // Alert3
    ReservedSkin,  // Alert4
    Connection,    // Alert5: non-optimized connection
    PrivateMode,   // Alert6: the private-mode countdown
    BanNotice,     // Alert7
    PingKick,      // Text7
};

// The five controls of one penalty row.
struct PenaltyRowNames {
    QString enable;   // Cheats_n, Check1 or Check5
    QString warning;  // Option5_n
    QString kick;     // Option3_n
    QString ban;      // Option4_n
    QString days;     // Text3_n
};

// What a load found, for the window to tell the operator if it wants to.
struct SettingsLoad {
    bool exists = false;     // the file was there
    bool readError = false;  // it was there but could not be read
    int missing = 0;         // positions absent from a short line
    int unreadable = 0;      // check/option positions that held no number
};

// The 73 values of rconskelvar.ini. The logic reads and sets them through
// the accessors named for their meaning; the window binds the widget of the
// same object name to each value through the name-based text()/isChecked().
class Settings : public QObject {
    Q_OBJECT
public:
    enum class Form { Text, Check, Option };
    enum class Penalty { Warning, Kick, Ban };

    // One value of the file: where it sits, its control, its form and default.
    struct SettingDef {
        int position;  // 1..73, the order in the file
        const char* control;
        Form form;
        const char* defaultValue;  // text, or "1"/"0" for checks and options
        int group;                 // option group (0 = none)
    };

    // What one penalty row holds.
    struct PenaltyRow {
        bool enabled = false;
        Penalty choice = Penalty::Kick;
        QString days;  // the days box's text: 0 or not a number bans without end
    };

    static constexpr int valueCount = 73;
    static constexpr int penaltyRowCount = 9;

    explicit Settings(QObject* parent = nullptr);

    // The table in file order, and look-ups in it.
    static const QList<SettingDef>& definitions();
    static int indexOf(const QString& control);  // -1 when unknown
    static std::optional<Form> formOf(const QString& control);
    static PenaltyRowNames rowNames(Detection detection);
    static PenaltyRowNames penaltyRow(int row);  // row 1..9; empty names otherwise
    static int rowOf(Detection detection) { return int(detection) + 1; }
    static const char* alertControl(Alert alert);

    // By control name, for the window's binder and the tests. An unknown name
    // or a name of the other form is a programming error: it asserts, and in
    // a release build it is logged and reads as empty or false, sets nothing.
    QString text(const QString& control) const;
    void setText(const QString& control, const QString& value);

    // Check boxes and option buttons. Selecting an option clears the other
    // options of its group; an option is deselected only by selecting another
    // one, so every group always has exactly one selected.
    bool isChecked(const QString& control) const;
    void setChecked(const QString& control, bool checked);

    // Connection. The periods and counts are the boxes' texts: each reader
    // applies its own range to them.
    QString serverAddress() const { return text(control::serverAddress); }
    QString serverPort() const { return text(control::serverPort); }
    QString rconPassword() const { return text(control::rconPassword); }
    void setServerAddress(const QString& value) { setText(control::serverAddress, value); }
    void setServerPort(const QString& value) { setText(control::serverPort, value); }
    void setRconPassword(const QString& value) { setText(control::rconPassword, value); }
    QString scanMinutes() const { return text(control::scanMinutes); }
    QString patrolSeconds() const { return text(control::patrolSeconds); }
    void setPatrolSeconds(const QString& value) { setText(control::patrolSeconds, value); }
    bool scanOnStart() const { return isChecked(control::scanOnStart); }

    bool logAlerts() const { return isChecked(control::logAlerts); }
    bool silent() const { return isChecked(control::silent); }
    void setSilent(bool on) { setChecked(control::silent, on); }

    // A ban made by hand: without end, or for handBanDays() days.
    bool handBanForDays() const { return isChecked(control::handBanForDays); }
    void chooseHandBanForDays() { setChecked(control::handBanForDays, true); }
    QString handBanDays() const { return text(control::handBanDays); }

    // The detections' penalty rows.
    PenaltyRow penaltyRow(Detection detection) const;
    bool detectionEnabled(Detection detection) const;
    void setDetectionEnabled(Detection detection, bool on);
    Penalty penaltyChoice(Detection detection) const;
    void setPenaltyChoice(Detection detection, Penalty choice);
    QString penaltyDays(Detection detection) const;
    Penalty penaltyChoice(int row) const;
    bool penaltyEnabled(int row) const;
    QString penaltyDays(int row) const;
    bool scanPrivateClients() const { return detectionEnabled(Detection::PrivateClients); }
    bool scanReservedSkins() const { return detectionEnabled(Detection::ReservedSkins); }

    QString privateTag() const { return text(control::privateTag); }
    QString privatePassword() const { return text(control::privatePassword); }

    // The templates with their $name-style placeholders, unfilled.
    QString alertTemplate(Alert alert) const;

    QString kickAfterWarnings() const { return text(control::kickAfterWarnings); }
    QString banAfterKicks() const { return text(control::banAfterKicks); }

    bool warnOnConnection() const { return isChecked(control::warnOnConnection); }
    bool kickOnHighPing() const { return isChecked(control::kickOnHighPing); }
    QString pingLimit() const { return text(control::pingLimit); }
    QString pingScans() const { return text(control::pingScans); }
    bool spearheadCompatibility() const { return isChecked(control::spearheadCompatibility); }

    void resetToDefaults();

    // The file line: 73 values, each followed by 0x02, then CR LF.
    QByteArray serialize() const;
    // Applies the first line of a file's bytes over the defaults; values that
    // are missing or not numbers where a number belongs keep their default.
    SettingsLoad parse(const QByteArray& bytes);

    // Reads the file (a missing file leaves the defaults). Returns true when
    // the file was read. Remembers the path for saveFile() and autosave; a
    // file that existed but could not be read is never written afterwards.
    bool load(const QString& path, SettingsLoad* details = nullptr);
    // Atomic write of serialize() to path; a file whose permission bits grant
    // no write access stays as it is, also for root.
    bool save(const QString& path, QString* error = nullptr) const;

    // Writes to the loaded path unless it is protected; a failure is reported
    // once (until a later write succeeds). Returns true when the file was
    // written.
    bool saveFile();
    // After load(): write the file once per event-loop turn in which a value
    // changed.
    void setAutosave(bool on);
    // Where a failed write is told; nowhere when null.
    void setPrompter(Prompter* prompter);
    bool fileProtected() const { return m_fileProtected; }
    // Whether saveFile() may write the loaded file: false with *error when it
    // is protected, unreadable at load or was never loaded.
    bool fileWritable(QString* error = nullptr) const;

signals:
    void changed(const QString& control);
    // After changed(), when it was the server address, port or password.
    void connectionChanged();

private:
    struct Value {
        QString text;
        bool checked = false;
    };
    int knownIndex(const QString& control, bool text, const char* where) const;
    void assignText(int index, const QString& value);
    void assignChecked(int index, bool checked);
    void noteChange(int index);

    QList<Value> m_values;
    QString m_file;
    bool m_fileProtected = false;
    bool m_reported = false;
    bool m_autosave = false;
    Prompter* m_prompter = nullptr;
    QTimer m_saveTimer;
};

}  // namespace skelvar::rcon
