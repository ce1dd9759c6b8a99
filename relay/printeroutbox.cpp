#include "printeroutbox.h"

#include "cloudprotocol.h"
#include "detailfile.h"
#include "jobposter.h"
#include "programwaits.h"
#include "spoolfile.h"
#include "threadlifetime.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace {
// A closing program waits this long for a post under way to give up.
constexpr unsigned long kStopWaitMs = 5000;
} // namespace

PrinterOutbox::PrinterOutbox(const DriverInfo &driverInfo, OutboxJournal *journal, QObject *parent)
    : QObject(parent)
    , m_driverInfo(driverInfo)
    , m_journal(journal)
    , m_retryTimer(new QTimer(this))
{
    // The poster's result crosses from its thread into this one.
    qRegisterMetaType<QNetworkReply::NetworkError>("QNetworkReply::NetworkError");
    qRegisterMetaType<QJsonDocument>("QJsonDocument");
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, [this] {
        if (const std::optional<OutboxJob> job = m_journal->job(m_current.id))
            post(*job);
    });
}

PrinterOutbox::~PrinterOutbox()
{
    if (m_poster) {
        // Whatever the post reaches, the journal says "posting", and the next start records it.
        disconnect(m_poster, nullptr, this, nullptr);
        m_poster->stop();
        m_poster->wait(kStopWaitMs);
    }
}

void PrinterOutbox::setDriverInfo(const DriverInfo &driverInfo)
{
    if (driverInfo.printer_name != m_driverInfo.printer_name)
        m_journal->renamePrinter(m_driverInfo.printer_name, driverInfo.printer_name);
    m_driverInfo = driverInfo;
}

void PrinterOutbox::recover()
{
    const QList<OutboxJob> jobs = m_journal->unfinishedJobs(m_driverInfo.printer_name);
    for (const OutboxJob &job : jobs) {
        switch (job.state) {
        case OutboxState::Receiving: {
            const QFileInfo spooled(m_journal->spoolFilePath(job.id));
            if (spooled.exists()) {
                // Stored whole, then stopped before the journal heard of it.
                m_journal->setReceived(job.id, spooled.size());
                add(job.id, Step::Post);
            } else {
                // Torn mid-job: the connection was reset, and the spooler still has the job.
                QFile::remove(m_journal->partialSpoolFilePath(job.id));
                m_journal->removeJob(job.id);
                qDebug().noquote() << "outbox:" << m_driverInfo.printer_name << "job" << job.id
                                   << "was still arriving; the spooler keeps it";
            }
            break;
        }
        case OutboxState::Received:
            // Only a job too large to keep was received without its bytes.
            add(job.id,
                QFileInfo::exists(m_journal->spoolFilePath(job.id)) ? Step::Post : Step::ReportRefused);
            break;
        case OutboxState::Posting:
            add(job.id, Step::ReportUnanswered);
            break;
        case OutboxState::Posted:
            add(job.id, Step::Follow);
            break;
        case OutboxState::Final:
            break;
        }
    }
    if (!jobs.isEmpty())
        qDebug().noquote() << "outbox:" << m_driverInfo.printer_name << "resumes" << m_queue.size() << "jobs";
    startNext();
}

void PrinterOutbox::closeOrphanedJobs(OutboxJournal *journal, const QStringList &printers)
{
    const QList<OutboxJob> jobs = journal->unfinishedJobsExcept(printers);
    for (const OutboxJob &job : jobs) {
        if (job.state == OutboxState::Receiving) {
            QFile::remove(journal->partialSpoolFilePath(job.id));
            journal->removeJob(job.id);
            continue;
        }
        const QString result = QStringLiteral("打印失败:网络访问异常");
        qDebug().noquote() << "outbox: job" << job.id << "of the printer" << job.printer
                           << "that is gone:" << result;
        appendJobRecord(job.serial, job.description, result, job.size);
        journal->setFinal(job.id, result);
    }
}

void PrinterOutbox::addArriving(qint64 jobId)
{
    m_queue.enqueue(Item { jobId, Step::Post, false });
    emit jobsChanged();
}

void PrinterOutbox::addReceived(qint64 jobId)
{
    arrived(jobId, Step::Post);
}

