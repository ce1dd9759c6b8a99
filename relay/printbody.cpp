#include "printbody.h"

#include "printbodywriter.h"

#include <QDebug>

qint64 base64Length(qint64 n)
{
    return (n + 2) / 3 * 4;
}

QByteArray printRequestBody(const QString &cloudSn, const QByteArray &job)
{
    PrintBodyWriter writer(cloudSn);
    // The size is known: one allocation of exactly the body's length.
    if (!writer.reserveFor(job.size())) {
        qDebug() << "34_PrintBody no room for a body of" << writer.bodyBytesFor(job.size()) << "bytes";
        return QByteArray();
    }
    writer.append(job.constData(), job.size());
    return writer.finish();
}
