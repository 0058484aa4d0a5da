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

#include "SkelvarMod/generator/scriptgenerator.h"
#include "SkelvarMod/project/builderfiles.h"

namespace skelvar::mod {

namespace {

// Values that end up between double quotes in the server script; a quote
// typed there would end the string early, and the build refuses a longer value.
QLineEdit* scriptBox(QWidget* parent, const char* name)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setMaxLength(int(MaxValueLength));
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

    m_map = scriptBox(this, "txtMap");
    m_author = plainBox(this, "txtAuthor");
    m_description = plainBox(this, "txtDescription");
    m_model = scriptBox(this, "txtModel");
    m_model->setMaxLength(int(MaxNameLength));
    m_origin = scriptBox(this, "txtOrigin");
    m_angle = scriptBox(this, "txtAngle");
    m_filename = plainBox(this, "txtFilename");
    m_filename->hide();
    m_show = option(QStringLiteral("Show"), "optShow", this);
    m_hide = option(QStringLiteral("Hide"), "optHide", this);
    m_show->setChecked(true);
    auto* ok = button(QStringLiteral("OK"), "cmdOK", this);
    auto* cancel = button(QStringLiteral("Cancel"), "cmdCancel", this);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Map:"), m_map);
    form->addRow(QStringLiteral("Author:"), m_author);
    form->addRow(QStringLiteral("Description:"), m_description);
    form->addRow(QStringLiteral("Model:"), m_model);
    form->addRow(QStringLiteral("Origin: * No Parentheses"), m_origin);
    form->addRow(QStringLiteral("Angle:"), m_angle);
    auto* vis = new QHBoxLayout;
    vis->addWidget(m_show);
    vis->addWidget(m_hide);
    vis->addStretch();
    form->addRow(QStringLiteral("Visibility:"), vis);

    auto* top = new QVBoxLayout(this);
    top->addWidget(heading(QStringLiteral("Add a new fix:"), this));
    top->addLayout(form);
    top->addWidget(m_filename);
    top->addLayout(okCancel(ok, cancel));
    connect(ok, &QPushButton::clicked, this, &FixForm::okClicked);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

MapFixEntry FixForm::entry() const
{
    MapFixEntry fix;
    fix.map = m_map->text();
    fix.author = m_author->text();
    fix.description = m_description->text();
    fix.model = m_model->text();
    fix.origin = m_origin->text();
    fix.angle = m_angle->text();
    fix.visibility = m_show->isChecked() ? QStringLiteral("show") : QStringLiteral("hide");
    fix.filename = m_filename->text();
    return fix;
}

void FixForm::setEntry(const MapFixEntry& fix)
{
    m_map->setText(fix.map);
    m_author->setText(fix.author);
    m_description->setText(fix.description);
    m_model->setText(fix.model);
    m_origin->setText(fix.origin);
    m_angle->setText(fix.angle);
    m_filename->setText(fix.filename);
    (fix.visibility == QLatin1String("show") ? m_show : m_hide)->setChecked(true);
}

void FixForm::clearBoxes()
{
    for (QLineEdit* box : {m_map, m_author, m_description, m_model, m_origin, m_angle, m_filename})
        box->clear();
    m_show->setChecked(true);
}

MsjForm::MsjForm(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("MsjForm"));
    setWindowTitle(QStringLiteral("Message Management"));
    setModal(false);

    buildTypeOptions();
    buildTriggerPanels();
    buildPriorityOptions();
    m_text = scriptBox(this, "txtText");
    auto* ok = button(QStringLiteral("OK"), "cmdOK", this);
    auto* cancel = button(QStringLiteral("Cancel"), "cmdCancel", this);
    layOut(okCancel(ok, cancel));

