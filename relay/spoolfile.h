#ifndef SPOOLFILE_H
#define SPOOLFILE_H

#include <QString>

class QFile;

// Writes what the file holds through to the disk (not only to the system's cache).
bool syncToDisk(QFile &file);
// Renames a finished spool file to its final name and makes the rename itself durable.
bool publishSpoolFile(const QString &partialPath, const QString &spoolPath);

#endif // SPOOLFILE_H
