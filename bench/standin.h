#ifndef STANDIN_H
#define STANDIN_H

#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

// The cloud service stand-in (cloudsim) as the benchmark runs it: on a free loopback port, keeping
// only each job's size and CRC-32 (no job files, so no disk writes in the measurements), with a body
// limit above the largest job the relay posts.
class StandIn
{
public:
    StandIn() = default;
    ~StandIn();
    StandIn(const StandIn &) = delete;
    StandIn &operator=(const StandIn &) = delete;

    bool start(const QString &program);
    QString base() const;
    QString error() const { return m_error; }

    // What the stand-in kept of one job ("size", "crc32", ...), empty when it has no such job.
    QJsonObject job(const QString &jobId);
    // Jobs it has accepted since it started.
    int jobCount();

private:
    QByteArray adminGet(const QString &path, int *status);

    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};

#endif // STANDIN_H
