#include "spoolerfixture.h"

#include "cprinter.h"
#include "testprinters.h"
#include "widetext.h"
#include "win32.h"
#include "winsim/winsimcontrol.h"

#include <QTcpSocket>

#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace SpoolerFixture {

bool freshMachineWithDriver()
{
    return winsim::reset()
        && winsim::installDriver(TestPrinters::kDriver, TestPrinters::kEnvironment, TestPrinters::kVersion);
}

bool addMonitorPort(const QString &name, unsigned number)
{
    PRINTER_DEFAULTSW defaults { nullptr, nullptr, SERVER_ACCESS_ADMINISTER };
    std::vector<WCHAR> monitor = toWide(QStringLiteral(",XcvMonitor Standard TCP/IP Port"));
    HANDLE xcv = nullptr;
    if (!OpenPrinterW(monitor.data(), &xcv, &defaults))
        return false;
    PORT_DATA_1 data;
    std::memset(&data, 0, sizeof data);
    const std::vector<WCHAR> portName = toWide(name);
    const std::vector<WCHAR> host = toWide(QStringLiteral("127.0.0.1"));
    std::copy(portName.begin(), portName.end(), data.sztPortName);
    std::copy(host.begin(), host.end(), data.sztHostAddress);
    data.dwVersion = 1;
    data.dwProtocol = PROTOCOL_RAWTCP_TYPE;
    data.cbSize = sizeof data;
    data.dwPortNumber = number;
    std::vector<WCHAR> command = toWide(QStringLiteral("AddPort"));
    DWORD needed = 0;
    DWORD status = 1;
    const BOOL ok = XcvDataW(
        xcv, command.data(), reinterpret_cast<PBYTE>(&data), sizeof data, nullptr, 0, &needed, &status);
    ClosePrinter(xcv);
    return ok && status == 0;
}

bool addPrinterOnPort(const QString &printer, const QString &port, unsigned number)
{
    return addMonitorPort(port, number)
        && winsim::addPrinter(printer.toStdString(), port.toStdString(), TestPrinters::kDriver);
}

bool addCloudPrinter(const QString &printer, int index, const QString &serial)
{
    const QString port = QStringLiteral("REDadez%1").arg(index, 3, 10, QLatin1Char('0'));
    if (!addPrinterOnPort(printer, port, unsigned(8100 + index)))
        return false;
    if (serial.isEmpty())
        return true;
    CPrinter spooler;
    return spooler.SetCloudPrinterId(printer, serial) == 0
        && spooler.SetPrinterPortNum(printer, quint16(8100 + index));
}

QString cloudSerial(const QString &printer)
{
    QString serial;
    CPrinter().GetCloudPrinterId(printer, serial);
    return serial;
}

quint32 printJob(
    const QString &printer, const QString &document, const QByteArray &data, const QDateTime &submittedUtc)
{
    if (!leaveSpoolingToSpooler())
        return 0;
    std::optional<std::string> name;
    if (!document.isNull())
        name = document.toStdString();
    const std::vector<uint8_t> bytes(data.begin(), data.end());
    return winsim::submitJob(
        printer.toStdString(), name, bytes, submittedUtc.isValid() ? submittedUtc.toMSecsSinceEpoch() : -1);
}

bool playSpooler()
{
    return winsim::nameSpoolerProcess(GetCurrentProcessId());
}

bool leaveSpoolingToSpooler()
{
    return winsim::nameSpoolerProcess(0);
}

void endJob(QTcpSocket *spooler)
{
    spooler->flush();
    spooler->waitForBytesWritten(30000);
    ::shutdown(int(spooler->socketDescriptor()), SHUT_WR);
}

} // namespace SpoolerFixture
