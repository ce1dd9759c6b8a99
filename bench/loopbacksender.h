#ifndef LOOPBACKSENDER_H
#define LOOPBACKSENDER_H

#include <QString>
#include <QtGlobal>

#include <thread>

class BenchJob;

// Plays the spooler: connects to 127.0.0.1:port, sends the whole job as fast as the peer takes it
// and closes, on a thread of its own so that the benchmark can wait for the receiving side meanwhile.
class LoopbackSender
{
public:
    LoopbackSender(const BenchJob &job, quint16 port);
    ~LoopbackSender();
    LoopbackSender(const LoopbackSender &) = delete;
    LoopbackSender &operator=(const LoopbackSender &) = delete;

    void start();
    // Waits for the sender to finish; false when it could not connect or the peer broke off.
    bool wait();

    // Monotonic time of the first byte (just before it was written).
    qint64 firstByteNs() const { return m_firstByteNs; }
    QString error() const { return m_error; }

private:
    void run();

    const BenchJob &m_job;
    quint16 m_port;
    std::thread m_thread;
    qint64 m_firstByteNs = 0;
    bool m_ok = false;
    QString m_error;
};

#endif // LOOPBACKSENDER_H
