#include "outboxjournal.h"

#include "clock.h"
#include "journalcheckpointer.h"
#include "spoolfile.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <atomic>
#include <memory>

namespace {

const char kSchema[]
    = "CREATE TABLE IF NOT EXISTS jobs(id INTEGER PRIMARY KEY AUTOINCREMENT, printer TEXT NOT NULL, "
      "serial TEXT NOT NULL, description TEXT NOT NULL, size INTEGER NOT NULL DEFAULT 0, "
      "accepted_at TEXT NOT NULL, updated_at TEXT NOT NULL, state TEXT NOT NULL, "
      "cloud_job_id TEXT NOT NULL DEFAULT '', result TEXT NOT NULL DEFAULT '', "
      "attempts INTEGER NOT NULL DEFAULT 0)";

// Printers the program paused because another program held their port: a restart must give them
// back even when the pause outlived the program that made it.
const char kHeldSchema[] = "CREATE TABLE IF NOT EXISTS held_printers(printer TEXT PRIMARY KEY)";

const char kColumns[] = "id, printer, serial, description, size, accepted_at, updated_at, state, "
                        "cloud_job_id, result, attempts";

const char kTimeFormat[] = "yyyy-MM-dd HH:mm:ss.zzz";
const char kSpoolSuffix[] = ".job";
const char kPartSuffix[] = ".part";
const qint64 kKeepFailedSpoolMs = qint64(24) * 3600 * 1000;
const qint64 kKeepFinalDays = 7;

struct StateName
{
    OutboxState state;
    const char *name;
};

const StateName kStateNames[] = {
    { OutboxState::Receiving, "receiving" },
    { OutboxState::Received, "received" },
    { OutboxState::Posting, "posting" },
    { OutboxState::Posted, "posted" },
    { OutboxState::Final, "final" },
};

QString stateName(OutboxState state)
{
    for (const StateName &entry : kStateNames) {
        if (entry.state == state)
            return QLatin1String(entry.name);
    }
    return QString();
}

OutboxState stateFromName(const QString &name)
{
    for (const StateName &entry : kStateNames) {
        if (name == QLatin1String(entry.name))
            return entry.state;
    }
    // Unknown text can only come from a newer program; such a job is left alone as finished.
    return OutboxState::Final;
}

} // namespace

bool isPrintedResult(const QString &result)
{
    return result == QStringLiteral("打印成功");
}

