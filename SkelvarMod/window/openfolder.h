#pragma once
// Showing the builder's output folder to the operator after a build.
#include <QString>

namespace skelvar::mod {

// Shows a folder in the desktop's file browser without waiting for it. Where
// no browser is available nothing happens.
void openInFileBrowser(const QString& folder);

}  // namespace skelvar::mod
