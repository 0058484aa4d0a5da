#pragma once
// Everything the builder reads from its folder at start, in the window's
// order: the switches, the map fixes, the additional scripts, the messages and
// the scheduled commands. BuilderProject::load takes its lists from it.
#include <QString>
#include <QStringList>

#include "SkelvarMod/generator/entries.h"

namespace skelvar::mod {

struct BuilderFiles {
    BuildInputs inputs;
    bool compatFileFound = false;
    // Files that exist but could not be read, and a missing skelvar.dcf.
    QStringList errors;
};

BuilderFiles loadBuilderFiles(const QString& folder);

}  // namespace skelvar::mod
