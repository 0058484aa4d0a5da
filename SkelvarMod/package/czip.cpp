#include "SkelvarMod/package/czip.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <list>
#include <stdexcept>

#include <zip.h>

namespace skelvar::mod {

namespace {

// DOS semantics: "*.*" means every file, with or without a dot.
QString dosPattern(QString pattern)
{
    if (pattern == QLatin1String("*.*"))
        pattern = QStringLiteral("*");
    return pattern;
}

bool hasWildcard(const QString& s)
{
    return s.contains(QLatin1Char('*')) || s.contains(QLatin1Char('?'));
}

// '*' and '?' match any characters, '/' included, as the zip tool does when
// it matches entry names.
QRegularExpression entryPattern(const QString& spec)
{
    const QString pattern = dosPattern(QString(spec).replace(QLatin1Char('\\'), QLatin1Char('/')));
    QString rx;
    for (QChar c : pattern) {
        if (c == QLatin1Char('*'))
            rx += QLatin1String(".*");
        else if (c == QLatin1Char('?'))
            rx += QLatin1Char('.');
        else
            rx += QRegularExpression::escape(QString(c));
    }
    return QRegularExpression(QRegularExpression::anchoredPattern(rx));
}

QByteArray convertLineEnds(QByteArray data, bool crlfToLf, bool lfToCrlf)
{
    if (data.contains('\0'))
        return data;  // binary: stored as it is
    if (crlfToLf)
        data.replace("\r\n", "\n");
    if (lfToCrlf) {
        QByteArray out;
        out.reserve(data.size() + data.size() / 16);
        for (qsizetype i = 0; i < data.size(); ++i) {
            if (data[i] == '\n' && (i == 0 || data[i - 1] != '\r'))
                out += '\r';
            out += data[i];
        }
        data = out;
    }
    return data;
}

QString zipErrorText(zip_error_t* error)
{
    return QString::fromLocal8Bit(zip_error_strerror(error));
}

}  // namespace

cZip::cZip(QObject* parent) : QObject(parent)
{
    setStoreDirectories(false);
    setStoreFolderNames(false);
    setRecurseSubDirs(false);
}

int cZip::MessageLevel() const
{
    if (m_verbose)
        return 0;
    if (m_quiet)
        return 1;
    return 2;
}

void cZip::setMessageLevel(int level)
{
    m_verbose = level == 0;
    m_quiet = level == 1;
}

QString cZip::FileSpec(int index) const
{
    if (index < 1 || index > m_specs.size())
        throw std::out_of_range("cZip::FileSpec: index out of range");
    return m_specs.at(index - 1);
}

void cZip::message(const QString& line)
{
    if (!m_quiet)
        emit Progress(1, line);
}

bool cZip::fail(const QString& text)
{
    m_lastError = text;
    emit Progress(1, QStringLiteral("zip error: ") + text);
    return false;
}

// Turns the patterns into the list of files and folder entries to store,
// in the order the zip tool stores them.
class cZip::Collector {
public:
    Collector(const cZip& zip, QList<Source>& out)
        : m_zip(zip), m_out(out),
          m_base(zip.m_basePath.trimmed().isEmpty() ? QDir::currentPath() : zip.m_basePath.trimmed()),
          m_hidden(zip.m_includeHidden ? (QDir::Hidden | QDir::System) : QDir::Filters())
    {
    }

    // Adds what one pattern names; false when it names nothing.
    bool addSpec(const QString& spec)
    {
        const QString absSpec = QDir::cleanPath(m_base.absoluteFilePath(spec));
        const QFileInfo specInfo(absSpec);
        if (hasWildcard(specInfo.fileName())) {
            const QStringList filter{dosPattern(specInfo.fileName())};
            const qsizetype before = m_seenPaths.size();
            // The folder's own files first, then (recursing) those below it.
            for (const QFileInfo& f : QDir(specInfo.path()).entryInfoList(filter, QDir::Files | m_hidden, QDir::Name))
                addFile(f.absoluteFilePath());
            if (m_zip.m_recurse)
                addTree(specInfo.path(), filter);
            return m_seenPaths.size() > before;
        }
        if (specInfo.isFile()) {
            addFile(absSpec);
            return true;
        }
        if (specInfo.isDir()) {
            addDirsOf(entryName(absSpec) + QLatin1Char('/'));
            if (m_zip.m_recurse)
                addTree(absSpec, {});
            return true;
        }
        return false;
    }

