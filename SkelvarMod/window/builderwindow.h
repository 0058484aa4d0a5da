#pragma once
// The builder's main window "Mod Skelvar 2.1": five tabs with the switches
// and the four lists, the three editors, Build Mod and Exit. The lists and
// switches live here between start and exit; the files are read at start
// and written at exit through builderfiles.
#include <QMessageBox>
#include <QStringList>
#include <QWidget>

#include <functional>

#include "SkelvarMod/generator/buildmod.h"
#include "SkelvarMod/generator/entries.h"
#include "SkelvarMod/package/czip.h"

class QCheckBox;
class QFrame;
class QLineEdit;
class QPushButton;
class QTabBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace skelvar::mod {

class FixForm;
class MsjForm;
class ComForm;

class BuilderWindow : public QWidget {
    Q_OBJECT
public:
    // programDir: the builder's own folder, where every file of it lives.
    explicit BuilderWindow(const QString& programDir, QWidget* parent = nullptr);
    ~BuilderWindow() override;

    // Message boxes go through here, so tests can watch them instead.
    using Notifier = std::function<void(QMessageBox::Icon, const QString& title, const QString& text)>;
    void setNotifier(Notifier n) { m_notify = std::move(n); }
    // Shows the output folder after a build; empty: nothing is opened.
    void setFolderOpener(std::function<void(const QString&)> f) { m_openFolder = std::move(f); }

    QString programDir() const { return m_dir; }
    // Files that exist but could not be read at start (shown by the program).
    QStringList loadErrors() const { return m_loadErrors; }

    // The switches and lists as the generator reads them now.
    BuildInputs buildInputs() const;
    Switches switches() const;
    QList<MessageEntry> messages() const;
    QList<CommandEntry> commands() const;
    QList<MapFixEntry> mapFixes() const;
    QList<CompatEntry> compat() const;

    // Build Mod (Command1); a failure is also told through the notifier.
    BuildResult buildMod();
    // The writes of the exit; false with *errors when a file was not written.
    bool saveAll(QStringList* errors = nullptr);

    FixForm* fixForm() const { return m_fixForm; }
    MsjForm* msjForm() const { return m_msjForm; }
    ComForm* comForm() const { return m_comForm; }
    cZip* packageWriter() { return &m_cZip; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildUi();
    void loadAll();
    void tabClicked(int index);
    void notify(QMessageBox::Icon icon, const QString& title, const QString& text);
    void showEditor(QDialog* editor);

    void mapFixClicked(QTreeWidgetItem* item);
    void mapFixAddNew();
    void mapFixOk();
    // Tells the operator, naming the row, when the editor's model, origin
    // or angle would break the script.
    bool mapFixValuesAccepted(const MapFixEntry& fix);
    void messageClicked(QTreeWidgetItem* item);
    void messageAddNew();
    void messageDelete();
    void messageOk();
    void commandClicked(QTreeWidgetItem* item);
    void commandAddNew();
    void commandDelete();
    void commandOk();

    QString m_dir;
    cZip m_cZip;
    Notifier m_notify;
    std::function<void(const QString&)> m_openFolder;
    QStringList m_loadErrors;
    bool m_compatFileExisted = false;
    bool m_saved = false;

    int m_currentTab = 1;
    QTabBar* m_tabs = nullptr;
    QList<QFrame*> m_frames;  // Frame1_1 .. Frame1_5
    QList<QCheckBox*> m_checks;  // Check1 .. Check7
    QTreeWidget *m_mapFixes = nullptr, *m_messages = nullptr, *m_commands = nullptr, *m_compat = nullptr;
    QLineEdit *m_text1 = nullptr, *m_text15 = nullptr, *m_text17 = nullptr;
    QPushButton *m_build = nullptr, *m_exit = nullptr;
    QPushButton *m_fixAdd = nullptr, *m_fixEdit = nullptr;
    QPushButton *m_msgAdd = nullptr, *m_msgEdit = nullptr, *m_msgDelete = nullptr;
    QPushButton *m_cmdAdd = nullptr, *m_cmdEdit = nullptr, *m_cmdDelete = nullptr;

    FixForm* m_fixForm = nullptr;
    MsjForm* m_msjForm = nullptr;
    ComForm* m_comForm = nullptr;
    // The row each editor writes on OK; null adds a new row. Held as the
    // row itself, not its index, so a deleted or moved row is never mistaken
    // for another.
    QTreeWidgetItem *m_fixRow = nullptr, *m_msgRow = nullptr, *m_cmdRow = nullptr;
};

}  // namespace skelvar::mod
