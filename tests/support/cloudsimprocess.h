#ifndef CLOUDSIMPROCESS_H
#define CLOUDSIMPROCESS_H

#include "httpresult.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// The cloud service stand-in, run as a child process on a free loopback port for one test, and
// talked to over HTTP the way the program's clients do. Stops the process when destroyed.
class CloudSimProcess
{
public:
    ~CloudSimProcess();

    static QString program();

    // Without job files it keeps only each job's size and CRC-32 and writes nothing to disk; jobData()
    // then has nothing to give. A caller that passes a jobs folder of its own turns this off. Set
    // before start().
    void setKeepJobFiles(bool keep) { m_keepJobFiles = keep; }
    // Keeps what the stand-in writes to its error output for process().readAllStandardError()
    // instead of passing it on to the test's own. Set before start().
    void setKeepErrorOutput(bool keep) { m_keepErrorOutput = keep; }

    // Starts it with the given flags (a jobs folder of its own is added) on the given port, by default
    // a free one, and waits for its first line. error() says why it did not start.
    bool start(const QStringList &arguments = QStringList(), quint16 port = 0);
    // Ends the process with SIGTERM and returns its exit code (-1 when it had to be killed).
    int stop();
    QString error() const { return m_error; }
    QProcess &process() { return m_process; }

    quint16 port() const { return m_port; }
    // Scheme, host and port, as the program's clients want the service's base.
    QString baseUrl() const;

    // One request through a QNetworkAccessManager; waits up to timeoutMs (stretched for slow
    // builds) for it to finish.
    HttpResult send(const QByteArray &verb, const QString &pathAndQuery,
        const QByteArray &body = QByteArray(),
        const QByteArray &contentType = "application/json;charset=UTF-8", int timeoutMs = 15000);

    // The protocol's three exchanges, shaped as the program sends them.
    HttpResult postJob(const QString &serial, const QByteArray &job);
    HttpResult queryResult(const QString &jobId);
    HttpResult queryDevice(const QString &serial);

    // The admin interface: change behaviour, forget jobs, read what arrived. configure() is false
    // when the stand-in refused the change; configureStatus() gives its HTTP status.
    bool configure(const QJsonObject &config);
    bool configure(const QByteArray &json);
    int configureStatus(const QByteArray &json);
    bool reset();
    QJsonDocument adminGet(const QString &path);
    // The jobs it was sent, oldest first, and its counters.
    QJsonArray jobs();
    QJsonObject stats();
    QByteArray jobData(const QString &jobId);

    static QJsonObject objectOf(const HttpResult &result);

private:
    HttpResult exchange(QNetworkAccessManager &manager, const QByteArray &verb, const QString &pathAndQuery,
        const QByteArray &body, const QByteArray &contentType, int timeoutMs);
    QByteArray request(const QByteArray &method, const QString &path, const QByteArray &body);

    QTemporaryDir m_jobsDir;
    QProcess m_process;
    QNetworkAccessManager m_manager;
    quint16 m_port = 0;
    bool m_keepJobFiles = true;
    bool m_keepErrorOutput = false;
    QString m_error;
};

#endif // CLOUDSIMPROCESS_H