    // Set when two files would be stored under one entry name.
    const QString& clash() const { return m_clash; }

private:
    QString entryName(const QString& absPath) const
    {
        if (!m_zip.m_storeFolderNames)
            return QFileInfo(absPath).fileName();
        QString rel = m_base.relativeFilePath(absPath);
        if (rel.startsWith(QLatin1String("../")) || rel == QLatin1String("..") || QDir::isAbsolutePath(rel)) {
            // Outside the base: keep the path but never an absolute one.
            rel = QDir::cleanPath(absPath);
            if (rel.size() > 1 && rel[1] == QLatin1Char(':'))
                rel = rel.mid(2);
            while (rel.startsWith(QLatin1Char('/')))
                rel = rel.mid(1);
        }
        return rel;
    }

    void addDirsOf(const QString& entry)
    {
        if (!m_zip.m_storeDirectories || !m_zip.m_storeFolderNames)
            return;
        qsizetype slash = entry.indexOf(QLatin1Char('/'));
        while (slash > 0) {
            const QString dir = entry.left(slash + 1);
            if (!m_seenDirs.contains(dir)) {
                m_seenDirs.insert(dir);
                m_out.append({QString(), dir, true});
            }
            slash = entry.indexOf(QLatin1Char('/'), slash + 1);
        }
    }

    void addFile(const QString& absPath)
    {
        if (m_seenPaths.contains(absPath))
            return;  // a file named by two patterns goes in once
        m_seenPaths.insert(absPath);
        const QString entry = entryName(absPath);
        if (m_pathOfEntry.contains(entry)) {
            // Without folder names two files may meet under one name; one
            // would silently replace the other.
            m_clash = QStringLiteral("two files would be stored as ") + entry + QStringLiteral(": ") +
                      m_pathOfEntry.value(entry) + QStringLiteral(" and ") + absPath;
            return;
        }
        m_pathOfEntry.insert(entry, absPath);
        addDirsOf(entry);
        m_out.append({absPath, entry, false});
    }

    void addTree(const QString& folder, const QStringList& filter)
    {
        QDirIterator it(folder, filter, QDir::Files | m_hidden, QDirIterator::Subdirectories);
        QStringList files;
        while (it.hasNext())
            files.append(QFileInfo(it.next()).absoluteFilePath());
        files.sort();
        for (const QString& p : files)
            addFile(p);
    }

