#include "procstats.h"

#include <QByteArray>
#include <QFile>

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

namespace {
qint64 statusField(const char *name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(name) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key)) {
            // "VmHWM:     12345 kB"
            const QByteArray kib = line.mid(key.size()).trimmed().split(' ').value(0);
            bool ok = false;
            const qint64 value = kib.toLongLong(&ok);
            return ok ? value * 1024 : -1;
        }
    }
    return -1;
}
} // namespace

qint64 monotonicNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

qint64 peakResidentBytes()
{
    return statusField("VmHWM");
}

qint64 residentBytes()
{
    return statusField("VmRSS");
}

ThreadSchedule threadSchedule()
{
    // Read on every tick of a 1 ms timer: the file stays open, one per thread.
    thread_local const int fd = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    ThreadSchedule schedule;
    char text[96];
    const ssize_t size = fd < 0 ? -1 : ::pread(fd, text, sizeof text - 1, 0);
    if (size <= 0)
        return schedule;
    text[size] = '\0';
    long long ran = 0;
    long long queued = 0;
    if (std::sscanf(text, "%lld %lld", &ran, &queued) == 2) {
        schedule.ranNs = ran;
        schedule.queuedNs = queued;
    }
    return schedule;
}
