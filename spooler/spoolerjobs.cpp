#include "spoolerjobs.h"

#include <QDebug>

#include "printerhandle.h"
#include "spoolerbuffer.h"
#include "widetext.h"

namespace {

// Two-call read of a spooler record into a buffer of the size the spooler asks for. Empty when there
// is nothing to read (the size query succeeds); nothing when a call fails.
template<typename Call> std::optional<SpoolerBuffer> readSized(Call call)
{
    DWORD needed = 0;
    if (call(nullptr, 0, &needed))
        return SpoolerBuffer();
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0)
        return std::nullopt;
    SpoolerBuffer buffer(needed);
    if (!buffer.isValid() || !call(buffer.bytes(), buffer.size(), &needed))
        return std::nullopt;
    return buffer;
}

} // namespace

std::optional<QList<SpoolerJob>> queuedJobs(const QString &printerName)
{
    const auto unreadable = [&printerName](const char *step, DWORD error) {
        qDebug() << "queuedJobs" << step << "failed:" << printerName << static_cast<unsigned long>(error);
        return std::nullopt;
    };
    // The handle keeps the last error across its close, so a failed step still reports its own.
    const PrinterHandle printer(printerName, PRINTER_ACCESS_USE);
    if (!printer.isOpen())
        return unreadable("OpenPrinter", printer.openError());

    QList<SpoolerJob> jobs;
    const auto info = readSized([&printer](LPBYTE buffer, DWORD size, LPDWORD needed) {
        return GetPrinterW(printer.get(), 2, buffer, size, needed);
    });
    if (!info)
        return unreadable("GetPrinter", GetLastError());
    if (!info->isValid())
        return jobs;
    const DWORD jobCount = info->as<PRINTER_INFO_2W>()->cJobs;
    if (jobCount == 0)
        return jobs;

    DWORD returned = 0;
    const auto list = readSized([&](LPBYTE buffer, DWORD size, LPDWORD needed) {
        return EnumJobsW(printer.get(), 0, jobCount, 2, buffer, size, needed, &returned);
    });
    if (!list)
        return unreadable("EnumJobs", GetLastError());
    const JOB_INFO_2W *records = list->as<JOB_INFO_2W>();
    for (DWORD i = 0; records != nullptr && i < returned; ++i) {
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