    const cZip& m_zip;
    QList<Source>& m_out;
    const QDir m_base;
    const QDir::Filters m_hidden;
    QSet<QString> m_seenPaths;
    QHash<QString, QString> m_pathOfEntry;
    QSet<QString> m_seenDirs;
    QString m_clash;
};

bool cZip::collect(QList<Source>& out)
{
    Collector collector(*this, out);
    for (const QString& rawSpec : m_specs) {
        const QString spec = QString(rawSpec).replace(QLatin1Char('\\'), QLatin1Char('/'));
        if (spec.trimmed().isEmpty())
            continue;
        const bool matched = collector.addSpec(spec);
        if (!collector.clash().isEmpty()) {
            m_lastError = collector.clash();
            emit Progress(1, QStringLiteral("zip error: ") + m_lastError);
            return false;
        }
        if (!matched) {
            m_lastError = QStringLiteral("name not matched: ") + rawSpec;
            emit Progress(1, QStringLiteral("zip warning: ") + m_lastError);
            return false;
        }
    }
    return true;
}

bool cZip::checkRequest()
{
    m_lastError.clear();
    if (m_zipFile.trimmed().isEmpty())
        return fail(QStringLiteral("no archive name given"));
    if (m_specs.isEmpty())
        return fail(QStringLiteral("no file patterns"));
    return true;
}

zip* cZip::openArchive(int flags)
{
    const QByteArray nativePath = QFile::encodeName(QFileInfo(m_zipFile).absoluteFilePath());
    int errorCode = 0;
    zip_t* za = zip_open(nativePath.constData(), flags, &errorCode);
    if (!za) {
        zip_error_t error;
        zip_error_init_with_code(&error, errorCode);
        const QString text = zipErrorText(&error);
        zip_error_fini(&error);
        fail(QStringLiteral("cannot open ") + m_zipFile + QStringLiteral(": ") + text);
    }
    return za;
}

bool cZip::abandon(zip* za, const QString& text)
{
    zip_discard(za);
    return fail(text);
}

bool cZip::closeArchive(zip* za)
{
    if (zip_close(za) != 0) {
        const QString text = zipErrorText(zip_get_error(za));
        zip_discard(za);
        return fail(QStringLiteral("cannot write ") + m_zipFile + QStringLiteral(": ") + text);
    }
    return true;
}

bool cZip::Delete()
{
    if (!checkRequest())
        return false;
    if (!QFileInfo::exists(QFileInfo(m_zipFile).absoluteFilePath()))
        return fail(QStringLiteral("archive not found: ") + m_zipFile);
    zip_t* za = openArchive(0);
    if (!za)
        return false;

    QList<QRegularExpression> patterns;
    for (const QString& spec : m_specs)
        patterns.append(entryPattern(spec));
    int removed = 0;
    const zip_int64_t count = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* raw = zip_get_name(za, zip_uint64_t(i), ZIP_FL_ENC_GUESS);
        if (!raw)
            continue;
        const QString name = QString::fromUtf8(raw);
        bool match = false;
        for (const QRegularExpression& rx : patterns)
            match = match || rx.match(name).hasMatch();
        if (!match)
            continue;
        bool cancel = false;
        emit Cancel(name, cancel);
        if (cancel)
            return abandon(za, QStringLiteral("cancelled"));
        if (zip_delete(za, zip_uint64_t(i)) != 0)
            return abandon(za, zipErrorText(zip_get_error(za)));
        message(QStringLiteral("deleting: ") + name);
        ++removed;
    }
    if (removed == 0)
        return abandon(za, QStringLiteral("name not matched: ") + m_specs.join(QLatin1Char(' ')));
    return closeArchive(za);
}

bool cZip::encryption(zip* za, EntryEncryption* out)
{
    if (!m_encrypt)
        return true;
    if (zip_encryption_method_supported(ZIP_EM_AES_256, 1))
        out->method = ZIP_EM_AES_256;
    else if (zip_encryption_method_supported(ZIP_EM_TRAD_PKWARE, 1))
        out->method = ZIP_EM_TRAD_PKWARE;
    else
        return abandon(za, QStringLiteral("encryption is not available"));
    QString pw;
    bool cancel = false;
    emit PasswordRequest(pw, cancel);
    if (cancel)
        return abandon(za, QStringLiteral("cancelled"));
    out->password = pw.toLatin1();
    if (out->password.isEmpty())
        return abandon(za, QStringLiteral("no password given"));
    return true;
}

bool cZip::upToDate(zip* za, zip_int64_t existing, time_t mtime) const
{
    if (!(m_update || m_freshen) || existing < 0)
        return false;
    zip_stat_t st;
    zip_stat_init(&st);
    // Stored times have a two-second step; compare on that grid.
    return zip_stat_index(za, zip_uint64_t(existing), 0, &st) == 0 && (st.valid & ZIP_STAT_MTIME) &&
           (mtime & ~time_t(1)) <= st.mtime;
}

