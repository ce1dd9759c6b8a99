#ifndef DESCRIPTORSERVER_H
#define DESCRIPTORSERVER_H

#include <QTcpServer>

// A loopback listener that hands out the native descriptors of accepted connections untouched, as
// the printer's listener does, so a receiver can be tested on its own.
class DescriptorServer : public QTcpServer
{
    Q_OBJECT
public:
    using QTcpServer::QTcpServer;

signals:
    void accepted(qintptr socketDescriptor);

protected:
    void incomingConnection(qintptr socketDescriptor) override;
};

#endif // DESCRIPTORSERVER_H
