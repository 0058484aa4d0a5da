#pragma once

// Tests that need a read-only folder or an unreadable file must also work when
// they run as root, which ignores permission bits. While a HonourPermissions
// lives, the process gives up (in its effective set only) the two
// capabilities that let root bypass them, so chmod means what it says.

#include <QDir>
#include <QFile>
#include <QString>

#ifdef __linux__
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

class HonourPermissions {
public:
    HonourPermissions()
    {
#ifdef __linux__
        if (syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        m_dropped = syscall(SYS_capset, &m_header, reduced) == 0;
#endif
    }
    ~HonourPermissions()
    {
#ifdef __linux__
        if (m_dropped)
            syscall(SYS_capset, &m_header, m_saved);
#endif
    }
    HonourPermissions(const HonourPermissions&) = delete;
    HonourPermissions& operator=(const HonourPermissions&) = delete;

    // True when a folder made read-only really refuses a new file.
    static bool effective(const QString& scratchFolder)
    {
        const QString probe = QDir(scratchFolder).filePath(QStringLiteral("probe-ro"));
        QDir().mkpath(probe);
        QFile::setPermissions(probe, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        QFile f(probe + QStringLiteral("/x"));
        const bool refused = !f.open(QIODevice::WriteOnly);
        f.close();
        QFile::setPermissions(probe, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QFile::remove(probe + QStringLiteral("/x"));
        QDir().rmdir(probe);
        return refused;
    }

private:
#ifdef __linux__
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
#endif
    bool m_dropped = false;
};
