#ifndef CLOUDSIMPROCESS_H
#define CLOUDSIMPROCESS_H

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// The cloud service stand-in, run as a child process on a free loopback port for one test.
class CloudSimProcess
{
public:
    ~CloudSimProcess();

    // Without job files it keeps only each job's size and CRC-32 and writes nothing to disk; jobData()
    // then has nothing to give. Set before start().
    void setKeepJobFiles(bool keep) { m_keepJobFiles = keep; }

    // Starts it with the given flags (a jobs folder of its own is added) on the given port, by default
    // a free one, and waits for its first line. error() says why it did not start.
    bool start(const QStringList &arguments = QStringList(), quint16 port = 0);
    void stop();
    QString error() const { return m_error; }

    quint16 port() const { return m_port; }
    // Scheme, host and port, as the program's clients want the service's base.
    QString baseUrl() const;

    // The admin interface: change behaviour, forget jobs, read what arrived. configure() is false
    // when the stand-in refused the change.
    bool configure(const QJsonObject &config);
    bool configure(const QByteArray &json);
    bool reset();
    QJsonDocument adminGet(const QString &path);
    // The jobs it was sent, oldest first, and its counters.
    QJsonArray jobs();
    QJsonObject stats();
    QByteArray jobData(const QString &jobId);

private:
    QByteArray request(const QByteArray &method, const QString &path, const QByteArray &body);

    QTemporaryDir m_jobsDir;
    QProcess m_process;
    quint16 m_port = 0;
    bool m_keepJobFiles = true;
    QString m_error;
};

#endif // CLOUDSIMPROCESS_H
