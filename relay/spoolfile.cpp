#include "spoolfile.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

bool syncToDisk(QFile &file)
{
    if (!file.flush())
        return false;
#ifdef _WIN32
    return _commit(file.handle()) == 0;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

bool syncFileToDisk(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        return !file.exists();
    return syncToDisk(file);
}

bool publishSpoolFile(const QString &partialPath, const QString &spoolPath)
{
    QFile::remove(spoolPath);
    if (!QFile::rename(partialPath, spoolPath)) {
        qCritical().noquote() << "spool: cannot rename" << partialPath << "to" << spoolPath;
        return false;
    }
#ifndef _WIN32
    // The new name lives in the folder; without this a power cut may bring back the old one.
    const QByteArray folder = QFile::encodeName(QFileInfo(spoolPath).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#endif
    return true;
}

void deleteFilesInBackground(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    QThreadPool::globalInstance()->start([paths] {
        for (const QString &path : paths) {
            if (!QFile::remove(path) && QFile::exists(path))
                qWarning().noquote() << "spool: cannot delete" << path;
        }
    });
}
