#include "cprinter.h"

#include <QByteArray>
#include <QDebug>
#include <QStringList>
#include <QThread>

#include <utility>
#include <vector>

#include "childprocess.h"
#include "portlibrary.h"
#include "printerdata.h"
#include "printerhandle.h"
#include "printuicommand.h"
#include "quayport.h"
#include "spoolerbuffer.h"
#include "spoolerenumeration.h"
#include "widetext.h"

namespace {

const int kInstallStartMs = 30000;
const int kInstallFinishMs = 300000;
const int kTestPageStartMs = 30000;
const int kTestPageFinishMs = 30000;

// A job the spooler cannot remove must not hold a remove forever.
const int kMaxPurgeRounds = 50;
const unsigned long kPurgePauseMs = 100;

const size_t kRemoveNameUnits = MAX_PATH;
const size_t kRegistryValueUnits = 260;
const DWORD kRegistryValueBytes = 260;

// The environments a driver may be installed for, most likely first.
const char *const kEnvironments[] = { "Windows x64", "Windows NT x86", "Windows IA64" };

QString cloudIdName()
{
    return QStringLiteral("CloudId");
}

QString cloudPortName()
{
    return QStringLiteral("CloudPort");
}

unsigned long ul(DWORD value)
{
    return static_cast<unsigned long>(value);
}

} // namespace

CPrinter::CPrinter(QObject *parent)
    : QObject(parent)
{
}

bool CPrinter::addCloudPrinter(const QString &printerName, const QString &portName, const QString &driverName,
    const QString &infPath, bool withInf)
{
    qDebug() << "180_CPrinter addCloudPrinter" << printerName << portName << driverName << infPath;
    if (holdsDoubleQuote({ printerName, portName, driverName, infPath })) {
        qCritical() << "CPrinter addCloudPrinter refused: a double quote would break the command line";
        return false;
    }

    const QString commandLine
        = installPrinterCommandLine(printerName, portName, driverName, infPath, withInf);
    qDebug().noquote() << "197_CPrinter cmd is" << commandLine;

    switch (ChildProcess::run(commandLine, kInstallStartMs, kInstallFinishMs)) {
    case ChildProcess::NotStarted:
        qDebug() << "202_CPrinter waitForStarted() returned false";
        return false;
    case ChildProcess::TimedOut:
        qDebug() << "207_CPrinter waitForFinished(5*60000) returned false";
        return false;
    case ChildProcess::Finished:
        break;
    }
    return true;
}

int CPrinter::SetCloudPrinterId(const QString &printerName, const QString &cloudId)
{
    qDebug() << "224_CPrinter SetCloudPrinterId" << printerName << cloudId;
    const PrinterHandle printer = openPrinter(printerName, PRINTER_ACCESS_ADMINISTER, "234_CPrinter");
    if (!printer.isOpen())
        return printer.openError() == ERROR_INVALID_PRINTER_NAME ? -1 : -2;

    // 8-bit text under REG_SZ, with one NUL: that is what the readers of this value expect.
    QByteArray bytes = cloudId.toUtf8();
    bytes.append('\0');
    std::vector<WCHAR> name = toWide(cloudIdName());
    const DWORD result = SetPrinterDataW(
        printer.get(), name.data(), REG_SZ, reinterpret_cast<LPBYTE>(bytes.data()), DWORD(bytes.size()));
    return int(result);
}

bool CPrinter::GetCloudPrinterId(const QString &printerName, QString &cloudId)
{
    qDebug() << "258_CPrinter GetCloudPrinterId" << printerName;
    const PrinterHandle printer = openPrinter(printerName, PRINTER_ACCESS_ADMINISTER, "267_CPrinter");
    if (!printer.isOpen())
        return false;

    bool ok = false;
    const QByteArray bytes = readPrinterData(printer.get(), cloudIdName(),
        { "283_CPrinter GetPrinterData error is %lu, need is %lu",
            "292_CPrinter GetPrinterData error is %lu" },
        ok);
    if (!ok)
        return false;
    const int end = bytes.indexOf('\0');
    cloudId = QString::fromUtf8(end < 0 ? bytes : bytes.left(end));
    qInfo() << "299_CPrinter GetCloudPrinterId result:" << cloudId;
    return true;
}

