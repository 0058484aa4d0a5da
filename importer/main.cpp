#include "importer/importer.h"

#include <QCoreApplication>
#include <QDate>
#include <QTextStream>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    out.setEncoding(QStringConverter::Latin1);
    err.setEncoding(QStringConverter::Latin1);
    // Both files live beside the program, not in the working folder.
    return skelvar::importer::runImport(QCoreApplication::applicationDirPath(), QDate::currentDate(), out, err);
}
