#ifndef PROGRAMSTATE_H
#define PROGRAMSTATE_H

#include <QString>
#include <QStringList>

// What the program leaves behind for others to see: its record of printers and its open ports.
namespace ProgramState {

// The rows of task.db in the working folder, oldest first, each the given columns joined by "|",
// read through a connection of the test's own.
QStringList storedRows(const QString &columns = QStringLiteral("printer_name, cloud_sn, port_num"));

// Whether anything takes connections on the loopback port. Only for ports that should be closed: on
// a printer's open port the probe would be a job.
bool acceptsConnections(quint16 port);

} // namespace ProgramState

#endif // PROGRAMSTATE_H
