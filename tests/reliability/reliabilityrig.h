#ifndef RELIABILITYRIG_H
#define RELIABILITYRIG_H

#include "figures.h"
#include "jobaccount.h"
#include "programwaits.h"

#include <QByteArrayList>
#include <QList>
#include <QString>
#include <QStringList>

class CloudSimProcess;
class DriverItem;
class PortWatch;
class PrinterServer;
class TolMainWindow;

// What the reliability suites share: finding the assembled window's parts, reading back what the
// service stand-in, the detail files and task.db hold, and the leak checks every case ends with.
namespace Rig {

// Printers the suites set up themselves use port indices from 901 on (ports 9001 and up), away
// from the ones other suites use; printers added from the form take the lowest free index, as the
// program chooses.
constexpr int kFirstIndex = 901;
constexpr quint16 portOfIndex(int index)
{
    return quint16(8100 + index);
}

// A suite's start: the program's folder beside the suite, the service stand-in running with every
// device online and results final at the first query, and the program pointed at it with the
// suite's waits (those of `waits` but the service address).
bool startSuite(CloudSimProcess &sim, ProgramWaits waits = ProgramWaits());
// The waits startSuite set, the stand-in's address among them.
ProgramWaits suiteWaits();
// The program pointed at another service for the rest of the case, its waits left as they are.
void useService(const QString &base);

// A case's start: the suite's waits again, whatever the case before changed; the stand-in holding
// no jobs, and a freshly installed spooler with the supported driver.
bool freshCase(CloudSimProcess &sim);

// A cloud printer (see SpoolerFixture::addCloudPrinter) whose serial has no job records yet.
bool addUnusedPrinter(const QString &printer, int index, const QString &serial);

// freshCase() with one cloud printer of the suite's own on the first of its ports.
bool freshCaseWithPrinter(CloudSimProcess &sim, const QString &printer, const QString &serial);

// A suite's end: no printer left for a despooler to keep trying, the program's waits as built.
void endSuite();
// The same, then the suite's figures written under its name and title; false when they could not be.
bool endSuite(Figures &figures, const QString &name, const QString &title);

// The messages the add worker and the window may show for an add, by the program's own table.
QStringList addMessages();

// The spooler's printers, by name.
QStringList spoolerPrinters();

// The cards of the window's list, top to bottom.
QList<DriverItem *> cards(TolMainWindow &window);

// Waits until the window's start-up work in the background (the port report) is over, so that a
// fault injected afterwards meets the call a scenario makes, not one of the report's.
bool waitForBackgroundStart(TolMainWindow &window);

// Waits until every listener of the window listens. One that found its port still held (by a
// listener of the case before, on a loaded machine) pauses its printer and resumes it once it has
// the port; spooler calls a fault sweep would count as the scenario's.
bool waitForListeners(TolMainWindow &window);

// The listener that serves a card's printer (a child of the window or of the card).
PrinterServer *serverFor(TolMainWindow &window, DriverItem *card);

// Today's job records of a printer, each split into its fields by the history dialog's own parser.
QList<QStringList> records(const QString &serial);

// The bytes of every job the service stand-in has been sent, oldest first.
QList<QByteArray> serviceJobData(CloudSimProcess &sim);

// A job printed from an application goes through the printer as usual: the stand-in, reset first,
// receives it alone, and the serial's records, recordsBefore of them so far, gain one of it reading
// "打印成功" and no other. Fails the running test otherwise.
void jobGoesThrough(CloudSimProcess &sim, const QString &printer, const QString &serial, const SentJob &job,
    int recordsBefore);

// A loopback port that nothing listens on: connections to it are refused.
quint16 deadPort();

// Waits until no object that only lives for one job (receivers, cloud clients, network replies,
// result pollers, workers) is left. Returns the leftovers when some are still there.
QString waitForJobObjectsGone(int timeoutMs = 10000);

// A case leaves nothing behind: no object of a job and no spooler handle open. Fails the running
// test otherwise.
void nothingLeftBehind();

// Waits until the printer's port is free again after its jobs.
bool waitForPortFree(PortWatch &watch);

// The account of a case's jobs against what the stand-in received and the serial's records.
Figures::Row accountCase(CloudSimProcess &sim, const QList<SentJob> &sent, const QString &serial);

// Waits until the printer's port is free, then notes in the row how long it stayed busy after a
// job's outcome at most. False when it stays busy.
bool settle(PortWatch &watch, Figures::Row &row);

// Ends a case whose jobs are all done: the port free, no object of a job left, and the row closed
// into the figures. Fails the running test otherwise.
void closeCase(Figures &figures, const Figures::Row &row, PortWatch &watch);

// A row for what a case tried and how it came out, with the spooler handles still open.
void addRow(Figures &figures, Figures::Row row);

// A job's bytes that say which job they are: they start with the tag and run to size bytes of a
// pattern that differs from job to job.
QByteArray jobBytes(const QString &tag, int size);

} // namespace Rig

#endif // RELIABILITYRIG_H
