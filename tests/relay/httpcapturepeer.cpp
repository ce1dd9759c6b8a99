#include "httpcapturepeer.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTimer>

HttpCapturePeer::HttpCapturePeer(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &HttpCapturePeer::onNewConnection);
}

bool HttpCapturePeer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QString HttpCapturePeer::base() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
}

void HttpCapturePeer::setResponse(int status, const QByteArray &body)
{
    m_status = status;
    m_body = body;
}

void HttpCapturePeer::setSilent(bool silent)
{
    m_silent = silent;
}

void HttpCapturePeer::setRawAnswer(const QByteArray &answer)
{
    m_rawAnswer = answer;
}

void HttpCapturePeer::setCloseWithoutAnswer(bool close)
{
    m_closeWithoutAnswer = close;
}

void HttpCapturePeer::setReadPace(qint64 bytes, int intervalMs)
{
    m_paceBytes = bytes;
    m_paceIntervalMs = intervalMs;
}

QList<CapturedRequest> HttpCapturePeer::requests() const
{
    return m_requests;
}

void HttpCapturePeer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        ++m_connections;
        emit connectionReceived();
        if (m_paceBytes >= 0) {
            // The socket keeps no more than a round's worth, so the sender feels the pace at once.
            socket->setReadBufferSize(qMax<qint64>(m_paceBytes, 1));
            socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 64 * 1024);
            if (m_paceBytes > 0) {
                QTimer *timer = new QTimer(socket);
                connect(timer, &QTimer::timeout, this, [this, socket] {
                    const QByteArray bytes = socket->read(m_paceBytes);
                    if (bytes.isEmpty())
                        return;
                    ++m_pacedReads;
                    take(socket, bytes);
                });
                timer->start(m_paceIntervalMs);
            }
        } else {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        }
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

void HttpCapturePeer::onReadyRead(QTcpSocket *socket)
{
    take(socket, socket->readAll());
}

void HttpCapturePeer::take(QTcpSocket *socket, const QByteArray &bytes)
{
    m_bytesReceived += bytes.size();
    QByteArray &buffer = m_buffers[socket];
    buffer.append(bytes);
    const int headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;

    CapturedRequest request;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines.at(i).indexOf(':');
        if (colon > 0)
            request.headers.insert(
                lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed());
    }
    const int length = request.headers.value("content-length", "0").toInt();
    if (buffer.size() < headerEnd + 4 + length)
        return;
    request.body = buffer.mid(headerEnd + 4, length);
    buffer.clear();
    m_requests.append(request);
    emit requestReceived();

    if (m_silent)
        return;
    if (m_closeWithoutAnswer) {
        socket->disconnectFromHost();
        return;
    }
    if (!m_rawAnswer.isNull()) {
        socket->write(m_rawAnswer);
        socket->disconnectFromHost();
        return;
    }
    QByteArray answer = "HTTP/1.1 " + QByteArray::number(m_status)
        + " Status\r\n"
          "Content-Type: application/json\r\n"
          "Connection: close\r\n"
          "Content-Length: "
        + QByteArray::number(m_body.size()) + "\r\n\r\n" + m_body;
    socket->write(answer);
    socket->disconnectFromHost();
}

QByteArray postedJob(const CapturedRequest &request)
{
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    return QByteArray::fromBase64(body.value(QStringLiteral("printData")).toString().toLatin1());
}