bool CPrinter::SetPrinterPortNum(const QString &printerName, quint16 port)
{
    qDebug() << "305_CPrinter SetPrinterPortNum" << printerName << port;
    const PrinterHandle printer = openPrinter(printerName, PRINTER_ACCESS_ADMINISTER, "314_CPrinter");
    if (!printer.isOpen())
        return false;

    BYTE bytes[2] = { BYTE(port & 0xFF), BYTE(port >> 8) };
    std::vector<WCHAR> name = toWide(cloudPortName());
    const DWORD result = SetPrinterDataW(printer.get(), name.data(), REG_BINARY, bytes, sizeof(bytes));
    qInfo() << "314_CPrinter SetPrinterPortNum result is :" << result;
    return result == ERROR_SUCCESS;
}

bool CPrinter::GetPrinterPortNum(const QString &printerName, quint16 &port)
{
    qDebug() << "333_CPrinter GetPrinterPortNum" << printerName;
    const PrinterHandle printer = openPrinter(printerName, PRINTER_ACCESS_ADMINISTER, "342_CPrinter");
    if (!printer.isOpen())
        return false;

    bool ok = false;
    const QByteArray bytes = readPrinterData(printer.get(), cloudPortName(),
        { "358_CPrinter GetPrinterData error is %lu, need is %lu",
            "367_CPrinter GetPrinterData error is %lu" },
        ok);
    if (!ok)
        return false;
    // Reading two bytes out of a shorter value would read past it.
    if (bytes.size() < 2) {
        qCritical() << "CPrinter GetPrinterPortNum value is too short:" << bytes.size();
        return false;
    }
    port = quint16(quint8(bytes.at(0)) | (quint8(bytes.at(1)) << 8));
    qInfo().noquote() << QString::asprintf(
        "373_CPrinter %s port is %d", printerName.toUtf8().constData(), int(port));
    return true;
}

bool CPrinter::GetCloudPrinterInfo(const QString &printerName, SpoolerBuffer &record)
{
    record = SpoolerBuffer();
    qDebug() << "383_CPrinter GetCloudPrinterInfo" << printerName;
    const PrinterHandle printer = openPrinter(printerName, PRINTER_ALL_ACCESS, "392_CPrinter");
    if (!printer.isOpen())
        return false;

    SpoolerBuffer read = readPrinterRecord(
        printer.get(), "402_CPrinter GetPrinter lasterror is", "411_CPrinter GetPrinterlasterror is");
    if (!read.isValid())
        return false;

    record = std::move(read);
    const PRINTER_INFO_2W *info = record.as<PRINTER_INFO_2W>();
    qInfo().noquote() << QString::asprintf("419_CPrinter GetCloudPrinterInfo printer name: %ls, port: %ls",
        percentLs(info->pPrinterName), percentLs(info->pPortName));
    return true;
}

bool CPrinter::DeletePrintJob(HANDLE printer)
{
    qDebug() << "550_CPrinter DeletePrintJob" << printer;
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    if (needed == 0) {
        qDebug() << "567_CPrinter GetPrinter failed:" << GetLastError();
        return false;
    }
    const SpoolerBuffer record(needed);
    if (!record.isValid()) {
        qDebug() << "567_CPrinter GetPrinter failed:" << ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }

    for (int round = 0;; ++round) {
        DWORD read = 0;
        if (!GetPrinterW(printer, 2, record.bytes(), record.size(), &read)) {
            qDebug() << "576_CPrinter GetPrinter failed:" << GetLastError();
            return false;
        }
        if (record.as<PRINTER_INFO_2W>()->cJobs == 0)
            return true;
        if (round == kMaxPurgeRounds) {
            qDebug() << "CPrinter DeletePrintJob gave up, jobs left:" << record.as<PRINTER_INFO_2W>()->cJobs;
            return false;
        }
        // A job that is printing right now may take a moment to leave; do not spin on it.
        if (round > 0)
            QThread::msleep(kPurgePauseMs);
        if (!SetPrinterW(printer, 0, nullptr, PRINTER_CONTROL_PURGE)) {
            qDebug() << "CPrinter DeletePrintJob purge failed:" << GetLastError();
            return false;
        }
    }
}

