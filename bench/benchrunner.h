#ifndef BENCHRUNNER_H
#define BENCHRUNNER_H

#include "cloudsimprocess.h"

#include <QJsonArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QTextStream>

#include <functional>

class BenchJob;

// Runs the relay benchmark: for each job size the machine's limit, the naive shell pipeline and the
// program's own relay, each in a child process of its own; then the 1 GiB cases and the start-up with
// many printers. Prints a table and, last, one line "RESULT {json}" for scripts.
class BenchRunner
{
public:
    struct Options
    {
        QList<int> sizesMiB { 1, 16, 128, 512 };
        int runs = 3;
        bool gibibyte = true;
        // Also a job of 4 GiB, the largest the program relays (about 6 GiB of memory at the stand-in).
        bool fourGibibytes = false;
        int printers = 200;
        bool naive = true;
        bool uploadDetail = false;
    };

    explicit BenchRunner(const Options &options);
    // 0 when every run delivered the job intact (or refused it where it had to); targets missed
    // are reported, not failed.
    int run();

private:
    struct Figure
    {
        bool ok = false;
        double seconds = 0;
        qint64 peakBytes = -1;
        // The relay: when the whole job was in (the spooler's connection closed), from the first byte.
        double inSeconds = -1;
        QString failure;
    };

    // What a child reported after it was sent a job: its "done" line (empty when it never gave
    // one) and how the sending went.
    struct Delivery
    {
        QList<QByteArray> done;
        bool sent = false;
        qint64 firstByteNs = 0;
        QString sendError;
    };

    bool prepare();
    Figure limitRun(const BenchJob &job);
    Figure naiveRun(const BenchJob &job);
    Figure relayRun(const BenchJob &job, bool refusalExpected);
    // The median of the configured number of runs, with the largest peak of them; the first failure.
    Figure repeated(const std::function<Figure()> &once);
    Figure postRun(const BenchJob &job, const QString &how);
    void runStartup();

    bool startChild(QProcess &child, const QStringList &arguments, QString *failure);
    QList<QByteArray> awaitLine(QProcess &child, const QByteArray &tag, int timeoutMs, QString *failure);
    void finishChild(QProcess &child);
    // Starts a child, plays the spooler towards it on a loopback port (0: the one its "ready" line
    // names) and waits for its "done" line.
    Delivery deliver(const QStringList &arguments, const BenchJob &job, quint16 port, QString *failure);
    bool verifyAtStandIn(const BenchJob &job, const QString &jobId, QString *failure);
    QString naiveCommand(quint16 port) const;

    void printRow(const QString &job, const QString &path, const Figure &figure, qint64 jobBytes);
    void fail(const QString &what, const Figure &figure);

    Options m_options;
    CloudSimProcess m_standIn;
    QTemporaryDir m_work;
    QString m_listener; // socat or nc, empty when neither is installed
    QTextStream m_out;
    QJsonArray m_jobs;
    QJsonObject m_gib;
    QJsonObject m_startup;
    bool m_allOk = true;
};

#endif // BENCHRUNNER_H
