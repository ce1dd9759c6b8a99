#include "cloudsimprocess.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimer>

CloudSimProcess::~CloudSimProcess()
{
    stop();
}

bool CloudSimProcess::start(const QStringList &arguments, quint16 port)
{
    const QString program = QStringLiteral(COURIER_BIN_DIR "/cloudsim");
    QStringList all { QStringLiteral("--port"), QString::number(port), QStringLiteral("--quiet"),
        QStringLiteral("--exit-with-parent") };
    if (m_keepJobFiles)
        all << QStringLiteral("--jobs-dir") << m_jobsDir.path();
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(program, all + arguments);
    if (!m_process.waitForStarted(10000)) {
        m_error = QStringLiteral("%1 does not start: %2").arg(program, m_process.errorString());
        return false;
    }
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(10000)) {
            m_error = QStringLiteral("%1 did not say where it listens").arg(program);
            return false;
        }
    }
    const QString first = QString::fromUtf8(m_process.readLine()).trimmed();
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^listening 127\\.0\\.0\\.1:(\\d+)$")).match(first);
    m_port = match.hasMatch() ? quint16(match.captured(1).toUInt()) : 0;
    if (m_port == 0)
        m_error = QStringLiteral("unexpected first line from %1: %2").arg(program, first);
    return m_port != 0;
}

void CloudSimProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString CloudSimProcess::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

QByteArray CloudSimProcess::request(const QByteArray &method, const QString &path, const QByteArray &body)
{
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(baseUrl() + path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QNetworkReply *reply = manager.sendCustomRequest(request, method, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    const QByteArray answer = reply->isFinished() && reply->error() == QNetworkReply::NoError
                                  ? reply->readAll()
                                  : QByteArray();
    delete reply;
    return answer;
}

bool CloudSimProcess::configure(const QJsonObject &config)
{
    return configure(QJsonDocument(config).toJson());
}

bool CloudSimProcess::configure(const QByteArray &json)
{
    return !request("POST", QStringLiteral("/admin/config"), json).isEmpty();
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
