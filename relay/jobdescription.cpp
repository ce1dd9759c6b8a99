#include "jobdescription.h"

#include "spoolerjobs.h"
#include "win32.h"

#include <QDebug>

QString currentJobDescription(const QString &printerName, qint64 *jobBytes)
{
    if (jobBytes)
        *jobBytes = 0;
    const std::optional<QList<SpoolerJob>> jobs = queuedJobs(printerName);
    if (!jobs) {
        qDebug() << "70_PrinterServer OpenPrinter failed:" << printerName
                 << static_cast<unsigned long>(GetLastError());
        return QString();
    }
    for (const SpoolerJob &job : *jobs) {
        if (!job.printing)
            continue;
        if (jobBytes)
            *jobBytes = job.size;
        return job.document + QLatin1Char(';') + chinaTimeOfDay(job.submitted);
    }
    return QString();
}