    connect(ok, &QPushButton::clicked, this, &MsjForm::okClicked);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    reset();
}

void MsjForm::buildTypeOptions()
{
    m_periodic = option(TypePeriodic, "optPeriodic", this);
    m_scheduled = option(TypeScheduled, "optScheduled", this);
    m_perMap = option(TypePerMap, "optPerMap", this);
    auto* types = new QButtonGroup(this);
    for (QRadioButton* b : {m_periodic, m_scheduled, m_perMap}) {
        types->addButton(b);
        // Choosing a type shows only its trigger panel.
        connect(b, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                selectType(selectedType());
        });
    }
}

void MsjForm::buildTriggerPanels()
{
    m_scheduledPanel = new QGroupBox(QStringLiteral("Trigger: Display at hours, minutes"), this);
    m_scheduledPanel->setObjectName(QStringLiteral("fraScheduled"));
    m_hour = scriptBox(m_scheduledPanel, "txtHour");
    m_minute = scriptBox(m_scheduledPanel, "txtMinute");
    auto* sched = new QHBoxLayout(m_scheduledPanel);
    sched->addWidget(m_hour);
    sched->addWidget(new QLabel(QStringLiteral(":"), m_scheduledPanel));
    sched->addWidget(m_minute);

    m_periodicPanel = new QGroupBox(QStringLiteral("Trigger: Display every minutes"), this);
    m_periodicPanel->setObjectName(QStringLiteral("fraPeriodic"));
    m_minutes = scriptBox(m_periodicPanel, "txtMinutes");
    (new QHBoxLayout(m_periodicPanel))->addWidget(m_minutes);

    m_perMapPanel = new QGroupBox(QStringLiteral("Trigger: Display on"), this);
    m_perMapPanel->setObjectName(QStringLiteral("fraPerMap"));
    m_map = scriptBox(m_perMapPanel, "txtMap");
    (new QHBoxLayout(m_perMapPanel))->addWidget(m_map);
}

void MsjForm::buildPriorityOptions()
{
    m_medium = option(QStringLiteral("Medium"), "optMedium", this);
    m_high = option(QStringLiteral("High"), "optHigh", this);
    m_low = option(QStringLiteral("Low"), "optLow", this);
    m_priority = new QButtonGroup(this);
    for (QRadioButton* b : {m_medium, m_high, m_low})
        m_priority->addButton(b);
}

void MsjForm::layOut(QHBoxLayout* buttons)
{
    auto* top = new QVBoxLayout(this);
    top->addWidget(heading(QStringLiteral("Add a new message:"), this));
    auto* typeRow = new QHBoxLayout;
    typeRow->addWidget(new QLabel(QStringLiteral("Type:"), this));
    typeRow->addWidget(m_periodic);
    typeRow->addWidget(m_scheduled);
    typeRow->addWidget(m_perMap);
    typeRow->addStretch();
    top->addLayout(typeRow);
    top->addWidget(m_scheduledPanel);
    top->addWidget(m_periodicPanel);
    top->addWidget(m_perMapPanel);
    auto* prioRow = new QHBoxLayout;
    prioRow->addWidget(new QLabel(QStringLiteral("Priority:"), this));
    prioRow->addWidget(m_medium);
    prioRow->addWidget(m_high);
    prioRow->addWidget(m_low);
    prioRow->addStretch();
    top->addLayout(prioRow);
    auto* textRow = new QHBoxLayout;
    textRow->addWidget(new QLabel(QStringLiteral("Text:"), this));
    textRow->addWidget(m_text);
    top->addLayout(textRow);
    top->addLayout(buttons);
}

MessageEntry MsjForm::entry() const
{
    const QString type = selectedType();
    const TriggerBoxes boxes{m_minutes->text(), m_hour->text(), m_minute->text(), m_map->text()};
    return {type, triggerText(type, boxes), selectedPriority(), m_text->text()};
}

void MsjForm::setEntry(const MessageEntry& message)
{
    m_text->setText(message.text);
    selectPriority(message.priority);
    selectType(message.type);
    const TriggerBoxes boxes = triggerBoxes(message.type, message.trigger);
    if (message.type == TypePeriodic) {
        m_minutes->setText(boxes.minutes);
    } else if (message.type == TypeScheduled) {
        m_hour->setText(boxes.hour);
        m_minute->setText(boxes.minute);
    } else if (message.type == TypePerMap) {
        m_map->setText(boxes.map);
    }
}

