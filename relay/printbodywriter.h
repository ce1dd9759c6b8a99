#ifndef PRINTBODYWRITER_H
#define PRINTBODYWRITER_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Builds the body of a print post while the job is still arriving. Each piece of the job is
// Base64-encoded straight into the one body buffer as it comes, so the raw job is never kept whole:
// a job of n bytes costs the body's 4n/3 and nothing more. The finished body is byte for byte the
// indented JSON that QJsonDocument writes for the same object (see printRequestBody).
class PrintBodyWriter
{
public:
    explicit PrintBodyWriter(const QString &cloudSn);

    // Makes room for a job of `jobBytes` at once, so the body never has to move while it fills.
    // False (and nothing changes) when such a body is more than a byte array holds or memory is short;
    // appending may still succeed with less.
    bool reserveFor(qint64 jobBytes);
    // Encodes the next bytes of the job into the body. False when the body cannot grow (larger than
    // a byte array holds, or out of memory): the body is then dropped, and the writer stays failed
    // until clear().
    bool append(const char *data, qint64 size);
    // The finished body, null when the writer failed; the writer is empty afterwards.
    QByteArray finish();
    // Drops the body and starts again with no job bytes.
    void clear();

    bool failed() const { return m_failed; }
    // Job bytes appended since the start (also those of a failed body).
    qint64 jobBytes() const { return m_jobBytes; }
    // The body's length for a job of `jobBytes`.
    qint64 bodyBytesFor(qint64 jobBytes) const;

    // The most a body may hold: a byte array's own limit, with room for its header.
    static qint64 maxBodyBytes();
    // Standard, padded Base64 of `size` bytes at `in`, written to `out` (base64Length(size) bytes).
    static void encodeBase64(const uchar *in, qint64 size, char *out);

private:
    bool ensureCapacity(qint64 bodyBytes);
    void fail();

    QByteArray m_head; // the JSON text before the Base64 text
    QByteArray m_tail; // and after it
    QByteArray m_body;
    // A job's bytes are encoded three at a time; up to two wait here for the next piece.
    uchar m_carry[2] = { 0, 0 };
    int m_carried = 0;
    qint64 m_jobBytes = 0;
    bool m_failed = false;
};

#endif // PRINTBODYWRITER_H
