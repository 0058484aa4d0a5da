#include "SkelvarRcon/window/monitorwindow.h"

#include "SkelvarRcon/store/controlnames.h"
#include "SkelvarRcon/store/settingsform.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTabBar>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

namespace skelvar::rcon {

namespace {

// The caption after the hand ban's days box; it hides with the box.
constexpr char handBanDaysCaption[] = "Text2_days";

// List widths are given in twips; 15 twips make a pixel on a common screen.
int twips(int t)
{
    return t / 15;
}

template <typename W>
W* named(W* w, const char* name)
{
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

QLineEdit* lineEdit(const char* name, int width = 0)
{
    auto* e = named(new QLineEdit, name);
    if (width)
        e->setMaximumWidth(width);
    return e;
}

QLabel* statusIcon(const char* name, const char* colour, const QString& tip)
{
    auto* l = named(new QLabel, name);
    l->setFixedSize(14, 14);
    l->setStyleSheet(QStringLiteral("background:%1;border-radius:7px;").arg(QLatin1String(colour)));
    l->setToolTip(tip);
    l->hide();
    return l;
}

void setUpListView(QTreeView* v)
{
    v->setRootIsDecorated(false);
    v->setUniformRowHeights(true);
    v->setAllColumnsShowFocus(true);
    v->setSelectionBehavior(QAbstractItemView::SelectRows);
}

// The height of a list view that shows `rows` rows under its header, measured
// on a view of the same make, since the list itself may still be empty.
int heightForRows(int rows)
{
    QStandardItemModel probeModel(1, 1);
    probeModel.setHeaderData(0, Qt::Horizontal, QStringLiteral("X"));
    probeModel.setItem(0, 0, new QStandardItem(QStringLiteral("X")));
    QTreeView probe;
    setUpListView(&probe);
    probe.setModel(&probeModel);
    // The style sets the fonts and margins the rows are measured with.
    probe.ensurePolished();
    probe.header()->ensurePolished();
    const int frame = 2 * probe.frameWidth();
    return probe.header()->sizeHint().height() + rows * probe.sizeHintForRow(0) + frame;
}

QTreeView* listView(const char* name, QAbstractItemModel* model, const QList<ListColumn>& columns)
{
    auto* v = named(new QTreeView, name);
    setUpListView(v);
    v->setModel(model);
    v->header()->setSectionsClickable(true);
    for (int i = 0; i < columns.size(); ++i)
        v->setColumnWidth(i, twips(columns[i].widthTwips));
    static const int height = heightForRows(MonitorWindow::listRowsShown);
    v->setMinimumHeight(height);
    return v;
}

// A caption with a box in its gap, as one widget that can be disabled whole.
QWidget* captionAround(const char* name, const QString& before, QLineEdit* box, const QString& after)
{
    auto* w = named(new QWidget, name);
    auto* row = new QHBoxLayout(w);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(new QLabel(before));
    row->addWidget(box);
    row->addWidget(new QLabel(after));
    return w;
}

// The row the operator last clicked in a list, or -1; read when a button is
// clicked, so the action takes that row as it is then.
int currentRow(const QTreeView* view)
{
    const QModelIndex index = view->currentIndex();
    return index.isValid() ? index.row() : -1;
}

}  // namespace

void ClickLabel::mouseReleaseEvent(QMouseEvent* e)
{
    QLabel::mouseReleaseEvent(e);
    emit clicked();
}

MonitorWindow::MonitorWindow(MonitorOptions options, Prompter* prompter, QWidget* parent) : QWidget(parent)
{
    setObjectName(QLatin1String(control::window));
    setWindowTitle(QStringLiteral("Rcon Skelvar 2.1"));
    if (!prompter) {
        m_ownPrompter = std::make_unique<MessageBoxPrompter>(this);
        prompter = m_ownPrompter.get();
    }
    m_monitor = std::make_unique<Monitor>(*prompter, std::move(options));

    auto* top = new QVBoxLayout(this);
    buildPages(top);
    buildExitRow(top);
    fixPageSize();

    bindUiState();
    connect(m_monitor.get(), &Monitor::consoleOutput, this, &MonitorWindow::onConsoleOutput);
    const QList<StoreMessage> messages = m_monitor->create();
    bindSettings();
    for (const QString& name : Monitor::watchedControls()) {
        if (auto* w = findChild<QWidget*>(name))
            w->installEventFilter(this);
    }
    // Tell the operator about the files once the window is up.
    if (!messages.isEmpty()) {
        QTimer::singleShot(0, this, [this, messages] {
            for (const StoreMessage& m : messages)
                m_monitor->prompter().message(m.title, m.text, Prompter::Icon::Warning);
        });
    }
}

MonitorWindow::~MonitorWindow()
{
    m_tasks.clear();
}

void MonitorWindow::buildPages(QBoxLayout* top)
{
    m_tabs = named(new QTabBar, control::tabStrip);
    for (const QString& title : settingsTabTitles())
        m_tabs->addTab(title);
    top->addWidget(m_tabs);
    for (int i = 0; i < Monitor::tabCount; ++i) {
        auto* page = new QFrame;
        page->setObjectName(QStringLiteral("%1_%2").arg(QLatin1String(control::tabPageArray)).arg(i));
        m_pages.append(page);
        top->addWidget(page, 1);
    }
    buildMainPage(m_pages[0]);
    buildCheatPage(m_pages[1]);
    buildServerPage(m_pages[2]);
    buildPenaltiesPage(m_pages[3]);
    for (int i = 1; i < Monitor::tabCount; ++i)
        m_pages[i]->hide();
    connect(m_tabs, &QTabBar::tabBarClicked, this, &MonitorWindow::onTabClicked);
}

void MonitorWindow::buildExitRow(QBoxLayout* top)
{
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    auto* exitButton = named(new QPushButton(QStringLiteral("Exit")), control::exitButton);
    bottom->addWidget(exitButton);
    top->addLayout(bottom);
    connect(exitButton, &QPushButton::clicked, this, [this, exitButton] {
        exitButton->setEnabled(false);
        close();
    });
}

// Every page gets the room the largest one needs, so the window starts at a
// size that fits each page and keeps it when the tabs change.
void MonitorWindow::fixPageSize()
{
    QSize room;
    for (QWidget* page : std::as_const(m_pages))
        room = room.expandedTo(page->minimumSizeHint());
    for (QWidget* page : std::as_const(m_pages))
        page->setMinimumSize(room);
}

// ---- Main Setup ---------------------------------------------------------------

void MonitorWindow::buildMainPage(QWidget* page)
{
    auto* grid = new QGridLayout(page);
    grid->addLayout(connectionRow(), 0, 0);
    grid->addLayout(periodsRow(), 1, 0);
    grid->addLayout(optionsRow(), 2, 0);
    grid->addLayout(playersPanel(), 3, 0);
    grid->addLayout(statusRow(), 4, 0);
    grid->addLayout(progressRow(), 5, 0);
    addConsole(grid, 6);
}

QLayout* MonitorWindow::connectionRow()
{
    auto* row = new QGridLayout;
    row->addWidget(new QLabel(QStringLiteral("Server IP")), 0, 0);
    row->addWidget(lineEdit(control::serverAddress), 0, 1);
    row->addWidget(new QLabel(QStringLiteral("Port")), 0, 2);
    row->addWidget(lineEdit(control::serverPort, 70), 0, 3);
    row->addWidget(new QLabel(QStringLiteral("Password")), 0, 4);
    row->addWidget(lineEdit(control::rconPassword), 0, 5);
    return row;
}

QLayout* MonitorWindow::periodsRow()
{
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Scan players every")));
    row->addWidget(lineEdit(control::scanMinutes, 50));
    row->addWidget(new QLabel(QStringLiteral("minutes")));
    row->addSpacing(16);
    row->addWidget(new QLabel(QStringLiteral("Patrol server every")));
    row->addWidget(lineEdit(control::patrolSeconds, 50));
    row->addWidget(new QLabel(QStringLiteral("seconds")));
    row->addStretch();
    auto* start = named(new QPushButton(QStringLiteral("Start")), control::startButton);
    auto* stop = named(new QPushButton(QStringLiteral("Stop")), control::stopButton);
    row->addWidget(start);
    row->addWidget(stop);
    connect(start, &QPushButton::clicked, this, [this] { m_monitor->session.start(); });
    connect(stop, &QPushButton::clicked, this, [this] { m_monitor->session.stop(); });
    return row;
}

QLayout* MonitorWindow::optionsRow()
{
    auto* row = new QHBoxLayout;
    row->addWidget(named(new QCheckBox(QStringLiteral("Scan on Start")), control::scanOnStart));
    row->addWidget(named(new QCheckBox(QStringLiteral("Log Skelvar output to file")), control::logAlerts));
    row->addWidget(named(new QCheckBox(QStringLiteral("Run in Silent Mode")), control::silent));
    auto* viewLog = named(new ClickLabel(QStringLiteral("<u>View log</u>")), control::viewLogLabel);
    auto* deleteLog = named(new ClickLabel(QStringLiteral("<u>Delete log</u>")), control::deleteLogLabel);
    row->addWidget(viewLog);
    row->addWidget(deleteLog);
    row->addStretch();
    connect(viewLog, &ClickLabel::clicked, this, [this] { openInEditor(EditableFile::Log); });
    connect(deleteLog, &ClickLabel::clicked, this, [this] { m_monitor->deleteLog(); });
    return row;
}

QLayout* MonitorWindow::playersPanel()
{
    auto* panel = new QHBoxLayout;
    auto* players = listView(control::playersList, &m_monitor->players, PlayerList::columns());
    panel->addWidget(players, 1);
    connect(players, &QTreeView::clicked, this, [this] { m_monitor->actions.playersRowClicked(); });

    auto* side = new QVBoxLayout;
    side->addLayout(handPenaltyControls(players));
    side->addWidget(new QLabel(QStringLiteral("Additional Info:")));
    side->addLayout(serverInfo());
    side->addWidget(named(new QLabel(QStringLiteral("No server monitored")), control::notMonitoredPicture));
    side->addStretch();
    panel->addLayout(side);
    return panel;
}

QLayout* MonitorWindow::handPenaltyControls(QTreeView* players)
{
    auto* controls = new QVBoxLayout;
    auto* kick = named(new QPushButton(QStringLiteral("Kick")), control::kickPlayerButton);
    auto* ban = named(new QPushButton(QStringLiteral("Ban")), control::banPlayerButton);
    controls->addWidget(kick);
    controls->addWidget(ban);
    connect(kick, &QPushButton::clicked, this, [this, players] { m_monitor->actions.kickPlayer(currentRow(players)); });
    connect(ban, &QPushButton::clicked, this, [this, players] { m_monitor->actions.banPlayer(currentRow(players)); });
    controls->addWidget(named(new QRadioButton(QStringLiteral("Indefinitely")), control::handBanForever));
    auto* forRow = new QHBoxLayout;
    forRow->addWidget(named(new QRadioButton(QStringLiteral("For")), control::handBanForDays));
    forRow->addWidget(lineEdit(control::handBanDays, 40));
    forRow->addWidget(named(new QLabel(QStringLiteral("days")), handBanDaysCaption));
    controls->addLayout(forRow);
    return controls;
}

QLayout* MonitorWindow::serverInfo()
{
    auto* info = new QVBoxLayout;
    auto line = [info](QLabel* label, std::initializer_list<QLabel*> icons) {
        auto* row = new QHBoxLayout;
        for (QLabel* i : icons)
            row->addWidget(i);
        row->addWidget(label, 1);
        info->addLayout(row);
    };
    line(named(new QLabel(QStringLiteral("Server OS:")), control::serverOs),
         {statusIcon(control::windowsIcon, "#3a6ea5", "Windows"), statusIcon(control::linuxIcon, "#e0a000", "Linux")});
    line(named(new QLabel(QStringLiteral("Cheats")), control::cheatsState),
         {statusIcon(control::cheatsEnabledIcon, "#c03030", "enabled"),
          statusIcon(control::cheatsDisabledIcon, "#30a030", "disabled")});
    line(named(new QLabel(QStringLiteral("ModSkelvar")), control::modSkelvarState),
         {statusIcon(control::modSkelvarStoppedIcon, "#c03030", "not running"),
          statusIcon(control::modSkelvarRunningIcon, "#30a030", "running")});
    line(named(new QLabel(QStringLiteral("Zov Plinket")), control::zovPlinketState),
         {statusIcon(control::zovPlinketStoppedIcon, "#c03030", "not running"),
          statusIcon(control::zovPlinketRunningIcon, "#30a030", "running")});
    return info;
}

QLayout* MonitorWindow::statusRow()
{
    auto* row = new QHBoxLayout;
    row->addWidget(named(new QLabel(QStringLiteral("Server not running!")), control::serverStatus), 1);
    row->addWidget(named(new QLabel, control::lastDataLine));
    return row;
}

QLayout* MonitorWindow::progressRow()
{
    auto* row = new QHBoxLayout;
    for (const char* name : {control::scanProgress, control::patrolProgress}) {
        auto* bar = named(new QProgressBar, name);
        bar->setRange(0, 0);
        bar->setTextVisible(false);
        bar->setMaximum(1);
        bar->setValue(0);
        row->addWidget(bar);
    }
    return row;
}

void MonitorWindow::addConsole(QGridLayout* grid, int row)
{
    grid->addWidget(new QLabel(QStringLiteral("Mini Console:")), row++, 0);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    QFont courier(QStringLiteral("Courier New"));
    courier.setStyleHint(QFont::Monospace);
    courier.setPointSize(fixed.pointSize());
    m_output = named(new QPlainTextEdit, control::consoleOutput);
    m_output->setReadOnly(true);
    m_output->setFont(courier);
    grid->addWidget(m_output, row++, 0);

    auto* inputRow = new QHBoxLayout;
    m_input = lineEdit(control::consoleInput);
    m_input->setFont(courier);
    inputRow->addWidget(m_input, 1);
    auto* copy = named(new QPushButton(QStringLiteral("copy")), control::copyButton);
    auto* clear = named(new QPushButton(QStringLiteral("clear")), control::clearButton);
    inputRow->addWidget(copy);
    inputRow->addWidget(clear);
    grid->addLayout(inputRow, row++, 0);
    m_held = lineEdit(control::consoleHeld);
    m_held->hide();
    grid->addWidget(m_held, row, 0);
    connect(m_input, &QLineEdit::returnPressed, this, &MonitorWindow::onConsoleEnter);
    connect(copy, &QPushButton::clicked, this, &MonitorWindow::copyOutput);
    connect(clear, &QPushButton::clicked, m_output, &QPlainTextEdit::clear);
}

// ---- Cheat Management -----------------------------------------------------------

QWidget* MonitorWindow::penaltyRowFrame(Detection detection, int frameMember)
{
    const PenaltyRowNames names = Settings::rowNames(detection);
    auto* frame = new QFrame;
    frame->setObjectName(QStringLiteral("%1_%2").arg(QLatin1String(control::penaltyFrameArray)).arg(frameMember));
    auto* l = new QHBoxLayout(frame);
    l->setContentsMargins(0, 0, 0, 0);
    auto radio = [](const QString& name, const QString& caption) {
        auto* r = new QRadioButton(caption);
        r->setObjectName(name);
        return r;
    };
    l->addWidget(radio(names.warning, QStringLiteral("Warning")));
    l->addWidget(radio(names.kick, QStringLiteral("Kick")));
    l->addWidget(radio(names.ban, QStringLiteral("Ban for")));
    auto* days = new QLineEdit;
    days->setObjectName(names.days);
    days->setMaximumWidth(40);
    l->addWidget(days);
    l->addWidget(new QLabel(QStringLiteral("days (0 for indefinite ban)")));
    l->addStretch();
    return frame;
}

void MonitorWindow::buildCheatPage(QWidget* page)
{
    struct CheatLine {
        Detection detection;
        const char* caption;
        int frame;
    };
    static const CheatLine lines[] = {
        {Detection::NoFog, "No fog", 0},
        {Detection::WhiteWalls, "White Walls", 1},
        {Detection::Wallhack, "Wallhack / Doorhack", 2},
        {Detection::ThirdPerson, "3rd Person", 4},
        {Detection::Aimbot, "Pathetic OGC aimbot *", 5},
        {Detection::GlowingSkins, "Glowing skins *", 6},
        {Detection::ModifiedBinaries, "Modified binaries", 8},
    };
    auto* grid = new QGridLayout(page);
    grid->addWidget(new QLabel(QStringLiteral("Detection")), 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("Penalty")), 0, 1);
    int row = 1;
    for (const CheatLine& line : lines) {
        auto* box = new QCheckBox(QString::fromLatin1(line.caption));
        box->setObjectName(Settings::rowNames(line.detection).enable);
        grid->addWidget(box, row, 0);
        grid->addWidget(penaltyRowFrame(line.detection, line.frame), row++, 1);
    }
    grid->addWidget(new QLabel(QStringLiteral("Custom Warning:")), row, 0);
    grid->addWidget(lineEdit(control::cheatAlert), row++, 1);
    grid->addWidget(new QLabel(QStringLiteral("* Detection for these cheats is VERY basic.")), row++, 0, 1, 2);
    auto* skins = named(new ClickLabel(QStringLiteral("<u>View/Edit suspicious skins list</u>")),
                        control::suspiciousSkinsEditLabel);
    grid->addWidget(skins, row++, 0);
    connect(skins, &ClickLabel::clicked, this, [this] { openInEditor(EditableFile::SuspiciousSkins); });
    grid->addWidget(new QLabel(QStringLiteral("Rcon Skelvar 2.1 - watches a game server over its remote console.")),
                    row++, 0, 1, 2);
    grid->setRowStretch(row, 1);
}

// ---- Server Management ----------------------------------------------------------

void MonitorWindow::buildServerPage(QWidget* page)
{
    auto* grid = new QGridLayout(page);
    int row = addPrivatePanel(grid, 0);
    row = addDetectionLines(grid, row);
    row = addPingPanel(grid, row);
    grid->setRowStretch(row, 1);
}

int MonitorWindow::addPrivatePanel(QGridLayout* grid, int row)
{
    grid->addWidget(new QLabel(QStringLiteral("Private clients tag:")), row, 0);
    grid->addWidget(lineEdit(control::privateTag), row, 1);
    auto* makePrivate = named(new QPushButton(QStringLiteral("Make it private!")), control::makePrivateButton);
    grid->addWidget(makePrivate, row++, 2);
    connect(makePrivate, &QPushButton::clicked, this, [this] { m_monitor->enforcement.makePrivate(); });
    grid->addWidget(new QLabel(QStringLiteral("Private password:")), row, 0);
    grid->addWidget(lineEdit(control::privatePassword), row++, 1);
    grid->addWidget(new QLabel(QStringLiteral("Warning notice:")), row, 0);
    grid->addWidget(lineEdit(control::privateModeNotice), row++, 1, 1, 3);
    return row;
}

int MonitorWindow::addDetectionLines(QGridLayout* grid, int row)
{
    grid->addWidget(new QLabel(QStringLiteral("Details")), row++, 1);
    grid->addWidget(named(new QCheckBox(QStringLiteral("Scan for private clients:")), control::scanPrivateClients), row,
                    0);
    grid->addWidget(penaltyRowFrame(Detection::PrivateClients, 3), row++, 1, 1, 3);
    grid->addWidget(named(new QCheckBox(QStringLiteral("Scan for reserved skins")), control::scanReservedSkins), row,
                    0);
    grid->addWidget(penaltyRowFrame(Detection::ReservedSkins, 7), row++, 1, 1, 3);
    auto* reserved =
        named(new ClickLabel(QStringLiteral("<u>View/Edit reserved skins list</u>")), control::reservedSkinsEditLabel);
    grid->addWidget(reserved, row++, 0);
    connect(reserved, &ClickLabel::clicked, this, [this] { openInEditor(EditableFile::ReservedSkins); });
    grid->addWidget(
        named(new QCheckBox(QStringLiteral("Warn on non-optimized connections")), control::warnOnConnection), row, 0);
    grid->addWidget(new QLabel(QStringLiteral("   No punishment available")), row++, 1);

    grid->addWidget(new QLabel(QStringLiteral("Custom warnings:")), row++, 0);
    for (const char* alert :
         {control::privateSlotAlert, control::publicSlotAlert, control::reservedSkinAlert, control::connectionAlert})
        grid->addWidget(lineEdit(alert), row++, 0, 1, 4);
    return row;
}

int MonitorWindow::addPingPanel(QGridLayout* grid, int row)
{
    grid->addWidget(named(new QCheckBox(QStringLiteral("Kick on high ping")), control::kickOnHighPing), row, 0);
    auto* caption = named(new QWidget, control::pingLimitLabel);
    auto* captionRow = new QHBoxLayout(caption);
    captionRow->setContentsMargins(0, 0, 0, 0);
    captionRow->addWidget(new QLabel(QStringLiteral("Kick if ping higher than")));
    captionRow->addWidget(lineEdit(control::pingLimit, 50));
    captionRow->addWidget(new QLabel(QStringLiteral("ms on")));
    captionRow->addWidget(lineEdit(control::pingScans, 40));
    captionRow->addWidget(new QLabel(QStringLiteral("consecutive scans")));
    captionRow->addStretch();
    grid->addWidget(caption, row++, 1, 1, 3);
    grid->addWidget(lineEdit(control::pingKickNotice), row++, 0, 1, 4);
    grid->addWidget(
        named(new QCheckBox(QStringLiteral("Enable Spearhead compatibility")), control::spearheadCompatibility), row++,
        0, 1, 2);
    return row;
}

// ---- Penalties Management -------------------------------------------------------

void MonitorWindow::buildPenaltiesPage(QWidget* page)
{
    auto* grid = new QGridLayout(page);
    int row = 0;
    for (const lists::ListKind kind : {lists::ListKind::Warnings, lists::ListKind::Kicks, lists::ListKind::Bans})
        row = addRecordList(grid, row, kind);
    grid->addLayout(thresholdsRow(), row++, 0, 1, 2);
    auto* notice = new QHBoxLayout;
    notice->addWidget(new QLabel(QStringLiteral("Ban Notice:")));
    notice->addWidget(lineEdit(control::banNotice), 1);
    grid->addLayout(notice, row++, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("View/Edit immunity list")), row, 0);
}

