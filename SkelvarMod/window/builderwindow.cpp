#include "SkelvarMod/window/builderwindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "SkelvarMod/generator/scriptgenerator.h"
#include "SkelvarMod/window/builderfiles.h"
#include "SkelvarMod/window/builderload.h"
#include "SkelvarMod/window/editors.h"
#include "SkelvarMod/window/openfolder.h"

namespace skelvar::mod {

namespace {

// The lists' column widths are given in twips; 15 twips make a pixel.
constexpr int twips(int t) { return t / 15; }

struct Column {
    const char* caption;
    int width;  // twips; 0 hides the column
};

QTreeWidget* makeList(const char* name, std::initializer_list<Column> columns, QWidget* parent)
{
    auto* list = new QTreeWidget(parent);
    list->setObjectName(QLatin1String(name));
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    QStringList headers{QString()};
    for (const Column& c : columns)
        headers << QLatin1String(c.caption);
    list->setHeaderLabels(headers);
    list->setColumnWidth(0, twips(300));
    int i = 1;
    for (const Column& c : columns) {
        if (c.width == 0)
            list->setColumnHidden(i, true);
        else
            list->setColumnWidth(i, twips(c.width));
        ++i;
    }
    return list;
}

// Column 0 carries the tick box and no text; the values follow.
QTreeWidgetItem* addRow(QTreeWidget* list, const QStringList& values, bool ticked)
{
    auto* item = new QTreeWidgetItem(list);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    for (int i = 0; i < values.size(); ++i)
        item->setText(i + 1, values[i]);
    item->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
    return item;
}

void setValues(QTreeWidgetItem* item, const QStringList& values)
{
    for (int i = 0; i < values.size(); ++i)
        item->setText(i + 1, values[i]);
}

bool ticked(const QTreeWidgetItem* item) { return item->checkState(0) == Qt::Checked; }

QStringList fixValues(const MapFixEntry& f)
{
    return {f.map, f.author, f.description, f.model, f.origin, f.angle, f.visibility, f.filename};
}

MapFixEntry fixOf(const QTreeWidgetItem* it)
{
    MapFixEntry f;
    f.map = it->text(1);
    f.author = it->text(2);
    f.description = it->text(3);
    f.model = it->text(4);
    f.origin = it->text(5);
    f.angle = it->text(6);
    f.visibility = it->text(7);
    f.filename = it->text(8);
    f.ticked = ticked(it);
    return f;
}

QPushButton* button(const QString& caption, const char* name, QWidget* parent)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

QCheckBox* check(const QString& caption, int number, QWidget* parent)
{
    auto* c = new QCheckBox(caption, parent);
    c->setObjectName(QStringLiteral("Check%1").arg(number));
    return c;
}

int stateOf(const QCheckBox* c)
{
    switch (c->checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 0;
    }
}

void setState(QCheckBox* c, int state)
{
    c->setCheckState(state == 1 ? Qt::Checked : state == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
}

QPixmap logo()
{
    QPixmap pm(64, 64);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0x3b, 0x4a, 0x2f));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(pm.rect().adjusted(2, 2, -2, -2), 10, 10);
    p.setPen(QColor(0xe8, 0xd8, 0xa0));
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(28);
    p.setFont(f);
    p.drawText(pm.rect(), Qt::AlignCenter, QStringLiteral("S"));
    return pm;
}

const QString NoPathWarning = QStringLiteral("You haven't selected a path for your map ('dm/' or 'obj/'). ");

}  // namespace

BuilderWindow::BuilderWindow(const QString& programDir, QWidget* parent) : QWidget(parent), m_dir(programDir)
{
    setObjectName(QStringLiteral("SkelvarMod"));
    setWindowTitle(QStringLiteral("Mod Skelvar 2.1"));
    m_openFolder = OpenInFileBrowser;
    buildUi();
    loadAll();
}

BuilderWindow::~BuilderWindow() = default;

