#include "peercheck.h"

#include "connectionowners.h"
#include "jobconnection.h"
#include "printerserver.h"
#include "processinfo.h"

#include <QDebug>
#include <QMap>
#include <QThreadPool>

namespace {
constexpr quint32 kLoopback = 0x7F000001;
} // namespace

PeerCheck *PeerCheck::start(
    PrinterServer *server, const QString &printerName, quint16 port, const QVector<qintptr> &descriptors)
{
    auto *check = new PeerCheck(server, printerName, port, descriptors);
    QThreadPool::globalInstance()->start([check] {
        check->check();
        // The object lives until it has delivered, so the call can be queued to it from here.
        QMetaObject::invokeMethod(check, &PeerCheck::deliver, Qt::QueuedConnection);
    });
    return check;
}

PeerCheck::PeerCheck(
    PrinterServer *server, const QString &printerName, quint16 port, const QVector<qintptr> &descriptors)
    : m_server(server)
{
    const std::lock_guard<std::mutex> handOver(m_lock);
    m_printerName = printerName;
    m_port = port;
    m_descriptors = descriptors;
}

void PeerCheck::check()
{
    const std::lock_guard<std::mutex> handOver(m_lock);
    const ConnectionOwners owners;
    const quint32 spooler = spoolerProcessId();
    struct Refusal
    {
        int connections = 0;
        QString image;
    };
    QMap<quint32, Refusal> refused;
    for (qintptr descriptor : qAsConst(m_descriptors)) {
        JobConnection connection(descriptor);
        quint32 address = 0;
        quint16 port = 0;
        const quint32 owner
            = connection.peerEndpoint(&address, &port) ? owners.ownerOf(address, port, kLoopback, m_port) : 0;
        if (spooler != 0 && owner == spooler) {
            m_admitted.append(connection.release());
            continue;
        }
        Refusal &refusal = refused[owner];
        // Named while its connection is still open: once reset, the peer may exit and its name go.
        if (refusal.connections++ == 0)
            refusal.image = owner ? processImageName(owner) : QStringLiteral("unknown");
    } // each refused connection is reset as it goes
    for (auto it = refused.cbegin(); it != refused.cend(); ++it) {
        qWarning().noquote() << m_printerName
                             << QStringLiteral(
                                    "refused %1 connection(s) from process %2 (%3): only the spooler "
                                    "(process %4) may print")
                                    .arg(it->connections)
                                    .arg(it.key())
                                    .arg(it->image)
                                    .arg(spooler);
    }
}

void PeerCheck::deliver()
{
    const std::lock_guard<std::mutex> handOver(m_lock);
    if (m_server) {
        emit checked(m_admitted);
    } else {
        for (qintptr descriptor : qAsConst(m_admitted))
            JobConnection(descriptor).abort();
    }
    deleteLater();
}
