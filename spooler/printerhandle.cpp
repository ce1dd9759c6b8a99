#include "printerhandle.h"

#include <vector>

#include "widetext.h"

PrinterHandle::PrinterHandle(const QString &name, ACCESS_MASK access)
{
    PRINTER_DEFAULTSW defaults;
    defaults.pDatatype = nullptr;
    defaults.pDevMode = nullptr;
    defaults.DesiredAccess = access;

    std::vector<WCHAR> wideName = toWide(name);
    HANDLE handle = nullptr;
    if (OpenPrinterW(wideName.data(), &handle, &defaults))
        m_handle = handle;
    else
        m_openError = GetLastError();
}

PrinterHandle::PrinterHandle(PrinterHandle &&other) noexcept
    : m_handle(other.m_handle)
    , m_openError(other.m_openError)
{
    other.m_handle = nullptr;
}

PrinterHandle::~PrinterHandle()
{
    if (m_handle == nullptr)
        return;
    // Whatever failed before the close is what callers still report.
    const DWORD error = GetLastError();
    ClosePrinter(m_handle);
    SetLastError(error);
}