void PrinterOutbox::addRefused(qint64 jobId)
{
    arrived(jobId, Step::ReportRefused);
}

void PrinterOutbox::dropArriving(qint64 jobId)
{
    for (auto it = m_queue.begin(); it != m_queue.end(); ++it) {
        if (it->id == jobId) {
            m_queue.erase(it);
            emit jobsChanged();
            break;
        }
    }
    startNext();
}

void PrinterOutbox::arrived(qint64 jobId, Step step)
{
    for (Item &item : m_queue) {
        if (item.id == jobId) {
            item.step = step;
            item.whole = true;
            emit jobsChanged();
            startNext();
            return;
        }
    }
    add(jobId, step);
}

void PrinterOutbox::add(qint64 jobId, Step step)
{
    m_queue.enqueue(Item { jobId, step, true });
    emit jobsChanged();
    startNext();
}

void PrinterOutbox::finishCurrent(const QString &result)
{
    if (!isBusy())
        return;
    const qint64 id = m_current.id;
    m_journal->setFinal(id, result);
    // A failed job keeps its bytes for a while, to be sent again; a printed one needs them no more.
    if (isPrintedResult(result))
        deleteFilesInBackground({ m_journal->spoolFilePath(id) });
    m_current = Item();
    emit jobsChanged();
    // Queued: the card may be telling us from within the result it is handling.
    QMetaObject::invokeMethod(this, &PrinterOutbox::startNext, Qt::QueuedConnection);
}

void PrinterOutbox::startNext()
{
    // In arrival order: a job still arriving holds back those that came after it.
    while (!isBusy() && !m_queue.isEmpty() && m_queue.head().whole) {
        m_current = m_queue.dequeue();
        const std::optional<OutboxJob> job = m_journal->job(m_current.id);
        if (!job) {
            m_current = Item();
            continue;
        }
        m_currentStage
            = m_current.step == Step::Post ? JobInFlight::Stage::Uploading : JobInFlight::Stage::Following;
        m_uploadPercent = 0;
        emit jobStarted();
        emit jobsChanged();
        switch (m_current.step) {
        case Step::Post:
            m_sinceFirstAttempt.start();
            m_retryDelayMs = ProgramWaits::current().postRetryFirstDelayMs;
            post(*job);
            break;
        case Step::ReportRefused:
            report(*job, QNetworkReply::UnknownContentError, QJsonDocument());
            break;
        case Step::ReportUnanswered:
            qDebug().noquote() << "outbox:" << m_driverInfo.printer_name << "job" << job->id
                               << "was posted but its answer never came; it is not posted again";
            report(*job, QNetworkReply::RemoteHostClosedError, QJsonDocument());
            break;
        case Step::Follow:
            report(*job, QNetworkReply::NoError, printAnswer(job->cloudJobId));
            break;
        }
    }
}

void PrinterOutbox::post(const OutboxJob &job)
{
    if (!m_journal->setPosting(job.id)) {
        report(job, QNetworkReply::UnknownNetworkError, QJsonDocument());
        return;
    }
    DriverInfo info = m_driverInfo;
    info.cloud_sn = job.serial;
    m_currentStage = JobInFlight::Stage::Uploading;
    m_uploadPercent = 0;
    m_poster = new JobPoster(job.id, info, m_journal->spoolFilePath(job.id), job.size, job.description);
    m_poster->setDurabilityFile(m_journal->durabilityFile());
    connect(m_poster, &JobPoster::posted, this, &PrinterOutbox::onPosted);
    connect(m_poster, &JobPoster::uploadProgress, this, &PrinterOutbox::onUploadProgress);
    deleteWhenEnded(m_poster);
    m_poster->start();
}

void PrinterOutbox::onPosted(
    qint64 jobId, QNetworkReply::NetworkError error, const QJsonDocument &jd, int httpStatus, bool bodySent)
{
    if (jobId != m_current.id)
        return;
    m_poster = nullptr;
    if (isRetryablePostFailure(error, httpStatus, bodySent)
        && !m_sinceFirstAttempt.hasExpired(ProgramWaits::current().postRetryGiveUpMs)) {
        retryLater();
        return;
    }
    if (m_waitingForRetry) {
        m_waitingForRetry = false;
        emit waitingForRetry(false);
    }
    if (error == QNetworkReply::NoError) {
        m_journal->setPosted(jobId, cloudJobId(jd));
        m_currentStage = JobInFlight::Stage::Following;
        emit jobsChanged();
    }
    qDebug().noquote() << "outbox:" << m_driverInfo.printer_name << "job" << jobId << "post ended, error"
                       << int(error) << "status" << httpStatus << (bodySent ? "(sent whole)" : "");
    emit cloudResult(error, jd);
}

