// A small Windows program that the Wine run uses to prepare and inspect the spooler of its prefix
// through the real Win32 calls, and to load the port library as the Windows loader does.
//
//   winefixture add-printer NAME SERIAL PORTNUMBER   driver, "REDadez…" port, printer, CloudId, CloudPort
//   winefixture printers                              one printer name per line (UTF-8)
//   winefixture quayport DLL                          each export's answer, one "name=result lasterror" line
//   winefixture resources EXE                         the program's embedded manifest and icon
//   winefixture send PORT FILE                        the file to 127.0.0.1:PORT as a Win32 process;
//                                                     prints its pid and how the other end went
//   winefixture spooler-service PORT FILE REPORT      a service named "Spooler" that sends the file
//                                                     as "send" does, writes its line to REPORT and
//                                                     runs on until it is stopped
//   winefixture service-binary NAME [COMMANDLINE]     a service's command line; replaced when given
//   winefixture service-process NAME                  a service's state and process id
//
// Exit code 0 when every step succeeded; the failing step is printed otherwise.
#include <winsock2.h>

#include "quayport.h"

#include <algorithm>
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
    if (AddPrinterDriverExW(
            nullptr, 3, reinterpret_cast<LPBYTE>(&driver), APD_COPY_NEW_FILES | APD_COPY_FROM_DIRECTORY))
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
    const DWORD portResult
        = SetPrinterDataW(printer, const_cast<LPWSTR>(L"CloudPort"), REG_BINARY, port, sizeof(port));
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

template<typename Function> Function resolve(HMODULE library, const char *name)
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
    EnumResourceNamesW(
        module, MAKEINTRESOURCEW(14),
        [](HMODULE, LPCWSTR, LPWSTR, LONG_PTR found) -> BOOL {
            *reinterpret_cast<bool *>(found) = true;
            return FALSE;
        },
        reinterpret_cast<LONG_PTR>(&hasIcon));
    std::printf("icon group: %s\n", hasIcon ? "yes" : "no");
    FreeLibrary(module);
    return manifest && hasIcon ? 0 : 1;
}

bool readWholeFile(const std::wstring &path, std::vector<char> *bytes)
{
    HANDLE file
        = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size = {};
    bool ok = GetFileSizeEx(file, &size) != 0;
    if (ok) {
        bytes->resize(size_t(size.QuadPart));
        size_t done = 0;
        while (ok && done < bytes->size()) {
            DWORD got = 0;
            const DWORD want = DWORD(std::min<size_t>(bytes->size() - done, 1u << 20));
            ok = ReadFile(file, bytes->data() + done, want, &got, nullptr) && got > 0;
            done += got;
        }
    }
    CloseHandle(file);
    return ok;
}

bool isReset(int error)
{
    return error == WSAECONNRESET || error == WSAECONNABORTED;
}

// Sends as a printing client does: the whole job, then our half of the connection closed, then
// the other end's close awaited. The line says how the other end went: "closed" after taking the
// job, "... before our end" when refusing it.
//
// Two things Wine does otherwise than Windows, both in who its TCP table names as an end's owner.
// Wine's server keeps a socket's descriptor and lends it to the process only for some calls, and
// the table names only a process that holds it: the descriptor is taken while connecting (which is
// the first moment Wine lets a process keep it), so that this process owns its end from the start
// as it would on Windows. And Wine answers for the connections only with the established ones: our
// end leaves the table once it is half-closed, so the program is given time to look it up before,
// unless it refuses sooner.
std::string sendJob(const char *portText, const std::wstring &path)
{
    const std::string self = "process " + std::to_string(GetCurrentProcessId());
    std::vector<char> job;
    if (!readWholeFile(path, &job))
        return self + " FAILED reading the job: " + std::to_string(GetLastError());
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return self + " FAILED WSAStartup";
    SOCKET connection = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(u_short(std::strtoul(portText, nullptr, 10)));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    u_long nonBlocking = 1;
    bool connected = connection != INVALID_SOCKET && ioctlsocket(connection, FIONBIO, &nonBlocking) == 0
        && (connect(connection, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0
            || WSAGetLastError() == WSAEWOULDBLOCK);
    if (connected) {
        // Served from the process's own descriptor under Wine, which it then keeps.
        const BOOL noDelay = TRUE;
        setsockopt(
            connection, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&noDelay), sizeof noDelay);
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(connection, &writable);
        timeval limit = { 10, 0 };
        int error = 0;
        int errorSize = sizeof error;
        nonBlocking = 0;
        connected = select(0, nullptr, &writable, nullptr, &limit) == 1
            && getsockopt(connection, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &errorSize) == 0
            && error == 0 && ioctlsocket(connection, FIONBIO, &nonBlocking) == 0;
    }
    if (!connected) {
        const std::string line = self + " FAILED connect: " + std::to_string(WSAGetLastError());
        if (connection != INVALID_SOCKET)
            closesocket(connection);
        WSACleanup();
        return line;
    }
    // A program that neither reads nor closes must not hold the run forever.
    const DWORD timeoutMs = 60000;
    setsockopt(
        connection, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char *>(&timeoutMs), sizeof timeoutMs);

    size_t sent = 0;
    int error = 0;
    while (sent < job.size()) {
        const int chunk = int(std::min<size_t>(job.size() - sent, 65536));
        const int result = send(connection, job.data() + sent, chunk, 0);
        if (result == SOCKET_ERROR) {
            error = WSAGetLastError();
            break;
        }
        sent += size_t(result);
    }
    // Whether the program ended the connection before ours tells a refusal from a job taken; Wine
    // reports a reset that comes while waiting as an orderly close, Windows as a reset.
    bool beforeOurEnd = error != 0;
    if (error == 0) {
        WSAEVENT closed = WSACreateEvent();
        WSAEventSelect(connection, closed, FD_CLOSE);
        const auto awaitClose = [&](DWORD ms, int *closeError) {
            WSANETWORKEVENTS events = {};
            if (WSAWaitForMultipleEvents(1, &closed, FALSE, ms, FALSE) != WSA_WAIT_EVENT_0
                || WSAEnumNetworkEvents(connection, closed, &events) != 0
                || !(events.lNetworkEvents & FD_CLOSE))
                return false;
            *closeError = events.iErrorCode[FD_CLOSE_BIT];
            return true;
        };
        beforeOurEnd = awaitClose(2000, &error);
        if (!beforeOurEnd) {
            shutdown(connection, SD_SEND);
            if (!awaitClose(timeoutMs, &error))
                error = WSAETIMEDOUT;
        }
        WSACloseEvent(closed);
    }
    std::string end;
    if (error == 0)
        end = "closed";
    else if (isReset(error))
        end = "reset";
    else if (error == WSAETIMEDOUT)
        end = "silent";
    else
        end = "error " + std::to_string(error);
    if (beforeOurEnd)
        end += " before our end";
    closesocket(connection);
    WSACleanup();
    return self + " sent " + std::to_string(sent) + " of " + std::to_string(job.size()) + " bytes; peer "
        + end;
}

