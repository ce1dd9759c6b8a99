#ifndef HTTPCAPTUREPEER_H
#define HTTPCAPTUREPEER_H

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;
class QTimer;

struct CapturedRequest
{
    QByteArray method;
    QByteArray target;
    // Names in lower case.
    QMap<QByteArray, QByteArray> headers;
    QByteArray body;
};

// The job bytes a print post carries.
QByteArray postedJob(const CapturedRequest &request);

// A bare HTTP peer on loopback that keeps every request exactly as it came over the wire, for what
// the service stand-in cannot show: the raw request line, the headers and the body's bytes. It
// answers each request with the configured response, or never when told to stay silent. It can also
// misbehave the ways a real service or its uplink does: answer with bytes of the test's own, hang
// up without an answer, take the request in slowly, or stop taking it at all.
class HttpCapturePeer : public QObject
{
    Q_OBJECT
public:
    explicit HttpCapturePeer(QObject *parent = nullptr);

    bool listen();
    QString base() const;
    void setResponse(int status, const QByteArray &body);
    void setSilent(bool silent);
    // Sent as it is, instead of the configured response, once a request is complete.
    void setRawAnswer(const QByteArray &answer);
    // Closes the connection once the request is complete, without a word.
    void setCloseWithoutAnswer(bool close);
    // Takes in at most `bytes` of a connection every `intervalMs` (0 bytes: takes nothing at all
    // after the connection is made).
    void setReadPace(qint64 bytes, int intervalMs);
    QList<CapturedRequest> requests() const;
    int connectionCount() const { return m_connections; }
    // Bytes taken in, over all connections.
    qint64 bytesReceived() const { return m_bytesReceived; }
    // Timer rounds of a paced connection that took bytes in.
    int pacedReads() const { return m_pacedReads; }

signals:
    void requestReceived();
    void connectionReceived();

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void take(QTcpSocket *socket, const QByteArray &bytes);

    QTcpServer m_server;
    int m_status = 200;
    QByteArray m_body = "{}";
    bool m_silent = false;
    QByteArray m_rawAnswer;
    bool m_closeWithoutAnswer = false;
    qint64 m_paceBytes = -1;
    int m_paceIntervalMs = 0;
    int m_connections = 0;
    qint64 m_bytesReceived = 0;
    int m_pacedReads = 0;
    QList<CapturedRequest> m_requests;
    QMap<QTcpSocket *, QByteArray> m_buffers;
};

#endif // HTTPCAPTUREPEER_H
