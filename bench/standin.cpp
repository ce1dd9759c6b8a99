#include "standin.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

StandIn::~StandIn()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool StandIn::start(const QString &program)
{
    m_process.setProgram(program);
    m_process.setArguments({ QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--quiet"),
        QStringLiteral("--max-body"), QStringLiteral("2G"), QStringLiteral("--default-device"),
        QStringLiteral("online") });
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start();
    if (!m_process.waitForStarted()) {
        m_error = QStringLiteral("%1 does not start: %2").arg(program, m_process.errorString());
        return false;
    }
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(10000)) {
            m_error = QStringLiteral("%1 did not say where it listens").arg(program);
            return false;
        }
    }
    const QByteArray line = m_process.readLine().trimmed();
    const QByteArray prefix = "listening 127.0.0.1:";
    if (line.startsWith(prefix))
        m_port = quint16(line.mid(prefix.size()).toUInt());
    if (m_port == 0)
        m_error = QStringLiteral("unexpected first line from %1: %2").arg(program, QString::fromUtf8(line));
    return m_port != 0;
}

QString StandIn::base() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

QJsonObject StandIn::job(const QString &jobId)
{
    int status = 0;
    const QByteArray answer = adminGet(QStringLiteral("/admin/jobs/%1").arg(jobId), &status);
    return status == 200 ? QJsonDocument::fromJson(answer).object() : QJsonObject();
}

int StandIn::jobCount()
{
    int status = 0;
    const QByteArray answer = adminGet(QStringLiteral("/admin/jobs"), &status);
    return QJsonDocument::fromJson(answer).object().value(QStringLiteral("jobs")).toArray().size();
}

QByteArray StandIn::adminGet(const QString &path, int *status)
{
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(QNetworkRequest(QUrl(base() + path)));
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
