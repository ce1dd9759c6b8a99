#include "cloudserial.h"

#include <QRegularExpression>

bool isCloudSerial(const QString &serial)
{
    static const QRegularExpression pattern(QStringLiteral("\\A[0-9A-F]{16}\\z"));
    return pattern.match(serial).hasMatch();
}
