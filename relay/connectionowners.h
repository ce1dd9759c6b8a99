#ifndef CONNECTIONOWNERS_H
#define CONNECTIONOWNERS_H

#include <QVector>
#include <QtGlobal>

// One look at the machine's IPv4 TCP connections and the process that owns each end. Taken once
// for a batch of accepted connections: the system builds the whole table for every query.
class ConnectionOwners
{
public:
    // Takes the snapshot; an empty one when the system will not give it (then nobody is known).
    ConnectionOwners();

    bool isValid() const { return m_valid; }
    // The process owning the end at `address`:`port` that is connected to `remoteAddress`:
    // `remotePort` (all in host order); 0 when no such connection is known.
    quint32 ownerOf(quint32 address, quint16 port, quint32 remoteAddress, quint16 remotePort) const;

private:
    struct Row
    {
        quint32 localAddress;
        quint16 localPort;
        quint32 remoteAddress;
        quint16 remotePort;
        quint32 owner;
    };
    QVector<Row> m_rows;
    bool m_valid = false;
};

#endif // CONNECTIONOWNERS_H
