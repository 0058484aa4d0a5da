#pragma once
// The mod builder without its window: the switches and the four lists, their
// files in the builder's folder, the row each editor works on, adding,
// editing and deleting rows, naming map-fix files, and Build Mod. The window
// shows it and forwards the operator's actions; tests drive it directly.
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include "SkelvarMod/generator/buildmod.h"
#include "SkelvarMod/generator/entries.h"
#include "lists/prompter.h"

namespace skelvar::mod {

enum class BuilderList { MapFixes, Messages, Commands, Compat };

class BuilderProject {
public:
    // folder: the builder's own folder, where every file of it lives. The
    // prompter hears the warnings of the editors, of Build Mod and of saving.
    BuilderProject(const QString& folder, Prompter& prompter);
    BuilderProject(const BuilderProject&) = delete;
    BuilderProject& operator=(const BuilderProject&) = delete;

    // Reads every file of the folder, replacing what the project held.
    void load();
    // Files that exist but could not be read, and a missing skelvar.dcf.
    QStringList loadErrors() const { return m_loadErrors; }
    // Writes every file; false (and the operator told) when one was not written.
    bool save(QStringList* errors = nullptr);

    const Switches& switches() const { return m_inputs.switches; }
    void setSwitches(const Switches& switches) { m_inputs.switches = switches; }
    const QList<MapFixEntry>& mapFixes() const { return m_inputs.mapFixes; }
    const QList<MessageEntry>& messages() const { return m_inputs.messages; }
    const QList<CommandEntry>& commands() const { return m_inputs.commands; }
    const QList<CompatEntry>& compat() const { return m_inputs.compat; }

    qsizetype rowCount(BuilderList list) const;
    void setTicked(BuilderList list, qsizetype row, bool ticked);

    // The row an editor writes on OK; none adds a new row. A row click
    // selects, Add New clears.
    std::optional<qsizetype> selectedRow(BuilderList list) const;
    void selectRow(BuilderList list, qsizetype row);
    void clearSelection(BuilderList list);

    // The editor's values into the selected row, or a new unticked row at
    // the end. Refuses (and tells the operator why) a model, origin or angle
    // that would break the script; warns of a map without its folder. A row
    // without a file name gets a new one.
    bool commitMapFix(const MapFixEntry& fix);
    // Into the selected row or a new one, ticked. An empty priority keeps the
    // row's own; a per-map message without the map's folder draws a warning.
    void commitMessage(const MessageEntry& message);
    void commitCommand(const CommandEntry& command);
    // Removes the selected message or command; false when none is selected.
    bool deleteSelected(BuilderList list);

    // Build Mod from the rows as they are now; a failure is told to the
    // operator. openFolder shows the output folder after a good build.
    BuildResult build(const std::function<void(const QString&)>& openFolder);

private:
    std::optional<qsizetype>* selection(BuilderList list);
    QStringList mapFixNamesExcept(qsizetype row) const;

    QString m_folder;
    Prompter& m_prompter;
    BuildInputs m_inputs;
    QStringList m_loadErrors;
    bool m_compatFileFound = false;
    std::optional<qsizetype> m_selectedFix, m_selectedMessage, m_selectedCommand;
};

}  // namespace skelvar::mod
