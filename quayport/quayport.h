// The port configuration library: the Standard TCP/IP Port monitor's configuration channel, plus two
// maintenance calls. Every export is self-contained: it opens what it needs, makes one exchange and
// returns a small integer. Strings are NUL-terminated UTF-16 owned by the caller; nothing allocated
// here is handed back.
#pragma once

#include "win32.h"

extern "C" {

// Result of the port exports.
typedef int PortResult;
enum : PortResult {
    PortResultOk = 0, // the monitor accepted the request
    PortResultOpenFailed = 1, // the configuration handle was not opened
    PortResultExchangeFailed = 2, // XcvDataW itself failed
    PortResultRefused = 3 // XcvDataW succeeded, the monitor's status word was not 0
};

// Field widths the caller must respect (terminator not included).
enum : unsigned {
    QuayportMaxPortName = 63,
    QuayportMaxQueriedPortName = 54, // ",XcvPort " takes the rest of the 64 code units
    QuayportMaxHostAddress = 48,
    QuayportHostBufferUnits = 49
};

PortResult WINAPI AddStandardTcpPort(LPCWSTR portName, LPCWSTR hostAddress, DWORD portNumber);
PortResult WINAPI ConfigStandardTcpPort(LPCWSTR portName, LPCWSTR hostAddress, DWORD portNumber);
PortResult WINAPI DeleteStandardTcpPort(LPCWSTR portName);
// hostAddress: at least QuayportHostBufferUnits code units. Written only on PortResultOk.
PortResult WINAPI GetConfigStandardTcpPort(LPCWSTR portName, LPWSTR hostAddress, DWORD *portNumber);
// Stops the active services that depend on service; neither handle is closed. 1 success, 0 failure.
BOOL WINAPI StopDependentServices(SC_HANDLE manager, SC_HANDLE service);
// DeletePrinterDriverExW on the local machine, unused files deleted; its result unchanged.
BOOL WINAPI QDeletePrinterDriver(LPCWSTR driverName, LPCWSTR environment);

} // extern "C"
