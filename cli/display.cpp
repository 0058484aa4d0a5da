#include "cli/display.h"

#include <QStringList>

#include <cstdio>

namespace skelvar::cli {

namespace {

bool isSet(const QProcessEnvironment& environment, const char* name)
{
    return !environment.value(QLatin1String(name)).trimmed().isEmpty();
}

// The display variable a platform plugin connects through; none for the
// platforms that draw into memory, a framebuffer or a remote viewer.
const char* displayVariableOf(const QString& platform)
{
    if (platform == QLatin1String("xcb"))
        return "DISPLAY";
    if (platform.startsWith(QLatin1String("wayland")))
        return "WAYLAND_DISPLAY";
    return nullptr;
}

}  // namespace

QString missingDisplay(const QProcessEnvironment& environment)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    const QString requested = environment.value(QStringLiteral("QT_QPA_PLATFORM")).trimmed();
    if (requested.isEmpty()) {
        // Qt's own choice: xcb, or wayland first in a Wayland session.
        if (isSet(environment, "DISPLAY") || isSet(environment, "WAYLAND_DISPLAY"))
            return {};
        return QStringLiteral("neither DISPLAY nor WAYLAND_DISPLAY is set");
    }
    // A list of platforms tried in turn ("wayland;xcb"), each with options
    // after a colon ("vnc:size=800x600").
    QStringList needed;
    for (const QString& entry : requested.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString platform = entry.section(QLatin1Char(':'), 0, 0).trimmed().toLower();
        if (platform.isEmpty())
            continue;
        const char* variable = displayVariableOf(platform);
        if (!variable || isSet(environment, variable))
            return {};
        needed.append(QLatin1String(variable));
    }
    if (needed.isEmpty())
        return {};
    needed.removeDuplicates();
    return QStringLiteral("QT_QPA_PLATFORM is %1 and %2 is not set").arg(requested, needed.join(QLatin1String(" or ")));
#else
    Q_UNUSED(environment);
    return {};
#endif
}

std::optional<int> refuseWindowWithoutDisplay(const QString& programName, const QString& optionWithoutWindow,
                                              const QString& whatItDoes)
{
    const QString why = missingDisplay(QProcessEnvironment::systemEnvironment());
    if (why.isEmpty())
        return std::nullopt;
    std::fprintf(stderr, "%s: there is no display to open the window on (%s).\nRun \"%s %s\" to %s (see --help).\n",
                 qPrintable(programName), qPrintable(why), qPrintable(programName), qPrintable(optionWithoutWindow),
                 qPrintable(whatItDoes));
    return kNoDisplay;
}

}  // namespace skelvar::cli
