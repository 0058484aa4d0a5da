#include "SkelvarMod/generator/buildmod.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <optional>
#include <system_error>

#include "SkelvarMod/generator/scriptgenerator.h"
#include "SkelvarMod/package/czip.h"
#include "lists/fileaccess.h"

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

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// The precache template, or why the build cannot go on.
std::optional<QByteArray> readTemplate(const QDir& programDir, QString* error)
{
    const QString path = programDir.filePath(PrecacheTemplateName);
    QByteArray data;
    if (lists::readWholeFile(path, &data) != lists::ReadStatus::Ok) {
        *error = QStringLiteral("The precache template %1 was not found or cannot be read; the mod was not built.")
                     .arg(native(path));
        return std::nullopt;
    }
    return data;
}

// The folder "global" of the builder's folder, made when missing. Refuses a
// link or a file of that name, so nothing is written outside.
bool prepareWorkFolder(WorkFiles& work, QString* error)
{
    const QFileInfo info(work.folder);
    if (info.isSymLink() || (info.exists() && !info.isDir())) {
        *error = QStringLiteral("%1 is not a plain folder inside the builder's folder; the mod was not built.")
                     .arg(native(work.folder));
        return false;
    }
    if (!info.exists()) {
        if (!QDir().mkdir(work.folder)) {
            *error = QStringLiteral("Could not create the folder %1; the mod was not built.").arg(native(work.folder));
            return false;
        }
        work.createdFolder = true;
    }
    return true;
}

bool writeWorkFiles(WorkFiles& work, const QByteArray& precache, const QByteArray& script, QString* error)
{
    const QDir folder(work.folder);
    for (const auto& [name, data] : {std::pair{PrecacheScriptName, precache}, std::pair{ScriptName, script}}) {
        const QString path = folder.filePath(name);
        work.files.append(path);
        // A link in place of our file would send the write elsewhere; drop the link.
        if (QFileInfo(path).isSymLink())
            QFile::remove(path);
        if (!lists::writeFileAtomic(path, data, error))
            return false;
    }
    return true;
}

// Packs both work files, with their folder, into partial.
bool packWorkFiles(cZip& zip, const QDir& programDir, const QString& partial)
{
    zip.setZipFile(partial);
    zip.setBasePath(programDir.absolutePath());
    // The scripts refer to each other as global/..., so entries keep the folder.
    zip.setStoreFolderNames(true);
    zip.setRecurseSubDirs(false);
    zip.setStoreDirectories(false);
    zip.setAllowAppend(false);
    zip.setUpdateOnlyIfNewer(false);
    zip.setFreshenFiles(false);
    zip.setEncrypt(false);
    zip.ClearFileSpecs();
    zip.AddFileSpec(WorkFolderName + QLatin1Char('/') + PrecacheScriptName);
    zip.AddFileSpec(WorkFolderName + QLatin1Char('/') + ScriptName);
    return zip.Zip() && QFileInfo(partial).isFile();
}

// Every other archive of the output folder that could not be removed.
QStringList removeOtherArchives(const QString& outDir)
{
    QStringList stale;
    for (const QFileInfo& f :
         QDir(outDir).entryInfoList({QStringLiteral("*.pk3")}, QDir::Files | QDir::Hidden | QDir::System)) {
        if (f.fileName() == ArchiveName)
            continue;
        if (!QFile::remove(f.absoluteFilePath()))
            stale.append(native(f.absoluteFilePath()));
    }
    return stale;
}

// The new archive replaces the old one in a single step, then any other
// archive goes, so the folder never lacks one and holds only ours.
BuildResult putInPlace(const QString& partial, const QString& target, const QString& outDir)
{
    QString error;
    if (!moveReplacing(partial, target, &error)) {
        QFile::remove(partial);
        return failure(
            QStringLiteral("The archive could not be moved into place as %1: %2. The previous archive was kept.")
                .arg(native(target), error));
    }
    BuildResult result;
    result.archivePath = target;
    const QStringList stale = removeOtherArchives(outDir);
    if (!stale.isEmpty()) {
        result.message = QStringLiteral("The archive was built, but these older archives could not be removed and the "
                                        "server would load them too:\n") +
                         stale.join(QLatin1Char('\n'));
        return result;
    }
    result.ok = true;
    return result;
}

}  // namespace

BuildResult BuildMod(const BuildInputs& inputs, const BuildOptions& options, cZip* zip)
{
    const QStringList problems = validateInputs(inputs);
    if (!problems.isEmpty())
        return failure(QStringLiteral("The mod was not built. Please correct these rows first:\n") +
                       problems.join(QLatin1Char('\n')));

    QString error;
    const QDir programDir(options.programDir);
    const std::optional<QByteArray> precache = readTemplate(programDir, &error);
    if (!precache)
        return failure(error);
    WorkFiles work;
    work.folder = programDir.filePath(WorkFolderName);
    if (!prepareWorkFolder(work, &error))
        return failure(error);
    if (!writeWorkFiles(work, *precache, GenerateScript(inputs), &error)) {
        work.cleanUp();
        return failure(error);
    }

    const QString outDir = programDir.filePath(OutputFolderName);
    if (!QDir().mkpath(outDir)) {
        work.cleanUp();
        return failure(QStringLiteral("Could not create the folder %1; the mod was not built.").arg(native(outDir)));
    }
    const QString target = QDir(outDir).filePath(ArchiveName);
    // Not ending in ".pk3", so neither the game nor the clean-up takes it for an archive.
    const QString partial = target + QStringLiteral(".part");
    QFile::remove(partial);

    cZip ownZip;
    cZip& packer = zip ? *zip : ownZip;
    const bool packed = packWorkFiles(packer, programDir, partial);
    work.cleanUp();
    if (!packed) {
        const QString why = packer.LastError();
        QFile::remove(partial);
        return failure(QStringLiteral("The archive %1 could not be written%2. The previous archive was kept.")
                           .arg(native(target), why.isEmpty() ? QString() : QStringLiteral(": ") + why));
    }

    const BuildResult result = putInPlace(partial, target, outDir);
    if (result.ok && options.openFolder)
        options.openFolder(outDir);
    return result;
}

}  // namespace skelvar::mod
