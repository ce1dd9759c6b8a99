// A small Windows program that the Wine run uses to prepare and inspect the spooler of its prefix
// through the real Win32 calls, and to load the port library as the Windows loader does.
//
//   winefixture add-printer NAME SERIAL PORTNUMBER   driver, "REDadez…" port, printer, CloudId, CloudPort
//   winefixture printers                              one printer name per line (UTF-8)
//   winefixture quayport DLL                          each export's answer, one "name=result lasterror" line
//   winefixture resources EXE                         the program's embedded manifest and icon
//
// Exit code 0 when every step succeeded; the failing step is printed otherwise.
#include "quayport.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::wstring widen(const char *text)
{
    const int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring wide(units > 0 ? units - 1 : 0, L'\0');
    if (units > 1)
        MultiByteToWideChar(CP_UTF8, 0, text, -1, &wide[0], units);
    return wide;
}

std::string narrow(const wchar_t *text)
{
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(bytes > 0 ? bytes - 1 : 0, '\0');
    if (bytes > 1)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], bytes, nullptr, nullptr);
    return result;
}

int fail(const char *step)
{
    std::printf("FAILED %s: %lu\n", step, static_cast<unsigned long>(GetLastError()));
    return 1;
}

// The driver is Wine's own PostScript driver registered under the product's driver name: the
// program only compares the name, and Wine refuses drivers whose files it cannot load.
bool addDriver(const std::wstring &driverName)
{
    std::wstring name = driverName;
    std::wstring environment = L"Windows x64";
    std::wstring driverFile = L"wineps.drv";
    std::wstring dataFile = L"generic.ppd";
    DRIVER_INFO_3W driver = {};
    driver.cVersion = 3;
    driver.pName = &name[0];
    driver.pEnvironment = &environment[0];
    driver.pDriverPath = &driverFile[0];
    driver.pDataFile = &dataFile[0];
    driver.pConfigFile = &driverFile[0];
    if (AddPrinterDriverExW(nullptr, 3, reinterpret_cast<LPBYTE>(&driver),
            APD_COPY_NEW_FILES | APD_COPY_FROM_DIRECTORY))
        return true;
    return AddPrinterDriverW(nullptr, 3, reinterpret_cast<LPBYTE>(&driver))
        || GetLastError() == ERROR_PRINTER_DRIVER_ALREADY_INSTALLED;
}

// Wine has no Standard TCP/IP monitor; its local port monitor takes a port of any name.
bool addPort(const std::wstring &portName)
{
    PRINTER_DEFAULTSW defaults = { nullptr, nullptr, SERVER_ACCESS_ADMINISTER };
    HANDLE monitor = nullptr;
    std::wstring monitorName = L",XcvMonitor Local Port";
    if (!OpenPrinterW(&monitorName[0], &monitor, &defaults))
        return false;
    DWORD needed = 0;
    DWORD status = 0;
    std::wstring data = portName;
    const BOOL ok = XcvDataW(monitor, L"AddPort", reinterpret_cast<PBYTE>(&data[0]),
        DWORD((data.size() + 1) * sizeof(wchar_t)), nullptr, 0, &needed, &status);
    ClosePrinter(monitor);
    return ok && (status == ERROR_SUCCESS || status == ERROR_ALREADY_EXISTS);
}

int addPrinter(const char *name, const char *serial, const char *portNumberText)
{
    const unsigned long portNumber = std::strtoul(portNumberText, nullptr, 10);
    const std::wstring driverName = L"Varn VN-210K";
    std::wstring printerName = widen(name);
    std::wstring portName = L"REDadez" + std::to_wstring(portNumber);
    std::wstring driver = driverName;
    std::wstring processor = L"winprint";
    std::wstring datatype = L"RAW";

    if (!addDriver(driverName))
        return fail("AddPrinterDriver");
    if (!addPort(portName))
        return fail("AddPort");

    PRINTER_INFO_2W info = {};
    info.pPrinterName = &printerName[0];
    info.pPortName = &portName[0];
    info.pDriverName = &driver[0];
    info.pPrintProcessor = &processor[0];
    info.pDatatype = &datatype[0];
    HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (!printer)
        return fail("AddPrinter");

    // The stored forms the program reads: the serial as 8-bit text with its NUL under REG_SZ,
    // the port number as two little-endian bytes.
    std::string serialBytes(serial);
    serialBytes.push_back('\0');
    BYTE port[2] = { BYTE(portNumber & 0xFF), BYTE((portNumber >> 8) & 0xFF) };
    const DWORD idResult = SetPrinterDataW(printer, const_cast<LPWSTR>(L"CloudId"), REG_SZ,
        reinterpret_cast<LPBYTE>(&serialBytes[0]), DWORD(serialBytes.size()));
    const DWORD portResult =
        SetPrinterDataW(printer, const_cast<LPWSTR>(L"CloudPort"), REG_BINARY, port, sizeof(port));
    ClosePrinter(printer);
    if (idResult != ERROR_SUCCESS || portResult != ERROR_SUCCESS) {
        std::printf("FAILED SetPrinterData: %lu %lu\n", static_cast<unsigned long>(idResult),
            static_cast<unsigned long>(portResult));
        return 1;
    }
    std::printf("added %s on %s\n", name, narrow(portName.c_str()).c_str());
    return 0;
}

