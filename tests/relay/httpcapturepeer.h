#ifndef HTTPCAPTUREPEER_H
#define HTTPCAPTUREPEER_H

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

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
// answers each request with the configured response, or never when told to stay silent.
class HttpCapturePeer : public QObject
{
    Q_OBJECT
public:
    explicit HttpCapturePeer(QObject *parent = nullptr);

    bool listen();
    QString base() const;
    void setResponse(int status, const QByteArray &body);
    void setSilent(bool silent);
    QList<CapturedRequest> requests() const;

signals:
    void requestReceived();

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);

    QTcpServer m_server;
    int m_status = 200;
    QByteArray m_body = "{}";
    bool m_silent = false;
    QList<CapturedRequest> m_requests;
    QMap<QTcpSocket *, QByteArray> m_buffers;
};

#endif // HTTPCAPTUREPEER_H
