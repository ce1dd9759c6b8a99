#ifndef CLOUDSIMPROCESS_H
#define CLOUDSIMPROCESS_H

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

// One finished HTTP exchange, as a Qt client sees it.
struct HttpResult
{
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0;
    QByteArray body;
    QByteArray contentType;
    bool finished = false;
};

// Runs the real cloud service stand-in as a child process on a free loopback port and talks to it
// over HTTP the way the program's clients do. Stops the process when destroyed.
class CloudSimProcess : public QObject
{
    Q_OBJECT

public:
    explicit CloudSimProcess(QObject *parent = nullptr);
    ~CloudSimProcess() override;

    static QString program();

    // Starts with "--port 0 --quiet" and the given extra arguments and waits for the port line.
    bool start(const QStringList &arguments = QStringList());
    // Ends the process with SIGTERM and returns its exit code (-1 when it had to be killed).
    int stop();
    QProcess &process() { return m_process; }

    quint16 port() const { return m_port; }
    QString baseUrl() const;

    // One request through a QNetworkAccessManager; waits up to timeoutMs for it to finish.
    HttpResult send(const QByteArray &verb, const QString &pathAndQuery,
        const QByteArray &body = QByteArray(),
        const QByteArray &contentType = "application/json;charset=UTF-8", int timeoutMs = 15000);

    // The protocol's three exchanges, shaped as the program sends them.
    HttpResult postJob(const QString &serial, const QByteArray &job);
    HttpResult queryResult(const QString &jobId);
    HttpResult queryDevice(const QString &serial);

    // Admin calls; configure returns the HTTP status (200 when the change was taken).
    int configure(const QByteArray &json);
    bool reset();
    QJsonArray jobs();
    QJsonObject stats();

    static QJsonObject objectOf(const HttpResult &result);

private:
    QProcess m_process;
    QNetworkAccessManager m_manager;
    quint16 m_port = 0;
};

#endif // CLOUDSIMPROCESS_H
