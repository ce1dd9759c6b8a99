// The spooler calls on one printer: open and close, its level-2 record, control, deletion, its data
// values and its jobs; and opening the Standard TCP/IP monitor's configuration channel.
#include "apicall.h"
#include "handletable.h"
#include "launcher.h"
#include "printerinfo.h"
#include "spoolerservice.h"
#include "spoolerstate.h"
#include "textcodec.h"

#include <unistd.h>

#include <cstring>
#include <ctime>

using namespace winsim;

namespace {

constexpr DWORD kDeleteAccess = 0x00010000;

const char *const kXcvMonitorPrefix = ",XcvMonitor ";
const char *const kXcvPortPrefix = ",XcvPort ";
const char *const kTcpMonitor = "Standard TCP/IP Port";
const char *const kLocalMonitor = "Local Port";

bool startsWith(const std::string &text, const char *prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// The printer behind a handle; fails the call when the handle is not an open printer handle.
bool printerHandle(HANDLE handle, HandleEntry *entry)
{
    if (!HandleTable::instance().find(handle, { HandleKind::Printer }, entry)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return true;
}

BOOL openXcv(const std::string &name, ACCESS_MASK access, LPHANDLE phPrinter)
{
    HandleEntry entry;
    entry.access = access;
    if (startsWith(name, kXcvMonitorPrefix)) {
        const std::string monitor = name.substr(std::strlen(kXcvMonitorPrefix));
        if (foldedKey(monitor) == foldedKey(kTcpMonitor))
            entry.key = kTcpMonitor;
        else if (foldedKey(monitor) == foldedKey(kLocalMonitor))
            entry.key = kLocalMonitor;
        else
            return fail(ERROR_INVALID_PRINTER_NAME);
        entry.kind = HandleKind::XcvMonitor;
    } else {
        Transaction tx(Transaction::Read);
        const auto port = portByName(tx, name.substr(std::strlen(kXcvPortPrefix)));
        if (!port)
            return fail(ERROR_INVALID_PRINTER_NAME);
        entry.kind = HandleKind::XcvPort;
        entry.id = port->id;
        entry.key = port->monitor;
    }
    *phPrinter = HandleTable::instance().open(entry);
    return TRUE;
}

SYSTEMTIME systemTimeUtc(int64_t ms)
{
    const time_t seconds = time_t(ms / 1000);
    tm parts {};
    gmtime_r(&seconds, &parts);
    SYSTEMTIME st {};
    st.wYear = WORD(parts.tm_year + 1900);
    st.wMonth = WORD(parts.tm_mon + 1);
    st.wDayOfWeek = WORD(parts.tm_wday);
    st.wDay = WORD(parts.tm_mday);
    st.wHour = WORD(parts.tm_hour);
    st.wMinute = WORD(parts.tm_min);
    st.wSecond = WORD(parts.tm_sec);
    st.wMilliseconds = WORD(ms % 1000);
    return st;
}

std::u16string machineName()
{
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    std::string name = "\\\\";
    for (const char *c = host; *c; ++c)
        name += char(*c >= 'a' && *c <= 'z' ? *c - 0x20 : *c);
    return toUtf16(name);
}

struct JobTexts
{
    std::u16string printer, machine, user, notify, datatype, processor, parameters, driver;
    std::optional<std::u16string> document;
};

JobTexts jobTexts(const PrinterRow &printer, const JobRow &job)
{
    JobTexts t { toUtf16(printer.name), machineName(), toUtf16(job.user), toUtf16(job.user), u"RAW",
        u"winprint", u"", toUtf16(printer.driver), std::nullopt };
    if (job.document)
        t.document = toUtf16(*job.document);
    return t;
}

size_t jobInfo2Size(const JobTexts &t)
{
    size_t size = sizeof(JOB_INFO_2W);
    for (const auto *text :
        { &t.printer, &t.machine, &t.user, &t.notify, &t.datatype, &t.processor, &t.parameters, &t.driver })
        size += RecordPacker::textSize(*text);
    if (t.document)
        size += RecordPacker::textSize(*t.document);
    return size;
}

} // namespace

extern "C" {

BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault)
{
    return boolCall("OpenPrinterW", [&]() -> BOOL {
        if (!phPrinter)
            return fail(ERROR_INVALID_PARAMETER);
        // The print server's own handle (a null name) is not modelled.
        if (!pPrinterName || !*pPrinterName)
            return fail(ERROR_NOT_SUPPORTED);
        if (pDefault && pDefault->pDatatype && toUtf8(pDefault->pDatatype) != "RAW")
            return fail(ERROR_INVALID_DATATYPE);
        const std::string name = toUtf8(pPrinterName);
        if (startsWith(name, kXcvMonitorPrefix) || startsWith(name, kXcvPortPrefix))
            return openXcv(name, pDefault ? pDefault->DesiredAccess : 0, phPrinter);

        Transaction tx(Transaction::Read);
        const auto printer = printerByName(tx, name);
        if (!printer)
            return fail(ERROR_INVALID_PRINTER_NAME);
        HandleEntry entry;
        entry.kind = HandleKind::Printer;
        entry.id = printer->id;
        entry.access = (pDefault && pDefault->DesiredAccess) ? pDefault->DesiredAccess : PRINTER_ACCESS_USE;
        *phPrinter = HandleTable::instance().open(entry);
        return TRUE;
    });
}

BOOL WINAPI ClosePrinter(HANDLE hPrinter)
{
    return boolCall("ClosePrinter", [&]() -> BOOL {
        if (!HandleTable::instance().close(
                hPrinter, { HandleKind::Printer, HandleKind::XcvMonitor, HandleKind::XcvPort }))
            return fail(ERROR_INVALID_HANDLE);
        return TRUE;
    });
}

BOOL WINAPI GetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded)
{
    return boolCall("GetPrinterW", [&]() -> BOOL {
        HandleEntry entry;
        if (!printerHandle(hPrinter, &entry))
            return FALSE;
        if (!pcbNeeded)
            return fail(ERROR_INVALID_PARAMETER);
        if (Level != 2)
            return fail(ERROR_INVALID_LEVEL);
        if (!pPrinter && cbBuf)
            return fail(ERROR_INVALID_USER_BUFFER);
        Transaction tx(Transaction::Read);
        const auto printer = printerById(tx, entry.id);
        if (!printer)
            return fail(ERROR_PRINTER_DELETED);
        const PrinterView view = printerView(tx, *printer);
        *pcbNeeded = DWORD(printerInfo2Size(view));
        if (cbBuf < *pcbNeeded)
            return fail(ERROR_INSUFFICIENT_BUFFER);
        RecordPacker packer(pPrinter, cbBuf);
        packPrinterInfo2(packer, 0, view);
        return TRUE;
    });
}

BOOL WINAPI SetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD Command)
{
    bool wakeDespooler = false;
    int64_t printerId = 0;
    const BOOL result = boolCall("SetPrinterW", [&]() -> BOOL {
        HandleEntry entry;
        if (!printerHandle(hPrinter, &entry))
            return FALSE;
        if (!(entry.access & PRINTER_ACCESS_ADMINISTER))
            return fail(ERROR_ACCESS_DENIED);
        if (Level != 0 && Level != 2)
            return fail(ERROR_INVALID_LEVEL);
        if (Level == 0 && Command != PRINTER_CONTROL_PAUSE && Command != PRINTER_CONTROL_RESUME
            && Command != PRINTER_CONTROL_PURGE)
            return fail(ERROR_INVALID_PARAMETER);
        if (Level == 2 && (Command != 0 || !pPrinter))
            return fail(ERROR_INVALID_PARAMETER);

        Transaction tx(Transaction::Write);
        auto printer = printerById(tx, entry.id);
        if (!printer)
            return fail(ERROR_PRINTER_DELETED);
        printerId = printer->id;
        if (Level == 2) {
            PRINTER_INFO_2W info;
            std::memcpy(&info, pPrinter, sizeof info);
            if (!info.pPrinterName || !info.pPortName || !info.pDriverName)
                return fail(ERROR_INVALID_PARAMETER);
            PrinterRow row = *printer;
            row.name = toUtf8(info.pPrinterName);
            row.port = toUtf8(info.pPortName);
            row.driver = toUtf8(info.pDriverName);
            row.comment = toUtf8(info.pComment);
            row.location = toUtf8(info.pLocation);
            if (const uint32_t error = updatePrinter(tx, row))
                return fail(error);
        } else if (Command == PRINTER_CONTROL_PURGE) {
            purgeJobs(tx, printer->id, despoolerActive(tx.root(), printer->id));
        } else {
            setPrinterPaused(tx, printer->id, Command == PRINTER_CONTROL_PAUSE);
            wakeDespooler = Command == PRINTER_CONTROL_RESUME && jobCount(tx, printer->id) > 0;
        }
        tx.commit();
        return TRUE;
    });
    if (result && wakeDespooler)
        requestDespool(printerId);
    return result;
}

