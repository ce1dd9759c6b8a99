#include "httppost.h"

#include "programwaits.h"

#include <QIODevice>
#include <QNetworkRequest>
#include <QTcpSocket>
#include <QTimer>

#include <cstring>

namespace {
// A status line and headers longer than this are no answer the relay needs to read.
constexpr qint64 kMaxHeadBytes = 64 * 1024;
// Body bytes read from the body device at a time.
constexpr qint64 kPieceBytes = 64 * 1024;

QNetworkReply::NetworkError networkErrorForSocketError(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::HostNotFoundError:
        return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::RemoteHostClosedError:
        return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::SocketTimeoutError:
        return QNetworkReply::TimeoutError;
    case QAbstractSocket::ProxyAuthenticationRequiredError:
        return QNetworkReply::ProxyAuthenticationRequiredError;
    case QAbstractSocket::ProxyConnectionRefusedError:
        return QNetworkReply::ProxyConnectionRefusedError;
    case QAbstractSocket::ProxyConnectionClosedError:
        return QNetworkReply::ProxyConnectionClosedError;
    case QAbstractSocket::ProxyConnectionTimeoutError:
        return QNetworkReply::ProxyTimeoutError;
    case QAbstractSocket::ProxyNotFoundError:
        return QNetworkReply::ProxyNotFoundError;
    default:
        return QNetworkReply::UnknownNetworkError;
    }
}

// A header line ends with CRLF; a bare LF is taken too, as lenient peers send it.
int lineEnd(const QByteArray &bytes)
{
    return bytes.indexOf('\n');
}

QByteArray takeLine(QByteArray &bytes, int end)
{
    QByteArray line = bytes.left(end);
    if (line.endsWith('\r'))
        line.chop(1);
    bytes.remove(0, end + 1);
    return line;
}
} // namespace

QNetworkReply::NetworkError networkErrorForHttpStatus(int status)
{
    if (status >= 200 && status < 300)
        return QNetworkReply::NoError;
    if (status >= 300 && status < 400)
        return QNetworkReply::ProtocolFailure;
    switch (status) {
    case 400:
    case 418:
        return QNetworkReply::ProtocolInvalidOperationError;
    case 401:
        return QNetworkReply::AuthenticationRequiredError;
    case 403:
        return QNetworkReply::ContentAccessDenied;
    case 404:
        return QNetworkReply::ContentNotFoundError;
    case 405:
        return QNetworkReply::ContentOperationNotPermittedError;
    case 407:
        return QNetworkReply::ProxyAuthenticationRequiredError;
    case 409:
        return QNetworkReply::ContentConflictError;
    case 410:
        return QNetworkReply::ContentGoneError;
    case 500:
        return QNetworkReply::InternalServerError;
    case 501:
        return QNetworkReply::OperationNotImplementedError;
    case 503:
        return QNetworkReply::ServiceUnavailableError;
    default:
        break;
    }
    if (status > 500)
        return QNetworkReply::UnknownServerError;
    if (status >= 400)
        return QNetworkReply::UnknownContentError;
    // 1xx never ends an answer, and anything else is no HTTP status.
    return QNetworkReply::ProtocolFailure;
}

HttpPost::HttpPost(QObject *parent)
    : QNetworkReply(parent)
    , m_idle(new QTimer(this))
    , m_uploadIdleMs(ProgramWaits::current().cloudReplyTimeoutMs)
    , m_answerIdleMs(m_uploadIdleMs)
{
    m_idle->setSingleShot(true);
    connect(m_idle, &QTimer::timeout, this, &HttpPost::onIdle);
}

HttpPost::~HttpPost()
{
    closeSocket();
}

void HttpPost::setUploadIdleTimeout(int ms)
{
    m_uploadIdleMs = qMax(ms, 1);
}

void HttpPost::setAnswerIdleTimeout(int ms)
{
    m_answerIdleMs = qMax(ms, 1);
}

qint64 HttpPost::bodyBytesSent() const
{
    return qBound<qint64>(0, m_wireOut - m_head.size(), m_bodySize);
}

