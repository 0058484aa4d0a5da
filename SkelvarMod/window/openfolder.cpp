#include "SkelvarMod/window/openfolder.h"

#include <QDesktopServices>
#include <QUrl>

namespace skelvar::mod {

void openInFileBrowser(const QString& folder)
{
    // Starts the browser detached; returns false at once when there is none.
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

}  // namespace skelvar::mod
