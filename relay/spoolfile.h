#ifndef SPOOLFILE_H
#define SPOOLFILE_H

#include <QString>

class QFile;

// Writes what the file holds through to the disk (not only to the system's cache).
bool syncToDisk(QFile &file);
// Writes what the file at `path` holds through to the disk; true when there is no such file.
// Safe from any thread: the file is opened afresh, beside whoever else has it open.
bool syncFileToDisk(const QString &path);
// Renames a finished spool file to its final name and makes the rename itself durable.
bool publishSpoolFile(const QString &partialPath, const QString &spoolPath);

#endif // SPOOLFILE_H
