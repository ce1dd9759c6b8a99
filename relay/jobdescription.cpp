#include "jobdescription.h"

#include "win32.h"

#include <QDebug>

#include <vector>

namespace {
// Closes the printer on every path out of the query.
class PrinterHandle
{
public:
    explicit PrinterHandle(HANDLE handle)
        : m_handle(handle)
    {
    }
    ~PrinterHandle() { ClosePrinter(m_handle); }
    PrinterHandle(const PrinterHandle &) = delete;
    PrinterHandle &operator=(const PrinterHandle &) = delete;
    HANDLE get() const { return m_handle; }

private:
    HANDLE m_handle;
};

// A spooler buffer of cb bytes, aligned for the records the spooler writes into it.
LPBYTE bufferOf(std::vector<quint64> &storage, DWORD cb)
{
    storage.assign((cb + sizeof(quint64) - 1) / sizeof(quint64), 0);
    return reinterpret_cast<LPBYTE>(storage.data());
}

QString textOf(LPCWSTR text)
{
    if (!text)
        return QString();
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(text));
}

DWORD queuedJobCount(HANDLE printer)
{
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    if (needed == 0)
        return 0;
    std::vector<quint64> storage;
    LPBYTE buffer = bufferOf(storage, needed);
    if (!GetPrinterW(printer, 2, buffer, needed, &needed))
        return 0;
    return reinterpret_cast<const PRINTER_INFO_2W *>(buffer)->cJobs;
}
} // namespace

QString currentJobDescription(const QString &printerName, qint64 *jobBytes)
{
    if (jobBytes)
        *jobBytes = 0;
    // OpenPrinterW wants a writable name.
    QString name = printerName;
    HANDLE handle = nullptr;
    if (!OpenPrinterW(reinterpret_cast<LPWSTR>(name.data()), &handle, nullptr)) {
        qDebug() << "70_PrinterServer OpenPrinter failed:" << printerName
                 << static_cast<unsigned long>(GetLastError());
        return QString();
    }
    PrinterHandle printer(handle);

    const DWORD jobCount = queuedJobCount(printer.get());
    if (jobCount == 0)
        return QString();

    DWORD needed = 0;
    DWORD returned = 0;
    EnumJobsW(printer.get(), 0, jobCount, 2, nullptr, 0, &needed, &returned);
    if (needed == 0)
        return QString();
    std::vector<quint64> storage;
    LPBYTE buffer = bufferOf(storage, needed);
    if (!EnumJobsW(printer.get(), 0, jobCount, 2, buffer, needed, &needed, &returned))
        return QString();

    const JOB_INFO_2W *jobs = reinterpret_cast<const JOB_INFO_2W *>(buffer);
    for (DWORD i = 0; i < returned; ++i) {
        const JOB_INFO_2W &job = jobs[i];
        if (!(job.Status & JOB_STATUS_PRINTING))
            continue;
        const QLatin1Char zero('0');
        const QString time = QStringLiteral("%1:%2:%3")
                                 .arg((job.Submitted.wHour + 8) % 24, 2, 10, zero)
                                 .arg(job.Submitted.wMinute, 2, 10, zero)
                                 .arg(job.Submitted.wSecond, 2, 10, zero);
        if (jobBytes)
            *jobBytes = qint64(job.Size);
        return textOf(job.pDocument) + QLatin1Char(';') + time;
    }
    return QString();
}
