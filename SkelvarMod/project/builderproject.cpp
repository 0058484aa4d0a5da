#include "SkelvarMod/project/builderproject.h"

#include <QDir>

#include "SkelvarMod/generator/scriptgenerator.h"
#include "SkelvarMod/project/builderfiles.h"
#include "SkelvarMod/project/builderload.h"

namespace skelvar::mod {

namespace {

const QString NoPathWarning = QStringLiteral("You haven't selected a path for your map ('dm/' or 'obj/'). ");

bool hasFolder(const QString& map)
{
    return map.contains(QLatin1Char('/'));
}

template <class Entry>
bool inRange(const QList<Entry>& rows, qsizetype row)
{
    return row >= 0 && row < rows.size();
}

}  // namespace

BuilderProject::BuilderProject(const QString& folder, Prompter& prompter) : m_folder(folder), m_prompter(prompter)
{
}

void BuilderProject::load()
{
    BuilderFiles files = loadBuilderFiles(m_folder);
    m_inputs = std::move(files.inputs);
    m_loadErrors = files.errors;
    m_compatFileFound = files.compatFileFound;
    m_selectedFix.reset();
    m_selectedMessage.reset();
    m_selectedCommand.reset();
}

bool BuilderProject::save(QStringList* errors)
{
    QStringList failed;
    QString error;
    auto check = [&](bool ok) {
        if (!ok)
            failed.append(error);
        error.clear();
    };
    const QDir dir(m_folder);
    check(saveSwitches(dir.filePath(SettingsFileName), m_inputs.switches, &error));
    for (const MapFixEntry& fix : m_inputs.mapFixes)
        check(saveMapFix(m_folder, fix, &error));
    check(saveMessages(dir.filePath(MessagesFileName), m_inputs.messages, &error));
    check(saveCommands(dir.filePath(CommandsFileName), m_inputs.commands, &error));
    // Do not leave an empty list of scripts where the shipped file was missing.
    if (m_compatFileFound || !m_inputs.compat.isEmpty())
        check(saveCompat(dir.filePath(CompatFileName), m_inputs.compat, &error));
    if (!failed.isEmpty())
        m_prompter.message(QStringLiteral("Mod Skelvar"),
                           QStringLiteral("Some settings could not be saved:\n") + failed.join(QLatin1Char('\n')),
                           Prompter::Icon::Warning);
    if (errors)
        *errors = failed;
    return failed.isEmpty();
}

qsizetype BuilderProject::rowCount(BuilderList list) const
{
    switch (list) {
    case BuilderList::MapFixes: return m_inputs.mapFixes.size();
    case BuilderList::Messages: return m_inputs.messages.size();
    case BuilderList::Commands: return m_inputs.commands.size();
    case BuilderList::Compat: return m_inputs.compat.size();
    }
    return 0;
}

void BuilderProject::setTicked(BuilderList list, qsizetype row, bool ticked)
{
    if (row < 0 || row >= rowCount(list))
        return;
    switch (list) {
    case BuilderList::MapFixes: m_inputs.mapFixes[row].ticked = ticked; break;
    case BuilderList::Messages: m_inputs.messages[row].ticked = ticked; break;
    case BuilderList::Commands: m_inputs.commands[row].ticked = ticked; break;
    case BuilderList::Compat: m_inputs.compat[row].ticked = ticked; break;
    }
}

// Null for the additional scripts, which no editor changes.
std::optional<qsizetype>* BuilderProject::selection(BuilderList list)
{
    switch (list) {
    case BuilderList::MapFixes: return &m_selectedFix;
    case BuilderList::Messages: return &m_selectedMessage;
    case BuilderList::Commands: return &m_selectedCommand;
    case BuilderList::Compat: break;
    }
    return nullptr;
}

std::optional<qsizetype> BuilderProject::selectedRow(BuilderList list) const
{
    const auto* selected = const_cast<BuilderProject*>(this)->selection(list);
    return selected ? *selected : std::nullopt;
}

void BuilderProject::selectRow(BuilderList list, qsizetype row)
{
    if (auto* selected = selection(list); selected && row >= 0 && row < rowCount(list))
        *selected = row;
}

void BuilderProject::clearSelection(BuilderList list)
{
    if (auto* selected = selection(list))
        selected->reset();
}

QStringList BuilderProject::mapFixNamesExcept(qsizetype row) const
{
    QStringList names;
    for (qsizetype i = 0; i < m_inputs.mapFixes.size(); ++i)
        if (i != row)
            names.append(m_inputs.mapFixes[i].filename);
    return names;
}

bool BuilderProject::commitMapFix(const MapFixEntry& edited)
{
    const std::optional<qsizetype> selected = m_selectedFix;
    const qsizetype row = selected ? *selected : m_inputs.mapFixes.size();
    const QStringList problems = mapFixValueProblems(edited);
    if (!problems.isEmpty()) {
        const QString name = mapFixRowName(row, edited);
        QStringList lines;
        for (const QString& p : problems)
            lines.append(name + QStringLiteral(": ") + p);
        m_prompter.message(QStringLiteral("Map Fixes"),
                           QStringLiteral("The fix was not saved. Please correct it first:\n") +
                               lines.join(QLatin1Char('\n')),
                           Prompter::Icon::Warning);
        return false;
    }
    if (!hasFolder(edited.map))
        m_prompter.message(QStringLiteral("Warning!"), NoPathWarning + QStringLiteral("Fix won't get applied."),
                           Prompter::Icon::Warning);

    MapFixEntry fix = edited;
    fix.ticked = selected ? m_inputs.mapFixes[row].ticked : false;
    // The name is fixed when the row is first saved; a later map does not rename it.
    if (fix.filename.isEmpty())
        fix.filename = newMapFixFileName(m_folder, fix.map, mapFixNamesExcept(row));
    if (selected)
        m_inputs.mapFixes[row] = fix;
    else
        m_inputs.mapFixes.append(fix);
    return true;
}

void BuilderProject::commitMessage(const MessageEntry& edited)
{
    if (edited.type == TypePerMap && !hasFolder(triggerBoxes(edited.type, edited.trigger).map))
        m_prompter.message(QStringLiteral("Warning!"), NoPathWarning + QStringLiteral("Message won't be displayed."),
                           Prompter::Icon::Warning);
    if (!m_selectedMessage)
        m_inputs.messages.append(MessageEntry{});
    MessageEntry& row = m_inputs.messages[m_selectedMessage.value_or(m_inputs.messages.size() - 1)];
    row.type = edited.type;
    row.trigger = edited.trigger;
    if (!edited.priority.isEmpty())
        row.priority = edited.priority;
    row.text = edited.text;
    row.ticked = true;
}

void BuilderProject::commitCommand(const CommandEntry& edited)
{
    if (!m_selectedCommand)
        m_inputs.commands.append(CommandEntry{});
    CommandEntry& row = m_inputs.commands[m_selectedCommand.value_or(m_inputs.commands.size() - 1)];
    row.time = edited.time;
    row.command = edited.command;
    row.ticked = true;
}

bool BuilderProject::deleteSelected(BuilderList list)
{
    std::optional<qsizetype>* selected = selection(list);
    if (!selected || !*selected)
        return false;
    const qsizetype row = **selected;
    selected->reset();
    if (list == BuilderList::Messages && inRange(m_inputs.messages, row))
        m_inputs.messages.removeAt(row);
    else if (list == BuilderList::Commands && inRange(m_inputs.commands, row))
        m_inputs.commands.removeAt(row);
    else
        return false;
    return true;
}

BuildResult BuilderProject::build(const std::function<void(const QString&)>& openFolder)
{
    const BuildResult r = BuildMod(m_inputs, {m_folder, openFolder});
    if (!r.ok)
        m_prompter.message(QStringLiteral("Build Mod"), r.message, Prompter::Icon::Critical);
    return r;
}

}  // namespace skelvar::mod
