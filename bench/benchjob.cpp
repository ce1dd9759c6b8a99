#include "benchjob.h"

#include <zlib.h>

#include <cerrno>
#include <sys/socket.h>

namespace {
constexpr qint64 kBlockBytes = 4 << 20;
}

BenchJob::BenchJob(qint64 size)
    : m_size(size)
    , m_block(int(qMin(size, kBlockBytes)), Qt::Uninitialized)
{
    // xorshift64*: fixed seed, so every run sends the same bytes.
    quint64 state = 0x9E3779B97F4A7C15ull ^ quint64(size);
    for (int i = 0; i < m_block.size(); i += 8) {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        quint64 word = state * 0x2545F4914F6CDD1Dull;
        for (int b = 0; b < 8 && i + b < m_block.size(); ++b, word >>= 8)
            m_block[i + b] = char(word & 0xff);
    }
    uLong crc = ::crc32(0L, Z_NULL, 0);
    for (qint64 offset = 0; offset < m_size;) {
        qint64 length = 0;
        const char *data = at(offset, &length);
        crc = ::crc32(crc, reinterpret_cast<const Bytef *>(data), uInt(length));
        offset += length;
    }
    m_crc32 = quint32(crc);
}

const char *BenchJob::at(qint64 offset, qint64 *length) const
{
    const qint64 inBlock = offset % kBlockBytes;
    *length = qMin(kBlockBytes - inBlock, m_size - offset);
    return m_block.constData() + inBlock;
}

bool BenchJob::writeTo(int fd) const
{
    for (qint64 offset = 0; offset < m_size;) {
        qint64 length = 0;
        const char *data = at(offset, &length);
        // A receiver that gives up must not take the benchmark down with SIGPIPE.
        const ssize_t written = ::send(fd, data, size_t(length), MSG_NOSIGNAL);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        offset += written;
    }
    return true;
}
