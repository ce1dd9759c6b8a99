#ifndef PRINTEROUTBOX_H
#define PRINTEROUTBOX_H

#include "driverinfo.h"
#include "jobinflight.h"
#include "outboxjournal.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QQueue>

class JobPoster;
class QTimer;

// One printer's queue of jobs on their way to the cloud: the jobs the spooler handed over, and those
// a restart found in the journal, handled one at a time in arrival order. A job is the printer's
// current one from its post until the card has recorded its result; only then does the next start.
class PrinterOutbox : public QObject
{
    Q_OBJECT
public:
    PrinterOutbox(const DriverInfo &driverInfo, OutboxJournal *journal, QObject *parent = nullptr);
    ~PrinterOutbox() override;

    void setDriverInfo(const DriverInfo &driverInfo);

    // Takes up the printer's unfinished jobs of the journal where they stopped.
    void recover();
    // The spooler's connection of a new job was accepted: the job takes its place in the line.
    void addArriving(qint64 jobId);
    // The job's bytes are in its spool file: it waits for its post.
    void addReceived(qint64 jobId);
    // The job was too large to keep: the card records it as such, in its turn.
    void addRefused(qint64 jobId);
    // The job will not come (the spooler keeps it): it leaves the line.
    void dropArriving(qint64 jobId);
    // The card recorded the current job's result.
    void finishCurrent(const QString &result);

    // Jobs of printers that are gone (not among `printers`) get their failure record and are closed.
    static void closeOrphanedJobs(OutboxJournal *journal, const QStringList &printers);

    // The printer's jobs that have no result yet, the current one first, then the line in order.
    QList<JobInFlight> jobsInFlight() const;
    // The printer's failed jobs whose bytes are still kept (see OutboxJournal::resendableJobs).
    QList<OutboxJob> resendableJobs() const;
    // Sends a kept failed job again as a new job, which takes its place at the end of the line and
    // gets a record of its own; the old job gives its bytes to the new one. The new job's id, or 0
    // when the job is not one of this printer's kept failures.
    qint64 resend(qint64 jobId);

    bool isBusy() const { return m_current.id != 0; }
    // Jobs in the line behind the current one, arriving ones included.
    int waitingCount() const { return m_queue.size(); }

signals:
    // A job's result for the card to follow or record (the card's onCloudResut).
    void cloudResult(QNetworkReply::NetworkError error, QJsonDocument jd);
    // A job became the printer's current one: it is posted or handed to the card now.
    void jobStarted();
    // The current job waits to be posted again: the service could not be reached.
    void waitingForRetry(bool waiting);
    // A job joined, moved on or left: what jobsInFlight() gives has changed.
    void jobsChanged();

private:
    // What the card is told about a job; what it then does follows from that.
    enum class Step { Post, ReportRefused, ReportUnanswered, Follow };
    struct Item
    {
        qint64 id = 0;
        Step step = Step::Post;
        // All of it is in (or it was refused); until then it holds its place.
        bool whole = true;
    };

    void add(qint64 jobId, Step step);
    void arrived(qint64 jobId, Step step);
    void startNext();
    void post(const OutboxJob &job);
    void onPosted(qint64 jobId, QNetworkReply::NetworkError error, const QJsonDocument &jd, int httpStatus,
        bool bodySent);
    void report(const OutboxJob &job, QNetworkReply::NetworkError error, const QJsonDocument &answer);
    void retryLater();
    void onUploadProgress(qint64 jobId, int percent);

    DriverInfo m_driverInfo;
    OutboxJournal *m_journal;
    QQueue<Item> m_queue;
    Item m_current;
    // How far the current job has come: Uploading, WaitingForRetry or Following once it is posted.
    JobInFlight::Stage m_currentStage = JobInFlight::Stage::Uploading;
    int m_uploadPercent = 0;
    QPointer<JobPoster> m_poster;
    QTimer *m_retryTimer = nullptr;
    int m_retryDelayMs = 0;
    bool m_waitingForRetry = false;
    // Since the current job's first attempt in this run.
    QElapsedTimer m_sinceFirstAttempt;
};

#endif // PRINTEROUTBOX_H
