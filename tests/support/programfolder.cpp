#include "programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const char kPortLibrary[] = "libQuayport.so";

bool copyReplacing(const QString &from, const QString &to)
{
    QFile::remove(to);
    return QFile::copy(from, to);
}

// The files an installation has beside the program, except the program itself.
bool installBeside(const QDir &program)
{
    const QDir built(QStringLiteral(COURIER_BIN_DIR));
    if (!copyReplacing(
            built.filePath(QLatin1String(kPortLibrary)), program.filePath(QLatin1String(kPortLibrary))))
        return false;
    for (const char *folder : { "Driver", "logs", "details" }) {
        if (!program.mkpath(QLatin1String(folder)))
            return false;
    }
    const QDir driver(built.filePath(QStringLiteral("Driver")));
    for (const QString &name : driver.entryList(QDir::Files)) {
        if (!copyReplacing(driver.filePath(name), program.filePath(QStringLiteral("Driver/")) + name))
            return false;
    }
    return true;
}

} // namespace

namespace ProgramFolder {

QString path()
{
    return QCoreApplication::applicationDirPath();
}

QString filePath(const QString &name)
{
    return QDir(path()).filePath(name);
}

bool install()
{
    return installBeside(QDir(path()));
}

QProcessEnvironment ownSessionEnvironment(const QString &folder)
{
    const QString temp = folder + QStringLiteral("/tmp");
    QDir().mkpath(temp);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), temp);
    return environment;
}

bool installProgram(const QString &folder)
{
    const QDir program(folder);
    if (!program.mkpath(QStringLiteral(".")) || !installBeside(program))
        return false;
    const QString target = program.filePath(QStringLiteral("PrintCourier"));
    return copyReplacing(QStringLiteral(COURIER_BIN_DIR "/PrintCourier"), target)
        && QFile::setPermissions(target, QFile::permissions(target) | QFile::ExeOwner);
}

bool remove(const QString &name)
{
    const QString target = filePath(name);
    QFile::remove(target);
    return !QFileInfo(target).isSymLink() && !QFileInfo::exists(target);
}

bool removePortLibrary()
{
    return remove(QLatin1String(kPortLibrary));
}

bool linkFile(const QString &target, const QString &name)
{
    return remove(name) && QFile::link(target, filePath(name));
}

bool link(const QString &fromBin, const QString &name)
{
    return linkFile(QStringLiteral(COURIER_BIN_DIR "/") + fromBin, name);
}

bool placePortLibrary()
{
    return link(QLatin1String(kPortLibrary), QLatin1String(kPortLibrary));
}

QString driverInfPath()
{
    return path() + QStringLiteral("\\Driver\\VarnPtr.INF");
}

bool writeFakeRundll32(const QString &script)
{
    QFile file(filePath(QStringLiteral("RUNDLL32")));
    if (!remove(QStringLiteral("RUNDLL32")) || !file.open(QIODevice::WriteOnly))
        return false;
    file.write(QByteArrayLiteral("#!/bin/sh\n") + script.toUtf8() + '\n');
    file.close();
    return file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

} // namespace ProgramFolder
