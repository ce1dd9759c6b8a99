#include "rawservice.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

namespace {

const QByteArray kPrintPath = "/v1.1/transparentPrinting";
const QByteArray kResultPath = "/v1.1/printResult";
const QByteArray kStatePath = "/v1.1/getNumberStatu";

QByteArray response(int status, const QByteArray &body)
{
    return RawHttpPeer::response(status, body);
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
    m_peer.setHandler(
        [this](QTcpSocket *socket, const CapturedRequest &request) { answer(socket, request); });
}

bool RawService::listen()
{
    garbage();
    return m_peer.listen();
}

QString RawService::base() const
{
    return m_peer.base();
}

void RawService::clear()
{
    m_jobs.clear();
    m_requests.clear();
    m_peer.clearRequests();
    m_printAnswer = m_resultAnswer = m_stateAnswer = Answer::Normal;
    m_jobIdPrefix = "RAW";
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

void RawService::answer(QTcpSocket *socket, const CapturedRequest &request)
{
    const QByteArray path = request.path();
    const int query = request.target.indexOf('?');
    // The value as the service reads it: up to the next "&", percent-encoding undone.
    m_lastQuery = query < 0 ? QByteArray()
                            : QByteArray::fromPercentEncoding(
                                request.target.mid(query + 1).split('&').value(0).split('=').value(1));
    ++m_requests[path];
    Answer kind = m_stateAnswer;
    if (path == kPrintPath) {
        kind = m_printAnswer;
        const QJsonObject print = QJsonDocument::fromJson(request.body).object();
        m_lastSerial = print.value(QStringLiteral("tvNumber")).toArray().at(0).toString();
        m_jobs.append(request.postedJob());
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
        socket->write(
            "HTTP/1.1 302 Found\r\nLocation: " + base().toUtf8() + "/elsewhere\r\nContent-Length: 0\r\n\r\n");
        break;
    case Answer::ResetMidway: {
        const QByteArray whole = response(200, padded(normalBody(path)));
        socket->write(whole.left(whole.indexOf("\r\n\r\n") + 4 + 1024 * 1024));
        RawHttpPeer::resetAfterWrite(socket);
        break;
    }
    }
}