int MonitorWindow::addRecordList(QGridLayout* grid, int row, lists::ListKind kind)
{
    struct ListPart {
        const char* label;
        const char* view;
    };
    const ListPart part = kind == lists::ListKind::Warnings ? ListPart{"Warning history", control::warningsList}
                          : kind == lists::ListKind::Kicks  ? ListPart{"Kick history", control::kicksList}
                                                            : ListPart{"Ban history", control::bansList};
    grid->addWidget(new QLabel(QString::fromLatin1(part.label)), row++, 0);
    RecordList& model = m_monitor->lists.list(kind);
    auto* view = listView(part.view, &model, RecordList::columns(kind));
    grid->addWidget(view, row, 0);
    connect(view->header(), &QHeaderView::sectionClicked, &model, [&model](int column) { model.sort(column); });
    connect(view, &QTreeView::clicked, this, [this, kind] { m_monitor->actions.recordRowClicked(kind); });

    auto* buttons = new QVBoxLayout;
    for (const ListButtonDef& def : listButtons()) {
        if (def.list != kind)
            continue;
        auto* b = named(new QPushButton(QString::fromLatin1(def.caption)), def.name);
        buttons->addWidget(b);
        const ListButton which = def.button;
        connect(b, &QPushButton::clicked, this,
                [this, view, which] { m_monitor->actions.press(which, currentRow(view)); });
    }
    buttons->addStretch();
    grid->addLayout(buttons, row++, 1);
    return row;
}

