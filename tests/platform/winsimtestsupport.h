// Helpers shared by the winsim suites: text conversion, ports made through the monitor as the port
// library makes them, and a standard printer.
#pragma once

#include "win32.h"
#include "winsim/winsimcontrol.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <string>

inline std::u16string wide(const QString &text)
{
    return std::u16string(reinterpret_cast<const char16_t *>(text.utf16()), size_t(text.size()));
}

inline QString text(const char16_t *value)
{
    return value ? QString::fromUtf16(value) : QString();
}

inline PORT_DATA_1 portData(const QString &name, const QString &host, DWORD number)
{
    PORT_DATA_1 data {};
    std::memcpy(data.sztPortName, name.utf16(), size_t(name.size()) * 2);
    std::memcpy(data.sztHostAddress, host.utf16(), size_t(host.size()) * 2);
    data.dwVersion = 1;
    data.dwProtocol = PROTOCOL_RAWTCP_TYPE;
    data.cbSize = sizeof data;
    data.dwDoubleSpool = 1;
    data.dwPortNumber = number;
    return data;
}

// Sends one record to the Standard TCP/IP monitor; the monitor's status, or ~0u when the exchange
// itself failed.
inline DWORD monitorExchange(
    const char16_t *command, void *record, DWORD size, DWORD access = SERVER_ACCESS_ADMINISTER)
{
    std::u16string name = u",XcvMonitor Standard TCP/IP Port";
    PRINTER_DEFAULTSW defaults { nullptr, nullptr, access };
    HANDLE xcv = nullptr;
    if (!OpenPrinterW(name.data(), &xcv, &defaults))
        return ~0u;
    DWORD needed = 0;
    DWORD status = 0;
    const BOOL ok = XcvDataW(xcv, command, static_cast<PBYTE>(record), size, nullptr, 0, &needed, &status);
    ClosePrinter(xcv);
    return ok ? status : ~0u;
}

inline DWORD addTcpPort(const QString &name, const QString &host, DWORD number)
{
    PORT_DATA_1 data = portData(name, host, number);
    return monitorExchange(u"AddPort", &data, sizeof data);
}

inline HANDLE openPrinter(const QString &name, DWORD access)
{
    std::u16string printer = wide(name);
    PRINTER_DEFAULTSW defaults { nullptr, nullptr, access };
    HANDLE handle = nullptr;
    return OpenPrinterW(printer.data(), &handle, &defaults) ? handle : nullptr;
}

inline const char *const kModel = "Varn VN-210K";

// A cloud printer as the program sets one up: driver, Standard TCP/IP port, printer.
inline bool addCloudPrinter(const QString &name, const QString &port, DWORD number)
{
    return winsim::installDriver(kModel, "Windows x64", "1.22.5.3")
        && addTcpPort(port, QStringLiteral("127.0.0.1"), number) == ERROR_SUCCESS
        && winsim::addPrinter(name.toStdString(), port.toStdString(), kModel);
}

// Reads until the peer has finished sending; false when it did not finish in time.
inline bool readToEnd(int fd, QByteArray *data, int timeoutMs = 15000)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        pollfd p { fd, POLLIN, 0 };
        if (poll(&p, 1, 100) <= 0)
            continue;
        char chunk[65536];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0)
            return true;
        if (n < 0)
            return false;
        data->append(chunk, int(n));
    }
    return false;
}