void BuilderWindow::buildUi()
{
    auto* top = new QVBoxLayout(this);

    auto* header = new QHBoxLayout;
    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setPixmap(logo());
    auto* about = new QLabel(QStringLiteral("Mod Skelvar 2.1\nBuilds the server-side script package that works with "
                                            "RconSkelvar: clock, probes, messages, scheduled commands and map fixes."),
                             this);
    about->setObjectName(QStringLiteral("lblAbout"));
    about->setWordWrap(true);
    header->addWidget(image);
    header->addWidget(about, 1);
    top->addLayout(header);

    m_tabs = new QTabBar(this);
    m_tabs->setObjectName(QStringLiteral("TabStrip1"));
    for (const char* caption : {"Anticheats", "Map Fixes", "Messaging", "Scheduled Commands", "Miscellaneous"})
        m_tabs->addTab(QLatin1String(caption));
    top->addWidget(m_tabs);

    // The five panels share one place; only the current tab's panel shows.
    auto* panels = new QGridLayout;
    for (int i = 1; i <= 5; ++i) {
        auto* frame = new QFrame(this);
        frame->setObjectName(QStringLiteral("Frame1_%1").arg(i));
        frame->setFrameShape(QFrame::StyledPanel);
        frame->hide();
        panels->addWidget(frame, 0, 0);
        m_frames.append(frame);
    }
    top->addLayout(panels, 1);

    const QStringList captions{
        QStringLiteral("No Fog"),
        QStringLiteral("White Walls"),
        QStringLiteral("3rd Person View"),
        QStringLiteral("Wallhack/Doorhack"),
        QStringLiteral("Stop Forced Models (Tip: Use Plinket instead for additional functionalities)"),
        QStringLiteral("Show time on ping screen (requires Zov Plinket)"),
        QStringLiteral("Show next map on ping screen (requires Zov Plinket and RconSkelvar connected)")};
    for (int i = 0; i < 7; ++i)
        m_checks.append(check(captions[i], i + 1, m_frames[i < 5 ? 0 : 4]));

    // 1: Anticheats
    {
        auto* l = new QVBoxLayout(m_frames[0]);
        l->addWidget(new QLabel(QStringLiteral("Enable monitoring for the following items:"), m_frames[0]));
        for (int i = 0; i < 5; ++i)
            l->addWidget(m_checks[i]);
        l->addStretch();
    }
    // 2: Map Fixes
    {
        QFrame* f = m_frames[1];
        auto* l = new QVBoxLayout(f);
        l->addWidget(new QLabel(QStringLiteral("Available Map Fixes:"), f));
        m_mapFixes = makeList("MapFixes",
                              {{"Map", 1100}, {"Author", 900}, {"Description", 5120}, {"Model", 0}, {"Origin", 0},
                               {"Angle", 0}, {"Visibility", 0}, {"Filename", 0}},
                              f);
        l->addWidget(m_mapFixes, 1);
        auto* row = new QHBoxLayout;
        m_fixAdd = button(QStringLiteral("Add New"), "Command9", f);
        m_fixEdit = button(QStringLiteral("Edit"), "Command10", f);
        row->addWidget(m_fixAdd);
        row->addWidget(m_fixEdit);
        row->addStretch();
        l->addLayout(row);
    }
    // 3: Messaging
    {
        QFrame* f = m_frames[2];
        auto* l = new QVBoxLayout(f);
        auto* group = new QGroupBox(QStringLiteral("Current Messages"), f);
        group->setObjectName(QStringLiteral("fraMessages"));
        auto* g = new QVBoxLayout(group);
        g->addWidget(new QLabel(QStringLiteral("Current Messages:"), group));
        m_messages = makeList("Messages", {{"Type", 1100}, {"Trigger", 900}, {"Priority", 700}, {"Text", 4440}}, group);
        g->addWidget(m_messages, 1);
        auto* row = new QHBoxLayout;
        m_msgAdd = button(QStringLiteral("Add New"), "Command4", group);
        m_msgEdit = button(QStringLiteral("Edit"), "Command6", group);
        m_msgDelete = button(QStringLiteral("Delete"), "Command3", group);
        row->addWidget(m_msgAdd);
        row->addWidget(m_msgEdit);
        row->addWidget(m_msgDelete);
        row->addStretch();
        g->addLayout(row);
        l->addWidget(group);
    }
    // 4: Scheduled Commands
    {
        QFrame* f = m_frames[3];
        auto* l = new QVBoxLayout(f);
        auto* group = new QGroupBox(QStringLiteral("Scheduled Commands"), f);
        group->setObjectName(QStringLiteral("fraCommands"));
        auto* g = new QVBoxLayout(group);
        g->addWidget(new QLabel(QStringLiteral("Current scheduled commands:"), group));
        m_commands = makeList("Commands", {{"Time", 1100}, {"Command", 6040}}, group);
        g->addWidget(m_commands, 1);
        auto* row = new QHBoxLayout;
        m_cmdAdd = button(QStringLiteral("Add New"), "Command5", group);
        m_cmdEdit = button(QStringLiteral("Edit"), "Command7", group);
        m_cmdDelete = button(QStringLiteral("Delete"), "Command8", group);
        row->addWidget(m_cmdAdd);
        row->addWidget(m_cmdEdit);
        row->addWidget(m_cmdDelete);
        row->addStretch();
        g->addLayout(row);
        g->addWidget(new QLabel(QStringLiteral("* Requires Linux Server or Win32 non-dedicated server"), group));
        l->addWidget(group);
    }
    // 5: Miscellaneous
    {
        QFrame* f = m_frames[4];
        auto* l = new QVBoxLayout(f);
        l->addWidget(m_checks[6]);
        l->addWidget(m_checks[5]);
        auto* label = new QLabel(QStringLiteral("Additional Scripts (check the ones you want to run along with Skelvar; "
                                                "you must still install them on your server):"),
                                 f);
        label->setWordWrap(true);
        l->addWidget(label);
        m_compat = makeList("Compatibility", {{"Description", 7140}, {"Script", 0}}, f);
        l->addWidget(m_compat, 1);
    }

    // Hidden index boxes of the row being edited; empty while adding.
    for (auto [box, name] : {std::pair{&m_text1, "Text1"}, std::pair{&m_text15, "Text15"}, std::pair{&m_text17, "Text17"}}) {
        *box = new QLineEdit(this);
        (*box)->setObjectName(QLatin1String(name));
        (*box)->hide();
    }

    auto* buttons = new QHBoxLayout;
    m_build = button(QStringLiteral("Build Mod"), "Command1", this);
    m_exit = button(QStringLiteral("Exit"), "Command2", this);
    buttons->addStretch();
    buttons->addWidget(m_build);
    buttons->addWidget(m_exit);
    top->addLayout(buttons);

    for (QPushButton* b : {m_fixEdit, m_msgEdit, m_msgDelete, m_cmdEdit, m_cmdDelete})
        b->hide();
    m_frames[0]->show();
    m_currentTab = 1;

    m_fixForm = new FixForm(this);
    m_msjForm = new MsjForm(this);
    m_comForm = new ComForm(this);
    for (QDialog* d : std::initializer_list<QDialog*>{m_fixForm, m_msjForm, m_comForm})
        d->setWindowFlag(Qt::Window);

    connect(m_tabs, &QTabBar::currentChanged, this, [this](int index) { tabClicked(index + 1); });
    connect(m_build, &QPushButton::clicked, this, [this] { buildMod(); });
    connect(m_exit, &QPushButton::clicked, this, &QWidget::close);

    connect(m_mapFixes, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* it) { mapFixClicked(it); });
    connect(m_fixAdd, &QPushButton::clicked, this, [this] { mapFixAddNew(); });
    connect(m_fixEdit, &QPushButton::clicked, this, [this] { showEditor(m_fixForm); });
    connect(m_fixForm->cmdOK, &QPushButton::clicked, this, [this] { mapFixOk(); });

    connect(m_messages, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* it) { messageClicked(it); });
    connect(m_msgAdd, &QPushButton::clicked, this, [this] { messageAddNew(); });
    connect(m_msgEdit, &QPushButton::clicked, this, [this] { showEditor(m_msjForm); });
    connect(m_msgDelete, &QPushButton::clicked, this, [this] { messageDelete(); });
    connect(m_msjForm->cmdOK, &QPushButton::clicked, this, [this] { messageOk(); });
    connect(m_msjForm, &QDialog::finished, this, [this] {
        m_msgEdit->hide();
        m_msgDelete->hide();
    });

    connect(m_commands, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* it) { commandClicked(it); });
    connect(m_cmdAdd, &QPushButton::clicked, this, [this] { commandAddNew(); });
    connect(m_cmdEdit, &QPushButton::clicked, this, [this] { showEditor(m_comForm); });
    connect(m_cmdDelete, &QPushButton::clicked, this, [this] { commandDelete(); });
    connect(m_comForm->cmdOK, &QPushButton::clicked, this, [this] { commandOk(); });
    connect(m_comForm, &QDialog::finished, this, [this] {
        m_cmdEdit->hide();
        m_cmdDelete->hide();
    });
}

