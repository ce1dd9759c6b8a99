#ifndef SPOOLERFIXTURE_H
#define SPOOLERFIXTURE_H

#include <QByteArray>
#include <QDateTime>
#include <QString>

class QTcpSocket;

// Printers and ports set up in winsim the way an administrator (or an earlier run) would leave them.
namespace SpoolerFixture {

// A freshly installed machine with the supported driver and no printers.
bool freshMachineWithDriver();

// A Standard TCP/IP port aimed at 127.0.0.1 and `number`, created through the port monitor.
bool addMonitorPort(const QString &name, unsigned number);

// A printer of the supported driver (which must be installed) on a new Standard TCP/IP port aimed
// at 127.0.0.1 and `number`.
bool addPrinterOnPort(const QString &printer, const QString &port, unsigned number);

// A cloud printer of the supported driver (which must be installed) on port REDadez<index> aimed at
// 8100 + index; with a serial, it is stored as the printer's CloudId, and the port number as its
// CloudPort.
bool addCloudPrinter(const QString &printer, int index, const QString &serial = QString());

// The serial the spooler keeps as the printer's CloudId; empty when it has none.
QString cloudSerial(const QString &printer);

// Prints a job as an application would: queued with the document name (none when null) and the
// submission time (now when invalid), then sent by the spooler to the printer's port. Returns the
// job id, 0 on failure.
quint32 printJob(const QString &printer, const QString &document, const QByteArray &data,
    const QDateTime &submittedUtc = QDateTime());

// The program lets only the spooler's process print. A test that plays the spooler with its own
// sockets names itself the spooler first; printJob hands the role back to winsim's own spooler,
// which sends the job.
bool playSpooler();
bool leaveSpoolingToSpooler();

// Ends a job the way the spooler does: its side of the connection is shut for sending and stays
// open until the program closes its own (a socket closed at once would have no owner to check).
void endJob(QTcpSocket *spooler);

} // namespace SpoolerFixture

#endif // SPOOLERFIXTURE_H
