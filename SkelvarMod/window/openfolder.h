#pragma once
#include <QString>

namespace skelvar::mod {

// Shows a folder in the desktop's file browser without waiting for it. Where
// no browser is available nothing happens.
void OpenInFileBrowser(const QString& folder);

}  // namespace skelvar::mod
