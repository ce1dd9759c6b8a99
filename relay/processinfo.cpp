#include "processinfo.h"

#include "win32.h"

#include <QDebug>

quint32 spoolerProcessId()
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) {
        qWarning() << "spoolerProcessId OpenSCManager failed:" << GetLastError();
        return 0;
    }
    quint32 processId = 0;
    const QString name = QStringLiteral("Spooler");
    SC_HANDLE service = OpenServiceW(manager, reinterpret_cast<LPCWSTR>(name.utf16()), SERVICE_QUERY_STATUS);
    if (!service) {
        qWarning() << "spoolerProcessId OpenService failed:" << GetLastError();
    } else {
        SERVICE_STATUS_PROCESS status {};
        DWORD needed = 0;
        if (QueryServiceStatusEx(
                service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status), sizeof status, &needed)) {
            processId = status.dwCurrentState == SERVICE_RUNNING ? quint32(status.dwProcessId) : 0;
        } else {
            qWarning() << "spoolerProcessId QueryServiceStatusEx failed:" << GetLastError();
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return processId;
}

QString processImageName(quint32 processId)
{
    if (processId == 0)
        return QString();
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(processId));
    if (!process)
        return QString();
    WCHAR path[MAX_PATH * 4] = {};
    DWORD size = DWORD(sizeof path / sizeof path[0]);
    QString image;
    if (QueryFullProcessImageNameW(process, 0, path, &size))
        image = QString::fromUtf16(reinterpret_cast<const char16_t *>(path), int(size));
    CloseHandle(process);
    return image;
}
