#include "jobtablerow.h"

#include "detailrecord.h"
#include "jobsizetext.h"
#include "spoolerjobs.h"

JobTableRow JobTableRow::finished(const DetailRecord &record)
{
    JobTableRow row;
    row.kind = Kind::Finished;
    row.document = record.document;
    row.status = record.result;
    const qint64 bytes = record.sizeInBytes();
    if (bytes >= 0) {
        row.size = jobSizeText(bytes);
        row.sizeToolTip = jobSizeBytesText(bytes);
    } else {
        // A damaged record shows what it holds.
        row.size = record.size;
    }
    row.submitted = record.submitted;
    row.handled = record.handled;
    return row;
}

JobTableRow JobTableRow::queued(const SpoolerJob &job)
{
    JobTableRow row;
    row.kind = Kind::Queued;
    row.document = job.document;
    row.status = job.printing ? QStringLiteral("正在处理") : QStringLiteral("打印排队中");
    row.size = QStringLiteral("----");
    row.submitted = chinaTimeOfDay(job.submitted);
    row.handled = QStringLiteral("--:--:--");
    return row;
}