bool CPrinter::SetPrinterPaused(const QString &printerName, bool paused, bool *alreadyPaused)
{
    const PrinterHandle printer
        = openPrinter(printerName, PRINTER_ACCESS_ADMINISTER, "CPrinter SetPrinterPaused");
    if (!printer.isOpen())
        return false;
    if (alreadyPaused) {
        *alreadyPaused = false;
        const SpoolerBuffer record
            = readPrinterRecord(printer.get(), "CPrinter SetPrinterPaused GetPrinter lasterror is", nullptr);
        if (!record.isValid())
            return false;
        if (paused && (record.as<PRINTER_INFO_2W>()->Status & PRINTER_STATUS_PAUSED)) {
            *alreadyPaused = true;
            return true;
        }
    }
    if (!SetPrinterW(printer.get(), 0, nullptr, paused ? PRINTER_CONTROL_PAUSE : PRINTER_CONTROL_RESUME)) {
        qCritical().noquote() << QString::asprintf("CPrinter SetPrinterPaused %ls %s failed, error is %lu",
            percentLs(printerName), paused ? "pause" : "resume", ul(GetLastError()));
        return false;
    }
    qInfo().noquote() << QString::asprintf(
        "CPrinter %ls %s", percentLs(printerName), paused ? "paused" : "resumed");
    return true;
}

bool CPrinter::RemovePrinter(const QString &printerName)
{
    if (printerName.isEmpty()) {
        qDebug() << "509_CPrinter Remove printer failed, printer name is empty";
        return false;
    }
    // A name cut short to fit would open, and delete, some other printer.
    if (size_t(printerName.size()) >= kRemoveNameUnits) {
        qDebug() << "CPrinter Remove printer failed, printer name is too long:" << printerName.size();
        return false;
    }

    PrinterHandle printer(printerName, PRINTER_ALL_ACCESS);
    if (!printer.isOpen()) {
        qDebug() << "524_CPrinter OpenPrinter LastError:" << printer.openError();
        return false;
    }
    if (!DeletePrintJob(printer.get())) {
        qDebug() << "530_CPrinter DeletePrintJob failed";
        return false;
    }

    std::vector<WCHAR> name = toWide(printerName);
    name.resize(kRemoveNameUnits, 0);
    DeletePrinterConnectionW(name.data());
    if (!DeletePrinter(printer.get())) {
        qDebug() << "539_CPrinter DeletePrinter failed GetLastError:" << GetLastError();
        return false;
    }
    return true;
}

bool CPrinter::RenamePrinter(const QString &printerName, const QString &newName)
{
    qDebug() << "676_CPrinter RenamePrinter" << printerName + QLatin1Char(';') + newName;
    const PrinterHandle printer = openPrinter(printerName, PRINTER_ALL_ACCESS, "684_CPrinter");
    if (!printer.isOpen())
        return false;

    const SpoolerBuffer record = readPrinterRecord(
        printer.get(), "694_CPrinter GetPrinter getlasterror is", "704_CPrinter GetPrinter getlasterror is");
    if (!record.isValid())
        return false;

    // The new name's storage has to outlive the SetPrinterW call that reads it.
    std::vector<WCHAR> wideNewName = toWide(newName);
    record.as<PRINTER_INFO_2W>()->pPrinterName = wideNewName.data();
    if (!SetPrinterW(printer.get(), 2, record.bytes(), 0)) {
        qDebug() << "715_CPrinter SetPrinter getlasterror is" << GetLastError();
        return false;
    }
    return true;
}

void CPrinter::PrintTestPage(const QString &printerName)
{
    if (holdsDoubleQuote({ printerName })) {
        qCritical() << "CPrinter PrintTestPage refused: a double quote would break the command line"
                    << printerName;
        return;
    }
    ChildProcess::run(testPageCommandLine(printerName), kTestPageStartMs, kTestPageFinishMs);
    qDebug() << "430_CPrinter" << printerName << "PrintTestPage";
}

