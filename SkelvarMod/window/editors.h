#pragma once
// The builder's three modeless editors. They only hold boxes; what OK does
// to the lists is the main window's business.
#include <QDialog>

class QButtonGroup;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace skelvar::mod {

// "Map Fixes": one map fix.
class FixForm : public QDialog {
    Q_OBJECT
public:
    explicit FixForm(QWidget* parent = nullptr);
    void clearBoxes();  // the hidden Filename box too

    QLineEdit *txtMap, *txtAuthor, *txtDescription, *txtModel, *txtOrigin, *txtAngle;
    QLineEdit* txtFilename;  // hidden
    QRadioButton *optShow, *optHide;
    QPushButton *cmdOK, *cmdCancel;
};

// "Message Management": one message.
class MsjForm : public QDialog {
    Q_OBJECT
public:
    explicit MsjForm(QWidget* parent = nullptr);

    // Selects the option of that caption and shows only its trigger panel;
    // an unknown type changes nothing.
    void selectType(const QString& type);
    QString selectedType() const;
    // Selects the option whose caption equals priority exactly, none otherwise.
    void selectPriority(const QString& priority);
    QString selectedPriority() const;  // empty when none is selected
    // "Scheduled" and "Medium", both time boxes "00", interval and map empty.
    void reset();

    QRadioButton *optPeriodic, *optScheduled, *optPerMap;
    QGroupBox *fraPeriodic, *fraScheduled, *fraPerMap;
    QLineEdit *txtMinutes, *txtHour, *txtMinute, *txtMap;
    QRadioButton *optMedium, *optHigh, *optLow;
    QLineEdit* txtText;
    QPushButton *cmdOK, *cmdCancel;

private:
    QButtonGroup* m_priority;
};

// "Scheduled Commands": one console command and its time.
class ComForm : public QDialog {
    Q_OBJECT
public:
    explicit ComForm(QWidget* parent = nullptr);
    void reset();  // command box empty, both time boxes "00"

    QLineEdit *txtCommand, *txtHour, *txtMinute;
    QPushButton *cmdOK, *cmdCancel;
};

}  // namespace skelvar::mod
