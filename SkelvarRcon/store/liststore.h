#pragma once

#include "SkelvarRcon/store/recordlist.h"
#include "SkelvarRcon/store/reporter.h"
#include "lists/records.h"

#include <QDate>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

namespace skelvar::rcon {

struct StoreMessage {
    QString title;
    QString text;
};

// The three record lists and the two skin lists with their files, opened by
// bare name in one folder (the working folder unless told otherwise).
//
// Once loaded, a record list is written whenever it changes (changes made in
// one event-loop turn are written together), each write an atomic replace.
// A list whose file existed but could not be read is never written, so its
// records on disk survive the run. A failed write is reported once per file
// and the records stay in the list; the next change or saveAll() tries again.
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

    void setReporter(Reporter reporter);
    bool isProtected(lists::ListKind kind) const { return slot(kind).protectedFile; }

signals:
    // After a list was written (or not) by the autosave.
    void saved(lists::ListKind kind, bool ok);

private:
    struct Slot {
        RecordList* model = nullptr;
        bool loaded = false;
        bool protectedFile = false;
        bool dirty = false;
        bool reported = false;
    };
    Slot& slot(lists::ListKind kind);
    const Slot& slot(lists::ListKind kind) const;
    bool write(lists::ListKind kind);
    void flush();

    QString m_folder;
    Slot m_slots[3];
    lists::SkinList m_suspicious;
    lists::SkinList m_reserved;
    Reporter m_reporter;
    QDate m_loadDay;
    QDate m_loadRealDay;
    QTimer m_flushTimer;
    bool m_loading = false;
};

} // namespace skelvar::rcon