void BuilderWindow::loadAll()
{
    const BuilderFiles files = loadBuilderFiles(m_dir);
    m_loadErrors = files.errors;
    m_compatFileExisted = files.compatFileFound;
    const Switches& s = files.inputs.switches;
    const int states[7] = {s.noFog, s.whiteWalls, s.thirdPersonView, s.wallhack, s.stopForcedModels, s.serverTime, s.nextMap};
    for (int i = 0; i < 7; ++i)
        setState(m_checks[i], states[i]);
    for (const MapFixEntry& f : files.inputs.mapFixes)
        addRow(m_mapFixes, fixValues(f), f.ticked);
    for (const CompatEntry& c : files.inputs.compat)
        addRow(m_compat, {c.description, c.script}, c.ticked);
    for (const MessageEntry& m : files.inputs.messages)
        addRow(m_messages, {m.type, m.trigger, m.priority, m.text}, m.ticked);
    for (const CommandEntry& c : files.inputs.commands)
        addRow(m_commands, {c.time, c.command}, c.ticked);
}

Switches BuilderWindow::switches() const
{
    Switches s;
    s.noFog = stateOf(m_checks[0]);
    s.whiteWalls = stateOf(m_checks[1]);
    s.thirdPersonView = stateOf(m_checks[2]);
    s.wallhack = stateOf(m_checks[3]);
    s.stopForcedModels = stateOf(m_checks[4]);
    s.serverTime = stateOf(m_checks[5]);
    s.nextMap = stateOf(m_checks[6]);
    return s;
}