bool CPrinter::EnumPrinters(QList<PRINTER_INFO_2W> &printers, SpoolerBuffer &buffer)
{
    SpoolerEnumeration<PRINTER_INFO_2W> listing(
        [](LPBYTE data, DWORD size, LPDWORD needed, LPDWORD returned) {
            return ::EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, data, size, needed, returned);
        },
        "115_CPrinter EnumPrinters GetLastError() == %lu || pcbNeeded == %lu",
        "126_CPrinter EnumPrinters GetLastError() == %lu");
    if (!listing.isValid()) {
        buffer = SpoolerBuffer();
        return false;
    }
    for (const PRINTER_INFO_2W &printer : listing.records()) {
        qInfo().noquote() << QString::asprintf("134_CPrinter printer name: %ls, port: %ls",
            percentLs(printer.pPrinterName), percentLs(printer.pPortName));
        printers.append(printer);
    }
    buffer = listing.take();
    return true;
}

bool CPrinter::HasNoPrinters()
{
    DWORD needed = 0;
    DWORD returned = 0;
    // With nothing to list the size query succeeds at once and asks for no buffer.
    return ::EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned) && needed == 0;
}

bool CPrinter::EnumPorts(QList<PORT_INFO_2W> &ports, SpoolerBuffer &buffer)
{
    SpoolerEnumeration<PORT_INFO_2W> listing(
        [](LPBYTE data, DWORD size, LPDWORD needed, LPDWORD returned) {
            return ::EnumPortsW(nullptr, 2, data, size, needed, returned);
        },
        "152_CPrinter EnumPorts GetLastError() == %lu || pcbNeeded == %lu",
        "163_CPrinter EnumPorts GetLastError() == %lu");
    if (!listing.isValid()) {
        buffer = SpoolerBuffer();
        return false;
    }
    for (const PORT_INFO_2W &port : listing.records()) {
        qInfo().noquote() << QString::asprintf("171_CPrinter port name: %ls", percentLs(port.pPortName));
        ports.append(port);
    }
    buffer = listing.take();
    return true;
}

bool CPrinter::EnumPrinterDrivers(QList<DRIVER_INFO_3W> &drivers, SpoolerBuffer &buffer)
{
    SpoolerEnumeration<DRIVER_INFO_3W> listing(
        [](LPBYTE data, DWORD size, LPDWORD needed, LPDWORD returned) {
            return ::EnumPrinterDriversW(nullptr, nullptr, 3, data, size, needed, returned);
        },
        "479_CPrinter EnumPrinterDrivers GetLastError() == %lu || pcbNeeded == %lu",
        "490_CPrinter EnumPrinterDrivers GetLastError() == %lu");
    if (!listing.isValid()) {
        buffer = SpoolerBuffer();
        return false;
    }
    for (const DRIVER_INFO_3W &driver : listing.records()) {
        qInfo().noquote() << QString::asprintf("498_CPrinter driver name: %ls", percentLs(driver.pName));
        drivers.append(driver);
    }
    buffer = listing.take();
    return true;
}

QString CPrinter::GetDriverRegInfo(
    const QString &driverName, const QString &environment, const QString &valueName)
{
    if (driverName.isEmpty() || environment.isEmpty())
        return QString();

    const QString keyPath = QStringLiteral("SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\")
        + environment + QStringLiteral("\\Drivers\\Version-3\\") + driverName;
    qDebug().noquote() << "620_CPrinter GetDriverRegInfo keypath:" << keyPath;

    std::vector<WCHAR> wideKeyPath = toWide(keyPath);
    HKEY key = nullptr;
    const LSTATUS opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, wideKeyPath.data(), 0, KEY_READ, &key);
    if (opened != ERROR_SUCCESS) {
        qDebug() << "631_CPrinter RegOpenKeyEx error code:" << opened;
        return QString();
    }

    // 260 bytes offered for a 260-unit buffer: a longer value fails the read rather than overrun,
    // and the unused half keeps a terminator after whatever was read.
    std::vector<WCHAR> value(kRegistryValueUnits, 0);
    DWORD size = kRegistryValueBytes;
    DWORD type = 0;
    std::vector<WCHAR> wideValueName = toWide(valueName);
    const LSTATUS queried = RegQueryValueExW(
        key, wideValueName.data(), nullptr, &type, reinterpret_cast<LPBYTE>(value.data()), &size);
    RegCloseKey(key);
    if (queried != ERROR_SUCCESS) {
        qDebug() << "645_CPrinter RegQueryValueEx error code:" << queried;
        return QString();
    }

    const QString result = fromWide(value.data(), value.size());
    qDebug() << "653_CPrinter GetDriverRegInfo result:" << result;
    return result;
}

