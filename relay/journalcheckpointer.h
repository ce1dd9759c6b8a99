#ifndef JOURNALCHECKPOINTER_H
#define JOURNALCHECKPOINTER_H

#include <QString>
#include <QThread>

#include <condition_variable>
#include <mutex>

// Copies a database's write-ahead log back into the database, on a thread and a connection of its
// own. A checkpoint writes the database and waits for the disk twice; left to itself, SQLite would do
// that inside whichever commit crossed the log's size limit, on the window's thread.
class JournalCheckpointer : public QThread
{
    Q_OBJECT
public:
    // Its connection goes by `connectionName`, which no other connection of the program may use.
    JournalCheckpointer(
        const QString &databasePath, const QString &connectionName, QObject *parent = nullptr);
    // Finishes a checkpoint under way, then ends the thread.
    ~JournalCheckpointer() override;

    // Asks for a checkpoint soon; requests made while one is waiting or under way make one more at most.
    void request();

protected:
    void run() override;

private:
    QString m_databasePath;
    QString m_connectionName;
    // The standard library's, whose ordering the thread sanitizer sees (Qt's own is not built for it).
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_requested = false;
    bool m_stopping = false;
};

#endif // JOURNALCHECKPOINTER_H
