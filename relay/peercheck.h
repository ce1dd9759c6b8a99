#ifndef PEERCHECK_H
#define PEERCHECK_H

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVector>

#include <mutex>

class PrinterServer;

// One look at who is on the other end of a batch of connections a printer's listener accepted,
// taken off the window's thread: the connection table and the names of processes take their time
// when many programs hold connections. Every connection whose other end is not the spooler is
// reset unread and logged; the spooler's come back through `checked`, in the order they came.
class PeerCheck : public QObject
{
    Q_OBJECT
public:
    // Starts checking in a thread of the pool; deletes itself once it has delivered. Should the
    // server be gone by then, the spooler's connections are reset too (the spooler keeps the jobs).
    static PeerCheck *start(
        PrinterServer *server, const QString &printerName, quint16 port, const QVector<qintptr> &descriptors);

signals:
    // In the server's thread: the connections that are the spooler's.
    void checked(QVector<qintptr> admitted);

private:
    PeerCheck(
        PrinterServer *server, const QString &printerName, quint16 port, const QVector<qintptr> &descriptors);
    // Runs in the pool's thread.
    void check();
    void deliver();

    QPointer<PrinterServer> m_server;
    // What the pool's thread reads and writes is handed over under this lock: the hand-over through
    // the pool and the event queue happens inside Qt, where a race checker cannot see it.
    std::mutex m_lock;
    QString m_printerName;
    quint16 m_port = 0;
    QVector<qintptr> m_descriptors;
    QVector<qintptr> m_admitted;
};

#endif // PEERCHECK_H
