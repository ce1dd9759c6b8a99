#include "printbodywriter.h"

#include "printbody.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstring>
#include <limits>
#include <new>

namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The two Base64 characters of every 12-bit value: one lookup per half of a 3-byte group instead of
// one per character, which is what lets encoding keep up with loopback.
struct PairTable
{
    char pairs[4096][2];
    PairTable()
    {
        for (int v = 0; v < 4096; ++v) {
            pairs[v][0] = kAlphabet[v >> 6];
            pairs[v][1] = kAlphabet[v & 0x3f];
        }
    }
};

const PairTable &pairTable()
{
    static const PairTable table;
    return table;
}

// A byte array holds a little less than INT_MAX bytes; keep clear of its header.
constexpr qint64 kMaxBodyBytes = std::numeric_limits<int>::max() - 4096;
} // namespace

PrintBodyWriter::PrintBodyWriter(const QString &cloudSn)
{
    // Qt writes everything but the Base64 text, so the serial's escaping, the key order and the
    // indentation are exactly Qt's; the empty "printData" marks where the Base64 text belongs.
    const QJsonObject shell {
        { QStringLiteral("tvNumber"), QJsonArray { cloudSn } },
        { QStringLiteral("taskPersist"), false },
        { QStringLiteral("async"), true },
        { QStringLiteral("dataType"), QStringLiteral("base64") },
        { QStringLiteral("printData"), QString() },
    };
    const QByteArray text = QJsonDocument(shell).toJson(QJsonDocument::Indented);
    // "async" and "dataType" come first and hold no such text, so the first match is the key.
    static const QByteArray key("\"printData\": \"");
    const int at = text.indexOf(key);
    if (at < 0) {
        qDebug() << "31_PrintBody unexpected JSON layout" << text;
        m_failed = true;
        return;
    }
    m_head = text.left(at + key.size());
    m_tail = text.mid(at + key.size());
    clear();
}

bool PrintBodyWriter::reserveFor(qint64 jobBytes)
{
    if (m_failed || jobBytes < 0)
        return false;
    const qint64 needed = bodyBytesFor(jobBytes);
    if (needed > kMaxBodyBytes)
        return false;
    if (needed <= m_body.capacity())
        return true;
    try {
        m_body.reserve(int(needed));
    } catch (const std::bad_alloc &) {
        return false;
    }
    return m_body.capacity() >= needed;
}

bool PrintBodyWriter::append(const char *data, qint64 size)
{
    m_jobBytes += size;
    if (m_failed)
        return false;
    if (size <= 0)
        return true;
    const uchar *in = reinterpret_cast<const uchar *>(data);
    if (m_carried + size < 3) {
        std::memcpy(m_carry + m_carried, in, size_t(size));
        m_carried += int(size);
        return true;
    }

    const qint64 groups = (m_carried + size) / 3;
    const qint64 start = m_body.size();
    if (!ensureCapacity(start + groups * 4)) {
        fail();
        return false;
    }
    m_body.resize(int(start + groups * 4));
    char *out = m_body.data() + start;
    if (m_carried > 0) {
        uchar group[3];
        std::memcpy(group, m_carry, size_t(m_carried));
        const int taken = 3 - m_carried;
        std::memcpy(group + m_carried, in, size_t(taken));
        encodeBase64(group, 3, out);
        out += 4;
        in += taken;
        size -= taken;
        m_carried = 0;
    }
    const qint64 whole = size / 3 * 3;
    encodeBase64(in, whole, out);
    m_carried = int(size - whole);
    std::memcpy(m_carry, in + whole, size_t(m_carried));
    return true;
}

QByteArray PrintBodyWriter::finish()
{
    if (m_failed) {
        clear();
        return QByteArray();
    }
    const qint64 start = m_body.size();
    const qint64 end = start + base64Length(m_carried) + m_tail.size();
    if (!ensureCapacity(end)) {
        clear();
        return QByteArray();
    }
    m_body.resize(int(end));
    char *out = m_body.data() + start;
    encodeBase64(m_carry, m_carried, out);
    out += base64Length(m_carried);
    std::memcpy(out, m_tail.constData(), size_t(m_tail.size()));

    QByteArray body = std::move(m_body);
    clear();
    return body;
}

void PrintBodyWriter::clear()
{
    m_jobBytes = 0;
    m_carried = 0;
    if (m_head.isEmpty()) {
        m_body = QByteArray();
        return;
    }
    m_failed = false;
    // A copy of its own, not a share of m_head: growing a shared array would copy it the Qt way,
    // without the reservation below.
    m_body = QByteArray(m_head.constData(), m_head.size());
}

qint64 PrintBodyWriter::bodyBytesFor(qint64 jobBytes) const
{
    return m_head.size() + base64Length(jobBytes) + m_tail.size();
}

qint64 PrintBodyWriter::maxBodyBytes()
{
    return kMaxBodyBytes;
}

void PrintBodyWriter::encodeBase64(const uchar *in, qint64 size, char *out)
{
    const auto &pairs = pairTable().pairs;
    qint64 i = 0;
    for (; i + 3 <= size; i += 3) {
        const quint32 v = (quint32(in[i]) << 16) | (quint32(in[i + 1]) << 8) | quint32(in[i + 2]);
        std::memcpy(out, pairs[v >> 12], 2);
        std::memcpy(out + 2, pairs[v & 0xfff], 2);
        out += 4;
    }
    const qint64 rest = size - i;
    if (rest == 0)
        return;
    const quint32 v = (quint32(in[i]) << 16) | (rest == 2 ? quint32(in[i + 1]) << 8 : 0u);
    std::memcpy(out, pairs[v >> 12], 2);
    out[2] = rest == 2 ? pairs[v & 0xfff][0] : '=';
    out[3] = '=';
}

bool PrintBodyWriter::ensureCapacity(qint64 bodyBytes)
{
    if (bodyBytes > kMaxBodyBytes) {
        qDebug() << "32_PrintBody body too large:" << bodyBytes;
        return false;
    }
    if (bodyBytes <= m_body.capacity())
        return true;
    // Doubling keeps the number of moves small for a job of unknown length; where the allocator
    // can, a large block grows in place without being copied. The tail is counted in so that
    // finishing the body never moves it once more.
    const qint64 wanted = qMax(bodyBytes + m_tail.size() + 4, qint64(m_body.capacity()) * 2);
    const qint64 target = qMin(wanted, kMaxBodyBytes);
    try {
        m_body.reserve(int(target));
    } catch (const std::bad_alloc &) {
        // Less may still fit where twice as much does not.
        try {
            m_body.reserve(int(bodyBytes));
        } catch (const std::bad_alloc &) {
            qDebug() << "33_PrintBody out of memory for" << bodyBytes << "bytes";
            return false;
        }
    }
    return m_body.capacity() >= bodyBytes;
}

void PrintBodyWriter::fail()
{
    m_failed = true;
    m_body = QByteArray();
    m_carried = 0;
}
