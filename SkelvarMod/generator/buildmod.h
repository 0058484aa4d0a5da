#pragma once
// Build Mod: validate the ticked rows, write global/DMprecache.scr and
// global/skelvar.scr in the builder's folder, pack them into
// "Generated Mod/zzzzz-skelvar.pk3", clean up and show the output folder.
// Shows no message boxes: the caller tells the operator what the result says.
#include <QString>

#include <functional>

#include "SkelvarMod/generator/entries.h"

namespace skelvar::mod {

class cZip;

inline const QString PrecacheTemplateName = QStringLiteral("skelvar.precache");
inline const QString WorkFolderName = QStringLiteral("global");
inline const QString PrecacheScriptName = QStringLiteral("DMprecache.scr");
inline const QString ScriptName = QStringLiteral("skelvar.scr");
inline const QString OutputFolderName = QStringLiteral("Generated Mod");
inline const QString ArchiveName = QStringLiteral("zzzzz-skelvar.pk3");

struct BuildOptions {
    QString programDir;  // the builder's own folder; every path is relative to it
    // Called with the output folder after a successful build; empty: nothing opens.
    std::function<void(const QString& folder)> openFolder;
};

struct BuildResult {
    bool ok = false;
    QString message;      // what went wrong, for the operator; empty on success
    QString archivePath;  // the archive in place after a successful build
};

// zip is the project's package writer, kept between builds; null uses one of its own.
BuildResult BuildMod(const BuildInputs& inputs, const BuildOptions& options, cZip* zip = nullptr);

}  // namespace skelvar::mod