QLayout* MonitorWindow::thresholdsRow()
{
    auto* row = new QHBoxLayout;
    row->addWidget(captionAround(control::kickAfterWarningsLabel, QStringLiteral("Make kick after"),
                                 lineEdit(control::kickAfterWarnings, 40), QStringLiteral("warnings  /")));
    row->addWidget(captionAround(control::banAfterKicksLabel, QStringLiteral("Make ban after"),
                                 lineEdit(control::banAfterKicks, 40), QStringLiteral("kicks")));
    row->addStretch();
    return row;
}

// ---- Binding the models -----------------------------------------------------------

void MonitorWindow::bindSettings()
{
    Settings& s = m_monitor->settings;
    for (const Settings::SettingDef& def : Settings::definitions()) {
        const QString name = QString::fromLatin1(def.control);
        QWidget* w = findChild<QWidget*>(name);
        if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            edit->setText(s.text(name));
            connect(edit, &QLineEdit::textChanged, this, [&s, name](const QString& t) {
                if (s.text(name) != t)
                    s.setText(name, t);
            });
        } else if (auto* radio = qobject_cast<QRadioButton*>(w)) {
            radio->setChecked(s.isChecked(name));
            connect(radio, &QRadioButton::toggled, this, [&s, name](bool on) {
                if (on)
                    s.setChecked(name, true);
            });
        } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
            box->setChecked(s.isChecked(name));
            connect(box, &QCheckBox::toggled, this, [&s, name](bool on) {
                if (s.isChecked(name) != on)
                    s.setChecked(name, on);
            });
        } else {
            qWarning("no control for setting %s", def.control);
        }
    }
    connect(&s, &Settings::changed, this, &MonitorWindow::applySetting);
}

