#include "portreportthread.h"

#include "cprinter.h"

#include <QDebug>

PortReportThread::PortReportThread(const QStringList &portNames, QObject *parent)
    : QThread(parent)
    , m_portNames(portNames)
{
}

PortReportThread::~PortReportThread()
{
    requestInterruption();
    wait();
}

void PortReportThread::run()
{
    CPrinter printer;
    for (const QString &portName : qAsConst(m_portNames)) {
        if (isInterruptionRequested())
            return;
        QString host;
        quint16 configuredPort = 0;
        const int portResult = printer.GetPortInfo(portName, host, configuredPort);
        qDebug() << portResult << host << configuredPort;
    }
}
