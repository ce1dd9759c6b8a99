#ifndef PROGRAMFOLDER_H
#define PROGRAMFOLDER_H

#include <QString>

// A test executable's own folder is "the program's folder" for the code under test: what the
// program finds beside itself (the port library, Driver/, RUNDLL32) is linked or written there.
namespace ProgramFolder {

QString path();
QString filePath(const QString &name);

// Links build/bin/<fromBin> into the folder as <name> (replacing what was there).
bool link(const QString &fromBin, const QString &name);
// Links the file at an absolute path into the folder as <name>.
bool linkFile(const QString &target, const QString &name);
// Places the port library beside the program under the name the program loads.
bool placePortLibrary();
// Removes <name> from the folder; true when it is gone.
bool remove(const QString &name);

// The driver INF as the add worker names it: the program's folder, "\Driver\VarnPtr.INF".
QString driverInfPath();

// An executable shell script named RUNDLL32 beside the program, found before the stand-in.
bool writeFakeRundll32(const QString &script);

} // namespace ProgramFolder

#endif // PROGRAMFOLDER_H