QList<MessageEntry> BuilderWindow::messages() const
{
    QList<MessageEntry> out;
    for (int i = 0; i < m_messages->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* it = m_messages->topLevelItem(i);
        out.append({it->text(1), it->text(2), it->text(3), it->text(4), ticked(it)});
    }
    return out;
}

QList<CommandEntry> BuilderWindow::commands() const
{
    QList<CommandEntry> out;
    for (int i = 0; i < m_commands->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* it = m_commands->topLevelItem(i);
        out.append({it->text(1), it->text(2), ticked(it)});
    }
    return out;
}

QList<MapFixEntry> BuilderWindow::mapFixes() const
{
    QList<MapFixEntry> out;
    for (int i = 0; i < m_mapFixes->topLevelItemCount(); ++i)
        out.append(fixOf(m_mapFixes->topLevelItem(i)));
    return out;
}

QList<CompatEntry> BuilderWindow::compat() const
{
    QList<CompatEntry> out;
    for (int i = 0; i < m_compat->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* it = m_compat->topLevelItem(i);
        out.append({it->text(1), it->text(2), ticked(it)});
    }
    return out;
}

BuildInputs BuilderWindow::buildInputs() const
{
    return {switches(), messages(), commands(), mapFixes(), compat()};
}

BuildResult BuilderWindow::buildMod()
{
    const BuildResult r = BuildMod(buildInputs(), {m_dir, m_openFolder}, &m_cZip);
    if (!r.ok)
        notify(QMessageBox::Critical, QStringLiteral("Build Mod"), r.message);
    return r;
}

