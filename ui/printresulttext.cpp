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
