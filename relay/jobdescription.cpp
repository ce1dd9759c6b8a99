#include "jobdescription.h"

#include "spoolerjobs.h"

QString currentJobDescription(const QString &printerName)
{
    const std::optional<QList<SpoolerJob>> jobs = queuedJobs(printerName);
    if (!jobs)
        return QString();
    for (const SpoolerJob &job : *jobs) {
        if (job.printing)
            return job.document + QLatin1Char(';') + chinaTimeOfDay(job.submitted);
    }
    return QString();
}
