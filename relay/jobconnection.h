#ifndef JOBCONNECTION_H
#define JOBCONNECTION_H

#include <QString>
#include <QtGlobal>

// The spooler's end of one job connection, read at the level of the socket itself. Qt's sockets
// close their end as soon as the peer has closed its own; a job must be on the disk before that,
// because a spooler that sees our close counts the job as delivered. So the receiver reads here, and
// closes gracefully only after the spool file is safe. Until then the connection is set to reset on
// close, so a program that dies mid-job leaves the spooler with a failed delivery (it keeps the job),
// never with a false success.
class JobConnection
{
public:
    enum class Wait { Readable, Silent, Failed };

    explicit JobConnection(qintptr descriptor);
    ~JobConnection();
    JobConnection(const JobConnection &) = delete;
    JobConnection &operator=(const JobConnection &) = delete;

    bool isValid() const { return m_descriptor >= 0; }
    quint16 localPort() const;
    // The other end's IPv4 address and port, in host order; false when it has none (or not IPv4).
    bool peerEndpoint(quint32 *address, quint16 *port) const;
    QString errorString() const { return m_error; }

    // Waits at most `ms` for bytes or the peer's end.
    Wait waitReadable(int ms);
    // Bytes read (> 0), 0 at the peer's end, -1 on an error, -2 when nothing came after all (wait
    // again). Never blocks.
    qint64 receive(char *buffer, qint64 size);
    // The job is safe: our end closes in order.
    void close();
    // The job is not kept: the connection is reset, so the spooler keeps it.
    void abort();
    // Gives the descriptor up, open, to whoever serves it next.
    qintptr release();

private:
    void setLinger(bool resetOnClose);
    void closeDescriptor();

    qintptr m_descriptor;
    QString m_error;
};

#endif // JOBCONNECTION_H