int sendFile(const char *portText, const char *path)
{
    const std::string line = sendJob(portText, widen(path));
    std::printf("%s\n", line.c_str());
    return line.find("FAILED") == std::string::npos ? 0 : 1;
}

// The service: what the program meets when the spooler itself prints to it.
namespace spooler {

const char *portText = nullptr;
std::wstring jobPath;
std::wstring reportPath;
SERVICE_STATUS_HANDLE statusHandle = nullptr;
HANDLE stopRequested = nullptr;

void setState(DWORD state)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 10000;
    SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI control(DWORD code, DWORD, LPVOID, LPVOID)
{
    switch (code) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        setState(SERVICE_STOP_PENDING);
        SetEvent(stopRequested);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void writeReport(const std::string &line)
{
    HANDLE file = CreateFileW(reportPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
    CloseHandle(file);
}

void WINAPI serviceMain(DWORD, LPWSTR *)
{
    wchar_t name[] = L"Spooler";
    statusHandle = RegisterServiceCtrlHandlerExW(name, control, nullptr);
    if (!statusHandle)
        return;
    stopRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    setState(SERVICE_START_PENDING);
    // Running before connecting: the program asks the service manager for the spooler's process
    // only when the connection comes, and takes none that is not running.
    setState(SERVICE_RUNNING);
    writeReport(sendJob(portText, jobPath));
    WaitForSingleObject(stopRequested, INFINITE);
    CloseHandle(stopRequested);
    setState(SERVICE_STOPPED);
}

} // namespace spooler

int runSpoolerService(const char *portText, const char *jobPath, const char *reportPath)
{
    spooler::portText = portText;
    spooler::jobPath = widen(jobPath);
    spooler::reportPath = widen(reportPath);
    wchar_t name[] = L"Spooler";
    const SERVICE_TABLE_ENTRYW services[] = { { name, spooler::serviceMain }, { nullptr, nullptr } };
    if (!StartServiceCtrlDispatcherW(services))
        return fail("StartServiceCtrlDispatcher");
    return 0;
}

SC_HANDLE openService(SC_HANDLE *manager, const char *name, DWORD access)
{
    *manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    return *manager ? OpenServiceW(*manager, widen(name).c_str(), access) : nullptr;
}

int serviceBinary(const char *name, const char *commandLine)
{
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = openService(&manager, name, SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG);
    if (!service)
        return fail("OpenService");
    DWORD needed = 0;
    QueryServiceConfigW(service, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed ? needed : 1);
    auto *config = reinterpret_cast<QUERY_SERVICE_CONFIGW *>(buffer.data());
    int result = 0;
    if (!QueryServiceConfigW(service, config, needed, &needed)) {
        result = fail("QueryServiceConfig");
    } else {
        std::printf("%s\n", narrow(config->lpBinaryPathName).c_str());
        if (commandLine
            && !ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                widen(commandLine).c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
            result = fail("ChangeServiceConfig");
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}

// The same question the program asks to know the spooler's process.
int serviceProcess(const char *name)
{
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = openService(&manager, name, SERVICE_QUERY_STATUS);
    if (!service)
        return fail("OpenService");
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    int result = 0;
    if (QueryServiceStatusEx(
            service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status), sizeof status, &needed))
        std::printf("state %lu process %lu\n", static_cast<unsigned long>(status.dwCurrentState),
            static_cast<unsigned long>(status.dwProcessId));
    else
        result = fail("QueryServiceStatusEx");
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
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
    if (command == "send" && argc == 4)
        return sendFile(argv[2], argv[3]);
    if (command == "spooler-service" && argc == 5)
        return runSpoolerService(argv[2], argv[3], argv[4]);
    if (command == "service-binary" && (argc == 3 || argc == 4))
        return serviceBinary(argv[2], argc == 4 ? argv[3] : nullptr);
    if (command == "service-process" && argc == 3)
        return serviceProcess(argv[2]);
    std::fprintf(stderr,
        "usage: winefixture add-printer NAME SERIAL PORT | printers | quayport DLL | resources EXE"
        " | send PORT FILE | spooler-service PORT FILE REPORT | service-binary NAME [COMMANDLINE]"
        " | service-process NAME\n");
    return 2;
}