BOOL WINAPI DeletePrinter(HANDLE hPrinter)
{
    bool pending = false;
    int64_t printerId = 0;
    const BOOL result = boolCall("DeletePrinter", [&]() -> BOOL {
        HandleEntry entry;
        if (!printerHandle(hPrinter, &entry))
            return FALSE;
        if (!(entry.access & kDeleteAccess))
            return fail(ERROR_ACCESS_DENIED);
        Transaction tx(Transaction::Write);
        const auto printer = printerById(tx, entry.id);
        if (!printer)
            return fail(ERROR_PRINTER_DELETED);
        printerId = printer->id;
        // With jobs left the printer goes once they have been printed, as on Windows.
        pending = !deletePrinter(tx, printer->id) && !printer->paused;
        tx.commit();
        return TRUE;
    });
    if (result && pending)
        requestDespool(printerId);
    return result;
}

BOOL WINAPI DeletePrinterConnectionW(LPWSTR pName)
{
    return boolCall("DeletePrinterConnectionW", [&]() -> BOOL {
        if (!pName)
            return fail(ERROR_INVALID_PARAMETER);
        // This machine has local printers only; a local printer is no connection.
        return fail(ERROR_INVALID_PRINTER_NAME);
    });
}

DWORD WINAPI GetPrinterDataW(
    HANDLE hPrinter, LPWSTR pValueName, LPDWORD pType, LPBYTE pData, DWORD nSize, LPDWORD pcbNeeded)
{
    return statusCall("GetPrinterDataW", [&]() -> DWORD {
        HandleEntry entry;
        if (!HandleTable::instance().find(hPrinter, { HandleKind::Printer }, &entry))
            return ERROR_INVALID_HANDLE;
        if (!pValueName || !pcbNeeded || (!pData && nSize))
            return ERROR_INVALID_PARAMETER;
        Transaction tx(Transaction::Read);
        if (!printerById(tx, entry.id))
            return ERROR_PRINTER_DELETED;
        const auto value = dataValue(tx, entry.id, toUtf8(pValueName));
        if (!value)
            return ERROR_FILE_NOT_FOUND;
        if (pType)
            *pType = value->type;
        *pcbNeeded = DWORD(value->data.size());
        if (nSize < value->data.size())
            return ERROR_MORE_DATA;
        if (!value->data.empty())
            std::memcpy(pData, value->data.data(), value->data.size());
        return ERROR_SUCCESS;
    });
}

