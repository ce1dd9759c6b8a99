#ifndef RAWHTTPPEER_H
#define RAWHTTPPEER_H

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

struct CapturedRequest
{
    QByteArray method;
    QByteArray target;
    // Names in lower case.
    QMap<QByteArray, QByteArray> headers;
    QByteArray body;

    // The target without its query.
    QByteArray path() const;
    // The job bytes a print post carries.
    QByteArray postedJob() const;
};

// A bare HTTP peer on loopback written straight onto TCP, for what the service stand-in cannot
// show or do: it keeps every request exactly as it came over the wire (request line, headers, body
// bytes), and answers with whatever a test wants, down to bytes of the test's own, a hang-up
// without an answer, or an answer cut off by a reset. It can take requests in slowly, or stop
// taking them at all. One connection may carry several requests, one after the other.
//
// By default each request gets the configured response and the connection is closed; a handler
// set with setHandler() answers instead (the request is recorded either way).
class RawHttpPeer : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<void(QTcpSocket *socket, const CapturedRequest &request)>;

    explicit RawHttpPeer(QObject *parent = nullptr);

    bool listen();
    QString base() const;

    void setHandler(const Handler &handler) { m_handler = handler; }
    void setResponse(int status, const QByteArray &body);
    void setSilent(bool silent);
    // Sent as it is, instead of the configured response, once a request is complete.
    void setRawAnswer(const QByteArray &answer);
    // Closes the connection once the request is complete, without a word.
    void setCloseWithoutAnswer(bool close);
    // Takes in at most `bytes` of a connection every `intervalMs` (0 bytes: takes nothing at all
    // after the connection is made).
    void setReadPace(qint64 bytes, int intervalMs);
    // The next `connections` connections are taken in for nothing and reset after `afterMs`: a
    // service that goes away under a request's body.
    void setHangUpUnread(int connections, int afterMs);

    QList<CapturedRequest> requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }
    int connectionCount() const { return m_connections; }
    // Bytes taken in, over all connections.
    qint64 bytesReceived() const { return m_bytesReceived; }
    // Timer rounds of a paced connection that took bytes in.
    int pacedReads() const { return m_pacedReads; }

    // A whole answer with a JSON body and its length.
    static QByteArray response(
        int status, const QByteArray &body, const QByteArray &contentType = "application/json;charset=UTF-8");
    // Sends what is written so far, then ends the connection with a reset instead of a close.
    static void resetAfterWrite(QTcpSocket *socket);

signals:
    void requestReceived();
    void connectionReceived();

private:
    void onNewConnection();
    void take(QTcpSocket *socket, const QByteArray &bytes);
    void answer(QTcpSocket *socket);

    QTcpServer m_server;
    Handler m_handler;
    int m_status = 200;
    QByteArray m_body = "{}";
    bool m_silent = false;
    QByteArray m_rawAnswer;
    bool m_closeWithoutAnswer = false;
    qint64 m_paceBytes = -1;
    int m_paceIntervalMs = 0;
    int m_hangUps = 0;
    int m_hangUpAfterMs = 0;
    int m_connections = 0;
    qint64 m_bytesReceived = 0;
    int m_pacedReads = 0;
    QList<CapturedRequest> m_requests;
    QMap<QTcpSocket *, QByteArray> m_buffers;
};

#endif // RAWHTTPPEER_H
