#ifndef CPRINTER_H
#define CPRINTER_H

#include <QList>
#include <QObject>
#include <QString>

#include "spoolerbuffer.h"
#include "win32.h"

class PrinterHandle;

// The program's one way into the local print spooler, the driver registry and the port library.
// Every operation opens what it needs, closes it before returning, logs, and reports by its result;
// none keeps state, so any thread may call any of them at any time.
class CPrinter : public QObject
{
    Q_OBJECT

public:
    explicit CPrinter(QObject *parent = nullptr);

    // Creates the printer through PRINTUI (installing the driver from infPath when withInf is set).
    // True when the installer ran to its end in time; its exit code says nothing reliable, so
    // callers check the printer afterwards. False also when a text holds a double quote.
    bool addCloudPrinter(const QString &printerName, const QString &portName, const QString &driverName,
        const QString &infPath, bool withInf);

    // 0, or the error of storing the value; -1 no printer of that name; -2 the open failed otherwise.
    int SetCloudPrinterId(const QString &printerName, const QString &cloudId);
    bool GetCloudPrinterId(const QString &printerName, QString &cloudId);
    bool SetPrinterPortNum(const QString &printerName, quint16 port);
    bool GetPrinterPortNum(const QString &printerName, quint16 &port);

    // On true record holds the printer's PRINTER_INFO_2W (record.as<PRINTER_INFO_2W>()) and the texts
    // it points to; on false record is empty.
    bool GetCloudPrinterInfo(const QString &printerName, SpoolerBuffer &record);

    // Purges every job of an open printer.
    bool DeletePrintJob(HANDLE printer);
    // Pauses or resumes the printer's queue: a paused printer keeps its jobs and sends none. A
    // pause finds out first whether someone else paused the printer already (and then leaves it).
    bool SetPrinterPaused(const QString &printerName, bool paused, bool *alreadyPaused = nullptr);
    bool RemovePrinter(const QString &printerName);
    bool RenamePrinter(const QString &printerName, const QString &newName);
    void PrintTestPage(const QString &printerName);

    // On true the records' texts point into buffer, which the caller keeps as long as it uses the list.
    bool EnumPrinters(QList<PRINTER_INFO_2W> &printers, SpoolerBuffer &buffer);
    // Whether the spooler says it has no local printer at all: EnumPrinters fails for such a
    // spooler too, and a caller may need to tell that apart from a listing that went wrong.
    bool HasNoPrinters();
    bool EnumPorts(QList<PORT_INFO_2W> &ports, SpoolerBuffer &buffer);
    bool EnumPrinterDrivers(QList<DRIVER_INFO_3W> &drivers, SpoolerBuffer &buffer);

    // Empty on any failure.
    QString GetDriverRegInfo(const QString &driverName, const QString &environment, const QString &valueName);
    // The installed driver's "DriverVersion", looked for in each print environment in turn.
    QString GetDriverVersion(const QString &driverName);

    // The port library's result code, or -1 when the library or its export is missing.
    int addStandardTcpPort(const QString &portName, const QString &hostAddress, unsigned int portNumber);
    // As above; hostAddress and portNumber change only on 0.
    int GetPortInfo(const QString &portName, QString &hostAddress, quint16 &portNumber);

private:
    // Opens the printer; when that fails, logs "<tag> OpenPrinter <name>, error is <error>" at
    // critical level and hands back a handle that is not open (its openError() says why).
    static PrinterHandle openPrinter(const QString &printerName, ACCESS_MASK access, const char *tag);
    // The printer's level-2 record in a buffer of the size the spooler asks for; empty on failure,
    // after logging the size query's failure with sizeTag or the read's with readTag (when given).
    static SpoolerBuffer readPrinterRecord(HANDLE printer, const char *sizeTag, const char *readTag);
};

#endif // CPRINTER_H
