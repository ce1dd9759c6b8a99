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
// program's own relay, each in a child process of its own; then the 1 GiB cases, the start-up with
// many printers, the window's responsiveness while many printers print, and the history dialog.
// Prints a table and, last, one line "RESULT {json}" for scripts.
class BenchRunner
{
public:
    static constexpr int kMaxPrinters = 2000;

    struct Options
    {
        QList<int> sizesMiB { 1, 16, 128, 512 };
        int runs = 3;
        bool gibibyte = true;
        // Also a job of 4 GiB, the largest the program relays (about 6 GiB of memory at the stand-in).
        bool fourGibibytes = false;
        // The window's start-up is timed over each of these numbers of printers.
        QList<int> printers { 200, 1000 };
        bool naive = true;
        bool uploadDetail = false;
        // The window's thread while this many printers each take a job of this size at once.
        bool responsive = true;
        int responsivePrinters = 20;
        int responsiveMiB = 16;
        // The history dialog over this many records of one day (also open during the above).
        bool history = true;
        int historyRecords = 10000;
        // The quick round of the test command: the stand-in answers a result query at once.
        bool smoke = false;
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
        // The relay, each from the first byte: when the whole job was in (the spooler's connection
        // closed), when it was whole in its spool file, when the post's last body byte was out, when
        // the service's answer reached the cloud client. -1 when not known.
        double inSeconds = -1;
        double wholeSeconds = -1;
        double sentSeconds = -1;
        double answerSeconds = -1;
        // The upload's end reached the window's thread only after the answer: sent is the answer's.
        bool sentToldLate = false;
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
    void runStartup(int printers);
    void runResponsive();
    void runHistory();
    void reportTargets();

    // The program folder of the window's children: a link to this program with details/, logs/ and
    // what the program loads beside it, so that their outbox and job history are the run's own.
    bool prepareProgramFolder();
    bool resetProgramFolder();
    // The first of `count` consecutive loopback ports that nobody holds now; 0 when none is found.
    static quint16 freePortRun(int count);

    // A window's child over `printers` printers on a run of free ports, in an emptied program folder:
    // `kind`, the printer count, the first port (put in `basePort`), then `arguments`.
    bool startWindowChild(QProcess &child, const QString &kind, int printers, const QStringList &arguments,
        QString *failure, quint16 *basePort = nullptr);
    // `inProgramFolder`: the child is the copy in the program folder (the window's children).
    bool startChild(
        QProcess &child, const QStringList &arguments, QString *failure, bool inProgramFolder = false);
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
    QJsonArray m_startup;
    QJsonObject m_responsive;
    QJsonObject m_history;
    QString m_programFolder;
    bool m_allOk = true;
};

#endif // BENCHRUNNER_H
