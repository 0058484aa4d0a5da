#pragma once
// The builder's main window "Mod Skelvar 2.1": five tabs with the switches
// and the four lists, the three editors, Build Mod and Exit. It shows a
// BuilderProject and forwards the operator's actions to it; the project
// holds the rows, reads the files at start and writes them at exit.
#include <QList>
#include <QWidget>

#include <functional>
#include <memory>

#include "SkelvarMod/project/builderproject.h"
#include "lists/prompter.h"

class QCheckBox;
class QDialog;
class QFrame;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTabBar;
class QTreeWidget;
class QVBoxLayout;

namespace skelvar::mod {

class FixForm;
class MsjForm;
class ComForm;

class BuilderWindow : public QWidget {
    Q_OBJECT
public:
    // programDir: the builder's own folder, where every file of it lives.
    // prompter: null tells the operator in message boxes.
    explicit BuilderWindow(const QString& programDir, Prompter* prompter = nullptr, QWidget* parent = nullptr);
    ~BuilderWindow() override;

    // Shows the output folder after a build; empty: nothing is opened.
    void setFolderOpener(std::function<void(const QString&)> f) { m_openFolder = std::move(f); }

    BuilderProject& project() { return m_project; }
    const BuilderProject& project() const { return m_project; }
    // Tells the operator of the files that could not be read at start.
    void tellLoadErrors();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    enum class ListAction { AddNew, Edit, Delete };
    // The controls of one list the operator edits.
    struct EditedList {
        QTreeWidget* view = nullptr;
        QLineEdit* index = nullptr;  // the 1-based row being edited, hidden
        QPushButton* add = nullptr;
        QPushButton* edit = nullptr;
        QPushButton* remove = nullptr;  // none for map fixes
        QDialog* editor = nullptr;
    };

    void buildUi();
    void buildHeader(QVBoxLayout* top);
    void buildPanels(QVBoxLayout* top);
    QFrame* buildAnticheatsPanel();
    QFrame* buildMapFixesPanel();
    QFrame* buildMessagingPanel();
    QFrame* buildCommandsPanel();
    QFrame* buildMiscellaneousPanel();
    void buildEditors();
    void buildIndexBoxes();
    void buildButtons(QVBoxLayout* top);
    void connectLists();
    void connectList(BuilderList list);

    void showProject();
    void showSwitches();
    void switchChanged();
    void showRows(BuilderList list);
    void showSelection(BuilderList list);
    QTreeWidget* view(BuilderList list) const;
    EditedList& edited(BuilderList list);

    void tabClicked(int index);
    void rowClicked(BuilderList list, int row);
    void listButtonClicked(BuilderList list, ListAction action);
    void addNew(BuilderList list);
    void deleteRow(BuilderList list);
    void editorOk(BuilderList list);
    void hideRowButtons(BuilderList list);
    void showEditor(QDialog* editor);
    void buildMod();

    std::unique_ptr<Prompter> m_boxes;  // when no prompter is given
    Prompter& m_prompter;
    BuilderProject m_project;
    std::function<void(const QString&)> m_openFolder;
    bool m_saved = false;

    QTabBar* m_tabs = nullptr;
    QStackedWidget* m_panels = nullptr;
    QList<QCheckBox*> m_switches;  // in the order of the switch table
    QTreeWidget* m_compat = nullptr;
    EditedList m_fixes, m_messages, m_commands;
    FixForm* m_fixForm = nullptr;
    MsjForm* m_msjForm = nullptr;
    ComForm* m_comForm = nullptr;
};

}  // namespace skelvar::mod
