#include "programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace ProgramFolder {

QString path()
{
    return QCoreApplication::applicationDirPath();
}

QString filePath(const QString &name)
{
    return QDir(path()).filePath(name);
}

bool remove(const QString &name)
{
    const QString target = filePath(name);
    QFile::remove(target);
    return !QFileInfo(target).isSymLink() && !QFileInfo::exists(target);
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
    return link(QStringLiteral("libQuayport.so"), QStringLiteral("libQuayport.so"));
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
