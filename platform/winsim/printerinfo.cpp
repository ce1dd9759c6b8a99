#include "printerinfo.h"

#include "textcodec.h"
#include "win32.h"

namespace winsim {
namespace {

constexpr DWORD kStatusPaused = 0x1;
constexpr DWORD kStatusPendingDeletion = 0x4;
constexpr DWORD kStatusPrinting = 0x400;
constexpr DWORD kAttributeLocal = 0x40;

struct Texts
{
    std::u16string name, share, port, driver, comment, location, separator, processor, datatype, parameters;
};

Texts textsOf(const PrinterView &view)
{
    return Texts { toUtf16(view.row.name), u"", toUtf16(view.row.port), toUtf16(view.row.driver),
        toUtf16(view.row.comment), toUtf16(view.row.location), u"", u"winprint", u"RAW", u"" };
}

} // namespace

PrinterView printerView(Transaction &tx, const PrinterRow &row)
{
    PrinterView view;
    view.row = row;
    for (const auto &job : jobs(tx, row.id)) {
        ++view.jobs;
        view.printing = view.printing || (job.status & kJobPrinting) != 0;
    }
    return view;
}

size_t printerInfo2Size(const PrinterView &view)
{
    const Texts t = textsOf(view);
    size_t size = sizeof(PRINTER_INFO_2W);
    for (const auto *text : { &t.name, &t.share, &t.port, &t.driver, &t.comment, &t.location, &t.separator,
             &t.processor, &t.datatype, &t.parameters })
        size += RecordPacker::textSize(*text);
    return size;
}

void packPrinterInfo2(RecordPacker &packer, size_t index, const PrinterView &view)
{
    const Texts t = textsOf(view);
    PRINTER_INFO_2W info {};
    info.pServerName = nullptr; // a local printer
    info.pPrinterName = packer.place(t.name);
    info.pShareName = packer.place(t.share);
    info.pPortName = packer.place(t.port);
    info.pDriverName = packer.place(t.driver);
    info.pComment = packer.place(t.comment);
    info.pLocation = packer.place(t.location);
    info.pDevMode = nullptr;
    info.pSepFile = packer.place(t.separator);
    info.pPrintProcessor = packer.place(t.processor);
    info.pDatatype = packer.place(t.datatype);
    info.pParameters = packer.place(t.parameters);
    info.pSecurityDescriptor = nullptr;
    info.Attributes = kAttributeLocal;
    info.Priority = 1;
    info.Status = (view.row.paused ? kStatusPaused : 0)
        | (view.row.pendingDelete ? kStatusPendingDeletion : 0) | (view.printing ? kStatusPrinting : 0);
    info.cJobs = DWORD(view.jobs);
    packer.writeRecord(index, &info, sizeof info);
}

} // namespace winsim