void MonitorWindow::applySetting(const QString& name)
{
    const Settings& s = m_monitor->settings;
    QWidget* w = findChild<QWidget*>(name);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        if (edit->text() != s.text(name))
            edit->setText(s.text(name));
    } else if (auto* radio = qobject_cast<QRadioButton*>(w)) {
        if (s.isChecked(name))
            radio->setChecked(true);
    } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
        box->setChecked(s.isChecked(name));
    }
}

void MonitorWindow::bindUiState()
{
    const auto& controls = m_monitor->ui.controls();
    for (auto it = controls.cbegin(); it != controls.cend(); ++it)
        applyUi(it.key());
    connect(&m_monitor->ui, &UiState::changed, this, &MonitorWindow::applyUi);
}

void MonitorWindow::applyUi(const QString& name)
{
    const auto& controls = m_monitor->ui.controls();
    const auto it = controls.constFind(name);
    QWidget* w = findChild<QWidget*>(name);
    if (it == controls.cend() || !w)
        return;
    const UiState::Control& c = *it;
    if (c.enabled)
        w->setEnabled(*c.enabled);
    if (c.visible) {
        w->setVisible(*c.visible);
        // The rest of the caption around the days box goes with it.
        if (name == QLatin1String(control::handBanDays))
            if (auto* days = findChild<QWidget*>(QLatin1String(handBanDaysCaption)))
                days->setVisible(*c.visible);
    }
    if (c.text) {
        if (auto* label = qobject_cast<QLabel*>(w))
            label->setText(*c.text);
        else if (auto* button = qobject_cast<QPushButton*>(w))
            button->setText(*c.text);
    }
    if (auto* bar = qobject_cast<QProgressBar*>(w)) {
        if (c.maximum)
            bar->setMaximum(std::max(1, *c.maximum));
        if (c.value)
            bar->setValue(std::min(*c.value, bar->maximum()));
    }
}

