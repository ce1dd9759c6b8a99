#include "jobtablerow.h"

#include "detailrecord.h"
#include "jobinflight.h"
#include "jobsizetext.h"
#include "spoolerjobs.h"

JobTableRow JobTableRow::finished(const DetailRecord &record)
{
    JobTableRow row;
    row.kind = Kind::Finished;
    row.document = record.document;
    row.status = record.result;
    const qint64 bytes = record.sizeInBytes();
    row.bytes = bytes;
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

namespace {
QString stageText(const JobInFlight &job)
{
    switch (job.stage) {
    case JobInFlight::Stage::Receiving:
        return QStringLiteral("正在接收");
    case JobInFlight::Stage::Waiting:
        return QStringLiteral("等待上传");
    case JobInFlight::Stage::Uploading:
        return QStringLiteral("正在上传 %1%").arg(job.uploadPercent);
    case JobInFlight::Stage::WaitingForRetry:
        return QStringLiteral("等待重试");
    case JobInFlight::Stage::Following:
        return QStringLiteral("云端打印中");
    }
    return QString();
}
} // namespace

JobTableRow JobTableRow::inFlight(const JobInFlight &job)
{
    JobTableRow row;
    row.kind = Kind::InFlight;
    splitJobDescription(job.description, &row.document, &row.submitted);
    row.status = stageText(job);
    // Still arriving, its size is not known yet.
    if (job.stage != JobInFlight::Stage::Receiving) {
        row.bytes = job.size;
        row.size = jobSizeText(job.size);
        row.sizeToolTip = jobSizeBytesText(job.size);
    } else {
        row.size = QStringLiteral("----");
    }
    row.handled = QStringLiteral("--:--:--");
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

bool JobTableRow::operator==(const JobTableRow &other) const
{
    return kind == other.kind && document == other.document && status == other.status && size == other.size
        && sizeToolTip == other.sizeToolTip && submitted == other.submitted && handled == other.handled
        && bytes == other.bytes && resendJobId == other.resendJobId;
}
