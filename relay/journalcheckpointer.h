#ifndef JOURNALCHECKPOINTER_H
#define JOURNALCHECKPOINTER_H

#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

// Copies a database's write-ahead log back into the database, on a thread and a connection of its
// own. A checkpoint writes the database and waits for the disk twice; left to itself, SQLite would do
// that inside whichever commit crossed the log's size limit, on the window's thread.
class JournalCheckpointer : public QThread
{
    Q_OBJECT
public:
    explicit JournalCheckpointer(const QString &databasePath, QObject *parent = nullptr);
    // Finishes a checkpoint under way, then ends the thread.
    ~JournalCheckpointer() override;

    // Asks for a checkpoint soon; requests made while one is waiting or under way make one more at most.
    void request();
    // Checkpoints done so far.
    int doneCount() const;

protected:
    void run() override;

private:
    QString m_databasePath;
    mutable QMutex m_mutex;
    QWaitCondition m_wake;
    bool m_requested = false;
    bool m_stopping = false;
    int m_done = 0;
};

#endif // JOURNALCHECKPOINTER_H
