#include "SkelvarMod/project/builderload.h"

#include <QDir>
#include <QFileInfo>

#include "SkelvarMod/project/builderfiles.h"

namespace skelvar::mod {

BuilderFiles loadBuilderFiles(const QString& folder)
{
    BuilderFiles out;
    const QDir dir(folder);
    QString error;
    auto note = [&] {
        if (!error.isEmpty())
            out.errors.append(error);
        error.clear();
    };

    out.inputs.switches = loadSwitches(dir.filePath(SettingsFileName), &error);
    note();
    out.inputs.mapFixes = loadMapFixes(folder);

    const QString compatPath = dir.filePath(CompatFileName);
    out.compatFileFound = QFileInfo::exists(compatPath);
    if (out.compatFileFound) {
        out.inputs.compat = loadCompat(compatPath, &error);
        note();
    } else {
        out.errors.append(QStringLiteral("%1 was not found; no additional scripts are listed.")
                              .arg(QDir::toNativeSeparators(compatPath)));
    }

    const QString messagesPath = dir.filePath(MessagesFileName);
    if (QFileInfo::exists(messagesPath)) {
        out.inputs.messages = loadMessages(messagesPath, &error);
        note();
    }
    const QString commandsPath = dir.filePath(CommandsFileName);
    if (QFileInfo::exists(commandsPath)) {
        out.inputs.commands = loadCommands(commandsPath, &error);
        note();
    }
    return out;
}

}  // namespace skelvar::mod
