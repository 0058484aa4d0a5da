#include "SkelvarMod/window/editors.h"

#include <QButtonGroup>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace skelvar::mod {

namespace {

// Values that end up between double quotes in the server script; a quote
// typed there would end the string early.
QLineEdit* scriptBox(QWidget* parent, const char* name)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    static const QRegularExpression noQuote(QStringLiteral("[^\"\\r\\n]*"));
    box->setValidator(new QRegularExpressionValidator(noQuote, box));
    return box;
}

QLineEdit* plainBox(QWidget* parent, const char* name)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    return box;
}

QRadioButton* option(const QString& caption, const char* name, QWidget* parent)
{
    auto* b = new QRadioButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

QPushButton* button(const QString& caption, const char* name, QWidget* parent)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

QHBoxLayout* okCancel(QPushButton* ok, QPushButton* cancel)
{
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    ok->setDefault(true);
    return row;
}

QLabel* heading(const QString& text, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    return l;
}

}  // namespace

FixForm::FixForm(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FixForm"));
    setWindowTitle(QStringLiteral("Map Fixes"));
    setModal(false);

    txtMap = scriptBox(this, "txtMap");
    txtAuthor = plainBox(this, "txtAuthor");
    txtDescription = plainBox(this, "txtDescription");
    txtModel = scriptBox(this, "txtModel");
    txtOrigin = scriptBox(this, "txtOrigin");
    txtAngle = scriptBox(this, "txtAngle");
    txtFilename = plainBox(this, "txtFilename");
    txtFilename->hide();
    optShow = option(QStringLiteral("Show"), "optShow", this);
    optHide = option(QStringLiteral("Hide"), "optHide", this);
    optShow->setChecked(true);
    cmdOK = button(QStringLiteral("OK"), "cmdOK", this);
    cmdCancel = button(QStringLiteral("Cancel"), "cmdCancel", this);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Map:"), txtMap);
    form->addRow(QStringLiteral("Author:"), txtAuthor);
    form->addRow(QStringLiteral("Description:"), txtDescription);
    form->addRow(QStringLiteral("Model:"), txtModel);
    form->addRow(QStringLiteral("Origin: * No Parentheses"), txtOrigin);
    form->addRow(QStringLiteral("Angle:"), txtAngle);
    auto* vis = new QHBoxLayout;
    vis->addWidget(optShow);
    vis->addWidget(optHide);
    vis->addStretch();
    form->addRow(QStringLiteral("Visibility:"), vis);

    auto* top = new QVBoxLayout(this);
    top->addWidget(heading(QStringLiteral("Add a new fix:"), this));
    top->addLayout(form);
    top->addWidget(txtFilename);
    top->addLayout(okCancel(cmdOK, cmdCancel));
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void FixForm::clearBoxes()
{
    for (QLineEdit* box : {txtMap, txtAuthor, txtDescription, txtModel, txtOrigin, txtAngle, txtFilename})
        box->clear();
    optShow->setChecked(true);
}

MsjForm::MsjForm(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("MsjForm"));
    setWindowTitle(QStringLiteral("Message Management"));
    setModal(false);

    optPeriodic = option(QStringLiteral("Periodic"), "optPeriodic", this);
    optScheduled = option(QStringLiteral("Scheduled"), "optScheduled", this);
    optPerMap = option(QStringLiteral("Per Map"), "optPerMap", this);
    auto* types = new QButtonGroup(this);
    for (QRadioButton* b : {optPeriodic, optScheduled, optPerMap})
        types->addButton(b);

    fraScheduled = new QGroupBox(QStringLiteral("Trigger: Display at hours, minutes"), this);
    fraScheduled->setObjectName(QStringLiteral("fraScheduled"));
    txtHour = scriptBox(fraScheduled, "txtHour");
    txtMinute = scriptBox(fraScheduled, "txtMinute");
    auto* sched = new QHBoxLayout(fraScheduled);
    sched->addWidget(txtHour);
    sched->addWidget(new QLabel(QStringLiteral(":"), fraScheduled));
    sched->addWidget(txtMinute);

    fraPeriodic = new QGroupBox(QStringLiteral("Trigger: Display every minutes"), this);
    fraPeriodic->setObjectName(QStringLiteral("fraPeriodic"));
    txtMinutes = scriptBox(fraPeriodic, "txtMinutes");
    (new QHBoxLayout(fraPeriodic))->addWidget(txtMinutes);

    fraPerMap = new QGroupBox(QStringLiteral("Trigger: Display on"), this);
    fraPerMap->setObjectName(QStringLiteral("fraPerMap"));
    txtMap = scriptBox(fraPerMap, "txtMap");
    (new QHBoxLayout(fraPerMap))->addWidget(txtMap);

    optMedium = option(QStringLiteral("Medium"), "optMedium", this);
    optHigh = option(QStringLiteral("High"), "optHigh", this);
    optLow = option(QStringLiteral("Low"), "optLow", this);
    m_priority = new QButtonGroup(this);
    for (QRadioButton* b : {optMedium, optHigh, optLow})
        m_priority->addButton(b);

    txtText = scriptBox(this, "txtText");
    cmdOK = button(QStringLiteral("OK"), "cmdOK", this);
    cmdCancel = button(QStringLiteral("Cancel"), "cmdCancel", this);

    auto* top = new QVBoxLayout(this);
    top->addWidget(heading(QStringLiteral("Add a new message:"), this));
    auto* typeRow = new QHBoxLayout;
    typeRow->addWidget(new QLabel(QStringLiteral("Type:"), this));
    typeRow->addWidget(optPeriodic);
    typeRow->addWidget(optScheduled);
    typeRow->addWidget(optPerMap);
    typeRow->addStretch();
    top->addLayout(typeRow);
    top->addWidget(fraScheduled);
    top->addWidget(fraPeriodic);
    top->addWidget(fraPerMap);
    auto* prioRow = new QHBoxLayout;
    prioRow->addWidget(new QLabel(QStringLiteral("Priority:"), this));
    prioRow->addWidget(optMedium);
    prioRow->addWidget(optHigh);
    prioRow->addWidget(optLow);
    prioRow->addStretch();
    top->addLayout(prioRow);
    auto* textRow = new QHBoxLayout;
    textRow->addWidget(new QLabel(QStringLiteral("Text:"), this));
    textRow->addWidget(txtText);
    top->addLayout(textRow);
    top->addLayout(okCancel(cmdOK, cmdCancel));

    for (QRadioButton* b : {optPeriodic, optScheduled, optPerMap})
        connect(b, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                selectType(selectedType());
        });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    reset();
}

