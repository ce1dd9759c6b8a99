#include "cloudsimprocess.h"

#include "testtiming.h"

#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QUrl>

CloudSimProcess::~CloudSimProcess()
{
    stop();
}

QString CloudSimProcess::program()
{
    return QStringLiteral(COURIER_BIN_DIR "/cloudsim");
}

bool CloudSimProcess::start(const QStringList &arguments, quint16 port)
{
    const QString program = CloudSimProcess::program();
    QStringList all { QStringLiteral("--port"), QString::number(port), QStringLiteral("--quiet"),
        QStringLiteral("--exit-with-parent") };
    if (m_keepJobFiles)
        all << QStringLiteral("--jobs-dir") << m_jobsDir.path();
    m_process.setProcessChannelMode(
        m_keepErrorOutput ? QProcess::SeparateChannels : QProcess::ForwardedErrorChannel);
    m_process.start(program, all + arguments);
    if (!m_process.waitForStarted(TestTiming::scaled(10000))) {
        m_error = QStringLiteral("%1 does not start: %2").arg(program, m_process.errorString());
        return false;
    }
    while (!m_process.canReadLine()) {
        if (m_process.state() != QProcess::Running
            || !m_process.waitForReadyRead(TestTiming::scaled(10000))) {
            m_error = QStringLiteral("%1 did not say where it listens").arg(program);
            return false;
        }
    }
    const QString first = QString::fromUtf8(m_process.readLine()).trimmed();
    const QRegularExpressionMatch match
        = QRegularExpression(QStringLiteral("^listening 127\\.0\\.0\\.1:(\\d+)$")).match(first);
    m_port = match.hasMatch() ? quint16(match.captured(1).toUInt()) : 0;
    if (m_port == 0)
        m_error = QStringLiteral("unexpected first line from %1: %2").arg(program, first);
    return m_port != 0;
}

int CloudSimProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    m_process.terminate();
    if (!m_process.waitForFinished(TestTiming::scaled(10000))) {
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
    return exchange(m_manager, verb, pathAndQuery, body, contentType, timeoutMs);
}

HttpResult CloudSimProcess::exchange(QNetworkAccessManager &manager, const QByteArray &verb,
    const QString &pathAndQuery, const QByteArray &body, const QByteArray &contentType, int timeoutMs)
{
    QNetworkRequest request(QUrl::fromUserInput(baseUrl() + pathAndQuery));
    if (!contentType.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    QNetworkReply *reply
        = verb == "GET" ? manager.get(request) : manager.sendCustomRequest(request, verb, body);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    HttpResult result;
    result.finished = reply->isFinished() || finished.wait(TestTiming::scaled(timeoutMs));
    if (!result.finished)
        reply->abort();
    result.error = reply->error();
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = reply->readAll();
    result.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    // The manager outlives this call; the reply must not wait for it to go.
    delete reply;
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

QByteArray CloudSimProcess::request(const QByteArray &method, const QString &path, const QByteArray &body)
{
    // A connection of its own each time, so that admin calls never share one with what a test
    // counts at the service, nor meet one the service's faults closed.
    QNetworkAccessManager manager;
    const HttpResult result = exchange(manager, method, path, body, "application/json", 10000);
    return result.finished && result.error == QNetworkReply::NoError ? result.body : QByteArray();
}

bool CloudSimProcess::configure(const QJsonObject &config)
{
    return configure(QJsonDocument(config).toJson());
}

bool CloudSimProcess::configure(const QByteArray &json)
{
    return !request("POST", QStringLiteral("/admin/config"), json).isEmpty();
}

int CloudSimProcess::configureStatus(const QByteArray &json)
{
    return send("POST", QStringLiteral("/admin/config"), json).status;
}

bool CloudSimProcess::reset()
{
    return !request("POST", QStringLiteral("/admin/reset"), QByteArray()).isEmpty();
}

QJsonDocument CloudSimProcess::adminGet(const QString &path)
{
    return QJsonDocument::fromJson(request("GET", path, QByteArray()));
}

QJsonArray CloudSimProcess::jobs()
{
    return adminGet(QStringLiteral("/admin/jobs")).object().value(QStringLiteral("jobs")).toArray();
}

QJsonObject CloudSimProcess::stats()
{
    return adminGet(QStringLiteral("/admin/stats")).object();
}

QByteArray CloudSimProcess::jobData(const QString &jobId)
{
    return request("GET", QStringLiteral("/admin/jobs/%1/data").arg(jobId), QByteArray());
}

QJsonObject CloudSimProcess::objectOf(const HttpResult &result)
{
    return QJsonDocument::fromJson(result.body).object();
}