bool BuilderWindow::saveAll(QStringList* errors)
{
    QStringList failed;
    QString error;
    auto check = [&](bool ok) {
        if (!ok)
            failed.append(error);
        error.clear();
    };
    const QDir dir(m_dir);
    check(saveSwitches(dir.filePath(SettingsFileName), switches(), &error));
    for (int i = 0; i < m_mapFixes->topLevelItemCount(); ++i) {
        QTreeWidgetItem* it = m_mapFixes->topLevelItem(i);
        if (it->text(8).isEmpty()) {
            QStringList used;
            for (const MapFixEntry& f : mapFixes())
                used.append(f.filename);
            it->setText(8, newMapFixFileName(m_dir, it->text(1), used));
        }
        check(saveMapFix(m_dir, fixOf(it), &error));
    }
    check(saveMessages(dir.filePath(MessagesFileName), messages(), &error));
    check(saveCommands(dir.filePath(CommandsFileName), commands(), &error));
    // Do not leave an empty list of scripts where the shipped file was missing.
    if (m_compatFileExisted || m_compat->topLevelItemCount() > 0)
        check(saveCompat(dir.filePath(CompatFileName), compat(), &error));
    if (errors)
        *errors = failed;
    return failed.isEmpty();
}

void BuilderWindow::closeEvent(QCloseEvent* event)
{
    if (!m_saved) {
        m_saved = true;
        QStringList errors;
        if (!saveAll(&errors))
            notify(QMessageBox::Warning, QStringLiteral("Mod Skelvar"),
                   QStringLiteral("Some settings could not be saved:\n") + errors.join(QLatin1Char('\n')));
    }
    // The editors are windows of their own; they go with the main window.
    for (QDialog* d : std::initializer_list<QDialog*>{m_fixForm, m_msjForm, m_comForm})
        d->hide();
    event->accept();
}

void BuilderWindow::notify(QMessageBox::Icon icon, const QString& title, const QString& text)
{
    if (m_notify) {
        m_notify(icon, title, text);
        return;
    }
    QMessageBox box(icon, title, text, QMessageBox::Ok, this);
    box.exec();
}

void BuilderWindow::showEditor(QDialog* editor)
{
    // Beside the main window, offset by 1000 twips.
    editor->move(frameGeometry().topLeft() + QPoint(twips(1000), twips(1000)));
    editor->show();
    editor->raise();
    editor->activateWindow();
}

void BuilderWindow::tabClicked(int index)
{
    if (index < 1 || index > m_frames.size() || index == m_currentTab)
        return;
    m_frames[index - 1]->show();
    m_frames[m_currentTab - 1]->hide();
    m_currentTab = index;
    m_msjForm->reset();
    m_comForm->reset();
    m_text15->clear();
    m_text17->clear();
    m_msgRow = nullptr;
    m_cmdRow = nullptr;
    for (QPushButton* b : {m_msgDelete, m_msgEdit, m_cmdEdit, m_cmdDelete, m_fixEdit})
        b->hide();
}

// --- map fixes