int listPrinters()
{
    DWORD needed = 0;
    DWORD returned = 0;
    EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned);
    if (needed == 0)
        return 0;
    std::vector<BYTE> buffer(needed);
    if (!EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &returned))
        return fail("EnumPrinters");
    const auto *printers = reinterpret_cast<const PRINTER_INFO_2W *>(buffer.data());
    for (DWORD i = 0; i < returned; ++i)
        std::printf("%s\t%s\t%s\n", narrow(printers[i].pPrinterName).c_str(),
            narrow(printers[i].pPortName).c_str(), narrow(printers[i].pDriverName).c_str());
    return 0;
}

template <typename Function>
Function resolve(HMODULE library, const char *name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(library, name)));
}

void report(const char *name, long result)
{
    std::printf("%s=%ld %lu\n", name, result, static_cast<unsigned long>(GetLastError()));
}

int probeQuayport(const char *path)
{
    HMODULE library = LoadLibraryW(widen(path).c_str());
    if (!library)
        return fail("LoadLibrary");
    const auto add = resolve<decltype(&AddStandardTcpPort)>(library, "AddStandardTcpPort");
    const auto config = resolve<decltype(&ConfigStandardTcpPort)>(library, "ConfigStandardTcpPort");
    const auto remove = resolve<decltype(&DeleteStandardTcpPort)>(library, "DeleteStandardTcpPort");
    const auto query = resolve<decltype(&GetConfigStandardTcpPort)>(library, "GetConfigStandardTcpPort");
    const auto stop = resolve<decltype(&StopDependentServices)>(library, "StopDependentServices");
    const auto deleteDriver = resolve<decltype(&QDeletePrinterDriver)>(library, "QDeletePrinterDriver");
    if (!add || !config || !remove || !query || !stop || !deleteDriver)
        return fail("GetProcAddress");

    report("AddStandardTcpPort", add(L"REDadezProbe", L"127.0.0.1", 9100));
    report("ConfigStandardTcpPort", config(L"REDadezProbe", L"127.0.0.1", 9101));
    report("DeleteStandardTcpPort", remove(L"REDadezProbe"));

    // Only an accepted query may write the caller's buffer and number.
    WCHAR host[QuayportHostBufferUnits] = L"untouched";
    DWORD number = 4242;
    report("GetConfigStandardTcpPort", query(L"REDadezProbe", host, &number));
    std::printf("GetConfigStandardTcpPort.host=%s number=%lu\n", narrow(host).c_str(),
        static_cast<unsigned long>(number));

    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, L"Spooler", SERVICE_ENUMERATE_DEPENDENTS) : nullptr;
    if (!service)
        return fail("OpenService Spooler");
    report("StopDependentServices", stop(manager, service));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);

    SetLastError(0);
    report("QDeletePrinterDriver", deleteDriver(L"No Such Driver", L"Windows x64"));
    FreeLibrary(library);
    return 0;
}

// The resources as the loader sees them: the manifest (resource 1) and an icon group.
int showResources(const char *path)
{
    HMODULE module = LoadLibraryExW(widen(path).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return fail("LoadLibraryEx");
    HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    if (manifest) {
        const DWORD size = SizeofResource(module, manifest);
        const char *text = static_cast<const char *>(LockResource(LoadResource(module, manifest)));
        std::printf("manifest %lu bytes: %.*s\n", static_cast<unsigned long>(size), int(size), text);
    }
    bool hasIcon = false;
    EnumResourceNamesW(module, MAKEINTRESOURCEW(14),
        [](HMODULE, LPCWSTR, LPWSTR, LONG_PTR found) -> BOOL {
            *reinterpret_cast<bool *>(found) = true;
            return FALSE;
        },
        reinterpret_cast<LONG_PTR>(&hasIcon));
    std::printf("icon group: %s\n", hasIcon ? "yes" : "no");
    FreeLibrary(module);
    return manifest && hasIcon ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "add-printer" && argc == 5)
        return addPrinter(argv[2], argv[3], argv[4]);
    if (command == "printers" && argc == 2)
        return listPrinters();
    if (command == "quayport" && argc == 3)
        return probeQuayport(argv[2]);
    if (command == "resources" && argc == 3)
        return showResources(argv[2]);
    std::fprintf(stderr, "usage: winefixture add-printer NAME SERIAL PORT | printers | quayport DLL | resources EXE\n");
    return 2;
}
