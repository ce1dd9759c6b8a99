#ifndef PROGRAMFOLDER_H
#define PROGRAMFOLDER_H

#include <QString>

// A test executable's own folder stands in for the program's folder: the files that lie beside the
// installed program (the port library, the driver package, logs/ and details/) are put there.
namespace ProgramFolder {

// Copies the port library and Driver/ from the build's program folder and makes logs/ and details/.
bool install();

// The port library beside the test executable, and the file name it has when taken away.
QString portLibraryPath();
bool removePortLibrary();

// Lays out a program folder of its own at `folder`: the program, the port library, Driver/, logs/
// and details/, as an installation has them. A copy of the program there is an instance of its own.
bool installProgram(const QString &folder);

} // namespace ProgramFolder

#endif // PROGRAMFOLDER_H
