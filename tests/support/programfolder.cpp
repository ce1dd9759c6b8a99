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

bool installInto(const QDir &program)
{
    const QDir built(QStringLiteral(COURIER_BIN_DIR));
    if (!copyReplacing(built.filePath(QLatin1String(kPortLibrary)), program.filePath(QLatin1String(kPortLibrary))))
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

bool install()
{
    return installInto(QDir(QCoreApplication::applicationDirPath()));
}

bool installProgram(const QString &folder)
{
    const QDir program(folder);
    if (!program.mkpath(QStringLiteral(".")) || !installInto(program))
        return false;
    const QString target = program.filePath(QStringLiteral("PrintCourier"));
    return copyReplacing(QStringLiteral(COURIER_BIN_DIR "/PrintCourier"), target)
        && QFile::setPermissions(target, QFile::permissions(target) | QFile::ExeOwner);
}

bool removePortLibrary()
{
    return QFile::remove(portLibraryPath());
}

} // namespace ProgramFolder
