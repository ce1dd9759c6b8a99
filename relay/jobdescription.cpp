#include "jobdescription.h"

#include "spoolerjobs.h"

QString currentJobDescription(const QString &printerName, qint64 *jobBytes)
{
    if (jobBytes)
        *jobBytes = 0;
    const std::optional<QList<SpoolerJob>> jobs = queuedJobs(printerName);
    if (!jobs)
        return QString();
    for (const SpoolerJob &job : *jobs) {
        if (!job.printing)
            continue;
        if (jobBytes)
            *jobBytes = job.size;
        return job.document + QLatin1Char(';') + chinaTimeOfDay(job.submitted);
    }
    return QString();
}
