#include "removeprinterthread.h"

#include "cprinter.h"

RemovePrinterThread::RemovePrinterThread(const DriverInfo &info, QObject *parent)
    : QThread(parent)
    , m_info(info)
{
}

void RemovePrinterThread::run()
{
    if (CPrinter().RemovePrinter(m_info.printer_name))
        emit removeResult(true, QStringLiteral("删除打印机驱动成功"), m_info);
    else
        emit removeResult(false, QStringLiteral("删除打印机失败"), m_info);
}
