#include "SkelvarMod/package/czip.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QHash>
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

bool cZip::Zip()
{
    return run(false);
}

bool cZip::Delete()
{
    return run(true);
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

bool cZip::collect(QList<Source>& out)
{
    const QString trimmedBase = m_basePath.trimmed();
    const QDir base(trimmedBase.isEmpty() ? QDir::currentPath() : trimmedBase);
    QSet<QString> seenPaths;
    QHash<QString, QString> pathOfEntry;
    QSet<QString> seenDirs;

    auto entryName = [&](const QString& absPath) {
        if (!m_storeFolderNames)
            return QFileInfo(absPath).fileName();
        QString rel = base.relativeFilePath(absPath);
        if (rel.startsWith(QLatin1String("../")) || rel == QLatin1String("..") || QDir::isAbsolutePath(rel)) {
            // Outside the base: keep the path but never an absolute one.
            rel = QDir::cleanPath(absPath);
            if (rel.size() > 1 && rel[1] == QLatin1Char(':'))
                rel = rel.mid(2);
            while (rel.startsWith(QLatin1Char('/')))
                rel = rel.mid(1);
        }
        return rel;
    };

    auto addDirsOf = [&](const QString& entry) {
        if (!m_storeDirectories || !m_storeFolderNames)
            return;
        qsizetype slash = entry.indexOf(QLatin1Char('/'));
        while (slash > 0) {
            const QString dir = entry.left(slash + 1);
            if (!seenDirs.contains(dir)) {
                seenDirs.insert(dir);
                out.append({QString(), dir, true});
            }
            slash = entry.indexOf(QLatin1Char('/'), slash + 1);
        }
    };

    bool clash = false;
    auto addFile = [&](const QString& absPath) {
        if (seenPaths.contains(absPath))
            return;  // a file named by two patterns goes in once
        seenPaths.insert(absPath);
        const QString entry = entryName(absPath);
        if (pathOfEntry.contains(entry)) {
            // Without folder names two files may meet under one name; one
            // would silently replace the other.
            m_lastError = QStringLiteral("two files would be stored as ") + entry + QStringLiteral(": ")
                          + pathOfEntry.value(entry) + QStringLiteral(" and ") + absPath;
            clash = true;
            return;
        }
        pathOfEntry.insert(entry, absPath);
        addDirsOf(entry);
        out.append({absPath, entry, false});
    };

    auto addTree = [&](const QString& folder, const QStringList& filter) {
        QDirIterator it(folder, filter, QDir::Files | (m_includeHidden ? (QDir::Hidden | QDir::System) : QDir::Filters()),
                        QDirIterator::Subdirectories);
        QStringList files;
        while (it.hasNext())
            files.append(QFileInfo(it.next()).absoluteFilePath());
        files.sort();
        for (const QString& p : files)
            addFile(p);
    };

    const QDir::Filters hidden = m_includeHidden ? (QDir::Hidden | QDir::System) : QDir::Filters();
    for (const QString& rawSpec : m_specs) {
        const QString spec = QString(rawSpec).replace(QLatin1Char('\\'), QLatin1Char('/'));
        if (spec.trimmed().isEmpty())
            continue;
        const QString absSpec = QDir::cleanPath(base.absoluteFilePath(spec));
        const QFileInfo specInfo(absSpec);
        bool matched = false;

        if (hasWildcard(specInfo.fileName())) {
            const QStringList filter{dosPattern(specInfo.fileName())};
            const qsizetype before = seenPaths.size();
            // The folder's own files first, then (recursing) those below it.
            for (const QFileInfo& f : QDir(specInfo.path()).entryInfoList(filter, QDir::Files | hidden, QDir::Name))
                addFile(f.absoluteFilePath());
            if (m_recurse)
                addTree(specInfo.path(), filter);
            matched = seenPaths.size() > before;
        } else if (specInfo.isFile()) {
            addFile(absSpec);
            matched = true;
        } else if (specInfo.isDir()) {
            addDirsOf(entryName(absSpec) + QLatin1Char('/'));
            if (m_recurse)
                addTree(absSpec, {});
            matched = true;
        }
        if (clash) {
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

bool cZip::run(bool deleting)
{
    m_lastError.clear();
    if (m_zipFile.trimmed().isEmpty())
        return fail(QStringLiteral("no archive name given"));
    if (m_specs.isEmpty())
        return fail(QStringLiteral("no file patterns"));

    const QString archivePath = QFileInfo(m_zipFile).absoluteFilePath();
    const bool exists = QFileInfo::exists(archivePath);
    const QByteArray nativePath = QFile::encodeName(archivePath);

    int flags = 0;
    if (deleting) {
        if (!exists)
            return fail(QStringLiteral("archive not found: ") + m_zipFile);
    } else if (exists && (m_append || m_update || m_freshen)) {
        flags = ZIP_CREATE;
    } else {
        flags = ZIP_CREATE | ZIP_TRUNCATE;
    }

    int errorCode = 0;
    zip_t* za = zip_open(nativePath.constData(), flags, &errorCode);
    if (!za) {
        zip_error_t error;
        zip_error_init_with_code(&error, errorCode);
        const QString text = zipErrorText(&error);
        zip_error_fini(&error);
        return fail(QStringLiteral("cannot open ") + m_zipFile + QStringLiteral(": ") + text);
    }
    auto abandon = [&](const QString& text) {
        zip_discard(za);
        return fail(text);
    };

    if (deleting) {
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
                return abandon(QStringLiteral("cancelled"));
            if (zip_delete(za, zip_uint64_t(i)) != 0)
                return abandon(zipErrorText(zip_get_error(za)));
            message(QStringLiteral("deleting: ") + name);
            ++removed;
        }
        if (removed == 0)
            return abandon(QStringLiteral("name not matched: ") + m_specs.join(QLatin1Char(' ')));
    } else {
        QList<Source> sources;
        if (!collect(sources)) {
            zip_discard(za);
            return false;
        }

        QByteArray password;
        zip_uint16_t method = ZIP_EM_NONE;
        if (m_encrypt) {
            if (zip_encryption_method_supported(ZIP_EM_AES_256, 1))
                method = ZIP_EM_AES_256;
            else if (zip_encryption_method_supported(ZIP_EM_TRAD_PKWARE, 1))
                method = ZIP_EM_TRAD_PKWARE;
            else
                return abandon(QStringLiteral("encryption is not available"));
            QString pw;
            bool cancel = false;
            emit PasswordRequest(pw, cancel);
            if (cancel)
                return abandon(QStringLiteral("cancelled"));
            password = pw.toLatin1();
            if (password.isEmpty())
                return abandon(QStringLiteral("no password given"));
        }

        std::list<QByteArray> buffers;  // libzip reads them at close
        int changed = 0;
        for (const Source& src : sources) {
            bool cancel = false;
            emit Cancel(src.isDir ? src.entry : QDir::toNativeSeparators(src.path), cancel);
            if (cancel)
                return abandon(QStringLiteral("cancelled"));

            const QByteArray name = src.entry.toUtf8();
            const zip_int64_t existing = zip_name_locate(za, name.constData(), 0);
            if (src.isDir) {
                if (existing < 0 && !m_freshen) {
                    if (zip_dir_add(za, name.constData(), ZIP_FL_ENC_GUESS) < 0)
                        return abandon(zipErrorText(zip_get_error(za)));
                    message(QStringLiteral("  adding: ") + src.entry);
                    ++changed;
                }
                continue;
            }

            const QFileInfo info(src.path);
            const time_t mtime = time_t(info.lastModified().toSecsSinceEpoch());
            if (m_freshen && existing < 0)
                continue;
            if ((m_update || m_freshen) && existing >= 0) {
                zip_stat_t st;
                zip_stat_init(&st);
                // Stored times have a two-second step; compare on that grid.
                if (zip_stat_index(za, zip_uint64_t(existing), 0, &st) == 0 && (st.valid & ZIP_STAT_MTIME)
                    && (mtime & ~time_t(1)) <= st.mtime)
                    continue;
            }

            QFile file(src.path);
            if (!file.open(QIODevice::ReadOnly))
                return abandon(QStringLiteral("cannot read ") + src.path + QStringLiteral(": ") + file.errorString());
            buffers.push_back(convertLineEnds(file.readAll(), m_crlfToLf, m_lfToCrlf));
            if (file.error() != QFile::NoError)
                return abandon(QStringLiteral("cannot read ") + src.path + QStringLiteral(": ") + file.errorString());
            const QByteArray& data = buffers.back();

            zip_source_t* zs = zip_source_buffer(za, data.constData(), zip_uint64_t(data.size()), 0);
            if (!zs)
                return abandon(zipErrorText(zip_get_error(za)));
            const zip_int64_t index = zip_file_add(za, name.constData(), zs, ZIP_FL_OVERWRITE | ZIP_FL_ENC_GUESS);
            if (index < 0) {
                zip_source_free(zs);
                return abandon(zipErrorText(zip_get_error(za)));
            }
            zip_file_set_mtime(za, zip_uint64_t(index), mtime, 0);
            if (method != ZIP_EM_NONE
                && zip_file_set_encryption(za, zip_uint64_t(index), method, password.constData()) != 0)
                return abandon(zipErrorText(zip_get_error(za)));
            message((existing >= 0 ? QStringLiteral("updating: ") : QStringLiteral("  adding: ")) + src.entry);
            if (m_verbose)
                message(QStringLiteral("        %1 bytes from %2").arg(data.size()).arg(QDir::toNativeSeparators(src.path)));
            ++changed;
        }
        if (changed == 0 && !(exists && (m_update || m_freshen)))
            return abandon(QStringLiteral("nothing to do"));

        if (zip_close(za) != 0) {
            const QString text = zipErrorText(zip_get_error(za));
            zip_discard(za);
            return fail(QStringLiteral("cannot write ") + m_zipFile + QStringLiteral(": ") + text);
        }
        return true;
    }

    if (zip_close(za) != 0) {
        const QString text = zipErrorText(zip_get_error(za));
        zip_discard(za);
        return fail(QStringLiteral("cannot write ") + m_zipFile + QStringLiteral(": ") + text);
    }
    return true;
}

}  // namespace skelvar::mod
