#ifndef CLOUDSIMPROCESS_H
#define CLOUDSIMPROCESS_H

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The cloud service stand-in, run as its own process on a free loopback port, with its admin
// interface for faults and for reading back what it received.
class CloudSimProcess
{
public:
    CloudSimProcess();
    ~CloudSimProcess();
    CloudSimProcess(const CloudSimProcess &) = delete;
    CloudSimProcess &operator=(const CloudSimProcess &) = delete;

    bool start(const QStringList &arguments = QStringList());
    // "http://127.0.0.1:PORT", what the program's clients are pointed at.
    QString base() const;

    // Changes the behaviour as POST /admin/config does; false when the stand-in refused it.
    bool configure(const QByteArray &json);
    bool reset();
    QJsonArray jobs();
    QByteArray jobData(const QString &jobId);
    QJsonObject stats();

private:
    QByteArray adminRequest(
        const QByteArray &method, const QString &path, const QByteArray &body, int *status);

    QProcess m_process;
    QTemporaryDir m_jobsDir;
    quint16 m_port = 0;
};

#endif // CLOUDSIMPROCESS_H
