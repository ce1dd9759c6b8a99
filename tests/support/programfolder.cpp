#include "programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace {

const char kPortLibrary[] = "libQuayport.so";

bool copyReplacing(const QString &from, const QString &to)
{
    QFile::remove(to);
    return QFile::copy(from, to);
}

} // namespace

namespace ProgramFolder {

QString portLibraryPath()
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(kPortLibrary);
}

bool install()
{
    const QDir program(QCoreApplication::applicationDirPath());
    const QDir built(QStringLiteral(COURIER_BIN_DIR));
    if (!copyReplacing(built.filePath(QLatin1String(kPortLibrary)), portLibraryPath()))
        return false;
    if (!program.mkpath(QStringLiteral("Driver")) || !program.mkpath(QStringLiteral("logs"))
        || !program.mkpath(QStringLiteral("details")))
        return false;
    const QDir driver(built.filePath(QStringLiteral("Driver")));
    for (const QString &name : driver.entryList(QDir::Files)) {
        if (!copyReplacing(driver.filePath(name), program.filePath(QStringLiteral("Driver/")) + name))
            return false;
    }
    return true;
}

bool removePortLibrary()
{
    return QFile::remove(portLibraryPath());
}

} // namespace ProgramFolder
