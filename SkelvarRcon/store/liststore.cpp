#include "SkelvarRcon/store/liststore.h"

#include <QDir>
#include <QFileInfo>

namespace skelvar::rcon {

using lists::ListKind;

namespace {

constexpr ListKind allKinds[] = {ListKind::Warnings, ListKind::Kicks, ListKind::Bans};

// A change seen in the folder is read in after this pause, so a burst of
// events (a write is a new file and a rename) makes one read.
constexpr int SyncDelayMs = 200;

QString skippedText(const QString& fileName, int n)
{
    if (n == 1)
        return ListStore::tr("%1: 1 line could not be read and was skipped; the file keeps it as it is.").arg(fileName);
    return ListStore::tr("%1: %2 lines could not be read and were skipped; the file keeps them as they are.")
        .arg(fileName)
        .arg(n);
}

}  // namespace

ListStore::ListStore(QObject* parent) : QObject(parent), m_folder(QStringLiteral("."))
{
    for (ListKind kind : allKinds) {
        Slot& s = slot(kind);
        s.model = new RecordList(kind, this);
        connect(s.model, &RecordList::changed, this, [this, kind] {
            Slot& s = slot(kind);
            if (m_loading || !s.loaded || s.protectedFile)
                return;
            s.dirty = true;
            m_flushTimer.start();
        });
    }
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(0);
    connect(&m_flushTimer, &QTimer::timeout, this, &ListStore::flush);
    m_syncTimer.setSingleShot(true);
    m_syncTimer.setInterval(SyncDelayMs);
    connect(&m_syncTimer, &QTimer::timeout, this, &ListStore::syncFromDisk);
    auto later = [this] { m_syncTimer.start(); };
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, later);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, later);
}

ListStore::Slot& ListStore::slot(ListKind kind)
{
    return m_slots[int(kind)];
}

const ListStore::Slot& ListStore::slot(ListKind kind) const
{
    return m_slots[int(kind)];
}

void ListStore::setFolder(const QString& folder)
{
    m_folder = folder.isEmpty() ? QStringLiteral(".") : folder;
}

QString ListStore::filePath(const QString& fileName) const
{
    return QDir(m_folder).filePath(fileName);
}

QString ListStore::filePath(ListKind kind) const
{
    return filePath(lists::fileName(kind));
}

RecordList& ListStore::list(ListKind kind)
{
    return *slot(kind).model;
}

void ListStore::setPrompter(Prompter* prompter)
{
    m_prompter = prompter;
}

void ListStore::tell(const QString& title, const QString& text)
{
    if (m_prompter)
        m_prompter->message(title, text, Prompter::Icon::Critical);
}

QList<StoreMessage> ListStore::load(const QDate& today)
{
    QList<StoreMessage> messages;
    m_loadDay = today;
    m_loadRealDay = m_clock->today();
    m_loading = true;
    for (ListKind kind : allKinds) {
        Slot& s = slot(kind);
        const QString name = lists::fileName(kind);
        s.file = std::make_unique<lists::ListFile>(filePath(kind), kind);
        lists::LoadResult r = s.file->load(today);
        s.loaded = true;
        s.dirty = false;
        s.reported = false;
        s.protectedFile = r.readError;
        if (r.readError) {
            messages.append({tr("List not read"), tr("%1 could not be read. Its records are not shown, and the file "
                                                     "will not be overwritten while the program runs.")
                                                      .arg(name)});
            s.model->setRecords({});
            continue;
        }
        s.model->setRecords(std::move(r.records));
        if (r.skipped > 0)
            messages.append({tr("Damaged lines skipped"), skippedText(name, r.skipped)});
    }
    m_loading = false;
    reloadSkinLists();
    watchFiles();
    return messages;
}

// The files, and the folders that hold them and their links: a write by
// rename replaces the file the watcher was on, and only its folder sees that.
void ListStore::watchFiles()
{
    QStringList paths;
    for (ListKind kind : allKinds) {
        const Slot& s = slot(kind);
        if (!s.loaded || s.protectedFile)
            continue;
        const QString target = lists::linkTarget(s.file->path());
        for (const QString& path :
             {target, QFileInfo(target).absolutePath(), QFileInfo(s.file->path()).absolutePath()}) {
            if (QFileInfo::exists(path) && !paths.contains(path))
                paths.append(path);
        }
    }
    const QStringList watched = m_watcher.files() + m_watcher.directories();
    QStringList missing;
    for (const QString& path : paths) {
        if (!watched.contains(path))
            missing.append(path);
    }
    if (!missing.isEmpty())
        m_watcher.addPaths(missing);
}

void ListStore::reloadSkinLists()
{
    lists::loadSkinList(filePath(QStringLiteral("skins.txt")), m_suspicious);
    lists::loadSkinList(filePath(QStringLiteral("reserved.txt")), m_reserved);
}

QDate ListStore::today() const
{
    if (!m_loadDay.isValid())
        return m_clock->today();
    return m_loadDay.addDays(m_loadRealDay.daysTo(m_clock->today()));
}

bool ListStore::mergeFromDisk(ListKind kind, QString* error)
{
    Slot& s = slot(kind);
    lists::MergeResult merged;
    if (!s.file->merge(s.model->records(), today(), &merged, error))
        return false;
    if (!merged.isEmpty()) {
        // Records that other programs wrote are not a change to write back.
        m_loading = true;
        s.model->merge(merged.removed, std::move(merged.added));
        m_loading = false;
    }
    return true;
}

void ListStore::syncFromDisk()
{
    watchFiles();
    for (ListKind kind : allKinds) {
        Slot& s = slot(kind);
        if (!s.loaded || s.protectedFile || !s.file->changedOnDisk())
            continue;
        QString error;
        if (mergeFromDisk(kind, &error)) {
            s.syncReported = false;
        } else if (!s.syncReported) {
            s.syncReported = true;
            tell(tr("List not read"), tr("%1 changed on disk but could not be read: %2\nThe list keeps the records it "
                                         "holds.")
                                          .arg(lists::fileName(kind), error));
        }
    }
}

bool ListStore::write(ListKind kind)
{
    Slot& s = slot(kind);
    if (!s.loaded)
        return true;
    if (s.protectedFile)
        return false;
    QString error;
    bool ok = s.file->lock(m_lockWaitMs, &error);
    if (ok) {
        // Under the lock: what others wrote since the last sync comes in
        // first, so the write below keeps it.
        ok = mergeFromDisk(kind, &error) && s.file->save(s.model->records(), today(), &error);
        s.file->unlock();
    }
    if (ok) {
        s.dirty = false;
        s.reported = false;
        return true;
    }
    s.dirty = true;
    reportWriteFailure(kind, error);
    return false;
}

void ListStore::reportWriteFailure(ListKind kind, const QString& error)
{
    Slot& s = slot(kind);
    if (s.reported)
        return;
    s.reported = true;
    tell(tr("List not saved"), tr("Could not write %1: %2\nThe records are kept in the window and will be "
                                  "written again at the next change and at exit.")
                                   .arg(lists::fileName(kind), error));
}

void ListStore::flush()
{
    for (ListKind kind : allKinds) {
        if (slot(kind).dirty)
            emit saved(kind, write(kind));
    }
}

bool ListStore::saveAll()
{
    m_flushTimer.stop();
    bool ok = true;
    for (ListKind kind : allKinds) {
        if (slot(kind).loaded && !write(kind))
            ok = false;
    }
    return ok;
}

}  // namespace skelvar::rcon
