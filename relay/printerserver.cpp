#include "printerserver.h"

#include "jobdescription.h"
#include "listenerlink.h"
#include "printerthread.h"

#include <QDebug>
#include <QTcpSocket>
#include <QTimer>

PrinterServer::PrinterServer(const DriverInfo &driverInfo, QObject *parent)
    : QTcpServer(parent)
    , m_driverInfo(driverInfo)
    , m_link(std::make_shared<ListenerLink>(this))
    , m_busyTimer(new QTimer(this))
{
    // Results cross into the GUI thread queued; string-based connections look the types up by name.
    qRegisterMetaType<QNetworkReply::NetworkError>("QNetworkReply::NetworkError");
    qRegisterMetaType<QJsonDocument>("QJsonDocument");

    m_busyTimer->setInterval(1000);
    m_busyTimer->setSingleShot(false);
    connect(m_busyTimer, &QTimer::timeout, this, &PrinterServer::on_BusyTimeout);
    connect(this, &PrinterServer::portBusy, this, &PrinterServer::on_PortBusy);
}

PrinterServer::~PrinterServer()
{
    // Receivers still posting keep the lock; their results have nowhere to go from here on.
    m_link->detach();
    m_busyTimer->stop();
    // Connections that never got their turn are closed rather than left open on the spooler.
    while (!m_waitingDescriptors.isEmpty()) {
        QTcpSocket socket;
        if (socket.setSocketDescriptor(m_waitingDescriptors.dequeue()))
            socket.abort();
    }
    qDebug().noquote() << m_driverInfo.printer_name << "18_PrinterServer destruct";
}

void PrinterServer::on_PortBusy(bool isbusy)
{
    qDebug() << "51_PrinterServer PortBusy:" << isbusy;
    m_portBusy = isbusy;
}

void PrinterServer::onDriverInfoChanged(DriverInfo info)
{
    qDebug() << "43_PrinterServer driver info change";
    m_driverInfo = info;
}

void PrinterServer::on_BusyTimeout()
{
    qDebug() << "57_PrinterServer on_BusyTimeout:"
             << (m_waitingDescriptors.isEmpty() ? m_pendingDescriptor : m_waitingDescriptors.head());
    if (m_portBusy)
        return;
    if (!m_waitingDescriptors.isEmpty())
        startReceiver(m_waitingDescriptors.dequeue());
    if (m_waitingDescriptors.isEmpty())
        m_busyTimer->stop();
}

void PrinterServer::incomingConnection(qintptr socketDescriptor)
{
    m_pendingDescriptor = socketDescriptor;
    qDebug() << "24_PrinterServer incomingConnection" << socketDescriptor << ";port_busy=" << m_portBusy;
    if (m_portBusy || !m_waitingDescriptors.isEmpty()) {
        // Earlier connections go first: this one joins the end of the line.
        m_waitingDescriptors.enqueue(socketDescriptor);
        if (m_portBusy) {
            m_busyTimer->start();
            return;
        }
        socketDescriptor = m_waitingDescriptors.dequeue();
        if (m_waitingDescriptors.isEmpty())
            m_busyTimer->stop();
    }
    startReceiver(socketDescriptor);
}

void PrinterServer::startReceiver(qintptr socketDescriptor)
{
    qint64 expectedBytes = 0;
    const QString description = currentJobDescription(m_driverInfo.printer_name, &expectedBytes);
    const std::shared_ptr<ListenerLink> link = m_link;
    PrinterThread *receiver = new PrinterThread(
        socketDescriptor, m_driverInfo, description, std::shared_ptr<QMutex>(link, link->postLock()));
    receiver->setExpectedJobBytes(expectedBytes);
    connect(receiver, &QThread::finished, receiver, &QObject::deleteLater);
    // Runs in the receiver's thread, through the link: this listener may be gone by then.
    connect(
        receiver, &PrinterThread::cloudResult, receiver,
        [link](QNetworkReply::NetworkError error, const QJsonDocument &jd) { link->deliver(error, jd); },
        Qt::DirectConnection);
    emit portBusy(true);
    receiver->start(QThread::InheritPriority);
}
