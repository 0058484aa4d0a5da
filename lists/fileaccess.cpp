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

bool fail(QString* error, const char* action, const QString& path, const QString& why)
{
    if (error)
        *error = QStringLiteral("Cannot %1 %2: %3").arg(QLatin1String(action), QDir::toNativeSeparators(path), why);
    return false;
}

// Why the file a path names (links followed) is not a plain file, or an
// empty text when it is one or is not there. A pipe or a device would block
// a reader or lose a writer's rename.
QString notAPlainFile(const QFileInfo& info)
{
    if (info.isSymLink())
        return QStringLiteral("its links lead round in a circle");
    if (info.isDir())
        return QStringLiteral("it is a folder");
    if (info.exists() && !info.isFile())
        return QStringLiteral("it is not a plain file");
    return {};
}

// The one policy of every writer: the file the path leads to, or false with
// error set when it must not be written.
bool writableTarget(const QString& path, QString* target, QString* error)
{
    *target = linkTarget(path);
    const QFileInfo info(*target);
    const QString why = notAPlainFile(info);
    if (!why.isEmpty())
        return fail(error, "write", path, why);
    // Permission bits that grant write access to nobody protect the file from
    // root too, whose access checks would otherwise let the write through.
    const bool protectedByBits = info.exists() && !(info.permissions() & AnyWrite);
    if (protectedByBits || (info.exists() && !info.isWritable()))
        return fail(error, "write", path, QStringLiteral("the file is read-only"));
    return true;
}

}  // namespace

bool mayWrite(const QString& path, QString* error)
{
    QString target;
    return writableTarget(path, &target, error);
}

ReadStatus readWholeFile(const QString& path, QByteArray* data, QString* error)
{
    const QFileInfo info(linkTarget(path));
    if (!info.exists() && !info.isSymLink())
        return ReadStatus::Missing;
    const QString why = notAPlainFile(info);
    if (!why.isEmpty()) {
        fail(error, "read", path, why);
        return ReadStatus::Failed;
    }
    QFile file(info.filePath());
    if (file.open(QIODevice::ReadOnly)) {
        *data = file.readAll();
        if (file.error() == QFileDevice::NoError)
            return ReadStatus::Ok;
    }
    fail(error, "read", path, file.errorString());
    return ReadStatus::Failed;
}

QString linkTarget(const QString& path)
{
    QFileInfo info(path);
    for (int depth = 0; depth < MaxLinkDepth && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.isSymLink() ? path : info.filePath();
}

bool writeFileAtomic(const QString& path, const QByteArray& data, QString* error)
{
    QString target;
    if (!writableTarget(path, &target, error))
        return false;
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return fail(error, "write", path, file.errorString());
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        return fail(error, "write", path, file.errorString());
    }
    if (!file.commit())
        return fail(error, "write", path, file.errorString());
    return true;
}

namespace {

bool writeInPlace(const QString& path, QIODevice::OpenMode mode, const QByteArray& data, QString* error)
{
    QString target;
    if (!writableTarget(path, &target, error))
        return false;
    QFile file(target);
    if (!file.open(QIODevice::WriteOnly | mode))
        return fail(error, "write", path, file.errorString());
    if (file.write(data) != data.size() || !file.flush())
        return fail(error, "write", path, file.errorString());
    return true;
}

}  // namespace

bool appendToFile(const QString& path, const QByteArray& data, QString* error)
{
    return writeInPlace(path, QIODevice::Append, data, error);
}

bool emptyFile(const QString& path, QString* error)
{
    return writeInPlace(path, QIODevice::Truncate, {}, error);
}

FileLock::FileLock(const QString& path) : m_path(path), m_lock(linkTarget(path) + QStringLiteral(".lock"))
{
    m_lock.setStaleLockTime(StaleLockMs);
}

FileLock::~FileLock() = default;

bool FileLock::lock(int waitMs, QString* error)
{
    if (m_lock.tryLock(waitMs))
        return true;
    switch (m_lock.error()) {
    case QLockFile::LockFailedError:
        return fail(error, "write", m_path, QStringLiteral("another program holds its lock"));
    case QLockFile::PermissionError:
        return fail(error, "write", m_path, QStringLiteral("its lock file cannot be made in the folder"));
    default: return fail(error, "write", m_path, QStringLiteral("its lock could not be taken"));
    }
}

void FileLock::unlock()
{
    m_lock.unlock();
}

}  // namespace skelvar::lists