QString CPrinter::GetDriverVersion(const QString &driverName)
{
    QString version;
    for (const char *environment : kEnvironments) {
        version
            = GetDriverRegInfo(driverName, QString::fromLatin1(environment), QStringLiteral("DriverVersion"));
        if (!version.isEmpty())
            break;
    }
    return version;
}

PrinterHandle CPrinter::openPrinter(const QString &printerName, ACCESS_MASK access, const char *tag)
{
    PrinterHandle printer(printerName, access);
    if (!printer.isOpen()) {
        qCritical().noquote() << QString::asprintf(
            "%s OpenPrinter %ls, error is %lu", tag, percentLs(printerName), ul(printer.openError()));
    }
    return printer;
}

SpoolerBuffer CPrinter::readPrinterRecord(HANDLE printer, const char *sizeTag, const char *readTag)
{
    const DWORD needed = printerRecordSize(printer, sizeTag);
    if (needed == 0)
        return SpoolerBuffer();
    SpoolerBuffer record(needed);
    DWORD read = 0;
    if (!record.isValid() || !GetPrinterW(printer, 2, record.bytes(), record.size(), &read)) {
        if (readTag != nullptr)
            qDebug() << readTag << GetLastError();
        return SpoolerBuffer();
    }
    return record;
}

int CPrinter::addStandardTcpPort(const QString &portName, const QString &hostAddress, unsigned int portNumber)
{
    qDebug() << "23_CPrinter addStandardTcpPort" << portName << hostAddress << portNumber;
    PortLibrary library;
    if (!library.isLoaded()) {
        qCritical() << "44_CPrinter addStandardTcpPort load Quayport.dll failed";
        return -1;
    }
    auto add = library.resolve<decltype(&AddStandardTcpPort)>("AddStandardTcpPort");
    if (add == nullptr) {
        qCritical() << "32_CPrinter resolve Quayport.dll failed";
        return -1;
    }

    const std::vector<WCHAR> widePortName = toWide(portName);
    const std::vector<WCHAR> wideHostAddress = toWide(hostAddress);
    const int result = add(widePortName.data(), wideHostAddress.data(), DWORD(portNumber));
    qInfo().noquote() << QString::asprintf("38_CPrinter pAdd= %d", result);
    return result;
}

int CPrinter::GetPortInfo(const QString &portName, QString &hostAddress, quint16 &portNumber)
{
    qDebug() << "435_CPrinter GetPortInfo" << portName;
    PortLibrary library;
    if (!library.isLoaded()) {
        qCritical() << "464_CPrinter GetConfigStandardTcpPort load Quayport.dll failed";
        return -1;
    }
    auto query = library.resolve<decltype(&GetConfigStandardTcpPort)>("GetConfigStandardTcpPort");
    if (query == nullptr) {
        qCritical() << "444_CPrinter resolve Quayport.dll failed";
        return -1;
    }

    const std::vector<WCHAR> widePortName = toWide(portName);
    std::vector<WCHAR> host(QuayportHostBufferUnits, 0);
    DWORD number = 0;
    const int result = query(widePortName.data(), host.data(), &number);
    qInfo().noquote() << QString::asprintf("453_CPrinter pf()= %d", result);
    if (result == 0) {
        hostAddress = fromWide(host.data(), host.size());
        portNumber = quint16(number & 0xFFFF);
    }
    return result;
}
