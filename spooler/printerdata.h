#ifndef PRINTERDATA_H
#define PRINTERDATA_H

#include <QByteArray>
#include <QString>

#include "win32.h"

// The log lines of one two-call printer data read; each caller has its own.
struct PrinterDataReadTexts
{
    const char *sizeFailed; // "... error is %lu, need is %lu": last error, needed size
    const char *readFailed; // "... error is %lu": last error
};

// A printer data value's bytes: a size query with an empty buffer, then the read. On failure the
// matching line is logged at critical level, ok is false and the result empty.
QByteArray readPrinterData(
    HANDLE printer, const QString &valueName, const PrinterDataReadTexts &texts, bool &ok);

// The size of the printer's level-2 record, asked with an empty buffer; 0 after logging
// "<tag> <last error> cbNeeded is <size>" when the spooler did not ask for a buffer.
DWORD printerRecordSize(HANDLE printer, const char *tag);

#endif // PRINTERDATA_H
