#include "printbodysource.h"

#include "printbody.h"
#include "printbodywriter.h"

#include <cstring>

bool printBodyFrame(const QString &cloudSn, QByteArray *head, QByteArray *tail)
{
    // The writer alone decides the JSON around the Base64 text. The body of no job and the body of
    // three zero bytes ("AAAA") part exactly where that text goes, as long as the tail does not
    // start with a Base64 character, which the checks below make sure of.
    PrintBodyWriter writer(cloudSn);
    const QByteArray bare = writer.finish();
    static const char zeros[3] = { 0, 0, 0 };
    writer.append(zeros, 3);
    const QByteArray marked = writer.finish();
    if (bare.isNull() || marked.size() != bare.size() + 4)
        return false;
    int at = 0;
    while (at < bare.size() && bare.at(at) == marked.at(at))
        ++at;
    if (marked.mid(at, 4) != QByteArray("AAAA") || marked.mid(at + 4) != bare.mid(at))
        return false;
    *head = bare.left(at);
    *tail = bare.mid(at);
    return true;
}

PrintBodySource::PrintBodySource(const QString &cloudSn, QIODevice *job, qint64 jobBytes, QObject *parent)
    : QIODevice(parent)
    , m_job(job)
    , m_jobBytes(qMax<qint64>(jobBytes, 0))
{
    m_frameOk = printBodyFrame(cloudSn, &m_head, &m_tail);
}

bool PrintBodySource::open(OpenMode mode)
{
    if ((mode & ReadWrite) != ReadOnly || (mode & (Append | Truncate))) {
        setErrorString(QStringLiteral("a print body can only be read"));
        return false;
    }
    if (!m_frameOk) {
        setErrorString(QStringLiteral("no print body can be made for this serial"));
        return false;
    }
    if (!m_job || !m_job->isReadable()) {
        setErrorString(QStringLiteral("the job cannot be read"));
        return false;
    }
    m_jobStart = m_job->isSequential() ? 0 : m_job->pos();
    m_jobNext = 0;
    m_pos = 0;
    m_chunkStart = -1;
    m_failed = false;
    // The text is made as it is asked for; a buffer in QIODevice would only copy it once more.
    return QIODevice::open(mode | Unbuffered);
}

qint64 PrintBodySource::size() const
{
    if (!m_frameOk)
        return 0;
    return m_head.size() + base64Length(m_jobBytes) + m_tail.size();
}

bool PrintBodySource::seek(qint64 pos)
{
    if (pos > size() || !QIODevice::seek(pos))
        return false;
    m_pos = pos;
    // Reading again is a fresh try: a job that was short may have been put right.
    m_failed = false;
    return true;
}

qint64 PrintBodySource::readData(char *data, qint64 maxSize)
{
    if (m_failed)
        return -1;
    const qint64 total = size();
    const qint64 textStart = m_head.size();
    const qint64 textEnd = textStart + base64Length(m_jobBytes);
    qint64 done = 0;
    while (done < maxSize && m_pos < total) {
        const char *from = nullptr;
        qint64 available = 0;
        if (m_pos < textStart) {
            from = m_head.constData() + m_pos;
            available = textStart - m_pos;
        } else if (m_pos < textEnd) {
            if (m_chunkStart < 0 || m_pos < m_chunkStart || m_pos >= m_chunkStart + m_chunk.size()) {
                if (!loadChunkAt(m_pos))
                    return done > 0 ? done : -1;
            }
            from = m_chunk.constData() + (m_pos - m_chunkStart);
            available = m_chunkStart + m_chunk.size() - m_pos;
        } else {
            from = m_tail.constData() + (m_pos - textEnd);
            available = total - m_pos;
        }
        const qint64 n = qMin(maxSize - done, available);
        std::memcpy(data + done, from, size_t(n));
        done += n;
        m_pos += n;
    }
    return done;
}

qint64 PrintBodySource::writeData(const char *, qint64)
{
    return -1;
}

bool PrintBodySource::loadChunkAt(qint64 bodyOffset)
{
    const qint64 group = (bodyOffset - m_head.size()) / 4;
    const qint64 jobOffset = group * 3;
    const qint64 n = qMin(jobChunkBytes(), m_jobBytes - jobOffset);
    if (jobOffset != m_jobNext) {
        if (m_job->isSequential() || !m_job->seek(m_jobStart + jobOffset)) {
            fail(QStringLiteral("the job cannot be read again from byte %1").arg(jobOffset));
            return false;
        }
        m_jobNext = jobOffset;
    }
    m_raw.resize(int(n));
    qint64 got = 0;
    while (got < n) {
        const qint64 r = m_job->read(m_raw.data() + got, n - got);
        if (r <= 0) {
            const QString why = r < 0 ? m_job->errorString() : QStringLiteral("it ended");
            fail(QStringLiteral("the job gave %1 of its %2 bytes: %3")
                     .arg(jobOffset + got)
                     .arg(m_jobBytes)
                     .arg(why));
            return false;
        }
        got += r;
    }
    m_jobNext = jobOffset + n;
    m_chunk.resize(int(base64Length(n)));
    PrintBodyWriter::encodeBase64(reinterpret_cast<const uchar *>(m_raw.constData()), n, m_chunk.data());
    m_chunkStart = m_head.size() + group * 4;
    return true;
}

void PrintBodySource::fail(const QString &why)
{
    m_failed = true;
    m_jobNext = -1;
    m_chunkStart = -1;
    setErrorString(why);
}
