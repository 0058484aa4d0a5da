#pragma once
// The monitor's record lists and skin lists with their files: load at start,
// autosave with a merge of what other programs wrote, and the operator told
// of files that cannot be read or written.

#include "SkelvarRcon/session/clock.h"
#include "SkelvarRcon/store/recordlist.h"
#include "lists/listfile.h"
#include "lists/prompter.h"
#include "lists/records.h"

#include <QDate>
#include <QFileSystemWatcher>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

namespace skelvar::rcon {

struct StoreMessage {
    QString title;
    QString text;
};

// The three record lists and the two skin lists with their files, opened by
// bare name in one folder (the working folder unless told otherwise).
//
// Once loaded, a record list is written whenever it changes (changes made in
// one event-loop turn are written together), each write an atomic replace
// under the file's lock. Other programs write the files too (Ostrel, other
// monitors sharing a bans.lst through a link): each write first merges what
// they changed since, and their changes are also read in between writes, when
// the file is seen to change and at every patrol pass (syncFromDisk()).
// A list whose file existed but could not be read is never written, so its
// records on disk survive the run. A failed write (a lock that cannot be had
// included) is reported once per file and the records stay in the list; the
// next change or saveAll() tries again.
class ListStore : public QObject {
    Q_OBJECT
public:
    explicit ListStore(QObject* parent = nullptr);

    void setFolder(const QString& folder);
    QString folder() const { return m_folder; }
    QString filePath(const QString& fileName) const;
    QString filePath(lists::ListKind kind) const;

    RecordList& list(lists::ListKind kind);
    RecordList& warnings() { return list(lists::ListKind::Warnings); }
    RecordList& kicks() { return list(lists::ListKind::Kicks); }
    RecordList& bans() { return list(lists::ListKind::Bans); }

    const lists::SkinList& suspiciousSkins() const { return m_suspicious; }
    const lists::SkinList& reservedSkins() const { return m_reserved; }

    // Start-up: reads warnings.lst, kicks.lst, bans.lst, then the skin lists.
    // Returns what the operator should be told: one message per file with
    // skipped lines, one per file that could not be read.
    QList<StoreMessage> load(const QDate& today);
    // The day given to load(), moved on by the days that have passed since.
    QDate today() const;
    // The engine's re-read before it checks skins; a missing file keeps the
    // list it had.
    void reloadSkinLists();

    // Exit: writes every loaded, writable list. True when all were written.
    bool saveAll();

    // Reads in what other programs changed in the list files since the last
    // read or write, for each file whose size or time has changed. Their
    // records show in the lists; a write does not follow from it.
    void syncFromDisk();

    // Where a failed write or re-read is told; nowhere when null.
    void setPrompter(Prompter* prompter);
    // The clock that tells the days passing after load(); the local time unless set.
    void setClock(const Clock* clock) { m_clock = clock ? clock : &Clock::system(); }
    bool isProtected(lists::ListKind kind) const { return slot(kind).protectedFile; }
    // The lists are taking in what the files hold (a load, or what other
    // programs wrote): rows added now are nobody's penalty.
    bool readingFiles() const { return m_loading; }

    void setLockWaitForTests(int ms) { m_lockWaitMs = ms; }
    // How long after a change seen in the folder the files are read in.
    void setSyncDelayForTests(int ms) { m_syncTimer.setInterval(ms); }

signals:
    // After a list was written (or not) by the autosave.
    void saved(lists::ListKind kind, bool ok);

private:
    struct Slot {
        RecordList* model = nullptr;
        std::unique_ptr<lists::ListFile> file;
        bool loaded = false;
        bool protectedFile = false;
        bool dirty = false;
        bool reported = false;
        bool syncReported = false;
    };
    Slot& slot(lists::ListKind kind);
    const Slot& slot(lists::ListKind kind) const;
    bool write(lists::ListKind kind);
    bool mergeFromDisk(lists::ListKind kind, QString* error);
    void reportWriteFailure(lists::ListKind kind, const QString& error);
    void tell(const QString& title, const QString& text);
    void flush();
    void watchFiles();

    QString m_folder;
    Slot m_slots[3];
    lists::SkinList m_suspicious;
    lists::SkinList m_reserved;
    Prompter* m_prompter = nullptr;
    QDate m_loadDay;
    QDate m_loadRealDay;
    const Clock* m_clock = &Clock::system();
    QTimer m_flushTimer;
    QFileSystemWatcher m_watcher;
    QTimer m_syncTimer;
    int m_lockWaitMs = lists::LockWaitMs;
    bool m_loading = false;  // changes of the lists that are not the operator's or the engine's
};

}  // namespace skelvar::rcon
