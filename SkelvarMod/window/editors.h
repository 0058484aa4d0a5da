#pragma once
// The builder's three modeless editors. Each shows one row as a typed entry
// and hands back what the operator typed; what OK does to the lists is the
// project's business. The boxes keep their documented object names.
#include <QDialog>

#include "SkelvarMod/generator/entries.h"

class QButtonGroup;
class QGroupBox;
class QHBoxLayout;
class QLineEdit;
class QRadioButton;

namespace skelvar::mod {

// "Map Fixes": one map fix.
class FixForm : public QDialog {
    Q_OBJECT
public:
    explicit FixForm(QWidget* parent = nullptr);

    // The boxes as a fix; the tick is not the editor's and stays clear.
    MapFixEntry entry() const;
    // "Show" exactly as the visibility "show", "Hide" for anything else.
    void setEntry(const MapFixEntry& fix);
    void clearBoxes();  // the hidden Filename box too

signals:
    void okClicked();

private:
    QLineEdit *m_map, *m_author, *m_description, *m_model, *m_origin, *m_angle;
    QLineEdit* m_filename;  // hidden
    QRadioButton *m_show, *m_hide;
};

// "Message Management": one message.
class MsjForm : public QDialog {
    Q_OBJECT
public:
    explicit MsjForm(QWidget* parent = nullptr);

    // Type, the trigger of the type's boxes, the priority (empty when none
    // is selected) and the text.
    MessageEntry entry() const;
    // Selects the row's type and priority options and fills the type's own
    // trigger boxes; an unknown type keeps the selected option, an unknown
    // priority selects none.
    void setEntry(const MessageEntry& message);
    // "Scheduled" and "Medium", both time boxes "00", interval and map empty.
    void reset();
    // For a new row: the text box empty and "Scheduled" selected.
    void startNew();
    // After OK: reset, and the text box empty too.
    void clearAfterSave();

signals:
    void okClicked();

private:
    void buildTypeOptions();
    void buildTriggerPanels();
    void buildPriorityOptions();
    void layOut(QHBoxLayout* buttons);
    // Selects the option of that caption and shows only its trigger panel;
    // an unknown type changes nothing.
    void selectType(const QString& type);
    QString selectedType() const;
    // Selects the option whose caption equals priority exactly, none otherwise.
    void selectPriority(const QString& priority);
    QString selectedPriority() const;

    QRadioButton *m_periodic, *m_scheduled, *m_perMap;
    QGroupBox *m_periodicPanel, *m_scheduledPanel, *m_perMapPanel;
    QLineEdit *m_minutes, *m_hour, *m_minute, *m_map;
    QRadioButton *m_medium, *m_high, *m_low;
    QLineEdit* m_text;
    QButtonGroup* m_priority;
};

// "Scheduled Commands": one console command and its time.
class ComForm : public QDialog {
    Q_OBJECT
public:
    explicit ComForm(QWidget* parent = nullptr);

    CommandEntry entry() const;  // the tick stays clear
    void setEntry(const CommandEntry& command);
    void reset();  // command box empty, both time boxes "00"

signals:
    void okClicked();

private:
    QLineEdit *m_command, *m_hour, *m_minute;
};

}  // namespace skelvar::mod
