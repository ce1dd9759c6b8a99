#include "printerdata.h"

#include <QDebug>

#include <vector>

#include "spoolerbuffer.h"
#include "widetext.h"

QByteArray readPrinterData(
    HANDLE printer, const QString &valueName, const PrinterDataReadTexts &texts, bool &ok)
{
    ok = false;
    std::vector<WCHAR> name = toWide(valueName);
    DWORD type = 0;
    DWORD needed = 0;
    const DWORD sized = GetPrinterDataW(printer, name.data(), &type, nullptr, 0, &needed);
    if (sized != ERROR_MORE_DATA || needed == 0) {
        qCritical().noquote() << QString::asprintf(
            texts.sizeFailed, static_cast<unsigned long>(GetLastError()), static_cast<unsigned long>(needed));
        return QByteArray();
    }

    SpoolerBuffer buffer(needed);
    DWORD read = 0;
    if (!buffer.isValid()
        || GetPrinterDataW(printer, name.data(), &type, buffer.bytes(), buffer.size(), &read)
            != ERROR_SUCCESS) {
        qCritical().noquote() << QString::asprintf(
            texts.readFailed, static_cast<unsigned long>(GetLastError()));
        return QByteArray();
    }
    ok = true;
    return QByteArray(reinterpret_cast<const char *>(buffer.bytes()), int(qMin(read, needed)));
}

DWORD printerRecordSize(HANDLE printer, const char *tag)
{
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    const DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER || needed == 0) {
        qDebug() << tag << error << "cbNeeded is" << needed;
        return 0;
    }
    return needed;
}
