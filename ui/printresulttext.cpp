#include "printresulttext.h"

QString finalStatusResultText(const QString &status)
{
    if (status == QStringLiteral("打印成功"))
        return status;
    if (status == QStringLiteral("离线"))
        return QStringLiteral("打印失败:设备离线");
    return QStringLiteral("打印失败:") + status;
}

bool isTestPageJob(const QString &jobneed)
{
    return jobneed.contains(QStringLiteral("测试页;"));
}

QString jobDetailRecord(const QString &jobneed, const QString &result, qint32 jobSize, const QString &handledAt)
{
    // One pass over the pattern: a document named "%2" stays "%2".
    return QStringLiteral("%1;%2;%3;%4").arg(jobneed, result, QString::number(jobSize), handledAt);
}
