#ifndef PRINTERHANDLE_H
#define PRINTERHANDLE_H

#include <QString>

#include "win32.h"

// An open printer that is closed when it goes out of scope, whatever path the caller leaves by.
class PrinterHandle
{
public:
    // Opens name with default settings of no data type and no device mode.
    PrinterHandle(const QString &name, ACCESS_MASK access);
    ~PrinterHandle();

    // Moves, so that a helper can open and hand the printer back; the moved-from handle is closed.
    PrinterHandle(PrinterHandle &&other) noexcept;
    PrinterHandle(const PrinterHandle &) = delete;
    PrinterHandle &operator=(const PrinterHandle &) = delete;
    PrinterHandle &operator=(PrinterHandle &&) = delete;

    bool isOpen() const { return m_handle != nullptr; }
    HANDLE get() const { return m_handle; }
    // The thread's last error right after a failed open.
    DWORD openError() const { return m_openError; }

private:
    HANDLE m_handle = nullptr;
    DWORD m_openError = 0;
};

#endif // PRINTERHANDLE_H