cZip::AddResult cZip::addFolderEntry(zip* za, const Source& src, zip_int64_t existing)
{
    if (existing >= 0 || m_freshen)
        return AddResult::Skipped;
    if (zip_dir_add(za, src.entry.toUtf8().constData(), ZIP_FL_ENC_GUESS) < 0) {
        abandon(za, zipErrorText(zip_get_error(za)));
        return AddResult::Failed;
    }
    message(QStringLiteral("  adding: ") + src.entry);
    return AddResult::Added;
}

cZip::AddResult cZip::addFileEntry(zip* za, const Source& src, zip_int64_t existing, const EntryEncryption& crypt,
                                   std::list<QByteArray>& buffers)
{
    auto failed = [&](const QString& text) {
        abandon(za, text);
        return AddResult::Failed;
    };
    const time_t mtime = time_t(QFileInfo(src.path).lastModified().toSecsSinceEpoch());
    if ((m_freshen && existing < 0) || upToDate(za, existing, mtime))
        return AddResult::Skipped;

    QFile file(src.path);
    if (!file.open(QIODevice::ReadOnly))
        return failed(QStringLiteral("cannot read ") + src.path + QStringLiteral(": ") + file.errorString());
    buffers.push_back(convertLineEnds(file.readAll(), m_crlfToLf, m_lfToCrlf));
    if (file.error() != QFile::NoError)
        return failed(QStringLiteral("cannot read ") + src.path + QStringLiteral(": ") + file.errorString());
    const QByteArray& data = buffers.back();

    zip_source_t* zs = zip_source_buffer(za, data.constData(), zip_uint64_t(data.size()), 0);
    if (!zs)
        return failed(zipErrorText(zip_get_error(za)));
    const zip_int64_t index = zip_file_add(za, src.entry.toUtf8().constData(), zs, ZIP_FL_OVERWRITE | ZIP_FL_ENC_GUESS);
    if (index < 0) {
        zip_source_free(zs);
        return failed(zipErrorText(zip_get_error(za)));
    }
    zip_file_set_mtime(za, zip_uint64_t(index), mtime, 0);
    if (crypt.method != ZIP_EM_NONE &&
        zip_file_set_encryption(za, zip_uint64_t(index), crypt.method, crypt.password.constData()) != 0)
        return failed(zipErrorText(zip_get_error(za)));
    message((existing >= 0 ? QStringLiteral("updating: ") : QStringLiteral("  adding: ")) + src.entry);
    if (m_verbose)
        message(QStringLiteral("        %1 bytes from %2").arg(data.size()).arg(QDir::toNativeSeparators(src.path)));
    return AddResult::Added;
}

bool cZip::Zip()
{
    if (!checkRequest())
        return false;
    const bool exists = QFileInfo::exists(QFileInfo(m_zipFile).absoluteFilePath());
    const bool keepEntries = exists && (m_append || m_update || m_freshen);
    zip_t* za = openArchive(keepEntries ? ZIP_CREATE : ZIP_CREATE | ZIP_TRUNCATE);
    if (!za)
        return false;

    QList<Source> sources;
    if (!collect(sources)) {
        zip_discard(za);
        return false;
    }
    EntryEncryption crypt;
    if (!encryption(za, &crypt))
        return false;

    std::list<QByteArray> buffers;  // libzip reads them at close
    int changed = 0;
    for (const Source& src : sources) {
        bool cancel = false;
        emit Cancel(src.isDir ? src.entry : QDir::toNativeSeparators(src.path), cancel);
        if (cancel)
            return abandon(za, QStringLiteral("cancelled"));
        const zip_int64_t existing = zip_name_locate(za, src.entry.toUtf8().constData(), 0);
        const AddResult added =
            src.isDir ? addFolderEntry(za, src, existing) : addFileEntry(za, src, existing, crypt, buffers);
        if (added == AddResult::Failed)
            return false;
        if (added == AddResult::Added)
            ++changed;
    }
    if (changed == 0 && !(exists && (m_update || m_freshen)))
        return abandon(za, QStringLiteral("nothing to do"));
    return closeArchive(za);
}

}  // namespace skelvar::mod
