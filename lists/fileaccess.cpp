#include "lists/fileaccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace skelvar::lists {

namespace {

// No writer keeps the lock for more than a read, a merge and a write of a
// long list, so a lock this old belongs to a process that hangs.
constexpr int StaleLockMs = 10000;
// Links to links are followed this deep, as the system does.
constexpr int MaxLinkDepth = 40;

constexpr QFileDevice::Permissions AnyWrite =
    QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;

}  // namespace

ReadStatus readWholeFile(const QString& path, QByteArray* data, QString* error)
{
    const QFileInfo info(path);
    if (!info.exists())
        return ReadStatus::Missing;
    auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("Cannot read %1: %2").arg(QDir::toNativeSeparators(path), why);
        return ReadStatus::Failed;
    };
    if (info.isDir())
        return fail(QStringLiteral("it is a folder"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    *data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(file.errorString());
    return ReadStatus::Ok;
}

QString linkTarget(const QString& path)
{
    QFileInfo info(path);
    for (int depth = 0; depth < MaxLinkDepth && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.isSymLink() ? path : info.filePath();
}

bool writeProtected(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isDir() && !(info.permissions() & AnyWrite);
}

bool writeFileAtomic(const QString& path, const QByteArray& data, QString* error)
{
    const QString target = linkTarget(path);
    const QFileInfo info(target);
    auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(path), why);
        return false;
    };
    if (info.isDir())
        return fail(QStringLiteral("it is a folder"));
    if (writeProtected(target) || (info.exists() && !info.isWritable()))
        return fail(QStringLiteral("the file is read-only"));
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        return fail(file.errorString());
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

FileLock::FileLock(const QString& path)
    : m_path(path)
    , m_lock(linkTarget(path) + QStringLiteral(".lock"))
{
    m_lock.setStaleLockTime(StaleLockMs);
}

FileLock::~FileLock() = default;

bool FileLock::lock(int waitMs, QString* error)
{
    if (m_lock.tryLock(waitMs))
        return true;
    if (error) {
        const QString name = QDir::toNativeSeparators(m_path);
        switch (m_lock.error()) {
        case QLockFile::LockFailedError:
            *error = QStringLiteral("Cannot write %1: another program holds its lock").arg(name);
            break;
        case QLockFile::PermissionError:
            *error = QStringLiteral("Cannot write %1: its lock file cannot be made in the folder").arg(name);
            break;
        default:
            *error = QStringLiteral("Cannot write %1: its lock could not be taken").arg(name);
            break;
        }
    }
    return false;
}

void FileLock::unlock()
{
    m_lock.unlock();
}

}  // namespace skelvar::lists
