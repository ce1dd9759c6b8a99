#include "testpagethread.h"

#include "cprinter.h"

TestPageThread::TestPageThread(const QString &printerName, QObject *parent)
    : QThread(parent)
    , m_printerName(printerName)
{
}

void TestPageThread::run()
{
    CPrinter().PrintTestPage(m_printerName);
    emit testPagePrinted(m_printerName);
}
