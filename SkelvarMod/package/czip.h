#pragma once
// The builder's package writer: a small wrapper over libzip that keeps a set
// of options and a list of file patterns and packs them into one zip
// archive. The zip library's callbacks come out as Qt signals; connect them
// directly (their arguments are references the handler may change).
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <ctime>
#include <list>

#include <zip.h>

namespace skelvar::mod {

class cZip : public QObject {
    Q_OBJECT
public:
    explicit cZip(QObject* parent = nullptr);

    QString ZipFile() const { return m_zipFile; }
    void setZipFile(const QString& v) { m_zipFile = v; }
    // Folder that relative patterns and entry names start from; blank
    // means the current directory.
    QString BasePath() const { return m_basePath; }
    void setBasePath(const QString& v) { m_basePath = v; }

    bool Encrypt() const { return m_encrypt; }
    void setEncrypt(bool v) { m_encrypt = v; }
    bool IncludeSystemAndHiddenFiles() const { return m_includeHidden; }
    void setIncludeSystemAndHiddenFiles(bool v) { m_includeHidden = v; }
    // Kept for completeness: there is no volume label to store here.
    bool StoreVolumeLabel() const { return m_storeVolumeLabel; }
    void setStoreVolumeLabel(bool v) { m_storeVolumeLabel = v; }
    // Yes adds an entry for every folder on the way to a stored file.
    bool StoreDirectories() const { return m_storeDirectories; }
    void setStoreDirectories(bool v) { m_storeDirectories = v; }
    // No keeps only the file's own name as the entry name.
    bool StoreFolderNames() const { return m_storeFolderNames; }
    void setStoreFolderNames(bool v) { m_storeFolderNames = v; }
    // Yes matches each pattern in the subfolders of its folder too.
    bool RecurseSubDirs() const { return m_recurse; }
    void setRecurseSubDirs(bool v) { m_recurse = v; }
    // Update: add new files, replace entries only by newer files.
    bool UpdateOnlyIfNewer() const { return m_update; }
    void setUpdateOnlyIfNewer(bool v) { m_update = v; }
    // Freshen: replace existing entries by newer files, add nothing.
    bool FreshenFiles() const { return m_freshen; }
    void setFreshenFiles(bool v) { m_freshen = v; }
    // 0 verbose, 1 quiet, 2 neither (one line per stored file).
    int MessageLevel() const;
    void setMessageLevel(int level);
    // Line-end translation of text files (files without a zero byte).
    bool ConvertCRLFToLF() const { return m_crlfToLf; }
    void setConvertCRLFToLF(bool v) { m_crlfToLf = v; }
    bool ConvertLFToCRLF() const { return m_lfToCrlf; }
    void setConvertLFToCRLF(bool v) { m_lfToCrlf = v; }
    // Yes adds to an existing archive; no writes the archive anew.
    bool AllowAppend() const { return m_append; }
    void setAllowAppend(bool v) { m_append = v; }

    void ClearFileSpecs() { m_specs.clear(); }
    void AddFileSpec(const QString& spec) { m_specs.append(spec); }
    int FileSpecCount() const { return int(m_specs.size()); }
    // 1-based; throws std::out_of_range outside 1 to FileSpecCount().
    QString FileSpec(int index) const;

    // Packs the files that the patterns name. The archive is replaced
    // only when the whole pack succeeded (libzip writes a temporary file and
    // renames it on close); on any failure the old archive stays as it was.
    // Returns false and sets LastError() when nothing or not all was packed.
    bool Zip();
    // Removes the entries whose names match the patterns.
    bool Delete();
    QString LastError() const { return m_lastError; }

signals:
    // Before each item: sMsg names it; setting bCancel stops the whole run.
    void Cancel(const QString& sMsg, bool& bCancel);
    // Once per run when Encrypt is on and no password was given yet.
    void PasswordRequest(QString& sPassword, bool& bCancel);
    // One message line; lCount is always 1.
    void Progress(int lCount, const QString& sMsg);

private:
    struct Source {
        QString path;   // file on disk
        QString entry;  // name inside the archive ("global/skelvar.scr")
        bool isDir = false;
    };
    class Collector;
    struct EntryEncryption {
        zip_uint16_t method = 0;  // ZIP_EM_NONE
        QByteArray password;
    };
    enum class AddResult { Added, Skipped, Failed };

    bool checkRequest();
    bool collect(QList<Source>& out);
    // These return null or false after fail(); abandon() discards the archive.
    zip* openArchive(int flags);
    bool abandon(zip* za, const QString& text);
    bool closeArchive(zip* za);
    bool encryption(zip* za, EntryEncryption* out);
    bool upToDate(zip* za, zip_int64_t existing, time_t mtime) const;
    AddResult addFolderEntry(zip* za, const Source& src, zip_int64_t existing);
    AddResult addFileEntry(zip* za, const Source& src, zip_int64_t existing, const EntryEncryption& crypt,
                           std::list<QByteArray>& buffers);
    void message(const QString& line);
    bool fail(const QString& text);

    QString m_zipFile, m_basePath, m_lastError;
    QStringList m_specs;
    bool m_encrypt = false, m_includeHidden = false, m_storeVolumeLabel = false;
    bool m_storeDirectories = false, m_storeFolderNames = false, m_recurse = false;
    bool m_update = false, m_freshen = false;
    bool m_verbose = false, m_quiet = false;
    bool m_crlfToLf = false, m_lfToCrlf = false, m_append = false;
};

}  // namespace skelvar::mod
