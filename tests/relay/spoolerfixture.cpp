#include "spoolerfixture.h"

#include "win32.h"
#include "winsim/winsimcontrol.h"

#include <cstring>
#include <optional>
#include <string>
#include <vector>

bool setUpCloudPrinter(const QString &printerName, quint16 port, QString *error)
{
    std::string why;
    if (!winsim::reset(&why)) {
        *error = QString::fromStdString(why);
        return false;
    }
    const QString portName = QStringLiteral("REDadez_%1").arg(port);
    PORT_DATA_1 data {};
    std::memcpy(data.sztPortName, portName.utf16(), size_t(portName.size()) * 2);
    std::memcpy(data.sztHostAddress, u"127.0.0.1", 10 * 2);
    data.dwVersion = 1;
    data.dwProtocol = PROTOCOL_RAWTCP_TYPE;
    data.cbSize = sizeof data;
    data.dwPortNumber = port;
    std::u16string monitor = u",XcvMonitor Standard TCP/IP Port";
    PRINTER_DEFAULTSW defaults { nullptr, nullptr, SERVER_ACCESS_ADMINISTER };
    HANDLE xcv = nullptr;
    if (!OpenPrinterW(monitor.data(), &xcv, &defaults)) {
        *error = QStringLiteral("cannot open the port monitor");
        return false;
    }
    DWORD needed = 0;
    DWORD status = 0;
    const BOOL ok = XcvDataW(
        xcv, u"AddPort", reinterpret_cast<PBYTE>(&data), sizeof data, nullptr, 0, &needed, &status);
    ClosePrinter(xcv);
    if (!ok || status != 0) {
        *error = QStringLiteral("the monitor refused the port (%1)").arg(static_cast<unsigned long>(status));
        return false;
    }
    if (!winsim::installDriver("Varn VN-210K", "Windows x64", "1.0.0.1", &why)
        || !winsim::addPrinter(printerName.toStdString(), portName.toStdString(), "Varn VN-210K", &why)) {
        *error = QString::fromStdString(why);
        return false;
    }
    return true;
}

quint32 printJob(const QString &printerName, const QString &document, const QByteArray &data,
    const QDateTime &submittedUtc)
{
    std::optional<std::string> name;
    if (!document.isNull())
        name = document.toStdString();
    const std::vector<uint8_t> bytes(data.begin(), data.end());
    return winsim::submitJob(printerName.toStdString(), name, bytes, submittedUtc.toMSecsSinceEpoch());
}
