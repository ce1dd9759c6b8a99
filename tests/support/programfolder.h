#ifndef PROGRAMFOLDER_H
#define PROGRAMFOLDER_H

#include <QProcessEnvironment>
#include <QString>

// A test executable's own folder is "the program's folder" for the code under test: what the
// program finds beside itself (the port library, Driver/, RUNDLL32, logs/, details/) is put there.
namespace ProgramFolder {

QString path();
QString filePath(const QString &name);

// Copies the port library and Driver/ from the build's program folder and makes logs/ and details/.
bool install();
// Lays out a program folder of its own at `folder`: the program, the port library, Driver/, logs/
// and details/, as an installation has them. A copy of the program there is an instance of its own.
bool installProgram(const QString &folder);

// The environment for a copy of the program that must be the only instance of its own: one logon
// session's programs find each other through the temporary folder, so it gets one of its own
// (`folder`/tmp). Copies started with the same folder are one program, as on one desktop.
QProcessEnvironment ownSessionEnvironment(const QString &folder);

// Links build/bin/<fromBin> into the folder as <name> (replacing what was there).
bool link(const QString &fromBin, const QString &name);
// Links the file at an absolute path into the folder as <name>.
bool linkFile(const QString &target, const QString &name);
// Places the port library beside the program under the name the program loads.
bool placePortLibrary();
// Removes <name> from the folder; true when it is gone.
bool remove(const QString &name);
bool removePortLibrary();

// The driver INF as the add worker names it: the program's folder, "\Driver\VarnPtr.INF".
QString driverInfPath();

// An executable shell script named RUNDLL32 beside the program, found before the stand-in.
bool writeFakeRundll32(const QString &script);

} // namespace ProgramFolder

#endif // PROGRAMFOLDER_H
