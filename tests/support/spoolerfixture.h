#ifndef SPOOLERFIXTURE_H
#define SPOOLERFIXTURE_H

#include <QString>

// Printers and ports set up in winsim the way an administrator (or an earlier run) would leave them.
namespace SpoolerFixture {

// A Standard TCP/IP port aimed at 127.0.0.1 and `number`, created through the port monitor.
bool addMonitorPort(const QString &name, unsigned number);

// A cloud printer of the supported driver (which must be installed) on port REDadez<index> aimed at
// 8100 + index; with a serial, it is stored as the printer's CloudId, and the port number as its
// CloudPort.
bool addCloudPrinter(const QString &printer, int index, const QString &serial = QString());

} // namespace SpoolerFixture

#endif // SPOOLERFIXTURE_H