void PrinterOutbox::report(
    const OutboxJob &job, QNetworkReply::NetworkError error, const QJsonDocument &answer)
{
    emit cloudResult(error, printResultDocument(answer, job.description, job.size));
}

void PrinterOutbox::retryLater()
{
    m_journal->setWaiting(m_current.id);
    m_currentStage = JobInFlight::Stage::WaitingForRetry;
    emit jobsChanged();
    qDebug().noquote() << "outbox:" << m_driverInfo.printer_name << "job" << m_current.id
                       << QStringLiteral("等待重试 in %1 ms").arg(m_retryDelayMs);
    if (!m_waitingForRetry) {
        m_waitingForRetry = true;
        emit waitingForRetry(true);
    }
    m_retryTimer->start(m_retryDelayMs);
    m_retryDelayMs = qMin(m_retryDelayMs * 2, ProgramWaits::current().postRetryMaxDelayMs);
}

void PrinterOutbox::onUploadProgress(qint64 jobId, int percent)
{
    if (jobId != m_current.id || m_currentStage != JobInFlight::Stage::Uploading)
        return;
    m_uploadPercent = percent;
    emit jobsChanged();
}

QList<JobInFlight> PrinterOutbox::jobsInFlight() const
{
    QList<JobInFlight> jobs;
    const auto describe = [this](qint64 id, JobInFlight::Stage stage) {
        JobInFlight job;
        job.id = id;
        job.stage = stage;
        if (const std::optional<OutboxJob> entry = m_journal->job(id)) {
            job.description = entry->description;
            job.size = entry->size;
        }
        return job;
    };
    if (isBusy()) {
        JobInFlight current = describe(m_current.id, m_currentStage);
        current.uploadPercent = m_currentStage == JobInFlight::Stage::Uploading ? m_uploadPercent : 0;
        jobs.append(current);
    }
    for (const Item &item : m_queue)
        jobs.append(
            describe(item.id, item.whole ? JobInFlight::Stage::Waiting : JobInFlight::Stage::Receiving));
    return jobs;
}

QList<OutboxJob> PrinterOutbox::resendableJobs() const
{
    return m_journal->resendableJobs(m_driverInfo.printer_name);
}

qint64 PrinterOutbox::resend(qint64 jobId)
{
    const std::optional<OutboxJob> old = m_journal->job(jobId);
    if (!old || old->printer != m_driverInfo.printer_name || old->state != OutboxState::Final
        || isPrintedResult(old->result)) {
        qDebug().noquote() << "outbox:" << m_driverInfo.printer_name << "job" << jobId
                           << "cannot be sent again";
        return 0;
    }
    // Sent under the serial the printer has now: that is where the user wants it printed.
    const qint64 id = m_journal->addJob(m_driverInfo.printer_name, m_driverInfo.cloud_sn, old->description);
    if (id == 0)
        return 0;
    // The bytes move rather than being copied: a job of gigabytes is sent again at no cost, and a
    // second click on the old row finds nothing left to send twice.
    const QString oldPath = m_journal->spoolFilePath(jobId);
    const QString newPath = m_journal->spoolFilePath(id);
    if (!QFile::rename(oldPath, newPath)) {
        qWarning().noquote() << "outbox:" << m_driverInfo.printer_name << "job" << jobId
                             << "cannot be sent again: its bytes are gone";
        m_journal->removeJob(id);
        return 0;
    }
    if (!m_journal->setReceived(id, old->size)) {
        QFile::rename(newPath, oldPath);
        m_journal->removeJob(id);
        return 0;
    }
    qDebug().noquote() << "outbox:" << m_driverInfo.printer_name << "job" << jobId << "sent again as job"
                       << id;
    add(id, Step::Post);
    return id;
}
