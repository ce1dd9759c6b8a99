#include "cloudsimprocess.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

CloudSimProcess::CloudSimProcess() = default;

CloudSimProcess::~CloudSimProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool CloudSimProcess::start(const QStringList &arguments)
{
    if (!m_jobsDir.isValid())
        return false;
    m_process.setProgram(QStringLiteral(COURIER_BIN_DIR "/cloudsim"));
    m_process.setArguments(QStringList { QStringLiteral("--port"), QStringLiteral("0"),
                               QStringLiteral("--jobs-dir"), m_jobsDir.path(), QStringLiteral("--quiet") }
        + arguments);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start();
    if (!m_process.waitForStarted())
        return false;
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(10000))
            return false;
    }
    const QByteArray line = m_process.readLine().trimmed();
    const QByteArray prefix = "listening 127.0.0.1:";
    if (!line.startsWith(prefix))
        return false;
    m_port = quint16(line.mid(prefix.size()).toUInt());
    return m_port != 0;
}

QString CloudSimProcess::base() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

bool CloudSimProcess::configure(const QByteArray &json)
{
    int status = 0;
    adminRequest("POST", QStringLiteral("/admin/config"), json, &status);
    return status == 200;
}

bool CloudSimProcess::reset()
{
    int status = 0;
    adminRequest("POST", QStringLiteral("/admin/reset"), QByteArray(), &status);
    return status == 200;
}

QJsonArray CloudSimProcess::jobs()
{
    int status = 0;
    const QByteArray answer = adminRequest("GET", QStringLiteral("/admin/jobs"), QByteArray(), &status);
    return QJsonDocument::fromJson(answer).object().value(QStringLiteral("jobs")).toArray();
}

QByteArray CloudSimProcess::jobData(const QString &jobId)
{
    int status = 0;
    const QByteArray answer
        = adminRequest("GET", QStringLiteral("/admin/jobs/%1/data").arg(jobId), QByteArray(), &status);
    return status == 200 ? answer : QByteArray();
}

QJsonObject CloudSimProcess::stats()
{
    int status = 0;
    return QJsonDocument::fromJson(adminRequest("GET", QStringLiteral("/admin/stats"), QByteArray(), &status))
        .object();
}

QByteArray CloudSimProcess::adminRequest(
    const QByteArray &method, const QString &path, const QByteArray &body, int *status)
{
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(base() + path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QNetworkReply *reply = manager.sendCustomRequest(request, method, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    *status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray answer = reply->readAll();
    delete reply;
    return answer;
}
