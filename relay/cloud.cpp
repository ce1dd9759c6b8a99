#include "cloud.h"

#include "cloudprotocol.h"
#include "httppost.h"
#include "logging.h"
#include "printbodysource.h"
#include "programwaits.h"

#include <QBuffer>
#include <QDebug>
#include <QFile>
#include <QNetworkRequest>
#include <QUrl>

Cloud::Cloud(const QString &url, const DriverInfo &driverInfo, QObject *parent)
    : QObject(parent)
    , m_driverInfo(driverInfo)
    , m_url(url)
{
}

Cloud::~Cloud()
{
    qDebug() << "17_Cloud destruct";
}

bool Cloud::request(const QByteArray &data, int size, const QString &jobneed)
{
    m_jobneed = jobneed;
    m_jobSize = size;
    const QUrl url = requestUrl();
    if (!url.isValid())
        return false;
    // The buffer shares the job; the body is made from it as it is sent, never whole.
    QBuffer *job = new QBuffer(this);
    job->setData(data);
    job->open(QIODevice::ReadOnly);
    return postJob(url, job, data.size());
}

bool Cloud::requestFile(const QString &spoolPath, qint64 size, const QString &jobneed)
{
    m_jobneed = jobneed;
    m_jobSize = size;
    const QUrl url = requestUrl();
    if (!url.isValid())
        return false;
    QFile *job = new QFile(spoolPath, this);
    if (!job->open(QIODevice::ReadOnly)) {
        qDebug().noquote() << QStringLiteral("29_Cloud cannot open the spool file %1: %2")
                                  .arg(spoolPath, job->errorString());
        delete job;
        return false;
    }
    return postJob(url, job, size);
}

bool Cloud::postJob(const QUrl &url, QIODevice *job, qint64 jobBytes)
{
    PrintBodySource *body = new PrintBodySource(m_driverInfo.cloud_sn, job, jobBytes, this);
    if (!body->open(QIODevice::ReadOnly)) {
        qDebug() << "29_Cloud cannot build the print body:" << body->errorString();
        delete body;
        delete job;
        return false;
    }
    m_post = new HttpPost(this);
    const int replyTimeoutMs = ProgramWaits::current().cloudReplyTimeoutMs;
    m_post->setUploadIdleTimeout(replyTimeoutMs);
    m_post->setAnswerIdleTimeout(replyTimeoutMs);
    HttpPost *post = m_post;
    connect(post, &HttpPost::finished, this, [this, post] { cloudReceive(post); });
    post->post(url, cloudContentType(), body, body->size());
    qDebug() << "45_Cloud request post to:" << url << ",and m_reply=" << post;
    return true;
}

void Cloud::abort()
{
    if (m_post)
        m_post->abort();
}

QUrl Cloud::requestUrl() const
{
    const QUrl url = QUrl::fromUserInput(m_url);
    if (!url.isValid())
        qDebug().noquote() << QStringLiteral("28_Cloud Invalid URL: %1: %2").arg(m_url, url.errorString());
    return url;
}

QNetworkReply *Cloud::reply() const
{
    return m_post;
}

void Cloud::cloudReceive(QNetworkReply *reply)
{
    m_httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const HttpPost *post = qobject_cast<const HttpPost *>(reply);
    m_bodySent = post && post->bodySent();
    if (reply->error() != QNetworkReply::NoError) {
        qDebug().noquote() << QStringLiteral("69_Cloud receive err: %1, code: %2")
                                  .arg(reply->errorString())
                                  .arg(int(reply->error()));
        emit cloudResule(reply->error(), printResultDocument(QJsonDocument(), m_jobneed, m_jobSize));
    } else {
        qDebug().noquote() << QStringLiteral("56_Cloud %1 %2 reply no error,status code is %3")
                                  .arg(m_driverInfo.printer_name, m_driverInfo.cloud_sn)
                                  .arg(m_httpStatus);
        const QByteArray answer = reply->readAll();
        QJsonDocument document = QJsonDocument::fromJson(answer);
        if (document.isNull()) {
            qDebug().noquote()
                << QStringLiteral("56_Cloud get no JSON in an answer of %1 bytes").arg(answer.size());
        } else {
            const QByteArray text = document.toJson(QJsonDocument::Compact);
            qDebug().noquote() << QStringLiteral("56_Cloud get %1 (%2 bytes of JSON)")
                                      .arg(logExcerpt(text))
                                      .arg(text.size());
        }
        emit cloudResule(reply->error(), printResultDocument(document, m_jobneed, m_jobSize));
    }
    reply->deleteLater();
    deleteLater();
}