void BuilderWindow::mapFixClicked(QTreeWidgetItem* item)
{
    const MapFixEntry f = fixOf(item);
    m_text1->setText(QString::number(m_mapFixes->indexOfTopLevelItem(item) + 1));
    m_fixRow = item;
    m_fixForm->txtMap->setText(f.map);
    m_fixForm->txtAuthor->setText(f.author);
    m_fixForm->txtDescription->setText(f.description);
    m_fixForm->txtModel->setText(f.model);
    m_fixForm->txtOrigin->setText(f.origin);
    m_fixForm->txtAngle->setText(f.angle);
    m_fixForm->txtFilename->setText(f.filename);
    (f.visibility == QLatin1String("show") ? m_fixForm->optShow : m_fixForm->optHide)->setChecked(true);
    m_fixEdit->show();
}

void BuilderWindow::mapFixAddNew()
{
    m_text1->clear();
    m_fixRow = nullptr;
    // A fresh editor, so a new row never inherits the clicked row's file.
    m_fixForm->clearBoxes();
    showEditor(m_fixForm);
}

bool BuilderWindow::mapFixValuesAccepted(const MapFixEntry& fix)
{
    const QStringList problems = MapFixValueProblems(fix);
    if (problems.isEmpty())
        return true;
    const int index = m_fixRow ? m_mapFixes->indexOfTopLevelItem(m_fixRow) : m_mapFixes->topLevelItemCount();
    const QString row = MapFixRowName(index, fix);
    QStringList lines;
    for (const QString& p : problems)
        lines.append(row + QStringLiteral(": ") + p);
    notify(QMessageBox::Warning, QStringLiteral("Map Fixes"),
           QStringLiteral("The fix was not saved. Please correct it first:\n") + lines.join(QLatin1Char('\n')));
    return false;
}

void BuilderWindow::mapFixOk()
{
    FixForm* e = m_fixForm;
    MapFixEntry f = m_fixRow ? fixOf(m_fixRow) : MapFixEntry{};
    f.map = e->txtMap->text();
    f.author = e->txtAuthor->text();
    f.description = e->txtDescription->text();
    f.model = e->txtModel->text();
    f.origin = e->txtOrigin->text();
    f.angle = e->txtAngle->text();
    f.visibility = e->optShow->isChecked() ? QStringLiteral("show") : QStringLiteral("hide");
    f.filename = e->txtFilename->text();
    // The editor stays open on a refused value, so nothing typed is lost.
    if (!mapFixValuesAccepted(f))
        return;
    if (!f.map.contains(QLatin1Char('/')))
        notify(QMessageBox::Warning, QStringLiteral("Warning!"), NoPathWarning + QStringLiteral("Fix won't get applied."));
    QTreeWidgetItem* row = m_fixRow ? m_fixRow : addRow(m_mapFixes, {}, false);
    m_fixEdit->hide();
    if (f.filename.isEmpty()) {
        QStringList used;
        for (int i = 0; i < m_mapFixes->topLevelItemCount(); ++i)
            if (m_mapFixes->topLevelItem(i) != row)
                used.append(m_mapFixes->topLevelItem(i)->text(8));
        f.filename = newMapFixFileName(m_dir, f.map, used);
    }
    setValues(row, fixValues(f));
    e->clearBoxes();
    e->accept();
}

// --- messages

void BuilderWindow::messageClicked(QTreeWidgetItem* item)
{
    m_text15->setText(QString::number(m_messages->indexOfTopLevelItem(item) + 1));
    m_msgRow = item;
    const QString type = item->text(1);
    m_msjForm->txtText->setText(item->text(4));
    m_msjForm->selectPriority(item->text(3));
    const TriggerBoxes boxes = triggerBoxes(type, item->text(2));
    m_msjForm->selectType(type);
    if (type == TypePeriodic) {
        m_msjForm->txtMinutes->setText(boxes.minutes);
    } else if (type == TypeScheduled) {
        m_msjForm->txtHour->setText(boxes.hour);
        m_msjForm->txtMinute->setText(boxes.minute);
    } else if (type == TypePerMap) {
        m_msjForm->txtMap->setText(boxes.map);
    }
    m_msgEdit->show();
    m_msgDelete->show();
}

