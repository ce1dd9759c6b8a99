// Compiled by the Windows compilers only (see CMakeLists.txt): win32.h on Windows must give the
// Standard TCP/IP monitor's records their fixed sizes and offsets, with or without <tcpxcv.h>.
#include "win32.h"

#include <cstddef>

static_assert(sizeof(WCHAR) == 2, "WCHAR is 16 bits");
static_assert(sizeof(DWORD) == 4, "DWORD is 32 bits");
static_assert(sizeof(PORT_DATA_1) == 964, "PORT_DATA_1");
static_assert(offsetof(PORT_DATA_1, sztHostAddress) == 144, "PORT_DATA_1 host address");
static_assert(offsetof(PORT_DATA_1, dwDoubleSpool) == 308, "PORT_DATA_1 double spool");
static_assert(offsetof(PORT_DATA_1, dwPortNumber) == 952, "PORT_DATA_1 port number");
static_assert(sizeof(DELETE_PORT_DATA_1) == 236, "DELETE_PORT_DATA_1");
static_assert(offsetof(DELETE_PORT_DATA_1, dwVersion) == 228, "DELETE_PORT_DATA_1 version");
static_assert(sizeof(CONFIG_INFO_DATA_1) == 132, "CONFIG_INFO_DATA_1");
static_assert(sizeof(SERVICE_STATUS_PROCESS) == 36, "SERVICE_STATUS_PROCESS");

// Everything the program and the port library call is declared.
static void *const calls[] = {
    reinterpret_cast<void *>(&OpenPrinterW),
    reinterpret_cast<void *>(&ClosePrinter),
    reinterpret_cast<void *>(&GetPrinterW),
    reinterpret_cast<void *>(&SetPrinterW),
    reinterpret_cast<void *>(&DeletePrinter),
    reinterpret_cast<void *>(&DeletePrinterConnectionW),
    reinterpret_cast<void *>(&EnumPrintersW),
    reinterpret_cast<void *>(&EnumPortsW),
    reinterpret_cast<void *>(&EnumPrinterDriversW),
    reinterpret_cast<void *>(&EnumJobsW),
    reinterpret_cast<void *>(&GetPrinterDataW),
    reinterpret_cast<void *>(&SetPrinterDataW),
    reinterpret_cast<void *>(&XcvDataW),
    reinterpret_cast<void *>(&DeletePrinterDriverExW),
    reinterpret_cast<void *>(&RegOpenKeyExW),
    reinterpret_cast<void *>(&RegQueryValueExW),
    reinterpret_cast<void *>(&RegCloseKey),
    reinterpret_cast<void *>(&OpenSCManagerW),
    reinterpret_cast<void *>(&OpenServiceW),
    reinterpret_cast<void *>(&EnumDependentServicesW),
    reinterpret_cast<void *>(&QueryServiceStatusEx),
    reinterpret_cast<void *>(&ControlService),
    reinterpret_cast<void *>(&CloseServiceHandle),
    reinterpret_cast<void *>(&GetTickCount),
    reinterpret_cast<void *>(&Sleep),
    reinterpret_cast<void *>(&GetProcessHeap),
    reinterpret_cast<void *>(&HeapAlloc),
    reinterpret_cast<void *>(&HeapFree),
};

int main()
{
    return int(sizeof calls / sizeof calls[0]) == 28 ? 0 : 1;
}
