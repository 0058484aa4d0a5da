#include "SkelvarRcon/store/liststore.h"

#include <QDir>

namespace skelvar::rcon {

using lists::ListKind;

namespace {

constexpr ListKind allKinds[] = {ListKind::Warnings, ListKind::Kicks, ListKind::Bans};

QString skippedText(const QString& fileName, int n)
{
    if (n == 1)
        return ListStore::tr("%1: 1 line could not be read and was skipped.").arg(fileName);
    return ListStore::tr("%1: %2 lines could not be read and were skipped.").arg(fileName).arg(n);
}

} // namespace

ListStore::ListStore(QObject* parent)
    : QObject(parent)
    , m_folder(QStringLiteral("."))
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

void ListStore::setReporter(Reporter reporter)
{
    m_reporter = std::move(reporter);
}

QList<StoreMessage> ListStore::load(const QDate& today)
{
    QList<StoreMessage> messages;
    m_loadDay = today;
    m_loadRealDay = QDate::currentDate();
    m_loading = true;
    for (ListKind kind : allKinds) {
        Slot& s = slot(kind);
        const QString name = lists::fileName(kind);
        lists::LoadResult r = lists::loadRecords(filePath(kind), kind, today);
        s.loaded = true;
        s.dirty = false;
        s.reported = false;
        s.protectedFile = r.readError;
        if (r.readError) {
            messages.append({tr("List not read"),
                             tr("%1 could not be read. Its records are not shown, and the file "
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
    return messages;
}

void ListStore::reloadSkinLists()
{
    lists::loadSkinList(filePath(QStringLiteral("skins.txt")), m_suspicious);
    lists::loadSkinList(filePath(QStringLiteral("reserved.txt")), m_reserved);
}

QDate ListStore::today() const
{
    if (!m_loadDay.isValid())
        return QDate::currentDate();
    return m_loadDay.addDays(m_loadRealDay.daysTo(QDate::currentDate()));
}

bool ListStore::write(ListKind kind)
{
    Slot& s = slot(kind);
    if (!s.loaded)
        return true;
    if (s.protectedFile)
        return false;
    QList<lists::Record> records = s.model->records();
    if (kind == ListKind::Bans) {
        // A ban that ran out while the program ran is no longer written.
        const QDate day = today();
        records.removeIf([&day](const lists::Record& r) { return !lists::banActive(r, day); });
    }
    QString error;
    if (lists::saveRecords(filePath(kind), records, kind, &error)) {
        s.dirty = false;
        s.reported = false;
        return true;
    }
    s.dirty = true;
    if (!s.reported) {
        s.reported = true;
        if (m_reporter)
            m_reporter(tr("List not saved"),
                       tr("Could not write %1: %2\nThe records are kept in the window and will be "
                          "written again at the next change and at exit.")
                           .arg(lists::fileName(kind), error));
    }
    return false;
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

} // namespace skelvar::rcon
