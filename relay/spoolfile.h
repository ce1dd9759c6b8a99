#ifndef SPOOLFILE_H
#define SPOOLFILE_H

#include <QString>
#include <QStringList>

class QFile;

// Writes what the file holds through to the disk (not only to the system's cache).
bool syncToDisk(QFile &file);
// Writes what the file at `path` holds through to the disk; true when there is no such file.
// Safe from any thread: the file is opened afresh, beside whoever else has it open.
bool syncFileToDisk(const QString &path);
// Renames a finished spool file to its final name and makes the rename itself durable.
bool publishSpoolFile(const QString &partialPath, const QString &spoolPath);

// Deletes the files one after the other on a pooled thread and returns at once: unlinking a job of
// many megabytes can wait on the file system for tens of milliseconds, and the window's thread,
// which finishes jobs, must not. A file that cannot be deleted is logged; a later prune finds it.
void deleteFilesInBackground(const QStringList &paths);

#endif // SPOOLFILE_H
