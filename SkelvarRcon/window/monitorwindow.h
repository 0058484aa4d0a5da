#pragma once
// Form1, the operator window "Rcon Skelvar 2.1": four tab pages over the
// models of Monitor. Every control carries its documented name as object
// name; settings controls are bound to Settings, captions and states to
// UiState, and clicks, key presses and focus losses are forwarded to Monitor.

#include "SkelvarRcon/app/monitor.h"
#include "SkelvarRcon/session/uistate.h"
#include "widgets/messageboxprompter.h"

#include <QLabel>
#include <QWidget>

#include <memory>

class QBoxLayout;
class QGridLayout;
class QLayout;
class QLineEdit;
class QPlainTextEdit;
class QTabBar;
class QTreeView;

namespace skelvar::rcon {

// A label that reacts to clicks.
class ClickLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* e) override;
};

class MonitorWindow : public QWidget {
    Q_OBJECT
public:
    // Every list view shows at least this many rows in the window's starting
    // size, on every tab.
    static constexpr int listRowsShown = 8;

    // Without a prompter the window shows real message boxes.
    explicit MonitorWindow(MonitorOptions options = {}, Prompter* prompter = nullptr, QWidget* parent = nullptr);
    ~MonitorWindow() override;

    Monitor& monitor() { return *m_monitor; }
    int currentTab() const { return m_monitor->currentTab(); }

    // Starts a file in the desktop's text editor without waiting for it.
    void openInEditor(EditableFile file);

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildPages(QBoxLayout* top);
    void buildExitRow(QBoxLayout* top);
    void fixPageSize();

    void buildMainPage(QWidget* page);
    QLayout* connectionRow();
    QLayout* periodsRow();
    QLayout* optionsRow();
    QLayout* playersPanel();
    QLayout* handPenaltyControls(QTreeView* players);
    QLayout* serverInfo();
    QLayout* statusRow();
    QLayout* progressRow();
    void addConsole(QGridLayout* grid, int row);

    void buildCheatPage(QWidget* page);
    QWidget* penaltyRowFrame(Detection detection, int frameMember);

    void buildServerPage(QWidget* page);
    int addPrivatePanel(QGridLayout* grid, int row);
    int addDetectionLines(QGridLayout* grid, int row);
    int addPingPanel(QGridLayout* grid, int row);

    void buildPenaltiesPage(QWidget* page);
    int addRecordList(QGridLayout* grid, int row, lists::ListKind kind);
    QLayout* thresholdsRow();

    void bindSettings();
    void applySetting(const QString& name);
    void bindUiState();
    void applyUi(const QString& name);
    void onTabClicked(int index);
    void onConsoleEnter();
    void onConsoleOutput(const QString& text);
    void copyOutput();

    std::unique_ptr<Prompter> m_ownPrompter;
    std::unique_ptr<Monitor> m_monitor;
    QTabBar* m_tabs = nullptr;
    QList<QWidget*> m_pages;
    QPlainTextEdit* m_output = nullptr;
    QLineEdit* m_input = nullptr;
    QLineEdit* m_held = nullptr;  // the console command while it is sent
    bool m_closing = false;
    bool m_closed = false;
    TaskKeeper m_tasks;
};

}  // namespace skelvar::rcon
