#pragma once

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

// The five controls of one penalty row.
struct PenaltyRowNames {
    QString enable;  // Cheats_n, Check1 or Check5
    QString warning; // Option5_n
    QString kick;    // Option3_n
    QString ban;     // Option4_n
    QString days;    // Text3_n
};

// What a load found, for the window to tell the operator if it wants to.
struct SettingsLoad {
    bool exists = false;    // the file was there
    bool readError = false; // it was there but could not be read
    int missing = 0;        // positions absent from a short line
    int unreadable = 0;     // check/option positions that held no number
};

// The 73 values of rconskelvar.ini, addressed by control name. The window
// binds the widget of the same object name to each value; everything else
// reads the value here at the moment it needs it.
class Settings : public QObject {
    Q_OBJECT
public:
    enum class Form { Text, Check, Option };
    enum class Penalty { Warning, Kick, Ban };

    struct Spec {
        int position;       // 1..73, the order in the file
        const char* control;
        Form form;
        const char* defaultValue; // text, or "1"/"0" for checks and options
        int group;          // option group (0 = none)
    };

    static constexpr int valueCount = 73;
    static constexpr int penaltyRowCount = 9;

    explicit Settings(QObject* parent = nullptr);

    // The table in file order, and look-ups in it.
    static const QList<Spec>& specs();
    static int indexOf(const QString& control); // -1 when unknown
    static std::optional<Form> formOf(const QString& control);
    static PenaltyRowNames penaltyRow(int row); // row 1..9; empty names otherwise

    // Text values; empty for unknown controls or non-text forms.
    QString text(const QString& control) const;
    void setText(const QString& control, const QString& value);

    // Check boxes and option buttons. Selecting an option clears the other
    // options of its group; an option is deselected only by selecting another
    // one, so every group always has exactly one selected.
    bool isChecked(const QString& control) const;
    void setChecked(const QString& control, bool checked);

    Penalty penaltyChoice(int row) const;
    bool penaltyEnabled(int row) const;
    QString penaltyDays(int row) const;

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

signals:
    void changed(const QString& control);

private:
    struct Value {
        QString text;
        bool checked = false;
    };
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

} // namespace skelvar::rcon