namespace {

QString timeText(const QDateTime &time)
{
    return time.toString(QLatin1String(kTimeFormat));
}

QString now()
{
    return timeText(Clock::currentDateTime());
}

// A null text is SQL's NULL; the journal keeps "no description" as an empty one.
QVariant text(const QString &value)
{
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

// About a hundred commits of a few pages each: the log stays within a megabyte or two.
constexpr int kCommitsPerCheckpoint = 100;

std::atomic<int> g_connectionSerial { 0 };
std::unique_ptr<OutboxJournal> g_instance;

} // namespace

OutboxJournal::OutboxJournal(const QString &databasePath, const QString &spoolFolder)
    : m_connectionName(QStringLiteral("outbox-%1").arg(++g_connectionSerial))
    , m_databasePath(databasePath)
    , m_spoolFolder(spoolFolder)
{
    if (!QDir().mkpath(m_spoolFolder))
        qCritical().noquote() << "outbox: cannot make the spool folder" << m_spoolFolder;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    db.setDatabaseName(databasePath);
    if (!db.open()) {
        qCritical().noquote() << "outbox: cannot open" << databasePath << db.lastError().text();
        return;
    }
    QSqlQuery pragma(db);
    // Every step of a job is committed before the next begins; a crash must not undo one. A commit
    // is appended to the write-ahead log, which is synced to the disk before any step that others
    // rely on (durabilityFile()), by the thread about to take it; a program killed in between loses
    // nothing, since the system has the log.
    pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    pragma.exec(QStringLiteral("PRAGMA busy_timeout=5000"));
    m_open = exec(QLatin1String(kSchema), {}) && exec(QLatin1String(kHeldSchema), {});
    if (m_open) {
        // Copying the log back waits for the disk: a thread of its own does it, never a commit.
        pragma.exec(QStringLiteral("PRAGMA wal_autocheckpoint=0"));
        m_checkpointer = std::make_unique<JournalCheckpointer>(
            databasePath, m_connectionName + QStringLiteral("-checkpoint"));
        m_checkpointer->start();
    }
}

OutboxJournal::~OutboxJournal()
{
    m_checkpointer.reset();
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

bool OutboxJournal::setPrinterHeld(const QString &printer, bool held)
{
    return held ? exec(QStringLiteral("INSERT OR IGNORE INTO held_printers(printer) VALUES(?)"), { printer })
                : exec(QStringLiteral("DELETE FROM held_printers WHERE printer = ?"), { printer });
}

bool OutboxJournal::isPrinterHeld(const QString &printer) const
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    query.prepare(QStringLiteral("SELECT 1 FROM held_printers WHERE printer = ?"));
    query.addBindValue(printer);
    return query.exec() && query.next();
}

OutboxJournal *OutboxJournal::instance()
{
    if (!g_instance) {
        // Closed with the application: the database driver is gone by the time statics die.
        static bool cleanupAdded = false;
        if (!cleanupAdded) {
            qAddPostRoutine([] { g_instance.reset(); });
            cleanupAdded = true;
        }
        const QDir beside(QCoreApplication::applicationDirPath());
        g_instance = std::make_unique<OutboxJournal>(
            beside.filePath(QStringLiteral("outbox.db")), beside.filePath(QStringLiteral("spool")));
    }
    return g_instance.get();
}

void OutboxJournal::resetForTesting()
{
    g_instance.reset();
}

QString OutboxJournal::spoolFilePath(qint64 id) const
{
    return m_spoolFolder + QLatin1Char('/') + QString::number(id) + QLatin1String(kSpoolSuffix);
}

QString OutboxJournal::partialSpoolFilePath(qint64 id) const
{
    return m_spoolFolder + QLatin1Char('/') + QString::number(id) + QLatin1String(kPartSuffix);
}

void OutboxJournal::noteCommit()
{
    if (m_checkpointer && ++m_commitsSinceCheckpoint >= kCommitsPerCheckpoint) {
        m_commitsSinceCheckpoint = 0;
        m_checkpointer->request();
    }
}

bool OutboxJournal::exec(const QString &statement, const QVariantList &values)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    if (!query.prepare(statement)) {
        qCritical().noquote() << "outbox:" << statement << query.lastError().text();
        return false;
    }
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec()) {
        qCritical().noquote() << "outbox:" << statement << query.lastError().text();
        return false;
    }
    noteCommit();
    return query.numRowsAffected() != 0 || !statement.startsWith(QLatin1String("UPDATE"));
}

qint64 OutboxJournal::addJob(const QString &printer, const QString &serial, const QString &description)
{
    if (!m_open)
        return 0;
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    query.prepare(QStringLiteral("INSERT INTO jobs(printer, serial, description, accepted_at, updated_at, "
                                 "state) VALUES(?, ?, ?, ?, ?, ?)"));
    const QString time = now();
    query.addBindValue(text(printer));
    query.addBindValue(text(serial));
    query.addBindValue(text(description));
    query.addBindValue(time);
    query.addBindValue(time);
    query.addBindValue(stateName(OutboxState::Receiving));
    if (!query.exec()) {
        qCritical().noquote() << "outbox: cannot add a job" << query.lastError().text();
        return 0;
    }
    noteCommit();
    return query.lastInsertId().toLongLong();
}

bool OutboxJournal::setReceived(qint64 id, qint64 size)
{
    return exec(QStringLiteral("UPDATE jobs SET state = ?, size = ?, updated_at = ? WHERE id = ?"),
        { stateName(OutboxState::Received), size, now(), id });
}

bool OutboxJournal::setPosting(qint64 id)
{
    return exec(
        QStringLiteral("UPDATE jobs SET state = ?, attempts = attempts + 1, updated_at = ? WHERE id = ?"),
        { stateName(OutboxState::Posting), now(), id });
}

bool OutboxJournal::setWaiting(qint64 id)
{
    return exec(QStringLiteral("UPDATE jobs SET state = ?, updated_at = ? WHERE id = ?"),
        { stateName(OutboxState::Received), now(), id });
}

bool OutboxJournal::setPosted(qint64 id, const QString &cloudJobId)
{
    return exec(QStringLiteral("UPDATE jobs SET state = ?, cloud_job_id = ?, updated_at = ? WHERE id = ?"),
        { stateName(OutboxState::Posted), text(cloudJobId), now(), id });
}

bool OutboxJournal::setFinal(qint64 id, const QString &result)
{
    return exec(QStringLiteral("UPDATE jobs SET state = ?, result = ?, updated_at = ? WHERE id = ?"),
        { stateName(OutboxState::Final), text(result), now(), id });
}