DWORD WINAPI SetPrinterDataW(HANDLE hPrinter, LPWSTR pValueName, DWORD Type, LPBYTE pData, DWORD cbData)
{
    return statusCall("SetPrinterDataW", [&]() -> DWORD {
        HandleEntry entry;
        if (!HandleTable::instance().find(hPrinter, { HandleKind::Printer }, &entry))
            return ERROR_INVALID_HANDLE;
        if (!(entry.access & PRINTER_ACCESS_ADMINISTER))
            return ERROR_ACCESS_DENIED;
        if (!pValueName || (!pData && cbData))
            return ERROR_INVALID_PARAMETER;
        Transaction tx(Transaction::Write);
        if (!printerById(tx, entry.id))
            return ERROR_PRINTER_DELETED;
        DataValue value;
        value.name = toUtf8(pValueName);
        value.type = Type;
        if (cbData)
            value.data.assign(pData, pData + cbData);
        setDataValue(tx, entry.id, value);
        tx.commit();
        return ERROR_SUCCESS;
    });
}

BOOL WINAPI EnumJobsW(HANDLE hPrinter, DWORD FirstJob, DWORD NoJobs, DWORD Level, LPBYTE pJob, DWORD cbBuf,
    LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    return boolCall("EnumJobsW", [&]() -> BOOL {
        HandleEntry entry;
        if (!printerHandle(hPrinter, &entry))
            return FALSE;
        if (!pcbNeeded || !pcReturned)
            return fail(ERROR_INVALID_PARAMETER);
        if (Level != 2)
            return fail(ERROR_INVALID_LEVEL);
        if (!pJob && cbBuf)
            return fail(ERROR_INVALID_USER_BUFFER);
        *pcReturned = 0;
        Transaction tx(Transaction::Read);
        const auto printer = printerById(tx, entry.id);
        if (!printer)
            return fail(ERROR_PRINTER_DELETED);
        const std::vector<JobRow> all = jobs(tx, printer->id);
        std::vector<JobRow> selected;
        for (size_t i = FirstJob; i < all.size() && selected.size() < NoJobs; ++i)
            selected.push_back(all[i]);

        size_t needed = 0;
        std::vector<JobTexts> texts;
        for (const auto &job : selected) {
            texts.push_back(jobTexts(*printer, job));
            needed += jobInfo2Size(texts.back());
        }
        *pcbNeeded = DWORD(needed);
        if (cbBuf < needed)
            return fail(ERROR_INSUFFICIENT_BUFFER);
        RecordPacker packer(pJob, cbBuf);
        for (size_t i = 0; i < selected.size(); ++i) {
            const JobRow &job = selected[i];
            const JobTexts &t = texts[i];
            JOB_INFO_2W info {};
            info.JobId = DWORD(job.id);
            info.pPrinterName = packer.place(t.printer);
            info.pMachineName = packer.place(t.machine);
            info.pUserName = packer.place(t.user);
            info.pDocument = t.document ? packer.place(*t.document) : nullptr;
            info.pNotifyName = packer.place(t.notify);
            info.pDatatype = packer.place(t.datatype);
            info.pPrintProcessor = packer.place(t.processor);
            info.pParameters = packer.place(t.parameters);
            info.pDriverName = packer.place(t.driver);
            info.Status = job.status;
            info.Priority = 1;
            info.Position = DWORD(FirstJob + i + 1);
            info.Size = DWORD(job.size);
            info.Submitted = systemTimeUtc(job.submittedMs);
            packer.writeRecord(i, &info, sizeof info);
        }
        *pcReturned = DWORD(selected.size());
        return TRUE;
    });
}

} // extern "C"
