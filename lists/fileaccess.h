#pragma once
// The one file layer of the three programs: how they read the files they
// keep (record lists, skin lists, settings, the builder's files, Ostrel's
// input), replace or append to them, and the lock that writers of a shared
// list take. Every reader and writer follows one policy:
// - a symbolic link is followed, to its final target;
// - a folder, a pipe, a device and a circle of links are refused;
// - a file whose permission bits grant no write access is never written,
//   also for root, whose access checks would let it through;
// - a write that does not write every byte fails and says so.
// Failures come back as false (or Failed) with error set to one line
// "Cannot read|write <path>: <why>".

#include <QByteArray>
#include <QLockFile>
#include <QString>

namespace skelvar::lists {

enum class ReadStatus { Missing, Failed, Ok };

// Reads the whole file; Missing when nothing is there (a link to a file not
// made yet included), Failed with error set for a path that is no plain file
// or a file that cannot be read.
ReadStatus readWholeFile(const QString& path, QByteArray* data, QString* error = nullptr);

// How long a writer waits for another program's lock before it gives up.
inline constexpr int LockWaitMs = 3000;

// The file a path names once symbolic links are followed; the path itself
// when it is no link (or a dangling one, whose target a write creates).
QString linkTarget(const QString& path);

// Replaces the file with data in one rename. A link stays a link: its target
// is replaced, with the temporary file made in the target's folder; a link to
// a file not made yet makes it. Refuses what the policy above refuses and a
// file this user may not write; a short write or a folder that refuses the
// temporary file fails too. On failure the old file is left whole.
bool writeFileAtomic(const QString& path, const QByteArray& data, QString* error = nullptr);

// Whether the policy above lets a write to path through, so that a caller
// can refuse a change before making it; the disk may still fail the write.
bool mayWrite(const QString& path, QString* error = nullptr);

// For logs, which need no atomic replace (and no wait for the disk that it
// takes): appends data to the file, or makes it anew, empty. The file is made
// when missing; the same policy as writeFileAtomic.
bool appendToFile(const QString& path, const QByteArray& data, QString* error = nullptr);
bool emptyFile(const QString& path, QString* error = nullptr);

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