void HttpPost::post(const QUrl &url, const QByteArray &contentType, QIODevice *body, qint64 bodySize)
{
    if (m_started) {
        qWarning("HttpPost: one post per object");
        return;
    }
    m_started = true;
    m_posting = true;
    setUrl(url);
    setOperation(QNetworkAccessManager::PostOperation);
    QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    m_body = body;
    m_bodySize = qMax<qint64>(bodySize, 0);

    if (!url.isValid() || url.scheme() != QLatin1String("http") || url.host().isEmpty()) {
        fail(QNetworkReply::ProtocolUnknownError,
            QStringLiteral("Cannot post to %1").arg(url.toDisplayString()));
    } else if (!body || !body->isReadable() || bodySize < 0) {
        fail(QNetworkReply::ProtocolUnknownError, QStringLiteral("No readable body to post"));
    } else if (contentType.contains('\r') || contentType.contains('\n')) {
        fail(QNetworkReply::ProtocolUnknownError, QStringLiteral("Invalid content type"));
    } else {
        QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
        if (target.isEmpty())
            target = "/";
        if (url.hasQuery())
            target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
        QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
        if (host.contains(':'))
            host = '[' + host + ']';
        if (url.port() != -1 && url.port() != 80)
            host += ':' + QByteArray::number(url.port());
        m_head = "POST " + target + " HTTP/1.1\r\nHost: " + host + "\r\nContent-Type: " + contentType
            + "\r\nContent-Length: " + QByteArray::number(m_bodySize) + "\r\nConnection: close\r\n\r\n";

        m_socket = new QTcpSocket(this);
        // What has arrived is parsed as it comes; the socket need not hold more than a slice of it.
        m_socket->setReadBufferSize(maxQueuedBytes());
        connect(m_socket, &QTcpSocket::connected, this, &HttpPost::onConnected);
        connect(m_socket, &QTcpSocket::bytesWritten, this, &HttpPost::onBytesWritten);
        connect(m_socket, &QTcpSocket::readyRead, this, &HttpPost::onReadyRead);
        connect(m_socket, &QTcpSocket::errorOccurred, this, &HttpPost::onSocketError);
        connect(m_socket, &QTcpSocket::disconnected, this, &HttpPost::onClosed);
        if (m_body->isSequential())
            connect(m_body, &QIODevice::readyRead, this, &HttpPost::sendBody);
        m_idle->setInterval(m_uploadIdleMs);
        m_idle->start();
        m_socket->connectToHost(url.host(), quint16(url.port(80)));
    }
    m_posting = false;
    if (m_done)
        QMetaObject::invokeMethod(this, &HttpPost::finish, Qt::QueuedConnection);
}

void HttpPost::abort()
{
    if (!m_started || m_done)
        return;
    fail(QNetworkReply::OperationCanceledError, QStringLiteral("Operation canceled"));
}

qint64 HttpPost::bytesAvailable() const
{
    return m_answer.size() - m_readOffset + QNetworkReply::bytesAvailable();
}

qint64 HttpPost::readData(char *data, qint64 maxSize)
{
    const qint64 n = qMin<qint64>(maxSize, m_answer.size() - m_readOffset);
    if (n <= 0)
        return m_done ? -1 : 0;
    std::memcpy(data, m_answer.constData() + m_readOffset, size_t(n));
    m_readOffset += n;
    return n;
}

void HttpPost::onConnected()
{
    // The system's buffer stays small, so that the body's last byte leaving this socket is the last
    // byte leaving the machine within seconds even on a slow uplink: the answer's wait starts then.
    m_socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, int(maxSystemBufferBytes()));
    restartIdle();
    m_socket->write(m_head);
    sendBody();
}

