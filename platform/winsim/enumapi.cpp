// Enumerations of the local machine's printers, ports and installed printer drivers.
#include "apicall.h"
#include "printerinfo.h"
#include "spoolerstate.h"
#include "textcodec.h"

using namespace winsim;

namespace {

constexpr DWORD kEnumName = 0x00000008; // PRINTER_ENUM_NAME: with no name, the local machine
constexpr DWORD kPortTypeWrite = 0x1;

// Checks shared by the enumerations; false (with the last error set) when the call cannot go on.
bool enumArgumentsValid(
    LPWSTR name, DWORD level, DWORD wantedLevel, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned)
{
    if (!needed || !returned)
        return fail(ERROR_INVALID_PARAMETER);
    if (level != wantedLevel)
        return fail(ERROR_INVALID_LEVEL);
    if (!buffer && size)
        return fail(ERROR_INVALID_USER_BUFFER);
    // Other machines are not reachable from here.
    if (name && *name)
        return fail(ERROR_INVALID_NAME);
    *returned = 0;
    return true;
}

std::u16string driverFile(const Environment &environment, const std::string &file)
{
    return toUtf16(
        std::string("C:\\Windows\\system32\\spool\\DRIVERS\\") + environment.directory + "\\3\\" + file);
}

struct DriverTexts
{
    std::u16string name, environment, driverPath, dataFile, configFile, helpFile, datatype;
    std::vector<std::u16string> dependentFiles;
};

DriverTexts driverTexts(const DriverRow &row)
{
    const Environment &environment = *findEnvironment(row.environment);
    DriverTexts t;
    t.name = toUtf16(row.name);
    t.environment = toUtf16(environment.name);
    t.driverPath = driverFile(environment, "UNIDRV.DLL");
    t.dataFile = driverFile(environment, row.dataFile);
    t.configFile = driverFile(environment, "UNIDRVUI.DLL");
    t.helpFile = driverFile(environment, "UNIDRV.HLP");
    t.datatype = u"RAW";
    for (const char *file : { "UNIRES.DLL", "STDNAMES.GPD", "STDDTYPE.GDL", "STDSCHEM.GDL", "STDSCHMX.GDL" })
        t.dependentFiles.push_back(driverFile(environment, file));
    return t;
}

} // namespace

extern "C" {

BOOL WINAPI EnumPrintersW(DWORD Flags, LPWSTR Name, DWORD Level, LPBYTE pPrinterEnum, DWORD cbBuf,
    LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    return boolCall("EnumPrintersW", [&]() -> BOOL {
        if (!enumArgumentsValid(Name, Level, 2, pPrinterEnum, cbBuf, pcbNeeded, pcReturned))
            return FALSE;
        Transaction tx(Transaction::Read);
        std::vector<PrinterView> views;
        // Connections and network printers do not exist here, so only the local flags list anything.
        if (Flags & (PRINTER_ENUM_LOCAL | kEnumName))
            for (const auto &row : printers(tx))
                views.push_back(printerView(tx, row));
        size_t needed = 0;
        for (const auto &view : views)
            needed += printerInfo2Size(view);
        *pcbNeeded = DWORD(needed);
        if (cbBuf < needed)
            return fail(ERROR_INSUFFICIENT_BUFFER);
        RecordPacker packer(pPrinterEnum, cbBuf);
        for (size_t i = 0; i < views.size(); ++i)
            packPrinterInfo2(packer, i, views[i]);
        *pcReturned = DWORD(views.size());
        return TRUE;
    });
}

BOOL WINAPI EnumPortsW(
    LPWSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    return boolCall("EnumPortsW", [&]() -> BOOL {
        if (!enumArgumentsValid(pName, Level, 2, pPorts, cbBuf, pcbNeeded, pcReturned))
            return FALSE;
        Transaction tx(Transaction::Read);
        const std::vector<PortRow> rows = ports(tx);
        size_t needed = 0;
        for (const auto &row : rows)
            needed += sizeof(PORT_INFO_2W) + RecordPacker::textSize(toUtf16(row.name))
                + 2 * RecordPacker::textSize(toUtf16(row.monitor));
        *pcbNeeded = DWORD(needed);
        if (cbBuf < needed)
            return fail(ERROR_INSUFFICIENT_BUFFER);
        RecordPacker packer(pPorts, cbBuf);
        for (size_t i = 0; i < rows.size(); ++i) {
            PORT_INFO_2W info {};
            info.pPortName = packer.place(toUtf16(rows[i].name));
            info.pMonitorName = packer.place(toUtf16(rows[i].monitor));
            info.pDescription = packer.place(toUtf16(rows[i].monitor));
            info.fPortType = kPortTypeWrite;
            packer.writeRecord(i, &info, sizeof info);
        }
        *pcReturned = DWORD(rows.size());
        return TRUE;
    });
}

BOOL WINAPI EnumPrinterDriversW(LPWSTR pName, LPWSTR pEnvironment, DWORD Level, LPBYTE pDriverInfo,
    DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    return boolCall("EnumPrinterDriversW", [&]() -> BOOL {
        if (!enumArgumentsValid(pName, Level, 3, pDriverInfo, cbBuf, pcbNeeded, pcReturned))
            return FALSE;
        const Environment *environment = findEnvironment(kMachineEnvironment);
        if (pEnvironment && *pEnvironment) {
            const std::string wanted = toUtf8(pEnvironment);
            environment = foldedKey(wanted) == "ALL" ? nullptr : findEnvironment(wanted);
            if (!environment && foldedKey(wanted) != "ALL")
                return fail(ERROR_INVALID_ENVIRONMENT);
        }
        Transaction tx(Transaction::Read);
        const std::vector<DriverRow> rows = drivers(tx, environment);
        std::vector<DriverTexts> texts;
        size_t needed = 0;
        for (const auto &row : rows) {
            texts.push_back(driverTexts(row));
            const DriverTexts &t = texts.back();
            needed += sizeof(DRIVER_INFO_3W) + RecordPacker::listSize(t.dependentFiles);
            for (const auto *text : { &t.name, &t.environment, &t.driverPath, &t.dataFile, &t.configFile,
                     &t.helpFile, &t.datatype })
                needed += RecordPacker::textSize(*text);
        }
        *pcbNeeded = DWORD(needed);
        if (cbBuf < needed)
            return fail(ERROR_INSUFFICIENT_BUFFER);
        RecordPacker packer(pDriverInfo, cbBuf);
        for (size_t i = 0; i < texts.size(); ++i) {
            const DriverTexts &t = texts[i];
            DRIVER_INFO_3W info {};
            info.cVersion = 3;
            info.pName = packer.place(t.name);
            info.pEnvironment = packer.place(t.environment);
            info.pDriverPath = packer.place(t.driverPath);
            info.pDataFile = packer.place(t.dataFile);
            info.pConfigFile = packer.place(t.configFile);
            info.pHelpFile = packer.place(t.helpFile);
            info.pDependentFiles = packer.placeList(t.dependentFiles);
            info.pMonitorName = nullptr;
            info.pDefaultDataType = packer.place(t.datatype);
            packer.writeRecord(i, &info, sizeof info);
        }
        *pcReturned = DWORD(rows.size());
        return TRUE;
    });
}

} // extern "C"