// ---- Forwarding ---------------------------------------------------------------------

void MonitorWindow::onTabClicked(int index)
{
    const int shown = m_monitor->currentTab();
    if (!m_monitor->selectTab(index))
        return;
    // The page left goes first: for a moment with both shown, the window
    // would take the room of both and keep it.
    m_pages[shown]->hide();
    m_pages[index]->show();
}

void MonitorWindow::onConsoleEnter()
{
    const QString line = m_input->text();
    if (line.isEmpty())
        return;
    m_held->setText(line);
    m_input->clear();
    m_monitor->consoleEnter(line);
}

void MonitorWindow::onConsoleOutput(const QString& text)
{
    m_output->moveCursor(QTextCursor::End);
    m_output->insertPlainText(text);
    m_output->moveCursor(QTextCursor::End);
    m_input->clear();
    m_held->clear();
    m_input->setFocus();
}

void MonitorWindow::copyOutput()
{
    QClipboard* clipboard = QApplication::clipboard();
    clipboard->clear();
    const QString selected =
        m_output->textCursor().selectedText().replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    clipboard->setText(selected.isEmpty() ? m_output->toPlainText() : selected);
}

void MonitorWindow::openInEditor(EditableFile file)
{
    const QString path = m_monitor->prepareForEditor(file);
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        m_monitor->prompter().message(
            QStringLiteral("No text editor!"),
            QStringLiteral("No text editor could be started for %1.").arg(Monitor::fileName(file)),
            Prompter::Icon::Warning);
}

bool MonitorWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusOut)
        m_monitor->focusLost(watched->objectName());
    else if (event->type() == QEvent::KeyPress)
        m_monitor->keyPressed(watched->objectName());
    return QWidget::eventFilter(watched, event);
}

void MonitorWindow::closeEvent(QCloseEvent* e)
{
    if (m_closed) {
        e->accept();
        return;
    }
    e->ignore();
    if (m_closing)
        return;
    m_closing = true;
    auto finish = [](MonitorWindow* w) -> Task<> {
        co_await w->m_monitor->exit();
        w->m_closed = true;
        // Not from inside the close event that began the exit.
        QTimer::singleShot(0, w, &QWidget::close);
    };
    m_tasks.keep(finish(this));
}

}  // namespace skelvar::rcon
