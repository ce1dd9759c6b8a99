#include "spoolerjobs.h"

#include "win32.h"

#include <memory>
#include <vector>

namespace {

struct PrinterHandle
{
    HANDLE handle = nullptr;
    ~PrinterHandle()
    {
        if (handle)
            ClosePrinter(handle);
    }
};

QString fromWide(const WCHAR *text)
{
    return text ? QString::fromUtf16(reinterpret_cast<const ushort *>(text)) : QString();
}

// Two-call read of a spooler record into a buffer of the size the spooler asks for.
template <typename Call>
std::vector<BYTE> readSized(Call call)
{
    DWORD needed = 0;
    if (call(nullptr, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0)
        return {};
    std::vector<BYTE> buffer(needed);
    if (!call(buffer.data(), needed, &needed))
        return {};
    return buffer;
}

} // namespace

QList<SpoolerJob> queuedJobs(const QString &printerName)
{
    QList<SpoolerJob> jobs;
    std::u16string wideName = printerName.toStdU16String();
    PrinterHandle printer;
    if (!OpenPrinterW(reinterpret_cast<LPWSTR>(wideName.data()), &printer.handle, nullptr))
        return jobs;

    const std::vector<BYTE> info = readSized([&](LPBYTE buffer, DWORD size, LPDWORD needed) {
        return GetPrinterW(printer.handle, 2, buffer, size, needed);
    });
    if (info.empty())
        return jobs;
    const DWORD jobCount = reinterpret_cast<const PRINTER_INFO_2W *>(info.data())->cJobs;
    if (jobCount == 0)
        return jobs;

    DWORD returned = 0;
    const std::vector<BYTE> list = readSized([&](LPBYTE buffer, DWORD size, LPDWORD needed) {
        return EnumJobsW(printer.handle, 0, jobCount, 2, buffer, size, needed, &returned);
    });
    const auto *records = reinterpret_cast<const JOB_INFO_2W *>(list.data());
    for (DWORD i = 0; !list.empty() && i < returned; ++i) {
        SpoolerJob job;
        job.document = fromWide(records[i].pDocument);
        job.printing = (records[i].Status & JOB_STATUS_PRINTING) != 0;
        const SYSTEMTIME &t = records[i].Submitted;
        job.submitted = QTime(t.wHour, t.wMinute, t.wSecond);
        jobs.append(job);
    }
    return jobs;
}

QString chinaTimeOfDay(const QTime &utc)
{
    const auto twoDigits = [](int value) { return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')); };
    return QStringLiteral("%1:%2:%3")
        .arg(twoDigits((utc.hour() + 8) % 24), twoDigits(utc.minute()), twoDigits(utc.second()));
}
