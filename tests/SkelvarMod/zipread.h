#pragma once
// Reads a zip archive back with libzip: entry name -> content, in archive order.
#include <QByteArray>
#include <QFile>
#include <QList>
#include <QPair>
#include <QString>

#include <zip.h>

namespace modtest {

struct ZipContent {
    bool opened = false;
    QList<QPair<QString, QByteArray>> entries;
    QStringList names() const
    {
        QStringList n;
        for (const auto& e : entries)
            n.append(e.first);
        return n;
    }
    QByteArray content(const QString& name) const
    {
        for (const auto& e : entries)
            if (e.first == name)
                return e.second;
        return {};
    }
};

inline ZipContent readZip(const QString& path, const char* password = nullptr)
{
    ZipContent out;
    int err = 0;
    zip_t* za = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &err);
    if (!za)
        return out;
    if (password)
        zip_set_default_password(za, password);
    out.opened = true;
    const zip_int64_t n = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        zip_stat_index(za, zip_uint64_t(i), 0, &st);
        QByteArray data;
        if (zip_file_t* f = zip_fopen_index(za, zip_uint64_t(i), 0)) {
            data.resize(qsizetype(st.size));
            const zip_int64_t got = zip_fread(f, data.data(), st.size);
            data.resize(got < 0 ? 0 : qsizetype(got));
            zip_fclose(f);
        } else {
            data = "<unreadable>";
        }
        out.entries.append({QString::fromUtf8(st.name), data});
    }
    zip_close(za);
    return out;
}

}  // namespace modtest
