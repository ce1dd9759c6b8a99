#ifndef TIMEDAPPLICATION_H
#define TIMEDAPPLICATION_H

#include <QApplication>

#include <vector>

// The application of the benchmark's window child, which times every event its thread handles from
// the event loop: a late tick says the thread was held, this says whether by one long piece of the
// program's own work, and by which.
class TimedApplication : public QApplication
{
    Q_OBJECT
public:
    TimedApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;

    struct HeldEvent
    {
        qint64 startNs = 0;
        qint64 durationNs = 0;
        // Of the duration, the time the thread ran: the rest it waited, for a core, a lock or the disk.
        qint64 cpuNs = 0;
        QByteArray what;
    };
    // The longest event handled wholly between two monotonic readings, and how many took over `overNs`.
    HeldEvent longestBetween(qint64 fromNs, qint64 toNs) const;
    int countOver(qint64 fromNs, qint64 toNs, qint64 overNs) const;

    // The CPU time the calling thread has used so far.
    static qint64 threadCpuNs();

private:
    // Events shorter than this are not kept: most events take microseconds.
    static constexpr qint64 kKeptNs = 2000000;
    int m_depth = 0;
    std::vector<HeldEvent> m_held;
};

#endif // TIMEDAPPLICATION_H
