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

// A byte array holds a little less than INT_MAX bytes; keep clear of its header.
constexpr qint64 kMaxBodyBytes = std::numeric_limits<int>::max() - 4096;

void encodeBase64Into(const uchar *in, qint64 n, char *out)
{
    qint64 i = 0;
    for (; i + 3 <= n; i += 3) {
        const quint32 v = (quint32(in[i]) << 16) | (quint32(in[i + 1]) << 8) | quint32(in[i + 2]);
        *out++ = kAlphabet[(v >> 18) & 0x3f];
        *out++ = kAlphabet[(v >> 12) & 0x3f];
        *out++ = kAlphabet[(v >> 6) & 0x3f];
        *out++ = kAlphabet[v & 0x3f];
    }
    const qint64 rest = n - i;
    if (rest == 1) {
        const quint32 v = quint32(in[i]) << 16;
        *out++ = kAlphabet[(v >> 18) & 0x3f];
        *out++ = kAlphabet[(v >> 12) & 0x3f];
        *out++ = '=';
        *out++ = '=';
    } else if (rest == 2) {
        const quint32 v = (quint32(in[i]) << 16) | (quint32(in[i + 1]) << 8);
        *out++ = kAlphabet[(v >> 18) & 0x3f];
        *out++ = kAlphabet[(v >> 12) & 0x3f];
        *out++ = kAlphabet[(v >> 6) & 0x3f];
        *out++ = '=';
    }
}
} // namespace

qint64 base64Length(qint64 n)
{
    return (n + 2) / 3 * 4;
}

QByteArray printRequestBody(const QString &cloudSn, const QByteArray &job)
{
    // Let Qt write everything but the Base64 text, so the serial's escaping, the key order and the
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
        return QByteArray();
    }
    const int split = at + key.size();

    const qint64 encoded = base64Length(job.size());
    const qint64 total = text.size() + encoded;
    if (total > kMaxBodyBytes) {
        qDebug() << "32_PrintBody body too large:" << total;
        return QByteArray();
    }

    QByteArray body;
    try {
        body = QByteArray(int(total), Qt::Uninitialized);
    } catch (const std::bad_alloc &) {
        qDebug() << "33_PrintBody out of memory for" << total << "bytes";
        return QByteArray();
    }
    char *out = body.data();
    std::memcpy(out, text.constData(), size_t(split));
    out += split;
    encodeBase64Into(reinterpret_cast<const uchar *>(job.constData()), job.size(), out);
    out += encoded;
    std::memcpy(out, text.constData() + split, size_t(text.size() - split));
    return body;
}
