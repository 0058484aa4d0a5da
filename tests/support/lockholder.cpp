// Takes the lock of the list file named on its command line, says "locked" and
// holds it until it is killed (or a minute passes), as a writer that hangs or
// dies while holding the lock would.
#include "lists/fileaccess.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    skelvar::lists::FileLock lock(QString::fromLocal8Bit(argv[1]));
    if (!lock.lock(5000))
        return 1;
    std::puts("locked");
    std::fflush(stdout);
    QThread::sleep(60);
    return 0;
}