void BuilderWindow::messageAddNew()
{
    m_text15->clear();
    m_msgRow = nullptr;
    m_msjForm->txtText->clear();
    m_msjForm->selectType(TypeScheduled);
    showEditor(m_msjForm);
}

void BuilderWindow::messageDelete()
{
    m_msgEdit->hide();
    m_msgDelete->hide();
    bool ok = false;
    const int index = m_text15->text().toInt(&ok) - 1;
    QTreeWidgetItem* row = ok ? m_messages->topLevelItem(index) : nullptr;
    if (!row)
        return;
    // An editor still open on this row would otherwise write into whichever
    // row takes its place.
    if (row == m_msgRow && m_msjForm->isVisible())
        m_msjForm->reject();
    m_msgRow = nullptr;
    m_text15->clear();
    delete row;
}

void BuilderWindow::messageOk()
{
    MsjForm* e = m_msjForm;
    QTreeWidgetItem* row = m_msgRow ? m_msgRow : addRow(m_messages, {}, false);
    const QString type = e->selectedType();
    if (type == TypePerMap && !e->txtMap->text().contains(QLatin1Char('/')))
        notify(QMessageBox::Warning, QStringLiteral("Warning!"),
               NoPathWarning + QStringLiteral("Message won't be displayed."));
    row->setCheckState(0, Qt::Checked);
    TriggerBoxes boxes;
    boxes.minutes = e->txtMinutes->text();
    boxes.hour = e->txtHour->text();
    boxes.minute = e->txtMinute->text();
    boxes.map = e->txtMap->text();
    row->setText(1, type);
    row->setText(2, triggerText(type, boxes));
    e->selectType(TypeScheduled);
    e->txtHour->setText(QStringLiteral("00"));
    e->txtMinute->setText(QStringLiteral("00"));
    e->txtMinutes->clear();
    e->txtMap->clear();
    const QString priority = e->selectedPriority();
    if (!priority.isEmpty())
        row->setText(3, priority);
    e->selectPriority(QStringLiteral("Medium"));
    row->setText(4, e->txtText->text());
    e->txtText->clear();
    e->accept();
}

// --- scheduled commands

void BuilderWindow::commandClicked(QTreeWidgetItem* item)
{
    m_text17->setText(QString::number(m_commands->indexOfTopLevelItem(item) + 1));
    m_cmdRow = item;
    m_comForm->txtCommand->setText(item->text(2));
    const TimeBoxes t = timeBoxes(item->text(1));
    m_comForm->txtHour->setText(t.hour);
    m_comForm->txtMinute->setText(t.minute);
    m_cmdEdit->show();
    m_cmdDelete->show();
}

void BuilderWindow::commandAddNew()
{
    m_comForm->reset();
    m_text17->clear();
    m_cmdRow = nullptr;
    showEditor(m_comForm);
}

void BuilderWindow::commandDelete()
{
    m_cmdEdit->hide();
    m_cmdDelete->hide();
    bool ok = false;
    const int index = m_text17->text().toInt(&ok) - 1;
    QTreeWidgetItem* row = ok ? m_commands->topLevelItem(index) : nullptr;
    if (!row)
        return;
    if (row == m_cmdRow && m_comForm->isVisible())
        m_comForm->reject();
    m_cmdRow = nullptr;
    m_text17->clear();
    delete row;
}

void BuilderWindow::commandOk()
{
    ComForm* e = m_comForm;
    QTreeWidgetItem* row = m_cmdRow ? m_cmdRow : addRow(m_commands, {}, false);
    row->setText(1, timeText(e->txtHour->text(), e->txtMinute->text()));
    row->setText(2, e->txtCommand->text());
    row->setCheckState(0, Qt::Checked);
    e->reset();
    e->accept();
}

}  // namespace skelvar::mod