bool OutboxJournal::removeJob(qint64 id)
{
    return exec(QStringLiteral("DELETE FROM jobs WHERE id = ?"), { id });
}

bool OutboxJournal::renamePrinter(const QString &from, const QString &to)
{
    return exec(QStringLiteral("UPDATE jobs SET printer = ? WHERE printer = ? AND state != ?"),
               { to, from, stateName(OutboxState::Final) })
        && exec(QStringLiteral("UPDATE held_printers SET printer = ? WHERE printer = ?"), { to, from });
}

QList<OutboxJob> OutboxJournal::select(const QString &where, const QVariantList &values) const
{
    QList<OutboxJob> jobs;
    if (!m_open)
        return jobs;
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    query.setForwardOnly(true);
    const QString statement
        = QStringLiteral("SELECT %1 FROM jobs WHERE %2 ORDER BY id").arg(QLatin1String(kColumns), where);
    query.prepare(statement);
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec()) {
        qCritical().noquote() << "outbox:" << statement << query.lastError().text();
        return jobs;
    }
    while (query.next()) {
        OutboxJob job;
        job.id = query.value(0).toLongLong();
        job.printer = query.value(1).toString();
        job.serial = query.value(2).toString();
        job.description = query.value(3).toString();
        job.size = query.value(4).toLongLong();
        job.acceptedAt = QDateTime::fromString(query.value(5).toString(), QLatin1String(kTimeFormat));
        job.updatedAt = QDateTime::fromString(query.value(6).toString(), QLatin1String(kTimeFormat));
        job.state = stateFromName(query.value(7).toString());
        job.cloudJobId = query.value(8).toString();
        job.result = query.value(9).toString();
        job.attempts = query.value(10).toInt();
        jobs.append(job);
    }
    return jobs;
}

std::optional<OutboxJob> OutboxJournal::job(qint64 id) const
{
    const QList<OutboxJob> found = select(QStringLiteral("id = ?"), { id });
    if (found.isEmpty())
        return std::nullopt;
    return found.first();
}

QList<OutboxJob> OutboxJournal::unfinishedJobs(const QString &printer) const
{
    return select(QStringLiteral("printer = ? AND state != ?"), { printer, stateName(OutboxState::Final) });
}

QList<OutboxJob> OutboxJournal::unfinishedJobsExcept(const QStringList &printers) const
{
    QList<OutboxJob> jobs;
    const QList<OutboxJob> unfinished
        = select(QStringLiteral("state != ?"), { stateName(OutboxState::Final) });
    for (const OutboxJob &job : unfinished) {
        if (!printers.contains(job.printer))
            jobs.append(job);
    }
    return jobs;
}

QList<OutboxJob> OutboxJournal::resendableJobs(const QString &printer) const
{
    QList<OutboxJob> kept;
    const QList<OutboxJob> finished
        = select(QStringLiteral("printer = ? AND state = ?"), { printer, stateName(OutboxState::Final) });
    for (const OutboxJob &job : finished) {
        if (!isPrintedResult(job.result) && QFile::exists(spoolFilePath(job.id)))
            kept.append(job);
    }
    return kept;
}

void OutboxJournal::prune(const QDateTime &time)
{
    if (!m_open)
        return;
    QSet<QString> needed;
    const QList<OutboxJob> jobs = select(QStringLiteral("1"), {});
    for (const OutboxJob &job : jobs) {
        const QString name = QString::number(job.id) + QLatin1String(kSpoolSuffix);
        if (job.state != OutboxState::Final) {
            needed.insert(name);
            needed.insert(QString::number(job.id) + QLatin1String(kPartSuffix));
            continue;
        }
        const qint64 age = job.updatedAt.isValid() ? job.updatedAt.msecsTo(time) : kKeepFailedSpoolMs;
        const bool printed = isPrintedResult(job.result);
        if (!printed && age < kKeepFailedSpoolMs)
            needed.insert(name);
        if (age >= kKeepFinalDays * 24 * 3600 * 1000)
            removeJob(job.id);
    }
    QDir folder(m_spoolFolder);
    QStringList unneeded;
    for (const QString &file : folder.entryList(QDir::Files)) {
        if (!needed.contains(file))
            unneeded.append(folder.filePath(file));
    }
    if (!unneeded.isEmpty())
        qDebug().noquote() << "outbox: deleting" << unneeded.size() << "spool files no longer needed";
    deleteFilesInBackground(unneeded);
}
