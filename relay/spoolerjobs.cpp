#include "spoolerjobs.h"

#include "win32.h"

#include <QDebug>

#include <vector>

namespace {

// Closes the printer on every path out of the query.
class PrinterHandle
{
public:
    ~PrinterHandle()
    {
        if (handle)
            ClosePrinter(handle);
    }
    HANDLE handle = nullptr;
};

QString fromWide(const WCHAR *text)
{
    return text ? QString::fromUtf16(reinterpret_cast<const char16_t *>(text)) : QString();
}

// Two-call read of a spooler record into a buffer of the size the spooler asks for, aligned for the
// records the spooler writes into it. Empty when there is nothing to read; nothing when the read
// fails.
template<typename Call> std::optional<std::vector<quint64>> readSized(Call call)
{
    DWORD needed = 0;
    if (call(nullptr, 0, &needed))
        return std::vector<quint64>();
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0)
        return std::nullopt;
    std::vector<quint64> buffer((needed + sizeof(quint64) - 1) / sizeof(quint64), 0);
    if (!call(reinterpret_cast<LPBYTE>(buffer.data()), needed, &needed))
        return std::nullopt;
    return buffer;
}

} // namespace

std::optional<QList<SpoolerJob>> queuedJobs(const QString &printerName)
{
    // OpenPrinterW wants a writable name.
    QString name = printerName;
    PrinterHandle printer;
    // Read the error before the handle closes: closing may set another.
    const auto unreadable = [&printerName](const char *step) {
        qDebug() << "queuedJobs" << step << "failed:" << printerName
                 << static_cast<unsigned long>(GetLastError());
        return std::nullopt;
    };
    if (!OpenPrinterW(reinterpret_cast<LPWSTR>(name.data()), &printer.handle, nullptr))
        return unreadable("OpenPrinter");

    QList<SpoolerJob> jobs;
    const auto info = readSized([&](LPBYTE buffer, DWORD size, LPDWORD needed) {
        return GetPrinterW(printer.handle, 2, buffer, size, needed);
    });
    if (!info)
        return unreadable("GetPrinter");
    if (info->empty())
        return jobs;
    const DWORD jobCount = reinterpret_cast<const PRINTER_INFO_2W *>(info->data())->cJobs;
    if (jobCount == 0)
        return jobs;

    DWORD returned = 0;
    const auto list = readSized([&](LPBYTE buffer, DWORD size, LPDWORD needed) {
        return EnumJobsW(printer.handle, 0, jobCount, 2, buffer, size, needed, &returned);
    });
    if (!list)
        return unreadable("EnumJobs");
    const auto *records = reinterpret_cast<const JOB_INFO_2W *>(list->data());
    for (DWORD i = 0; !list->empty() && i < returned; ++i) {
        SpoolerJob job;
        job.document = fromWide(records[i].pDocument);
        job.printing = (records[i].Status & JOB_STATUS_PRINTING) != 0;
        const SYSTEMTIME &t = records[i].Submitted;
        job.submitted = QTime(t.wHour, t.wMinute, t.wSecond);
        job.size = qint64(records[i].Size);
        jobs.append(job);
    }
    return jobs;
}

QString chinaTimeOfDay(const QTime &utc)
{
    const QLatin1Char zero('0');
    return QStringLiteral("%1:%2:%3")
        .arg((utc.hour() + 8) % 24, 2, 10, zero)
        .arg(utc.minute(), 2, 10, zero)
        .arg(utc.second(), 2, 10, zero);
}
