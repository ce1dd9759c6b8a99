// The level-2 printer record, shared by GetPrinterW and EnumPrintersW.
#pragma once

#include "recordpacker.h"
#include "spoolerstate.h"

namespace winsim {

struct PrinterView
{
    PrinterRow row;
    int64_t jobs = 0;
    bool printing = false;
};

PrinterView printerView(Transaction &tx, const PrinterRow &row);
size_t printerInfo2Size(const PrinterView &view);
void packPrinterInfo2(RecordPacker &packer, size_t index, const PrinterView &view);

} // namespace winsim
