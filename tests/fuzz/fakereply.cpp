#include "fakereply.h"

#include <cstring>

FakeReply::FakeReply(QNetworkReply::NetworkError error, int status, const QByteArray &body, QObject *parent)
    : QNetworkReply(parent)
    , m_body(body)
{
    setAttribute(QNetworkRequest::HttpStatusCodeAttribute, status);
    if (error != QNetworkReply::NoError)
        setError(error, QStringLiteral("injected network error %1").arg(int(error)));
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    setFinished(true);
}

qint64 FakeReply::bytesAvailable() const
{
    return m_body.size() - m_offset + QNetworkReply::bytesAvailable();
}

qint64 FakeReply::readData(char *data, qint64 maxSize)
{
    const qint64 n = qMin<qint64>(maxSize, m_body.size() - m_offset);
    if (n <= 0)
        return -1;
    std::memcpy(data, m_body.constData() + m_offset, size_t(n));
    m_offset += n;
    return n;
}
