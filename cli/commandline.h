#pragma once
// The command-line conventions of the three programs: --help prints what the
// program does, its files, options and exit statuses; --version prints the
// version and the build's commit; a wrong option or argument prints the usage
// and ends the program with status 2.

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>

namespace skelvar::cli {

inline constexpr int kUsageError = 2;

// "2.1", followed by the commit the build was made from when it is known.
QString versionText();

// Adds --help and --version to the parser and reads the arguments. Returns
// the exit status when the program has nothing more to do (help, version or
// a wrong command line, after printing it); nullopt when it goes on. Needs a
// QCoreApplication (the usage names the program as it was started).
std::optional<int> readCommandLine(QCommandLineParser& parser, const QStringList& arguments,
                                   const QString& programName);

// For a value the parser took but the program cannot use: prints the error
// and the usage as readCommandLine does for a wrong option, and returns
// kUsageError.
int usageError(const QCommandLineParser& parser, const QString& programName, const QString& error);

}  // namespace skelvar::cli
