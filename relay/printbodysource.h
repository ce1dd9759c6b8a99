#ifndef PRINTBODYSOURCE_H
#define PRINTBODYSOURCE_H

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QtGlobal>

// The JSON text of a print body before and after the Base64 text of the job, as PrintBodyWriter
// writes it for this serial. False when the writer cannot make a body at all.
bool printBodyFrame(const QString &cloudSn, QByteArray *head, QByteArray *tail);

// The body of a print post (byte for byte what printRequestBody gives) read on the fly from a job in
// another device, so that a job of gigabytes is posted from its spool file in a few dozen kilobytes
// of memory. The job runs for `jobBytes` bytes from the job device's position at open(); that device
// (a file or a buffer, opened for reading) must hand over its bytes when asked, and must allow
// seeking to read any part twice. A job that ends early is an error, never a shorter body: the body's
// length has been promised already.
class PrintBodySource : public QIODevice
{
    Q_OBJECT
public:
    PrintBodySource(const QString &cloudSn, QIODevice *job, qint64 jobBytes, QObject *parent = nullptr);

    // Read-only; false when the job device is not readable or no body can be made.
    bool open(OpenMode mode) override;
    bool isSequential() const override { return false; }
    // The whole body's length, known before a byte is read.
    qint64 size() const override;
    bool seek(qint64 pos) override;

    qint64 jobBytes() const { return m_jobBytes; }
    // Job bytes encoded per read of the job device: a multiple of three, so that only the last piece
    // carries Base64 padding.
    static constexpr qint64 jobChunkBytes() { return 48 * 1024; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 maxSize) override;

private:
    // Encodes the piece of the job whose Base64 text holds the given body offset.
    bool loadChunkAt(qint64 bodyOffset);
    void fail(const QString &why);

    QIODevice *m_job = nullptr;
    qint64 m_jobBytes = 0;
    qint64 m_jobStart = 0; // the job device's position of the job's first byte
    qint64 m_jobNext = -1; // job offset the device's position stands at, -1 when unknown
    QByteArray m_head;
    QByteArray m_tail;
    bool m_frameOk = false;
    qint64 m_pos = 0;
    QByteArray m_raw; // job bytes of the current piece
    QByteArray m_chunk; // and their Base64 text
    qint64 m_chunkStart = -1; // body offset of m_chunk's first character, -1 when none
    bool m_failed = false;
};

#endif // PRINTBODYSOURCE_H
