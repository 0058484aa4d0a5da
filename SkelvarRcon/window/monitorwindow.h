#pragma once
// Form1, the operator window "Rcon Skelvar 2.1": four tab pages over the
// models of Monitor. Every control carries its own name as object name;
// settings controls are bound to Settings, captions and states to UiState.

#include "SkelvarRcon/session/uistate.h"
#include "SkelvarRcon/window/monitor.h"

#include <QLabel>
#include <QWidget>

#include <memory>

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

// Message boxes for the monitor's questions and messages.
class MessageBoxPrompter : public Prompter {
public:
    explicit MessageBoxPrompter(QWidget* parent) : parent_(parent) {}
    bool askYesNo(const QString& title, const QString& text, Icon icon, bool defaultNo) override;
    void message(const QString& title, const QString& text, Icon icon) override;

private:
    QWidget* parent_;
};

class MonitorWindow : public QWidget {
    Q_OBJECT
public:
    // Without a prompter the window shows real message boxes.
    explicit MonitorWindow(MonitorOptions options = {}, Prompter* prompter = nullptr, QWidget* parent = nullptr);
    ~MonitorWindow() override;

    Monitor& monitor() { return *monitor_; }
    int currentTab() const { return currentTab_; }

    // Starts a file in the desktop's text editor without waiting for it.
    void openInEditor(const QString& fileName);

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMainPage(QWidget* page);
    void buildCheatPage(QWidget* page);
    void buildServerPage(QWidget* page);
    void buildPenaltiesPage(QWidget* page);
    QWidget* penaltyRowFrame(int row, int frameMember);
    void bindSettings();
    void bindUiState();
    void applyUi(const QString& name);
    void onTabClicked(int index);
    void onConsoleEnter();
    void onConsoleOutput(const QString& text);
    void copyOutput();

    std::unique_ptr<Prompter> ownPrompter_;
    std::unique_ptr<Monitor> monitor_;
    QTabBar* tabs_ = nullptr;
    QList<QWidget*> pages_;
    int currentTab_ = 0;
    QPlainTextEdit* output_ = nullptr;
    QLineEdit* input_ = nullptr;
    QLineEdit* held_ = nullptr;  // Text4
    bool closing_ = false;
    bool closed_ = false;
    TaskKeeper tasks_;
};

}  // namespace skelvar::rcon
