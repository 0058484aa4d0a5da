#include "SkelvarRcon/window/monitorwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

namespace skelvar::rcon {

namespace {

QMessageBox::Icon boxIcon(Prompter::Icon icon)
{
    switch (icon) {
    case Prompter::Icon::Information: return QMessageBox::Information;
    case Prompter::Icon::Warning: return QMessageBox::Warning;
    case Prompter::Icon::Critical: return QMessageBox::Critical;
    case Prompter::Icon::Question: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

// List widths are given in twips; 15 twips make a pixel on a common screen.
int twips(int t) { return t / 15; }

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

QTreeView* listView(const char* name, QAbstractItemModel* model, const QList<ListColumn>& columns)
{
    auto* v = named(new QTreeView, name);
    v->setModel(model);
    v->setRootIsDecorated(false);
    v->setUniformRowHeights(true);
    v->setAllColumnsShowFocus(true);
    v->setSelectionBehavior(QAbstractItemView::SelectRows);
    v->header()->setSectionsClickable(true);
    for (int i = 0; i < columns.size(); ++i)
        v->setColumnWidth(i, twips(columns[i].widthTwips));
    return v;
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

bool MessageBoxPrompter::askYesNo(const QString& title, const QString& text, Icon icon, bool defaultNo)
{
    QMessageBox box(boxIcon(icon), title, text, QMessageBox::Yes | QMessageBox::No, parent_);
    box.setDefaultButton(defaultNo ? QMessageBox::No : QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void MessageBoxPrompter::message(const QString& title, const QString& text, Icon icon)
{
    QMessageBox box(boxIcon(icon), title, text, QMessageBox::Ok, parent_);
    box.exec();
}

MonitorWindow::MonitorWindow(MonitorOptions options, Prompter* prompter, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Rcon Skelvar 2.1"));
    if (!prompter) {
        ownPrompter_ = std::make_unique<MessageBoxPrompter>(this);
        prompter = ownPrompter_.get();
    }
    monitor_ = std::make_unique<Monitor>(*prompter, std::move(options));

    auto* top = new QVBoxLayout(this);
    tabs_ = named(new QTabBar, "TabStrip1");
    for (const char* caption : {"Main Setup", "Cheat Management", "Server Management", "Penalties Management"})
        tabs_->addTab(QString::fromLatin1(caption));
    top->addWidget(tabs_);
    for (int i = 0; i < 4; ++i) {
        auto* page = new QFrame;
        page->setObjectName(QStringLiteral("Solapa_%1").arg(i));
        pages_.append(page);
        top->addWidget(page, 1);
    }
    buildMainPage(pages_[0]);
    buildCheatPage(pages_[1]);
    buildServerPage(pages_[2]);
    buildPenaltiesPage(pages_[3]);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    auto* exitButton = named(new QPushButton(QStringLiteral("Exit")), "Command2");
    bottom->addWidget(exitButton);
    top->addLayout(bottom);
    connect(exitButton, &QPushButton::clicked, this, [this, exitButton] {
        exitButton->setEnabled(false);
        close();
    });

    for (int i = 1; i < 4; ++i)
        pages_[i]->hide();
    connect(tabs_, &QTabBar::tabBarClicked, this, &MonitorWindow::onTabClicked);

    bindUiState();
    connect(monitor_.get(), &Monitor::consoleOutput, this, &MonitorWindow::onConsoleOutput);
    const QList<StoreMessage> messages = monitor_->create();
    bindSettings();
    for (const char* name : {"MinPolt", "txtPWD", "txtPRP", "txtTAG", "txtMin"}) {
        if (auto* w = findChild<QWidget*>(QString::fromLatin1(name)))
            w->installEventFilter(this);
    }
    // Tell the operator about the files once the window is up.
    if (!messages.isEmpty()) {
        QTimer::singleShot(0, this, [this, messages] {
            for (const StoreMessage& m : messages)
                monitor_->prompter().message(m.title, m.text, Prompter::Icon::Warning);
        });
    }
}

MonitorWindow::~MonitorWindow()
{
    tasks_.clear();
}

void MonitorWindow::buildMainPage(QWidget* page)
{
    auto* grid = new QGridLayout(page);
    auto* conn = new QGridLayout;
    conn->addWidget(new QLabel(QStringLiteral("Server IP")), 0, 0);
    conn->addWidget(lineEdit("txtSVR"), 0, 1);
    conn->addWidget(new QLabel(QStringLiteral("Port")), 0, 2);
    conn->addWidget(lineEdit("txtPORT", 70), 0, 3);
    conn->addWidget(new QLabel(QStringLiteral("Password")), 0, 4);
    conn->addWidget(lineEdit("txtPWD"), 0, 5);
    grid->addLayout(conn, 0, 0, 1, 2);

    auto* timing = new QHBoxLayout;
    timing->addWidget(new QLabel(QStringLiteral("Scan players every")));
    timing->addWidget(lineEdit("txtMin", 50));
    timing->addWidget(new QLabel(QStringLiteral("minutes")));
    timing->addSpacing(16);
    timing->addWidget(new QLabel(QStringLiteral("Patrol server every")));
    timing->addWidget(lineEdit("MinPolt", 50));
    timing->addWidget(new QLabel(QStringLiteral("seconds")));
    timing->addStretch();
    auto* start = named(new QPushButton(QStringLiteral("Start")), "Command1");
    auto* stop = named(new QPushButton(QStringLiteral("Stop")), "Command13");
    timing->addWidget(start);
    timing->addWidget(stop);
    grid->addLayout(timing, 1, 0, 1, 2);
    connect(start, &QPushButton::clicked, this, [this] { monitor_->session.start(); });
    connect(stop, &QPushButton::clicked, this, [this] { monitor_->session.stop(); });

    auto* options = new QHBoxLayout;
    options->addWidget(named(new QCheckBox(QStringLiteral("Scan on Start")), "SoS"));
    options->addWidget(named(new QCheckBox(QStringLiteral("Log Skelvar output to file")), "Logea"));
    options->addWidget(named(new QCheckBox(QStringLiteral("Run in Silent Mode")), "Silent"));
    auto* viewLog = named(new ClickLabel(QStringLiteral("<u>View log</u>")), "Label12");
    auto* deleteLog = named(new ClickLabel(QStringLiteral("<u>Delete log</u>")), "Label13");
    options->addWidget(viewLog);
    options->addWidget(deleteLog);
    options->addStretch();
    grid->addLayout(options, 2, 0, 1, 2);
    connect(viewLog, &ClickLabel::clicked, this, [this] { openInEditor(QStringLiteral("skelvar.log")); });
    connect(deleteLog, &ClickLabel::clicked, this, [this] { monitor_->deleteLogClicked(); });

    auto* players = listView("Players", &monitor_->players, PlayerList::columns());
    grid->addWidget(players, 3, 0);
    connect(players, &QTreeView::clicked, this, [this] { monitor_->actions.playersRowClicked(); });

    auto* side = new QVBoxLayout;
    auto* kick = named(new QPushButton(QStringLiteral("Kick")), "Command5");
    auto* ban = named(new QPushButton(QStringLiteral("Ban")), "Command6");
    side->addWidget(kick);
    side->addWidget(ban);
    connect(kick, &QPushButton::clicked, this, [this, players] { monitor_->actions.kickPlayer(currentRow(players)); });
    connect(ban, &QPushButton::clicked, this, [this, players] { monitor_->actions.banPlayer(currentRow(players)); });
    auto* banLength = new QWidget;
    auto* banLengthLayout = new QVBoxLayout(banLength);
    banLengthLayout->setContentsMargins(0, 0, 0, 0);
    banLengthLayout->addWidget(named(new QRadioButton(QStringLiteral("Indefinitely")), "Option1"));
    auto* forRow = new QHBoxLayout;
    forRow->addWidget(named(new QRadioButton(QStringLiteral("For")), "Option2"));
    forRow->addWidget(lineEdit("Text2", 40));
    forRow->addWidget(named(new QLabel(QStringLiteral("days")), "Text2_days"));
    banLengthLayout->addLayout(forRow);
    side->addWidget(banLength);
    side->addWidget(new QLabel(QStringLiteral("Additional Info:")));
    auto statusLine = [&](QLabel* label, std::initializer_list<QLabel*> icons) {
        auto* row = new QHBoxLayout;
        for (QLabel* i : icons)
            row->addWidget(i);
        row->addWidget(label, 1);
        side->addLayout(row);
    };
    statusLine(named(new QLabel(QStringLiteral("Server OS:")), "Label35"),
               {statusIcon("Image2", "#3a6ea5", "Windows"), statusIcon("Image5", "#e0a000", "Linux")});
    statusLine(named(new QLabel(QStringLiteral("Cheats")), "Label23"),
               {statusIcon("Image1_0", "#c03030", "enabled"), statusIcon("Image1_1", "#30a030", "disabled")});
    statusLine(named(new QLabel(QStringLiteral("ModSkelvar")), "Label25"),
               {statusIcon("Image3_0", "#c03030", "not running"), statusIcon("Image3_1", "#30a030", "running")});
    statusLine(named(new QLabel(QStringLiteral("Zov Plinket")), "Label26"),
               {statusIcon("Image4_0", "#c03030", "not running"), statusIcon("Image4_1", "#30a030", "running")});
    side->addWidget(named(new QLabel(QStringLiteral("No server monitored")), "Picture1"));
    side->addStretch();
    grid->addLayout(side, 3, 1);

    auto* state = new QHBoxLayout;
    state->addWidget(named(new QLabel(QStringLiteral("Server not running!")), "Label21"), 1);
    state->addWidget(named(new QLabel, "Label18"));
    grid->addLayout(state, 4, 0, 1, 2);
    auto* bars = new QHBoxLayout;
    auto* scanpro = named(new QProgressBar, "scanpro");
    auto* kickpro = named(new QProgressBar, "kickpro");
    for (QProgressBar* b : {scanpro, kickpro}) {
        b->setRange(0, 0);
        b->setTextVisible(false);
        b->setMaximum(1);
        b->setValue(0);
        bars->addWidget(b);
    }
    grid->addLayout(bars, 5, 0, 1, 2);

    grid->addWidget(new QLabel(QStringLiteral("Mini Console:")), 6, 0);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    QFont courier(QStringLiteral("Courier New"));
    courier.setStyleHint(QFont::Monospace);
    courier.setPointSize(fixed.pointSize());
    output_ = named(new QPlainTextEdit, "txtOutput");
    output_->setReadOnly(true);
    output_->setFont(courier);
    grid->addWidget(output_, 7, 0, 1, 2);
    auto* consoleRow = new QHBoxLayout;
    input_ = lineEdit("Text1");
    input_->setFont(courier);
    consoleRow->addWidget(input_, 1);
    auto* copy = named(new QPushButton(QStringLiteral("copy")), "Command3");
    auto* clear = named(new QPushButton(QStringLiteral("clear")), "Command4");
    consoleRow->addWidget(copy);
    consoleRow->addWidget(clear);
    grid->addLayout(consoleRow, 8, 0, 1, 2);
    held_ = lineEdit("Text4");
    held_->hide();
    grid->addWidget(held_, 9, 0);
    connect(input_, &QLineEdit::returnPressed, this, &MonitorWindow::onConsoleEnter);
    connect(copy, &QPushButton::clicked, this, &MonitorWindow::copyOutput);
    connect(clear, &QPushButton::clicked, output_, &QPlainTextEdit::clear);
}

QWidget* MonitorWindow::penaltyRowFrame(int row, int frameMember)
{
    const PenaltyRowNames names = Settings::penaltyRow(row);
    auto* frame = new QFrame;
    frame->setObjectName(QStringLiteral("Frame3_%1").arg(frameMember));
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
    auto* grid = new QGridLayout(page);
    grid->addWidget(new QLabel(QStringLiteral("Detection")), 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("Penalty")), 0, 1);
    static const char* captions[] = {"No fog",           "White Walls",           "Wallhack / Doorhack", "3rd Person",
                                     "Pathetic OGC aimbot *", "Glowing skins *", "Modified binaries"};
    static const int frames[] = {0, 1, 2, 4, 5, 6, 8};
    for (int i = 0; i < 7; ++i) {
        auto* box = new QCheckBox(QString::fromLatin1(captions[i]));
        box->setObjectName(QStringLiteral("Cheats_%1").arg(i));
        grid->addWidget(box, i + 1, 0);
        grid->addWidget(penaltyRowFrame(i + 1, frames[i]), i + 1, 1);
    }
    grid->addWidget(new QLabel(QStringLiteral("Custom Warning:")), 8, 0);
    grid->addWidget(lineEdit("Alert3"), 8, 1);
    grid->addWidget(new QLabel(QStringLiteral("* Detection for these cheats is VERY basic.")), 9, 0, 1, 2);
    auto* skins = named(new ClickLabel(QStringLiteral("<u>View/Edit suspicious skins list</u>")), "Label11");
    grid->addWidget(skins, 10, 0);
    connect(skins, &ClickLabel::clicked, this, [this] { openInEditor(QStringLiteral("skins.txt")); });
    grid->addWidget(new QLabel(QStringLiteral("Rcon Skelvar 2.1 - watches a game server over its remote console.")),
                    11, 0, 1, 2);
    grid->setRowStretch(12, 1);
}

void MonitorWindow::buildServerPage(QWidget* page)
{
    auto* grid = new QGridLayout(page);
    grid->addWidget(new QLabel(QStringLiteral("Private clients tag:")), 0, 0);
    grid->addWidget(lineEdit("txtTAG"), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Private password:")), 1, 0);
    grid->addWidget(lineEdit("txtPRP"), 1, 1);
    auto* makePrivate = named(new QPushButton(QStringLiteral("Make it private!")), "Command12");
    grid->addWidget(makePrivate, 0, 2);
    connect(makePrivate, &QPushButton::clicked, this, [this] { monitor_->enforcement.makePrivate(); });
    grid->addWidget(new QLabel(QStringLiteral("Warning notice:")), 2, 0);
    grid->addWidget(lineEdit("Alert6"), 2, 1, 1, 3);

    grid->addWidget(new QLabel(QStringLiteral("Details")), 3, 1);
    grid->addWidget(named(new QCheckBox(QStringLiteral("Scan for private clients:")), "Check1"), 4, 0);
    grid->addWidget(penaltyRowFrame(8, 3), 4, 1, 1, 3);
    grid->addWidget(named(new QCheckBox(QStringLiteral("Scan for reserved skins")), "Check5"), 5, 0);
    grid->addWidget(penaltyRowFrame(9, 7), 5, 1, 1, 3);
    auto* reserved = named(new ClickLabel(QStringLiteral("<u>View/Edit reserved skins list</u>")), "Label17");
    grid->addWidget(reserved, 6, 0);
    connect(reserved, &ClickLabel::clicked, this, [this] { openInEditor(QStringLiteral("reserved.txt")); });
    grid->addWidget(named(new QCheckBox(QStringLiteral("Warn on non-optimized connections")), "Check6"), 7, 0);
    grid->addWidget(new QLabel(QStringLiteral("   No punishment available")), 7, 1);

    grid->addWidget(new QLabel(QStringLiteral("Custom warnings:")), 8, 0);
    int r = 9;
    for (const char* alert : {"Alert1", "Alert2", "Alert4", "Alert5"})
        grid->addWidget(lineEdit(alert), r++, 0, 1, 4);

    grid->addWidget(named(new QCheckBox(QStringLiteral("Kick on high ping")), "Check2"), r, 0);
    auto* ping = named(new QWidget, "Label36");
    auto* pingRow = new QHBoxLayout(ping);
    pingRow->setContentsMargins(0, 0, 0, 0);
    pingRow->addWidget(new QLabel(QStringLiteral("Kick if ping higher than")));
    pingRow->addWidget(lineEdit("Text5", 50));
    pingRow->addWidget(new QLabel(QStringLiteral("ms on")));
    pingRow->addWidget(lineEdit("Text6", 40));
    pingRow->addWidget(new QLabel(QStringLiteral("consecutive scans")));
    pingRow->addStretch();
    grid->addWidget(ping, r++, 1, 1, 3);
    grid->addWidget(lineEdit("Text7"), r++, 0, 1, 4);
    grid->addWidget(named(new QCheckBox(QStringLiteral("Enable Spearhead compatibility")), "Check3"), r++, 0, 1, 2);
    grid->setRowStretch(r, 1);
}

void MonitorWindow::buildPenaltiesPage(QWidget* page)
{
    auto* grid = new QGridLayout(page);
    struct ListPart {
        const char* label;
        const char* view;
        lists::ListKind kind;
        QStringList buttons;  // object name, caption
        QStringList captions;
    };
    const ListPart parts[] = {
        {"Warning history", "Warnings", lists::ListKind::Warnings, {"Command11", "Command14"},
         {"Remove Warning", "Convert to Ban"}},
        {"Kick history", "Kicks", lists::ListKind::Kicks, {"Command10", "Command15"}, {"Remove Kick", "Convert to Ban"}},
        {"Ban history", "Bans", lists::ListKind::Bans, {"Command7", "Command8", "Command9"},
         {"Remove Ban", "Ban Subrank", "Ban Provider"}},
    };
    int row = 0;
    for (const ListPart& p : parts) {
        grid->addWidget(new QLabel(QString::fromLatin1(p.label)), row++, 0);
        RecordList& model = monitor_->lists.list(p.kind);
        auto* view = listView(p.view, &model, RecordList::columns(p.kind));
        grid->addWidget(view, row, 0);
        connect(view->header(), &QHeaderView::sectionClicked, &model, [&model](int column) { model.sort(column); });
        auto* buttons = new QVBoxLayout;
        for (int i = 0; i < p.buttons.size(); ++i) {
            auto* b = new QPushButton(p.captions[i]);
            b->setObjectName(p.buttons[i]);
            buttons->addWidget(b);
            const lists::ListKind kind = p.kind;
            const QString action = p.captions[i];
            connect(b, &QPushButton::clicked, this, [this, view, kind, action] {
                const int r = currentRow(view);
                RecordActions& a = monitor_->actions;
                if (action.startsWith(QLatin1String("Remove")))
                    a.removeRecord(kind, r);
                else if (action == QLatin1String("Convert to Ban"))
                    a.convertToBan(kind, r);
                else if (action == QLatin1String("Ban Subrank"))
                    a.widenBan(r, RecordActions::Widen::Subrank);
                else if (action == QLatin1String("Ban Provider"))
                    a.widenBan(r, RecordActions::Widen::Provider);
            });
        }
        buttons->addStretch();
        grid->addLayout(buttons, row++, 1);
        const lists::ListKind kind = p.kind;
        connect(view, &QTreeView::clicked, this, [this, kind] { monitor_->actions.recordRowClicked(kind); });
    }
    auto* thresholds = new QHBoxLayout;
    auto* warnLabel = named(new QWidget, "Label9");
    auto* warnRow = new QHBoxLayout(warnLabel);
    warnRow->setContentsMargins(0, 0, 0, 0);
    warnRow->addWidget(new QLabel(QStringLiteral("Make kick after")));
    warnRow->addWidget(lineEdit("AcWarns", 40));
    warnRow->addWidget(new QLabel(QStringLiteral("warnings  /")));
    thresholds->addWidget(warnLabel);
    auto* kickLabel = named(new QWidget, "Label16");
    auto* kickRow = new QHBoxLayout(kickLabel);
    kickRow->setContentsMargins(0, 0, 0, 0);
    kickRow->addWidget(new QLabel(QStringLiteral("Make ban after")));
    kickRow->addWidget(lineEdit("AcKicks", 40));
    kickRow->addWidget(new QLabel(QStringLiteral("kicks")));
    thresholds->addWidget(kickLabel);
    thresholds->addStretch();
    grid->addLayout(thresholds, row++, 0, 1, 2);
    auto* notice = new QHBoxLayout;
    notice->addWidget(new QLabel(QStringLiteral("Ban Notice:")));
    notice->addWidget(lineEdit("Alert7"), 1);
    grid->addLayout(notice, row++, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("View/Edit immunity list")), row++, 0);
}

void MonitorWindow::bindSettings()
{
    Settings& s = monitor_->settings;
    for (const Settings::SettingDef& spec : Settings::definitions()) {
        const QString name = QString::fromLatin1(spec.control);
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
            qWarning("no control for setting %s", spec.control);
        }
    }
    connect(&s, &Settings::changed, this, [this, &s](const QString& name) {
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
    });
}

void MonitorWindow::bindUiState()
{
    const auto& controls = monitor_->ui.controls();
    for (auto it = controls.cbegin(); it != controls.cend(); ++it)
        applyUi(it.key());
    connect(&monitor_->ui, &UiState::changed, this, &MonitorWindow::applyUi);
}

void MonitorWindow::applyUi(const QString& name)
{
    const auto& controls = monitor_->ui.controls();
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
        if (name == QLatin1String("Text2"))
            if (auto* days = findChild<QWidget*>(QStringLiteral("Text2_days")))
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

void MonitorWindow::onTabClicked(int index)
{
    if (index < 0 || index == currentTab_)
        return;
    pages_[index]->show();
    pages_[currentTab_]->hide();
    currentTab_ = index;
    monitor_->ui.setVisible({"Option1", "Option2", "Text2", "Command5", "Command6", "Command7", "Command8",
                             "Command9", "Command10", "Command11"},
                            false);
}

void MonitorWindow::onConsoleEnter()
{
    const QString line = input_->text();
    if (line.isEmpty())
        return;
    held_->setText(line);
    input_->clear();
    monitor_->consoleEnter(line);
}

void MonitorWindow::onConsoleOutput(const QString& text)
{
    output_->moveCursor(QTextCursor::End);
    output_->insertPlainText(text);
    output_->moveCursor(QTextCursor::End);
    input_->clear();
    held_->clear();
    input_->setFocus();
}

void MonitorWindow::copyOutput()
{
    QClipboard* clipboard = QApplication::clipboard();
    clipboard->clear();
    const QString selected = output_->textCursor().selectedText().replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    clipboard->setText(selected.isEmpty() ? output_->toPlainText() : selected);
}

void MonitorWindow::openInEditor(const QString& fileName)
{
    const QString path = monitor_->filePath(fileName);
    if (!QFileInfo::exists(path)) {
        QFile f(path);
        f.open(QIODevice::WriteOnly);
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath())))
        monitor_->prompter().message(QStringLiteral("No text editor!"),
                                     QStringLiteral("No text editor could be started for %1.").arg(fileName),
                                     Prompter::Icon::Warning);
}

bool MonitorWindow::eventFilter(QObject* watched, QEvent* event)
{
    const QString name = watched->objectName();
    if (event->type() == QEvent::FocusOut) {
        if (name == QLatin1String("MinPolt"))
            monitor_->minPoltFocusLost();
        else if (name == QLatin1String("txtPWD"))
            monitor_->pwdFocusLost();
        else if (name == QLatin1String("txtTAG"))
            monitor_->tagFocusLost();
        else if (name == QLatin1String("txtPRP"))
            monitor_->prpFocusLost();
    } else if (event->type() == QEvent::KeyPress) {
        if (name == QLatin1String("txtMin") || name == QLatin1String("MinPolt"))
            monitor_->session.connectionEdited();
    }
    return QWidget::eventFilter(watched, event);
}

void MonitorWindow::closeEvent(QCloseEvent* e)
{
    if (closed_) {
        e->accept();
        return;
    }
    e->ignore();
    if (closing_)
        return;
    closing_ = true;
    auto finish = [](MonitorWindow* w) -> Task<> {
        co_await w->monitor_->exit();
        w->closed_ = true;
        // Not from inside the close event that began the exit.
        QTimer::singleShot(0, w, &QWidget::close);
    };
    tasks_.keep(finish(this));
}

}  // namespace skelvar::rcon
