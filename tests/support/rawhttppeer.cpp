#include "rawhttppeer.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

QByteArray CapturedRequest::path() const
{
    const int query = target.indexOf('?');
    return query < 0 ? target : target.left(query);
}

QByteArray CapturedRequest::postedJob() const
{
    const QJsonObject object = QJsonDocument::fromJson(body).object();
    return QByteArray::fromBase64(object.value(QStringLiteral("printData")).toString().toLatin1());
}

RawHttpPeer::RawHttpPeer(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &RawHttpPeer::onNewConnection);
}

bool RawHttpPeer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QString RawHttpPeer::base() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
}

void RawHttpPeer::setResponse(int status, const QByteArray &body)
{
    m_status = status;
    m_body = body;
}

void RawHttpPeer::setSilent(bool silent)
{
    m_silent = silent;
}

void RawHttpPeer::setRawAnswer(const QByteArray &answer)
{
    m_rawAnswer = answer;
}

void RawHttpPeer::setCloseWithoutAnswer(bool close)
{
    m_closeWithoutAnswer = close;
}

void RawHttpPeer::setReadPace(qint64 bytes, int intervalMs)
{
    m_paceBytes = bytes;
    m_paceIntervalMs = intervalMs;
}

void RawHttpPeer::setHangUpUnread(int connections, int afterMs)
{
    m_hangUps = connections;
    m_hangUpAfterMs = afterMs;
}

QByteArray RawHttpPeer::response(int status, const QByteArray &body, const QByteArray &contentType)
{
    return "HTTP/1.1 " + QByteArray::number(status) + (status == 200 ? " OK" : " Error")
        + "\r\nContent-Type: " + contentType + "\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\n\r\n" + body;
}

void RawHttpPeer::resetAfterWrite(QTcpSocket *socket)
{
    // The client may live in this thread, so what was written is let out by the event loop before
    // the reset rather than waited for here.
    connect(socket, &QTcpSocket::bytesWritten, socket, [socket] {
        if (socket->bytesToWrite() > 0)
            return;
        // Linger with a zero time-out turns the close into a reset.
        const struct linger reset
        {
            1, 0
        };
        ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        socket->abort();
    });
}

void RawHttpPeer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        ++m_connections;
        emit connectionReceived();
        if (m_hangUps > 0) {
            --m_hangUps;
            socket->setReadBufferSize(1);
            socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 64 * 1024);
            QTimer::singleShot(m_hangUpAfterMs, socket, [socket] { socket->abort(); });
        } else if (m_paceBytes >= 0) {
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
            connect(
                socket, &QTcpSocket::readyRead, this, [this, socket] { take(socket, socket->readAll()); });
        }
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

void RawHttpPeer::take(QTcpSocket *socket, const QByteArray &bytes)
{
    m_bytesReceived += bytes.size();
    QByteArray &buffer = m_buffers[socket];
    buffer.append(bytes);
    while (socket->state() == QAbstractSocket::ConnectedState) {
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
        buffer.remove(0, headerEnd + 4 + length);
        m_requests.append(request);
        emit requestReceived();

        if (m_handler)
            m_handler(socket, request);
        else
            answer(socket);
    }
}

void RawHttpPeer::answer(QTcpSocket *socket)
{
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
    const QByteArray answer = "HTTP/1.1 " + QByteArray::number(m_status)
        + " Status\r\n"
          "Content-Type: application/json\r\n"
          "Connection: close\r\n"
          "Content-Length: "
        + QByteArray::number(m_body.size()) + "\r\n\r\n" + m_body;
    socket->write(answer);
    socket->disconnectFromHost();
}
