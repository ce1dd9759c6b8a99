#include "journalcheckpointer.h"

#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <atomic>

namespace {
std::atomic<int> g_connectionSerial { 0 };
} // namespace

JournalCheckpointer::JournalCheckpointer(const QString &databasePath, QObject *parent)
    : QThread(parent)
    , m_databasePath(databasePath)
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
    const QString name = QStringLiteral("outbox-checkpoint-%1").arg(++g_connectionSerial);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(m_databasePath);
        if (!db.open())
            qCritical().noquote() << "outbox: the checkpoint's connection cannot open" << m_databasePath
                                  << db.lastError().text();
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_stopping) {
            if (!m_requested) {
                m_wake.wait(lock);
                continue;
            }
            m_requested = false;
            lock.unlock();
            // Passive: it copies what no reader still needs and never holds up the journal's commits.
            QSqlQuery checkpoint(db);
            const bool done
                = db.isOpen() && checkpoint.exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
            if (!done)
                qWarning().noquote() << "outbox: checkpoint failed" << checkpoint.lastError().text();
            lock.lock();
        }
        lock.unlock();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}
