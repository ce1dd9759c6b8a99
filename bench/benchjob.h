#ifndef BENCHJOB_H
#define BENCHJOB_H

#include <QByteArray>
#include <QtGlobal>

// A print job of a given size for the benchmark: one block of pseudo-random bytes (which Base64 and
// the network cannot shortcut) repeated to the size, so that even a 1 GiB job costs the sender only
// the block. Its CRC-32 (zlib's, as the service stand-in reports it) proves what arrived.
class BenchJob
{
public:
    explicit BenchJob(qint64 size);

    qint64 size() const { return m_size; }
    // The job's bytes from `offset` on, as many as are contiguous there (at most one block).
    const char *at(qint64 offset, qint64 *length) const;
    quint32 crc32() const { return m_crc32; }
    // Sends the whole job through `fd`, a connected socket; false on any error.
    bool writeTo(int fd) const;

private:
    qint64 m_size;
    QByteArray m_block;
    quint32 m_crc32 = 0;
};

#endif // BENCHJOB_H
