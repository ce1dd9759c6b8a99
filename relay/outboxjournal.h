#ifndef OUTBOXJOURNAL_H
#define OUTBOXJOURNAL_H

#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>

class JournalCheckpointer;

// Where a job stands between the spooler and its recorded result.
enum class OutboxState {
    Receiving, // the spooler is sending; the spool file is not complete
    Received, // the whole job is in its spool file and waits for its post
    Posting, // the post is under way: the service may have the job, its answer is not known
    Posted, // the service took the job under a job id; its result is being followed
    Final, // the result is recorded
};

// Whether a recorded result says the job was printed (its bytes are needed no more).
bool isPrintedResult(const QString &result);

struct OutboxJob
{
    qint64 id = 0;
    QString printer;
    QString serial;
    // Taken when the spooler's connection was accepted, so it names that job and no later one.
    QString description;
    qint64 size = 0;
    QDateTime acceptedAt;
    QDateTime updatedAt;
    OutboxState state = OutboxState::Receiving;
    QString cloudJobId;
    QString result;
    int attempts = 0;
};

// The outbox's journal: what became of every job the spooler handed over, in outbox.db beside the
// program, with each job's bytes in a spool file of its own in spool/. Every change is committed
// before the step it enables, so a program that dies anywhere finds each job where it stopped.
// One connection, used from the thread that opened it (the GUI thread); a second, on a thread of its
// own, only copies the write-ahead log back into the database (JournalCheckpointer).
class OutboxJournal
{
public:
    OutboxJournal(const QString &databasePath, const QString &spoolFolder);
    ~OutboxJournal();
    OutboxJournal(const OutboxJournal &) = delete;
    OutboxJournal &operator=(const OutboxJournal &) = delete;

    // The program's own journal, beside the program, opened on first use.
    static OutboxJournal *instance();
    // Closes the program's journal; the next instance() opens it again (tests start afresh).
    static void resetForTesting();

    bool isOpen() const { return m_open; }
    // What makes the journal's commits so far durable when written through to the disk (see
    // syncFileToDisk). Commits only reach the system's cache, so that the window's thread never
    // waits for the disk; the threads whose next step tells somebody outside (the spooler that the
    // job is ours, the service that it is posted) write this through first.
    QString durabilityFile() const { return m_databasePath + QStringLiteral("-wal"); }
    QString spoolFolder() const { return m_spoolFolder; }
    // Where the job's bytes are once the whole job is in.
    QString spoolFilePath(qint64 id) const;
    // Where they arrive; renamed to spoolFilePath() once whole and on the disk.
    QString partialSpoolFilePath(qint64 id) const;

    // A new job, receiving; its id, or 0 when the journal cannot take it.
    qint64 addJob(const QString &printer, const QString &serial, const QString &description);
    bool setReceived(qint64 id, qint64 size);
    // The post starts; counts the attempt.
    bool setPosting(qint64 id);
    // The post will be tried again: the job waits as received.
    bool setWaiting(qint64 id);
    bool setPosted(qint64 id, const QString &cloudJobId);
    bool setFinal(qint64 id, const QString &result);
    // Forgets a job the spooler still has (its connection broke before the job was whole).
    bool removeJob(qint64 id);
    bool renamePrinter(const QString &from, const QString &to);
    // The program paused the printer because its port was taken, and has not resumed it yet.
    bool setPrinterHeld(const QString &printer, bool held);
    bool isPrinterHeld(const QString &printer) const;

    std::optional<OutboxJob> job(qint64 id) const;
    // The printer's jobs that have no recorded result yet, oldest first.
    QList<OutboxJob> unfinishedJobs(const QString &printer) const;
    // Unfinished jobs of printers not among `printers`.
    QList<OutboxJob> unfinishedJobsExcept(const QStringList &printers) const;
    // The printer's failed jobs whose bytes are still kept, so that they can be sent again; oldest first.
    QList<OutboxJob> resendableJobs(const QString &printer) const;

    // Deletes spool files that no job needs any more: those of printed jobs, those of failed jobs
    // after 24 hours (kept until then to be sent again), and leftovers of torn receptions; forgets
    // final jobs after 7 days.
    void prune(const QDateTime &now);

private:
    bool exec(const QString &statement, const QVariantList &values);
    // Counts a commit; every so many, the log is copied back into the database (see JournalCheckpointer).
    void noteCommit();
    QList<OutboxJob> select(const QString &where, const QVariantList &values) const;

    QString m_connectionName;
    QString m_databasePath;
    QString m_spoolFolder;
    bool m_open = false;
    std::unique_ptr<JournalCheckpointer> m_checkpointer;
    int m_commitsSinceCheckpoint = 0;
};

#endif // OUTBOXJOURNAL_H
