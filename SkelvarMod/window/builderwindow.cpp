#include "SkelvarMod/window/builderwindow.h"

#include "widgets/messageboxprompter.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStyle>
#include <QTabBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "SkelvarMod/window/editors.h"
#include "SkelvarMod/window/openfolder.h"

namespace skelvar::mod {

namespace {

// The lists' column widths are given in twips; 15 twips make a pixel.
constexpr int twips(int t)
{
    return t / 15;
}

// Every list shows at least this many rows without scrolling.
constexpr int VisibleRows = 8;

struct Column {
    const char* caption;
    int width;  // twips; 0 hides the column
};

// Each switch's check box, in the order of Switches; the object names are
// the settings file's and the documents' names of the controls.
struct SwitchControl {
    const char* objectName;
    int Switches::*state;
    const char* caption;
};

const SwitchControl SwitchControls[] = {
    {"Check1", &Switches::noFog, "No Fog"},
    {"Check2", &Switches::whiteWalls, "White Walls"},
    {"Check3", &Switches::thirdPersonView, "3rd Person View"},
    {"Check4", &Switches::wallhack, "Wallhack/Doorhack"},
    {"Check5", &Switches::stopForcedModels,
     "Stop Forced Models (Tip: Use Plinket instead for additional functionalities)"},
    {"Check6", &Switches::serverTime, "Show time on ping screen (requires Zov Plinket)"},
    {"Check7", &Switches::nextMap, "Show next map on ping screen (requires Zov Plinket and RconSkelvar connected)"},
};
constexpr int AnticheatSwitches = 5;  // Check1 .. Check5 sit on the first tab
constexpr int NextMapSwitch = 6, ServerTimeSwitch = 5;

// Tall enough for VisibleRows rows below the header, with room for a
// horizontal scroll bar when the columns are wider than the window.
void fitRows(QTreeWidget* list)
{
    auto* probe = new QTreeWidgetItem(list, QStringList{QString(), QStringLiteral("Xg")});
    probe->setCheckState(0, Qt::Checked);
    const int rowHeight = list->sizeHintForRow(0);
    delete probe;
    const int chrome = list->header()->sizeHint().height() + 2 * list->frameWidth() +
                       list->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    list->setMinimumHeight(chrome + VisibleRows * rowHeight);
}

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
    fitRows(list);
    return list;
}

// Column 0 carries the tick box and no text; the values follow.
void addRow(QTreeWidget* list, const QStringList& values, bool ticked)
{
    auto* item = new QTreeWidgetItem(list);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    for (int i = 0; i < values.size(); ++i)
        item->setText(i + 1, values[i]);
    item->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
}

QPushButton* button(const QString& caption, const char* name, QWidget* parent)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

QHBoxLayout* buttonRow(std::initializer_list<QPushButton*> buttons)
{
    auto* row = new QHBoxLayout;
    for (QPushButton* b : buttons)
        row->addWidget(b);
    row->addStretch();
    return row;
}

int stateOf(const QCheckBox* c)
{
    switch (c->checkState()) {
    case Qt::Checked: return 1;
    case Qt::PartiallyChecked: return 2;
    default: return 0;
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

QStringList rowValues(const BuilderProject& project, BuilderList list, qsizetype row)
{
    switch (list) {
    case BuilderList::MapFixes: {
        const MapFixEntry& f = project.mapFixes()[row];
        return {f.map, f.author, f.description, f.model, f.origin, f.angle, f.visibility, f.filename};
    }
    case BuilderList::Messages: {
        const MessageEntry& m = project.messages()[row];
        return {m.type, m.trigger, m.priority, m.text};
    }
    case BuilderList::Commands: return {project.commands()[row].time, project.commands()[row].command};
    case BuilderList::Compat: return {project.compat()[row].description, project.compat()[row].script};
    }
    return {};
}

bool rowTicked(const BuilderProject& project, BuilderList list, qsizetype row)
{
    switch (list) {
    case BuilderList::MapFixes: return project.mapFixes()[row].ticked;
    case BuilderList::Messages: return project.messages()[row].ticked;
    case BuilderList::Commands: return project.commands()[row].ticked;
    case BuilderList::Compat: return project.compat()[row].ticked;
    }
    return false;
}

constexpr BuilderList AllLists[] = {BuilderList::MapFixes, BuilderList::Messages, BuilderList::Commands,
                                    BuilderList::Compat};
constexpr BuilderList EditedLists[] = {BuilderList::MapFixes, BuilderList::Messages, BuilderList::Commands};

}  // namespace

BuilderWindow::BuilderWindow(const QString& programDir, Prompter* prompter, QWidget* parent)
    : QWidget(parent), m_boxes(prompter ? nullptr : std::make_unique<MessageBoxPrompter>(this)),
      m_prompter(prompter ? *prompter : *m_boxes), m_project(programDir, m_prompter), m_openFolder(openInFileBrowser)
{
    setObjectName(QStringLiteral("SkelvarMod"));
    setWindowTitle(QStringLiteral("Mod Skelvar 2.1"));
    buildUi();
    m_project.load();
    showProject();
    // One size for every tab: the panels' stack is as large as its largest.
    resize(sizeHint());
}

BuilderWindow::~BuilderWindow() = default;

void BuilderWindow::tellLoadErrors()
{
    if (!m_project.loadErrors().isEmpty())
        m_prompter.message(QStringLiteral("Mod Skelvar"), m_project.loadErrors().join(QLatin1Char('\n')),
                           Prompter::Icon::Warning);
}

// --- the widgets

void BuilderWindow::buildUi()
{
    auto* top = new QVBoxLayout(this);
    buildHeader(top);
    buildEditors();
    buildPanels(top);
    buildIndexBoxes();
    buildButtons(top);
    connectLists();
}

void BuilderWindow::buildHeader(QVBoxLayout* top)
{
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
}

void BuilderWindow::buildPanels(QVBoxLayout* top)
{
    m_tabs = new QTabBar(this);
    m_tabs->setObjectName(QStringLiteral("TabStrip1"));
    for (const char* caption : {"Anticheats", "Map Fixes", "Messaging", "Scheduled Commands", "Miscellaneous"})
        m_tabs->addTab(QLatin1String(caption));
    top->addWidget(m_tabs);

    for (const SwitchControl& s : SwitchControls) {
        auto* box = new QCheckBox(QLatin1String(s.caption), this);
        box->setObjectName(QLatin1String(s.objectName));
        connect(box, &QCheckBox::stateChanged, this, [this] { switchChanged(); });
        m_switches.append(box);
    }

    // Only the current tab's panel shows, and the stack keeps the size of the
    // largest, so the window does not change its size with the tab.
    m_panels = new QStackedWidget(this);
    int number = 1;
    for (QFrame* frame : {buildAnticheatsPanel(), buildMapFixesPanel(), buildMessagingPanel(), buildCommandsPanel(),
                          buildMiscellaneousPanel()}) {
        frame->setObjectName(QStringLiteral("Frame1_%1").arg(number++));
        frame->setFrameShape(QFrame::StyledPanel);
        m_panels->addWidget(frame);
    }
    top->addWidget(m_panels, 1);
    connect(m_tabs, &QTabBar::currentChanged, this, [this](int index) { tabClicked(index); });
}

QFrame* BuilderWindow::buildAnticheatsPanel()
{
    auto* f = new QFrame(this);
    auto* l = new QVBoxLayout(f);
    l->addWidget(new QLabel(QStringLiteral("Enable monitoring for the following items:"), f));
    for (int i = 0; i < AnticheatSwitches; ++i)
        l->addWidget(m_switches[i]);
    l->addStretch();
    return f;
}

QFrame* BuilderWindow::buildMapFixesPanel()
{
    auto* f = new QFrame(this);
    auto* l = new QVBoxLayout(f);
    l->addWidget(new QLabel(QStringLiteral("Available Map Fixes:"), f));
    m_fixes.view = makeList("MapFixes",
                            {{"Map", 1100},
                             {"Author", 900},
                             {"Description", 5120},
                             {"Model", 0},
                             {"Origin", 0},
                             {"Angle", 0},
                             {"Visibility", 0},
                             {"Filename", 0}},
                            f);
    l->addWidget(m_fixes.view, 1);
    m_fixes.add = button(QStringLiteral("Add New"), "Command9", f);
    m_fixes.edit = button(QStringLiteral("Edit"), "Command10", f);
    l->addLayout(buttonRow({m_fixes.add, m_fixes.edit}));
    m_fixes.editor = m_fixForm;
    return f;
}

QFrame* BuilderWindow::buildMessagingPanel()
{
    auto* f = new QFrame(this);
    auto* l = new QVBoxLayout(f);
    auto* group = new QGroupBox(QStringLiteral("Current Messages"), f);
    group->setObjectName(QStringLiteral("fraMessages"));
    auto* g = new QVBoxLayout(group);
    g->addWidget(new QLabel(QStringLiteral("Current Messages:"), group));
    m_messages.view =
        makeList("Messages", {{"Type", 1100}, {"Trigger", 900}, {"Priority", 700}, {"Text", 4440}}, group);
    g->addWidget(m_messages.view, 1);
    m_messages.add = button(QStringLiteral("Add New"), "Command4", group);
    m_messages.edit = button(QStringLiteral("Edit"), "Command6", group);
    m_messages.remove = button(QStringLiteral("Delete"), "Command3", group);
    g->addLayout(buttonRow({m_messages.add, m_messages.edit, m_messages.remove}));
    l->addWidget(group);
    m_messages.editor = m_msjForm;
    return f;
}

QFrame* BuilderWindow::buildCommandsPanel()
{
    auto* f = new QFrame(this);
    auto* l = new QVBoxLayout(f);
    auto* group = new QGroupBox(QStringLiteral("Scheduled Commands"), f);
    group->setObjectName(QStringLiteral("fraCommands"));
    auto* g = new QVBoxLayout(group);
    g->addWidget(new QLabel(QStringLiteral("Current scheduled commands:"), group));
    m_commands.view = makeList("Commands", {{"Time", 1100}, {"Command", 6040}}, group);
    g->addWidget(m_commands.view, 1);
    m_commands.add = button(QStringLiteral("Add New"), "Command5", group);
    m_commands.edit = button(QStringLiteral("Edit"), "Command7", group);
    m_commands.remove = button(QStringLiteral("Delete"), "Command8", group);
    g->addLayout(buttonRow({m_commands.add, m_commands.edit, m_commands.remove}));
    g->addWidget(new QLabel(QStringLiteral("* Requires Linux Server or Win32 non-dedicated server"), group));
    l->addWidget(group);
    m_commands.editor = m_comForm;
    return f;
}

QFrame* BuilderWindow::buildMiscellaneousPanel()
{
    auto* f = new QFrame(this);
    auto* l = new QVBoxLayout(f);
    l->addWidget(m_switches[NextMapSwitch]);
    l->addWidget(m_switches[ServerTimeSwitch]);
    auto* label = new QLabel(QStringLiteral("Additional Scripts (check the ones you want to run along with Skelvar; "
                                            "you must still install them on your server):"),
                             f);
    label->setWordWrap(true);
    l->addWidget(label);
    m_compat = makeList("Compatibility", {{"Description", 7140}, {"Script", 0}}, f);
    l->addWidget(m_compat, 1);
    return f;
}

void BuilderWindow::buildEditors()
{
    m_fixForm = new FixForm(this);
    m_msjForm = new MsjForm(this);
    m_comForm = new ComForm(this);
    for (QDialog* d : std::initializer_list<QDialog*>{m_fixForm, m_msjForm, m_comForm})
        d->setWindowFlag(Qt::Window);
}

// Hidden boxes that show the 1-based row being edited; empty while adding.
void BuilderWindow::buildIndexBoxes()
{
    for (auto [list, name] :
         {std::pair{&m_fixes, "Text1"}, std::pair{&m_messages, "Text15"}, std::pair{&m_commands, "Text17"}}) {
        list->index = new QLineEdit(this);
        list->index->setObjectName(QLatin1String(name));
        list->index->hide();
    }
}

void BuilderWindow::buildButtons(QVBoxLayout* top)
{
    auto* buttons = new QHBoxLayout;
    auto* build = button(QStringLiteral("Build Mod"), "Command1", this);
    auto* exit = button(QStringLiteral("Exit"), "Command2", this);
    buttons->addStretch();
    buttons->addWidget(build);
    buttons->addWidget(exit);
    top->addLayout(buttons);
    connect(build, &QPushButton::clicked, this, [this] { buildMod(); });
    connect(exit, &QPushButton::clicked, this, &QWidget::close);
}

void BuilderWindow::connectLists()
{
    for (BuilderList list : EditedLists)
        connectList(list);
    connect(m_compat, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (column == 0)
            m_project.setTicked(BuilderList::Compat, m_compat->indexOfTopLevelItem(item),
                                item->checkState(0) == Qt::Checked);
    });
    connect(m_fixForm, &FixForm::okClicked, this, [this] { editorOk(BuilderList::MapFixes); });
    connect(m_msjForm, &MsjForm::okClicked, this, [this] { editorOk(BuilderList::Messages); });
    connect(m_comForm, &ComForm::okClicked, this, [this] { editorOk(BuilderList::Commands); });
    // Closing the message or command editor in any way hides its list's row buttons.
    connect(m_msjForm, &QDialog::finished, this, [this] { hideRowButtons(BuilderList::Messages); });
    connect(m_comForm, &QDialog::finished, this, [this] { hideRowButtons(BuilderList::Commands); });
}

void BuilderWindow::connectList(BuilderList list)
{
    EditedList& controls = edited(list);
    connect(controls.view, &QTreeWidget::itemClicked, this,
            [this, list](QTreeWidgetItem* item) { rowClicked(list, view(list)->indexOfTopLevelItem(item)); });
    connect(controls.view, &QTreeWidget::itemChanged, this, [this, list](QTreeWidgetItem* item, int column) {
        if (column == 0)
            m_project.setTicked(list, view(list)->indexOfTopLevelItem(item), item->checkState(0) == Qt::Checked);
    });
    connect(controls.add, &QPushButton::clicked, this, [this, list] { listButtonClicked(list, ListAction::AddNew); });
    connect(controls.edit, &QPushButton::clicked, this, [this, list] { listButtonClicked(list, ListAction::Edit); });
    if (controls.remove)
        connect(controls.remove, &QPushButton::clicked, this,
                [this, list] { listButtonClicked(list, ListAction::Delete); });
    hideRowButtons(list);
}

// --- showing the project

void BuilderWindow::showProject()
{
    showSwitches();
    for (BuilderList list : AllLists)
        showRows(list);
    for (BuilderList list : EditedLists)
        showSelection(list);
}

void BuilderWindow::showSwitches()
{
    const Switches& switches = m_project.switches();
    for (int i = 0; i < m_switches.size(); ++i) {
        const QSignalBlocker quiet(m_switches[i]);
        setState(m_switches[i], switches.*SwitchControls[i].state);
    }
}

void BuilderWindow::switchChanged()
{
    Switches switches;
    for (int i = 0; i < m_switches.size(); ++i)
        switches.*SwitchControls[i].state = stateOf(m_switches[i]);
    m_project.setSwitches(switches);
}

void BuilderWindow::showRows(BuilderList list)
{
    QTreeWidget* v = view(list);
    const QSignalBlocker quiet(v);
    v->clear();
    for (qsizetype row = 0; row < m_project.rowCount(list); ++row)
        addRow(v, rowValues(m_project, list, row), rowTicked(m_project, list, row));
}

void BuilderWindow::showSelection(BuilderList list)
{
    const std::optional<qsizetype> row = m_project.selectedRow(list);
    edited(list).index->setText(row ? QString::number(*row + 1) : QString());
}

QTreeWidget* BuilderWindow::view(BuilderList list) const
{
    switch (list) {
    case BuilderList::MapFixes: return m_fixes.view;
    case BuilderList::Messages: return m_messages.view;
    case BuilderList::Commands: return m_commands.view;
    case BuilderList::Compat: break;
    }
    return m_compat;
}

BuilderWindow::EditedList& BuilderWindow::edited(BuilderList list)
{
    Q_ASSERT(list != BuilderList::Compat);
    return list == BuilderList::MapFixes ? m_fixes : list == BuilderList::Messages ? m_messages : m_commands;
}

// --- the operator's actions

void BuilderWindow::tabClicked(int index)
{
    if (index < 0 || index == m_panels->currentIndex())
        return;
    m_panels->setCurrentIndex(index);
    m_msjForm->reset();
    m_comForm->reset();
    for (BuilderList list : {BuilderList::Messages, BuilderList::Commands}) {
        m_project.clearSelection(list);
        showSelection(list);
    }
    for (BuilderList list : EditedLists)
        hideRowButtons(list);
}

void BuilderWindow::rowClicked(BuilderList list, int row)
{
    m_project.selectRow(list, row);
    showSelection(list);
    switch (list) {
    case BuilderList::MapFixes: m_fixForm->setEntry(m_project.mapFixes()[row]); break;
    case BuilderList::Messages: m_msjForm->setEntry(m_project.messages()[row]); break;
    case BuilderList::Commands: m_comForm->setEntry(m_project.commands()[row]); break;
    case BuilderList::Compat: return;
    }
    EditedList& controls = edited(list);
    controls.edit->show();
    if (controls.remove)
        controls.remove->show();
}

void BuilderWindow::listButtonClicked(BuilderList list, ListAction action)
{
    switch (action) {
    case ListAction::AddNew: addNew(list); break;
    case ListAction::Edit: showEditor(edited(list).editor); break;
    case ListAction::Delete: deleteRow(list); break;
    }
}

void BuilderWindow::addNew(BuilderList list)
{
    m_project.clearSelection(list);
    showSelection(list);
    if (list == BuilderList::MapFixes)
        m_fixForm->clearBoxes();  // a new row never inherits the clicked row's file
    else if (list == BuilderList::Messages)
        m_msjForm->startNew();
    else
        m_comForm->reset();
    showEditor(edited(list).editor);
}

void BuilderWindow::deleteRow(BuilderList list)
{
    hideRowButtons(list);
    if (!m_project.deleteSelected(list))
        return;
    // An editor still open on the removed row would otherwise write into
    // whichever row takes its place.
    if (edited(list).editor->isVisible())
        edited(list).editor->reject();
    showRows(list);
    showSelection(list);
}

void BuilderWindow::editorOk(BuilderList list)
{
    switch (list) {
    case BuilderList::MapFixes:
        // The editor stays open on a refused value, so nothing typed is lost.
        if (!m_project.commitMapFix(m_fixForm->entry()))
            return;
        m_fixes.edit->hide();
        m_fixForm->clearBoxes();
        break;
    case BuilderList::Messages:
        m_project.commitMessage(m_msjForm->entry());
        m_msjForm->clearAfterSave();
        break;
    case BuilderList::Commands:
        m_project.commitCommand(m_comForm->entry());
        m_comForm->reset();
        break;
    case BuilderList::Compat: return;
    }
    edited(list).editor->accept();
    showRows(list);
}

void BuilderWindow::hideRowButtons(BuilderList list)
{
    EditedList& controls = edited(list);
    controls.edit->hide();
    if (controls.remove)
        controls.remove->hide();
}

void BuilderWindow::showEditor(QDialog* editor)
{
    // Beside the main window, offset by 1000 twips.
    editor->move(frameGeometry().topLeft() + QPoint(twips(1000), twips(1000)));
    editor->show();
    editor->raise();
    editor->activateWindow();
}

void BuilderWindow::buildMod()
{
    m_project.build(m_openFolder);
}

void BuilderWindow::closeEvent(QCloseEvent* event)
{
    if (!m_saved) {
        m_saved = true;
        m_project.save();
    }
    // The editors are windows of their own; they go with the main window.
    for (QDialog* d : std::initializer_list<QDialog*>{m_fixForm, m_msjForm, m_comForm})
        d->hide();
    event->accept();
}

}  // namespace skelvar::mod
