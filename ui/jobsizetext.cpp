#include "jobsizetext.h"

QString jobSizeText(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(bytes);
    static const char *const units[] = { "KB", "MB", "GB", "TB" };
    const int lastUnit = int(sizeof(units) / sizeof(units[0])) - 1;
    double value = double(bytes) / 1024.0;
    int unit = 0;
    // Move up before the rounded figure would read "1024.0".
    while (value >= 1023.95 && unit < lastUnit) {
        value /= 1024.0;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(QLatin1String(units[unit]));
}

QString jobSizeBytesText(qint64 bytes)
{
    return QStringLiteral("%1 字节").arg(bytes);
}
