#pragma once

#include <QByteArray>
#include <QLockFile>
#include <QString>

// How the programs read and replace the files they keep (record lists, the
// monitor's settings), and the lock that writers of a shared list take.
namespace skelvar::lists {

enum class ReadStatus { Missing, Failed, Ok };

// Reads the whole file; Failed (with error set) for a folder or a file that
// cannot be read.
ReadStatus readWholeFile(const QString& path, QByteArray* data, QString* error = nullptr);

// How long a writer waits for another program's lock before it gives up.
inline constexpr int LockWaitMs = 3000;

// The file a path names once symbolic links are followed; the path itself
// when it is no link (or a dangling one, whose target a write creates).
QString linkTarget(const QString& path);

// True when the file exists and its permission bits grant write access to
// nobody. Such a file is left alone by every writer, root included, whose
// access checks would otherwise let it through.
bool writeProtected(const QString& path);

// Replaces the file with data in one rename. A link stays a link: its target
// is replaced, with the temporary file made in the target's folder. Refuses a
// folder, a write-protected file and a file this user may not write; a short
// write or a folder that refuses the temporary file fails too. On failure the
// old file is left whole and error says why.
bool writeFileAtomic(const QString& path, const QByteArray& data, QString* error = nullptr);

// An advisory lock beside the file a path names ("bans.lst.lock", beside the
// link's target for a link), taken by every program that rewrites the file
// from what it read. A lock left by a process that died is taken over at once;
// one older than the stale time is taken over whoever holds it.
class FileLock {
public:
    explicit FileLock(const QString& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Waits up to waitMs for the lock; on failure error says why.
    bool lock(int waitMs, QString* error = nullptr);
    void unlock();

private:
    QString m_path;
    QLockFile m_lock;
};

}  // namespace skelvar::lists