void MsjForm::selectType(const QString& type)
{
    QRadioButton* option = type == QLatin1String("Periodic")    ? optPeriodic
                           : type == QLatin1String("Scheduled") ? optScheduled
                           : type == QLatin1String("Per Map")   ? optPerMap
                                                                : nullptr;
    if (!option)
        return;
    option->setChecked(true);
    fraPeriodic->setVisible(option == optPeriodic);
    fraScheduled->setVisible(option == optScheduled);
    fraPerMap->setVisible(option == optPerMap);
}

QString MsjForm::selectedType() const
{
    for (QRadioButton* b : {optPeriodic, optScheduled, optPerMap})
        if (b->isChecked())
            return b->text();
    return {};
}

void MsjForm::selectPriority(const QString& priority)
{
    for (QRadioButton* b : {optMedium, optHigh, optLow}) {
        if (b->text() == priority) {
            b->setChecked(true);
            return;
        }
    }
    // None matches: clear the group, which an exclusive group never allows.
    m_priority->setExclusive(false);
    for (QRadioButton* b : {optMedium, optHigh, optLow})
        b->setChecked(false);
    m_priority->setExclusive(true);
}

QString MsjForm::selectedPriority() const
{
    for (QRadioButton* b : {optMedium, optHigh, optLow})
        if (b->isChecked())
            return b->text();
    return {};
}

void MsjForm::reset()
{
    selectType(QStringLiteral("Scheduled"));
    selectPriority(QStringLiteral("Medium"));
    txtHour->setText(QStringLiteral("00"));
    txtMinute->setText(QStringLiteral("00"));
    txtMinutes->clear();
    txtMap->clear();
}

ComForm::ComForm(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("ComForm"));
    setWindowTitle(QStringLiteral("Scheduled Commands"));
    setModal(false);

    txtCommand = scriptBox(this, "txtCommand");
    txtHour = scriptBox(this, "txtHour");
    txtMinute = scriptBox(this, "txtMinute");
    cmdOK = button(QStringLiteral("OK"), "cmdOK", this);
    cmdCancel = button(QStringLiteral("Cancel"), "cmdCancel", this);

    auto* top = new QVBoxLayout(this);
    top->addWidget(heading(QStringLiteral("Add a new command:"), this));
    auto* cmdRow = new QHBoxLayout;
    cmdRow->addWidget(new QLabel(QStringLiteral("Command Text:"), this));
    cmdRow->addWidget(txtCommand);
    top->addLayout(cmdRow);
    auto* timeRow = new QHBoxLayout;
    timeRow->addWidget(new QLabel(QStringLiteral("Run At: hours minutes."), this));
    timeRow->addWidget(txtHour);
    timeRow->addWidget(new QLabel(QStringLiteral(":"), this));
    timeRow->addWidget(txtMinute);
    top->addLayout(timeRow);
    top->addLayout(okCancel(cmdOK, cmdCancel));
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    reset();
}

void ComForm::reset()
{
    txtCommand->clear();
    txtHour->setText(QStringLiteral("00"));
    txtMinute->setText(QStringLiteral("00"));
}

}  // namespace skelvar::mod
