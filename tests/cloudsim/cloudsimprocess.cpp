#include "cloudsimprocess.h"

#include <QJsonDocument>
#include <QNetworkRequest>
#include <QSignalSpy>
#include <QUrl>

CloudSimProcess::CloudSimProcess(QObject *parent)
    : QObject(parent)
{
}

CloudSimProcess::~CloudSimProcess()
{
    stop();
}

QString CloudSimProcess::program()
{
    return QStringLiteral(COURIER_BIN_DIR "/cloudsim");
}

bool CloudSimProcess::start(const QStringList &arguments)
{
    m_process.setProgram(program());
    m_process.setArguments(QStringList { QStringLiteral("--port"), QStringLiteral("0"),
                               QStringLiteral("--quiet"), QStringLiteral("--exit-with-parent") }
        + arguments);
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start();
    if (!m_process.waitForStarted(10000))
        return false;
    QSignalSpy output(&m_process, &QProcess::readyReadStandardOutput);
    while (!m_process.canReadLine()) {
        if (m_process.state() != QProcess::Running || !output.wait(10000))
            return false;
    }
    const QByteArray line = m_process.readLine().trimmed();
    const QByteArray prefix = "listening 127.0.0.1:";
    if (!line.startsWith(prefix))
        return false;
    bool ok = false;
    m_port = line.mid(prefix.size()).toUShort(&ok);
    return ok && m_port != 0;
}

int CloudSimProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
        return -1;
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

QString CloudSimProcess::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

HttpResult CloudSimProcess::send(const QByteArray &verb, const QString &pathAndQuery, const QByteArray &body,
    const QByteArray &contentType, int timeoutMs)
{
    QNetworkRequest request(QUrl::fromUserInput(baseUrl() + pathAndQuery));
    if (!contentType.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    QNetworkReply *reply
        = verb == "GET" ? m_manager.get(request) : m_manager.sendCustomRequest(request, verb, body);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    HttpResult result;
    result.finished = reply->isFinished() || finished.wait(timeoutMs);
    if (!result.finished)
        reply->abort();
    result.error = reply->error();
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = reply->readAll();
    result.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    reply->deleteLater();
    return result;
}

HttpResult CloudSimProcess::postJob(const QString &serial, const QByteArray &job)
{
    QJsonObject body;
    body.insert(QStringLiteral("tvNumber"), QJsonArray { serial });
    body.insert(QStringLiteral("taskPersist"), false);
    body.insert(QStringLiteral("async"), true);
    body.insert(QStringLiteral("dataType"), QStringLiteral("base64"));
    body.insert(QStringLiteral("printData"), QString::fromLatin1(job.toBase64()));
    return send("POST", QStringLiteral("/v1.1/transparentPrinting"), QJsonDocument(body).toJson());
}

HttpResult CloudSimProcess::queryResult(const QString &jobId)
{
    return send("GET", QStringLiteral("/v1.1/printResult?tolvixId=") + jobId, QByteArray(), QByteArray());
}

HttpResult CloudSimProcess::queryDevice(const QString &serial)
{
    QJsonObject body;
    body.insert(QStringLiteral("tvNumber"), serial);
    return send("POST", QStringLiteral("/v1.1/getNumberStatu"), QJsonDocument(body).toJson());
}

int CloudSimProcess::configure(const QByteArray &json)
{
    return send("POST", QStringLiteral("/admin/config"), json).status;
}

bool CloudSimProcess::reset()
{
    return send("POST", QStringLiteral("/admin/reset")).status == 200;
}

QJsonArray CloudSimProcess::jobs()
{
    return objectOf(send("GET", QStringLiteral("/admin/jobs"), QByteArray(), QByteArray()))
        .value(QStringLiteral("jobs"))
        .toArray();
}

QJsonObject CloudSimProcess::stats()
{
    return objectOf(send("GET", QStringLiteral("/admin/stats"), QByteArray(), QByteArray()));
}

QJsonObject CloudSimProcess::objectOf(const HttpResult &result)
{
    return QJsonDocument::fromJson(result.body).object();
}
