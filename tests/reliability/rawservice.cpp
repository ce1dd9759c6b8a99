#include "rawservice.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

#include <sys/socket.h>

namespace {

const QByteArray kPrintPath = "/v1.1/transparentPrinting";
const QByteArray kResultPath = "/v1.1/printResult";
const QByteArray kStatePath = "/v1.1/getNumberStatu";

QByteArray response(int status, const QByteArray &body)
{
    return "HTTP/1.1 " + QByteArray::number(status) + (status == 200 ? " OK" : " Error")
        + "\r\nContent-Type: application/json;charset=UTF-8\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// A JSON object with one member of several MiB beside the members the program reads.
QByteArray padded(const QByteArray &json)
{
    QByteArray body = json;
    body.chop(1);
    body += ",\"padding\":\"" + QByteArray(RawService::kHugeBytes, 'p') + "\"}";
    return body;
}

QByteArray makeGarbage()
{
    QByteArray body;
    body.reserve(RawService::kHugeBytes);
    for (int i = 0; body.size() < RawService::kHugeBytes; ++i)
        body += "<div>" + QByteArray::number(i) + " }]{[\"\\</div>";
    return body;
}

// Made once: a slow build would otherwise spend seconds on it per answer.
const QByteArray &garbage()
{
    static const QByteArray body = makeGarbage();
    return body;
}

} // namespace

RawService::RawService(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &RawService::onNewConnection);
}

bool RawService::listen()
{
    garbage();
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QString RawService::base() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
}

void RawService::clear()
{
    m_jobs.clear();
    m_requests.clear();
    m_printAnswer = m_resultAnswer = m_stateAnswer = Answer::Normal;
    m_jobIdPrefix = "RAW";
}

void RawService::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

void RawService::onReadyRead(QTcpSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    // One connection may carry several requests, one after the other.
    for (;;) {
        const int headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        qint64 length = 0;
        for (const QByteArray &line : lines) {
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        }
        if (buffer.size() < headerEnd + 4 + length)
            return;
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        QByteArray path = requestLine.value(1);
        const int query = path.indexOf('?');
        // The value as the service reads it: up to the next "&", percent-encoding undone.
        m_lastQuery = query < 0 ? QByteArray()
                                : QByteArray::fromPercentEncoding(path.mid(query + 1).split('&').value(0).split('=').value(1));
        if (query >= 0)
            path.truncate(query);
        const QByteArray body = buffer.mid(headerEnd + 4, int(length));
        buffer.remove(0, headerEnd + 4 + int(length));
        answer(socket, path, body);
        if (socket->state() != QAbstractSocket::ConnectedState)
            return;
    }
}

QByteArray RawService::normalBody(const QByteArray &path) const
{
    if (path == kPrintPath) {
        const QByteArray id = m_jobIdPrefix + QByteArray::number(m_jobs.size());
        return "{\"code\":0,\"msg\":\"success\",\"data\":{\"tolvixId\":\"" + id + "\"}}";
    }
    if (path == kResultPath) {
        // Only the jobs it handed out an id for are known, as with the real service.
        const int index
            = m_lastQuery.startsWith(m_jobIdPrefix) ? m_lastQuery.mid(m_jobIdPrefix.size()).toInt() : 0;
        if (index < 1 || index > m_jobs.size())
            return "{\"code\":4004,\"msg\":\"任务不存在\",\"data\":\"任务不存在\"}";
        return "{\"code\":0,\"msg\":\"success\",\"data\":{\"" + m_lastSerial.toUtf8() + "\":\"打印成功\"}}";
    }
    return "{\"code\":0,\"msg\":\"success\",\"data\":\"1\"}";
}

void RawService::answer(QTcpSocket *socket, const QByteArray &path, const QByteArray &body)
{
    ++m_requests[path];
    Answer kind = m_stateAnswer;
    if (path == kPrintPath) {
        kind = m_printAnswer;
        const QJsonObject request = QJsonDocument::fromJson(body).object();
        m_lastSerial = request.value(QStringLiteral("tvNumber")).toArray().at(0).toString();
        m_jobs.append(
            QByteArray::fromBase64(request.value(QStringLiteral("printData")).toString().toLatin1()));
    } else if (path == kResultPath) {
        kind = m_resultAnswer;
    }

    switch (kind) {
    case Answer::Normal:
        socket->write(response(200, normalBody(path)));
        break;
    case Answer::HugeJson:
        socket->write(response(200, padded(normalBody(path))));
        break;
    case Answer::HugeGarbage:
        socket->write(response(200, garbage()));
        break;
    case Answer::Custom:
        socket->write(response(200, m_customBody));
        break;
    case Answer::KeepAndClose:
        socket->disconnectFromHost();
        break;
    case Answer::Redirect:
        socket->write("HTTP/1.1 302 Found\r\nLocation: " + base().toUtf8() + "/elsewhere\r\nContent-Length: 0\r\n\r\n");
        break;
    case Answer::ResetMidway: {
        const QByteArray whole = response(200, padded(normalBody(path)));
        socket->write(whole.left(whole.indexOf("\r\n\r\n") + 4 + 1024 * 1024));
        // The client may live in this thread, so the half answer is let out by the event loop
        // before the reset rather than waited for here.
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
        break;
    }
    }
}