void MsjForm::selectType(const QString& type)
{
    QRadioButton* option = type == TypePeriodic    ? m_periodic
                           : type == TypeScheduled ? m_scheduled
                           : type == TypePerMap    ? m_perMap
                                                   : nullptr;
    if (!option)
        return;
    option->setChecked(true);
    m_periodicPanel->setVisible(option == m_periodic);
    m_scheduledPanel->setVisible(option == m_scheduled);
    m_perMapPanel->setVisible(option == m_perMap);
}

QString MsjForm::selectedType() const
{
    for (QRadioButton* b : {m_periodic, m_scheduled, m_perMap})
        if (b->isChecked())
            return b->text();
    return {};
}

void MsjForm::selectPriority(const QString& priority)
{
    for (QRadioButton* b : {m_medium, m_high, m_low}) {
        if (b->text() == priority) {
            b->setChecked(true);
            return;
        }
    }
    // None matches: clear the group, which an exclusive group never allows.
    m_priority->setExclusive(false);
    for (QRadioButton* b : {m_medium, m_high, m_low})
        b->setChecked(false);
    m_priority->setExclusive(true);
}

QString MsjForm::selectedPriority() const
{
    for (QRadioButton* b : {m_medium, m_high, m_low})
        if (b->isChecked())
            return b->text();
    return {};
}

void MsjForm::reset()
{
    selectType(TypeScheduled);
    selectPriority(QStringLiteral("Medium"));
    m_hour->setText(QStringLiteral("00"));
    m_minute->setText(QStringLiteral("00"));
    m_minutes->clear();
    m_map->clear();
}

void MsjForm::startNew()
{
    m_text->clear();
    selectType(TypeScheduled);
}

void MsjForm::clearAfterSave()
{
    reset();
    m_text->clear();
}

ComForm::ComForm(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("ComForm"));
    setWindowTitle(QStringLiteral("Scheduled Commands"));
    setModal(false);

    m_command = scriptBox(this, "txtCommand");
    m_hour = scriptBox(this, "txtHour");
    m_minute = scriptBox(this, "txtMinute");
    auto* ok = button(QStringLiteral("OK"), "cmdOK", this);
    auto* cancel = button(QStringLiteral("Cancel"), "cmdCancel", this);

    auto* top = new QVBoxLayout(this);
    top->addWidget(heading(QStringLiteral("Add a new command:"), this));
    auto* cmdRow = new QHBoxLayout;
    cmdRow->addWidget(new QLabel(QStringLiteral("Command Text:"), this));
    cmdRow->addWidget(m_command);
    top->addLayout(cmdRow);
    auto* timeRow = new QHBoxLayout;
    timeRow->addWidget(new QLabel(QStringLiteral("Run At: hours minutes."), this));
    timeRow->addWidget(m_hour);
    timeRow->addWidget(new QLabel(QStringLiteral(":"), this));
    timeRow->addWidget(m_minute);
    top->addLayout(timeRow);
    top->addLayout(okCancel(ok, cancel));
    connect(ok, &QPushButton::clicked, this, &ComForm::okClicked);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    reset();
}

CommandEntry ComForm::entry() const
{
    return {timeText(m_hour->text(), m_minute->text()), m_command->text()};
}

void ComForm::setEntry(const CommandEntry& command)
{
    m_command->setText(command.command);
    const TimeBoxes t = timeBoxes(command.time);
    m_hour->setText(t.hour);
    m_minute->setText(t.minute);
}

void ComForm::reset()
{
    m_command->clear();
    m_hour->setText(QStringLiteral("00"));
    m_minute->setText(QStringLiteral("00"));
}

}  // namespace skelvar::mod
