#include "cardjob.h"

#include "printresulttext.h"

#include <QJsonObject>

CardJob::CardJob(const QString &jobneed, qint64 size)
    : m_jobneed(jobneed)
    , m_size(size)
{
}

CardJob CardJob::fromPostOutcome(const QJsonDocument &jd)
{
    const QJsonObject answer = jd.object();
    return CardJob(answer.value(QStringLiteral("jobneed")).toString(),
        qint64(answer.value(QStringLiteral("jobSize")).toDouble()));
}

QString CardJob::document() const
{
    // The submission time follows the last ";"; a document name may hold one itself.
    const int separator = m_jobneed.lastIndexOf(QLatin1Char(';'));
    return separator < 0 ? m_jobneed : m_jobneed.left(separator);
}

bool CardJob::isTestPage() const
{
    return isTestPageJob(m_jobneed);
}