void HttpPost::sendBody()
{
    if (m_done || !m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    // Only as much as the socket can pass on soon is read: a job of gigabytes is never held, and a
    // slow uplink simply takes longer to ask for the next piece.
    while (m_bodyQueued < m_bodySize && m_socket->bytesToWrite() < maxQueuedBytes()) {
        const qint64 want = qMin(kPieceBytes, m_bodySize - m_bodyQueued);
        m_piece.resize(int(want));
        const qint64 got = m_body->read(m_piece.data(), want);
        if (got < 0 || (got == 0 && !m_body->isSequential())) {
            const QString why = got < 0 ? m_body->errorString() : QStringLiteral("it ended");
            fail(QNetworkReply::ContentReSendError,
                QStringLiteral("The body gave %1 of its %2 bytes: %3")
                    .arg(m_bodyQueued)
                    .arg(m_bodySize)
                    .arg(why));
            return;
        }
        if (got == 0)
            return; // a sequential body has more to come
        m_socket->write(m_piece.constData(), got);
        m_bodyQueued += got;
    }
}

void HttpPost::onBytesWritten(qint64 bytes)
{
    if (m_done)
        return;
    m_wireOut += bytes;
    restartIdle();
    emit uploadProgress(bodyBytesSent(), m_bodySize);
    if (!m_bodySent && m_wireOut >= m_head.size() + m_bodySize) {
        m_bodySent = true;
        // From here on it is the answer that has to move.
        m_idle->setInterval(m_answerIdleMs);
        m_idle->start();
    }
    sendBody();
}

void HttpPost::onReadyRead()
{
    if (m_done)
        return;
    const QByteArray bytes = m_socket->readAll();
    if (bytes.isEmpty())
        return;
    restartIdle();
    m_in.append(bytes);
    parse();
}

void HttpPost::onSocketError()
{
    if (m_done)
        return;
    const QAbstractSocket::SocketError error = m_socket->error();
    if (error == QAbstractSocket::RemoteHostClosedError)
        onClosed();
    else
        fail(networkErrorForSocketError(error), m_socket->errorString());
}

void HttpPost::onClosed()
{
    // The answer's last bytes may still be waiting in the socket.
    while (!m_done && m_socket->bytesAvailable() > 0)
        onReadyRead();
    if (m_done)
        return;
    if (m_part == Part::UntilClose) {
        complete();
        return;
    }
    fail(QNetworkReply::RemoteHostClosedError,
        m_status == 0 ? QStringLiteral("Connection closed before an answer came")
                      : QStringLiteral("Connection closed before the answer was complete"));
}

void HttpPost::onIdle()
{
    if (m_done)
        return;
    if (m_bodySent)
        fail(QNetworkReply::TimeoutError, QStringLiteral("No answer for %1 ms").arg(m_answerIdleMs));
    else
        fail(QNetworkReply::TimeoutError,
            QStringLiteral("The post made no progress for %1 ms after %2 of %3 body bytes")
                .arg(m_uploadIdleMs)
                .arg(bodyBytesSent())
                .arg(m_bodySize));
}

bool HttpPost::parse()
{
    while (!m_done) {
        switch (m_part) {
        case Part::StatusLine:
        case Part::Headers:
        case Part::ChunkSize:
        case Part::ChunkEnd:
        case Part::Trailers: {
            const int end = lineEnd(m_in);
            if (end < 0) {
                if (m_headBytes + m_in.size() > kMaxHeadBytes) {
                    fail(QNetworkReply::ProtocolFailure, QStringLiteral("Answer line too long"));
                    return false;
                }
                return true;
            }
            m_headBytes += end + 1;
            if (m_headBytes > kMaxHeadBytes) {
                fail(QNetworkReply::ProtocolFailure, QStringLiteral("Answer head too long"));
                return false;
            }
            if (!parseHeaderLine(takeLine(m_in, end)))
                return false;
            break;
        }
        case Part::Body:
        case Part::ChunkData: {
            if (m_in.isEmpty())
                return true;
            const qint64 n = qMin<qint64>(m_left, m_in.size());
            if (!keepAnswer(m_in.left(int(n))))
                return false;
            m_in.remove(0, int(n));
            m_left -= n;
            if (m_left == 0) {
                if (m_part == Part::Body) {
                    complete();
                    return false;
                }
                m_part = Part::ChunkEnd;
            }
            break;
        }
        case Part::UntilClose:
            if (m_in.isEmpty())
                return true;
            if (!keepAnswer(m_in))
                return false;
            m_in.clear();
            return true;
        case Part::Done:
            return false;
        }
    }
    return false;
}

bool HttpPost::parseHeaderLine(const QByteArray &line)
{
    switch (m_part) {
    case Part::StatusLine: {
        // "HTTP/1.1 200 OK"
        const QList<QByteArray> words = line.split(' ');
        bool ok = false;
        const int status = words.value(1).toInt(&ok);
        if (!line.startsWith("HTTP/1.") || words.size() < 2 || words.at(1).size() != 3 || !ok || status < 100
            || status > 599) {
            fail(QNetworkReply::ProtocolFailure, QStringLiteral("Not an HTTP answer"));
            return false;
        }
        m_status = status;
        m_reason = line.mid(words.at(0).size() + words.at(1).size() + 2);
        m_contentLength = -1;
        m_chunked = false;
        m_part = Part::Headers;
        return true;
    }
    case Part::Headers: {
        if (line.isEmpty())
            return startBody();
        const int colon = line.indexOf(':');
        if (colon <= 0) {
            fail(QNetworkReply::ProtocolFailure, QStringLiteral("Invalid answer header"));
            return false;
        }
        const QByteArray name = line.left(colon).trimmed();
        const QByteArray value = line.mid(colon + 1).trimmed();
        const QByteArray lower = name.toLower();
        if (lower == "content-length") {
            bool ok = false;
            const qint64 length = value.toLongLong(&ok);
            if (!ok || length < 0 || (m_contentLength >= 0 && m_contentLength != length)) {
                fail(QNetworkReply::ProtocolFailure, QStringLiteral("Invalid answer length"));
                return false;
            }
            m_contentLength = length;
        } else if (lower == "transfer-encoding") {
            m_chunked = value.toLower().endsWith("chunked");
        }
        if (m_status >= 200)
            setRawHeader(name, value);
        return true;
    }
    case Part::ChunkSize: {
        const int semicolon = line.indexOf(';');
        const QByteArray digits = (semicolon < 0 ? line : line.left(semicolon)).trimmed();
        bool ok = false;
        const qint64 size = digits.toLongLong(&ok, 16);
        if (!ok || size < 0 || digits.size() > 15) {
            fail(QNetworkReply::ProtocolFailure, QStringLiteral("Invalid chunk size"));
            return false;
        }
        if (size == 0) {
            m_part = Part::Trailers;
        } else if (m_answer.size() + size > maxAnswerBytes()) {
            fail(QNetworkReply::ProtocolFailure,
                QStringLiteral("Answer larger than %1 bytes").arg(maxAnswerBytes()));
            return false;
        } else {
            m_left = size;
            m_part = Part::ChunkData;
        }
        return true;
    }
    case Part::ChunkEnd:
        if (!line.isEmpty()) {
            fail(QNetworkReply::ProtocolFailure, QStringLiteral("Invalid chunk end"));
            return false;
        }
        m_part = Part::ChunkSize;
        return true;
    case Part::Trailers:
        if (line.isEmpty()) {
            complete();
            return false;
        }
        return true;
    default:
        return true;
    }
}

bool HttpPost::startBody()
{
    if (m_status < 200) {
        // An interim answer (100 Continue and its kind): the real one follows.
        if (m_status == 101) {
            fail(QNetworkReply::ProtocolFailure, QStringLiteral("Unexpected protocol switch"));
            return false;
        }
        m_part = Part::StatusLine;
        m_status = 0;
        return true;
    }
    // The head of the final answer starts counting afresh for chunk lines and trailers.
    m_headBytes = 0;
    if (m_status == 204 || m_status == 304) {
        complete();
        return false;
    }
    if (m_chunked) {
        m_part = Part::ChunkSize;
    } else if (m_contentLength >= 0) {
        if (m_contentLength > maxAnswerBytes()) {
            fail(QNetworkReply::ProtocolFailure,
                QStringLiteral("Answer of %1 bytes, larger than %2")
                    .arg(m_contentLength)
                    .arg(maxAnswerBytes()));
            return false;
        }
        if (m_contentLength == 0) {
            complete();
            return false;
        }
        m_left = m_contentLength;
        m_part = Part::Body;
    } else {
        m_part = Part::UntilClose;
    }
    return true;
}

bool HttpPost::keepAnswer(const QByteArray &bytes)
{
    if (m_answer.size() + qint64(bytes.size()) > maxAnswerBytes()) {
        fail(QNetworkReply::ProtocolFailure,
            QStringLiteral("Answer larger than %1 bytes").arg(maxAnswerBytes()));
        return false;
    }
    m_answer.append(bytes);
    emit downloadProgress(m_answer.size(), m_contentLength);
    return !m_done;
}

void HttpPost::complete()
{
    if (m_done)
        return;
    m_done = true;
    m_part = Part::Done;
    setAttribute(QNetworkRequest::HttpStatusCodeAttribute, m_status);
    setAttribute(QNetworkRequest::HttpReasonPhraseAttribute, QString::fromLatin1(m_reason));
    const QNetworkReply::NetworkError error = networkErrorForHttpStatus(m_status);
    if (error != QNetworkReply::NoError)
        setError(error, QStringLiteral("HTTP status %1 %2").arg(m_status).arg(QString::fromLatin1(m_reason)));
    finish();
}

void HttpPost::fail(QNetworkReply::NetworkError error, const QString &why)
{
    if (m_done)
        return;
    m_done = true;
    m_part = Part::Done;
    if (m_status >= 200) {
        setAttribute(QNetworkRequest::HttpStatusCodeAttribute, m_status);
        setAttribute(QNetworkRequest::HttpReasonPhraseAttribute, QString::fromLatin1(m_reason));
    }
    setError(error, why);
    if (!m_posting)
        finish();
}

void HttpPost::finish()
{
    m_idle->stop();
    closeSocket();
    if (m_body && m_body->isSequential())
        disconnect(m_body, &QIODevice::readyRead, this, &HttpPost::sendBody);
    m_in.clear();
    m_piece.clear();
    setFinished(true);
    if (error() != QNetworkReply::NoError)
        emit errorOccurred(error());
    emit finished();
}

void HttpPost::closeSocket()
{
    if (!m_socket)
        return;
    // Nothing of the connection may come back into a finished post.
    m_socket->disconnect(this);
    m_socket->abort();
    m_socket->deleteLater();
    m_socket = nullptr;
}

void HttpPost::restartIdle()
{
    if (!m_done)
        m_idle->start();
}
