#include "statethread.h"

#include "cloudprotocol.h"
#include "logging.h"
#include "programwaits.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QUrl>

StateThread::StateThread(
    const QString &serviceBase, const QString &jobId, QNetworkAccessManager *manager, QObject *parent)
    : QObject(parent)
    , m_manager(manager ? manager : new QNetworkAccessManager(this))
    , m_url(printResultUrl(serviceBase, jobId))
{
}

StateThread::~StateThread()
{
    qDebug() << "16_StateThread destruct";
}

void StateThread::query()
{
    // The answer is read from the latest reply; a second query on top of an open one would lose it.
    if (m_reply && !m_reply->isFinished()) {
        qDebug() << "26_StateThread query still open, not sending another:" << m_reply;
        return;
    }
    const QUrl url(m_url);
    QNetworkRequest request(url);
    request.setTransferTimeout(ProgramWaits::current().cloudReplyTimeoutMs);
    QNetworkReply *reply = m_manager->get(request);
    // Ours, not the shared client's: it goes with this poller.
    reply->setParent(this);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { cloudReceive(reply); });
    m_reply = reply;
    qDebug() << "25_StateThread 查询打印状态" << url << m_reply;
}

void StateThread::cloudReceive(QNetworkReply *reply)
{
    qDebug() << "30_StateThread reply=" << reply;
    if (reply->error() == QNetworkReply::NoError) {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        qDebug().noquote() << QStringLiteral("36_StateThread status code is %3").arg(status);
        // With one query at a time this is also m_reply; reading the reply that finished keeps a
        // stray second query from reading a body that is still arriving.
        const QByteArray text = reply->readAll();
        const QJsonDocument document = QJsonDocument::fromJson(text);
        qDebug().noquote() << "30_StateThread answer" << logExcerpt(text);
        emit stateResule(reply->error(), document);
    } else {
        qDebug().noquote() << QStringLiteral("43_StateThread receive err: %1, code: %2")
                                  .arg(reply->errorString())
                                  .arg(int(reply->error()));
        emit stateResule(reply->error(), QJsonDocument());
    }
    if (reply == m_reply)
        m_reply = nullptr;
    reply->deleteLater();
}
