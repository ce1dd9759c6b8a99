#ifndef PRINTERSERVER_H
#define PRINTERSERVER_H

#include "driverinfo.h"

#include <QJsonDocument>
#include <QNetworkReply>
#include <QQueue>
#include <QTcpServer>

#include <memory>

class ListenerLink;
class QTimer;

// Listens on a cloud printer's loopback port for the spooler's job connections and hands each one
// to a PrinterThread. One job per printer at a time, end to end: while the card follows a job the
// port counts as busy, and connections that arrive meanwhile wait, unread, in arrival order.
class PrinterServer : public QTcpServer
{
    Q_OBJECT
public:
    explicit PrinterServer(const DriverInfo &driverInfo, QObject *parent = nullptr);
    ~PrinterServer() override;

signals:
    // A receiver's result, emitted in the receiver's thread.
    void cloudResule(QNetworkReply::NetworkError error, QJsonDocument jd);
    void portBusy(bool isbusy);

public slots:
    void on_PortBusy(bool isbusy);
    void onDriverInfoChanged(DriverInfo info);
    void on_BusyTimeout();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void startReceiver(qintptr socketDescriptor);

    DriverInfo m_driverInfo;
    // The printer's post lock and the receivers' way back here; receivers keep it alive after this
    // listener has gone.
    std::shared_ptr<ListenerLink> m_link;
    QTimer *m_busyTimer = nullptr;
    bool m_portBusy = false;
    qintptr m_pendingDescriptor = -1;
    // Connections accepted while the port was busy, oldest first; each is served in turn.
    QQueue<qintptr> m_waitingDescriptors;
};

#endif // PRINTERSERVER_H
