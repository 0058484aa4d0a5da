#include "SkelvarMod/generator/buildmod.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <filesystem>
#include <memory>
#include <system_error>

#include "SkelvarMod/generator/scriptgenerator.h"
#include "SkelvarMod/package/czip.h"

namespace skelvar::mod {

namespace {

// The files and folder this build created, so that clean-up removes exactly
// those and nothing the operator keeps in "global".
struct WorkFiles {
    QString folder;
    bool createdFolder = false;
    QStringList files;

    void cleanUp()
    {
        for (const QString& f : files)
            QFile::remove(f);
        files.clear();
        if (createdFolder)
            QDir().rmdir(folder);  // only succeeds when nothing else is left in it
        createdFolder = false;
    }
};

bool writeWholeFile(const QString& path, const QByteArray& data, QString* error)
{
    // A link in place of our file would send the write elsewhere; drop the link.
    if (QFileInfo(path).isSymLink())
        QFile::remove(path);
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size() || !out.commit()) {
        *error = QStringLiteral("Could not write %1: %2").arg(QDir::toNativeSeparators(path), out.errorString());
        return false;
    }
    return true;
}

bool moveReplacing(const QString& from, const QString& to, QString* error)
{
    std::error_code ec;
    std::filesystem::rename(std::filesystem::path(from.toStdU16String()), std::filesystem::path(to.toStdU16String()),
                            ec);
    if (ec) {
        *error = QString::fromLocal8Bit(ec.message().c_str());
        return false;
    }
    return true;
}

BuildResult failure(const QString& text)
{
    BuildResult r;
    r.message = text;
    return r;
}

}  // namespace

BuildResult BuildMod(const BuildInputs& inputs, const BuildOptions& options, cZip* zip)
{
    const QStringList problems = ValidateInputs(inputs);
    if (!problems.isEmpty())
        return failure(QStringLiteral("The mod was not built. Please correct these rows first:\n") + problems.join(QLatin1Char('\n')));

    const QDir programDir(options.programDir);
    const QString templatePath = programDir.filePath(PrecacheTemplateName);
    QFile templ(templatePath);
    if (!templ.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("The precache template %1 was not found or cannot be read; the mod was not built.")
                           .arg(QDir::toNativeSeparators(templatePath)));
    const QByteArray precache = templ.readAll();
    templ.close();

    WorkFiles work;
    work.folder = programDir.filePath(WorkFolderName);
    const QFileInfo folderInfo(work.folder);
    if (folderInfo.isSymLink() || (folderInfo.exists() && !folderInfo.isDir()))
        return failure(QStringLiteral("%1 is not a plain folder inside the builder's folder; the mod was not built.")
                           .arg(QDir::toNativeSeparators(work.folder)));
    if (!folderInfo.exists()) {
        if (!QDir().mkdir(work.folder))
            return failure(QStringLiteral("Could not create the folder %1; the mod was not built.")
                               .arg(QDir::toNativeSeparators(work.folder)));
        work.createdFolder = true;
    }

    QString error;
    const QString precachePath = QDir(work.folder).filePath(PrecacheScriptName);
    const QString scriptPath = QDir(work.folder).filePath(ScriptName);
    for (const auto& [path, data] : {std::pair{precachePath, precache}, std::pair{scriptPath, GenerateScript(inputs)}}) {
        work.files.append(path);
        if (!writeWholeFile(path, data, &error)) {
            work.cleanUp();
            return failure(error);
        }
    }

    const QString outDir = programDir.filePath(OutputFolderName);
    if (!QDir().mkpath(outDir)) {
        work.cleanUp();
        return failure(QStringLiteral("Could not create the folder %1; the mod was not built.")
                           .arg(QDir::toNativeSeparators(outDir)));
    }
    const QString target = QDir(outDir).filePath(ArchiveName);
    // Not ending in ".pk3", so neither the game nor the clean-up takes it for an archive.
    const QString partial = target + QStringLiteral(".part");
    QFile::remove(partial);

    std::unique_ptr<cZip> ownZip;
    if (!zip) {
        ownZip = std::make_unique<cZip>();
        zip = ownZip.get();
    }
    zip->setZipFile(partial);
    zip->setBasePath(programDir.absolutePath());
    // The scripts refer to each other as global/..., so entries keep the folder.
    zip->setStoreFolderNames(true);
    zip->setRecurseSubDirs(false);
    zip->setStoreDirectories(false);
    zip->setAllowAppend(false);
    zip->setUpdateOnlyIfNewer(false);
    zip->setFreshenFiles(false);
    zip->setEncrypt(false);
    zip->ClearFileSpecs();
    zip->AddFileSpec(WorkFolderName + QLatin1Char('/') + PrecacheScriptName);
    zip->AddFileSpec(WorkFolderName + QLatin1Char('/') + ScriptName);
    const bool packed = zip->Zip() && QFileInfo(partial).isFile();
    work.cleanUp();
    if (!packed) {
        const QString why = zip->LastError();
        QFile::remove(partial);
        return failure(QStringLiteral("The archive %1 could not be written%2. The previous archive was kept.")
                           .arg(QDir::toNativeSeparators(target), why.isEmpty() ? QString() : QStringLiteral(": ") + why));
    }

    // The new archive replaces the old one in a single step, then any other
    // archive goes, so the folder never lacks one and holds only ours.
    if (!moveReplacing(partial, target, &error)) {
        QFile::remove(partial);
        return failure(QStringLiteral("The archive could not be moved into place as %1: %2. The previous archive was kept.")
                           .arg(QDir::toNativeSeparators(target), error));
    }
    QStringList stale;
    for (const QFileInfo& f : QDir(outDir).entryInfoList({QStringLiteral("*.pk3")}, QDir::Files | QDir::Hidden | QDir::System)) {
        if (f.fileName() == ArchiveName)
            continue;
        if (!QFile::remove(f.absoluteFilePath()))
            stale.append(QDir::toNativeSeparators(f.absoluteFilePath()));
    }

    BuildResult result;
    result.archivePath = target;
    if (!stale.isEmpty()) {
        result.message = QStringLiteral("The archive was built, but these older archives could not be removed and the "
                                        "server would load them too:\n")
                         + stale.join(QLatin1Char('\n'));
        return result;
    }
    result.ok = true;
    if (options.openFolder)
        options.openFolder(outDir);
    return result;
}

}  // namespace skelvar::mod
