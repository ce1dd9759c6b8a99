#include "journalcheckpointer.h"

#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

JournalCheckpointer::JournalCheckpointer(
    const QString &databasePath, const QString &connectionName, QObject *parent)
    : QThread(parent)
    , m_databasePath(databasePath)
    , m_connectionName(connectionName)
{
}

JournalCheckpointer::~JournalCheckpointer()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    wait();
}

void JournalCheckpointer::request()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_requested = true;
    }
    m_wake.notify_all();
}

void JournalCheckpointer::run()
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
        db.setDatabaseName(m_databasePath);
        if (!db.open())
            qCritical().noquote() << "outbox: the checkpoint's connection cannot open" << m_databasePath
                                  << db.lastError().text();
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stopping || m_requested; });
            if (m_stopping)
                break;
            m_requested = false;
            lock.unlock();
            // Passive: it copies what no reader still needs and never holds up the journal's commits.
            QSqlQuery checkpoint(db);
            if (!db.isOpen() || !checkpoint.exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)")))
                qWarning().noquote() << "outbox: checkpoint failed" << checkpoint.lastError().text();
            lock.lock();
        }
        lock.unlock();
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}
