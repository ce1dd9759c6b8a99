#ifndef HTTPPOST_H
#define HTTPPOST_H

#include <QByteArray>
#include <QNetworkReply>
#include <QString>
#include <QUrl>
#include <QtGlobal>

class QIODevice;
class QTcpSocket;
class QTimer;

// The network error for the status of a complete HTTP answer, as Qt's HTTP layer reports it, except
// that a 3xx is ProtocolFailure: a redirect is not followed, and it is not an acceptance either.
QNetworkReply::NetworkError networkErrorForHttpStatus(int status);

// One HTTP/1.1 POST over a connection of its own, sent exactly once. A print job must never be
// printed twice, so nothing is ever sent again (not after a dropped connection, not to a redirect),
// and the body is streamed from a device as the connection drains, so that its size costs no memory.
// Waits count silence, not total time: a slow uplink may take as long as it needs while it moves.
//
// It is the post's reply too, so that whatever handles the network layer's replies handles it: it
// finishes once (finished(), with errorOccurred() before it on an error), and the answer's body is
// read from it or taken whole with answerBody(). The errors besides those of networkErrorForHttpStatus:
//   ConnectionRefusedError, HostNotFoundError, other socket errors as Qt names them;
//   RemoteHostClosedError  the connection ended before the answer was complete;
//   TimeoutError           no progress within the idle limit, sending or waiting for the answer;
//   OperationCanceledError abort();
//   ContentReSendError     the body device failed to give its bytes (Qt's name for upload data that
//                          cannot be read; no resend is ever tried here);
//   ProtocolUnknownError   not an http URL, or no readable body;
//   ProtocolFailure        an answer that is not HTTP, or is larger than maxAnswerBytes().
// It lives in the thread that made it and needs that thread's event loop.
class HttpPost : public QNetworkReply
{
    Q_OBJECT
public:
    explicit HttpPost(QObject *parent = nullptr);
    ~HttpPost() override;

    // The longest the body may make no progress (the connection being made counts as sending), and
    // after its last byte is out, the longest the answer may. Both ProgramWaits::cloudReplyTimeoutMs
    // unless set; set them before post().
    void setUploadIdleTimeout(int ms);
    int uploadIdleTimeout() const { return m_uploadIdleMs; }
    void setAnswerIdleTimeout(int ms);
    int answerIdleTimeout() const { return m_answerIdleMs; }

    // Posts `bodySize` bytes of `body` from its current position, once per object. The request is
    // the request line, Host, Content-Type, Content-Length and Connection: close, nothing more. The
    // body device must stay alive until finished(); a sequential one is read as its readyRead comes.
    void post(const QUrl &url, const QByteArray &contentType, QIODevice *body, qint64 bodySize);
    // Ends the post at once with OperationCanceledError; finished() comes before it returns.
    void abort() override;

    // The status of the answer, 0 while none has come.
    int httpStatus() const { return m_status; }
    QByteArray answerBody() const { return m_answer; }
    // Every body byte has been handed over to the connection: the service may have the job, even if
    // the post failed afterwards.
    bool bodySent() const { return m_bodySent; }
    qint64 bodyBytesSent() const;

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

    // The most of an answer's body that is kept; a larger answer fails.
    static constexpr qint64 maxAnswerBytes() { return qint64(16) << 20; }
    // The system's send buffer for the post's connection.
    static constexpr qint64 maxSystemBufferBytes() { return qint64(512) << 10; }
    // The most of the body queued in the socket at once.
    static constexpr qint64 maxQueuedBytes() { return qint64(256) << 10; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;

private:
    enum class Part { StatusLine, Headers, Body, ChunkSize, ChunkData, ChunkEnd, Trailers, UntilClose, Done };

    void onConnected();
    void onBytesWritten(qint64 bytes);
    void onReadyRead();
    void onSocketError();
    void onClosed();
    void onIdle();
    void sendBody();
    // Moves what has arrived through the answer; false once the post has finished.
    bool parse();
    bool parseHeaderLine(const QByteArray &line);
    bool startBody();
    bool keepAnswer(const QByteArray &bytes);
    void complete();
    void fail(QNetworkReply::NetworkError error, const QString &why);
    void finish();
    void closeSocket();
    void restartIdle();

    QTcpSocket *m_socket = nullptr;
    QTimer *m_idle = nullptr;
    QIODevice *m_body = nullptr;
    QByteArray m_head;
    QByteArray m_piece;
    qint64 m_bodySize = 0;
    qint64 m_bodyQueued = 0; // body bytes written into the socket
    qint64 m_wireOut = 0; // request bytes the socket handed to the system
    int m_uploadIdleMs;
    int m_answerIdleMs;
    bool m_started = false;
    bool m_posting = false; // inside post(): finished() must wait for the caller
    bool m_done = false;
    bool m_bodySent = false;

    QByteArray m_in; // answer bytes not parsed yet
    Part m_part = Part::StatusLine;
    int m_status = 0;
    QByteArray m_reason;
    qint64 m_headBytes = 0;
    qint64 m_contentLength = -1;
    bool m_chunked = false;
    qint64 m_left = 0; // of the body or of the chunk being read
    QByteArray m_answer;
    qint64 m_readOffset = 0;
};

#endif // HTTPPOST_H
