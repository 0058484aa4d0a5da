#include "cli/commandline.h"

#include "buildcommit.h"

#include <QTextStream>

#include <cstdio>

namespace skelvar::cli {

QString versionText()
{
    const QString commit = QStringLiteral(SKELVAR_GIT_COMMIT);
    return commit.isEmpty() ? QStringLiteral("2.1") : QStringLiteral("2.1 (git %1)").arg(commit);
}

std::optional<int> readCommandLine(QCommandLineParser& parser, const QStringList& arguments, const QString& programName)
{
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    QTextStream out(stdout);
    QString error;
    if (!parser.parse(arguments))
        error = parser.errorText();
    else if (!parser.positionalArguments().isEmpty())
        error = QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().constFirst());
    if (!error.isEmpty())
        return usageError(parser, programName, error);
    // addHelpOption() also adds --help-all, which must not start the program either.
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        out << parser.helpText();
        return 0;
    }
    if (parser.isSet(version)) {
        out << programName << ' ' << versionText() << '\n';
        return 0;
    }
    return std::nullopt;
}

int usageError(const QCommandLineParser& parser, const QString& programName, const QString& error)
{
    QTextStream err(stderr);
    err << programName << ": " << error << "\n\n" << parser.helpText();
    return kUsageError;
}

}  // namespace skelvar::cli
