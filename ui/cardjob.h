#ifndef CARDJOB_H
#define CARDJOB_H

#include <QJsonDocument>
#include <QString>

// One print job as a card knows it: the job description and size that came with its post's
// outcome. Each job carries its own, so a job that ends while another one's outcome arrives is
// recorded with what belongs to it.
class CardJob
{
public:
    CardJob() = default;
    CardJob(const QString &jobneed, qint64 size);

    // The "jobneed" and "jobSize" the cloud client adds to every post's outcome.
    static CardJob fromPostOutcome(const QJsonDocument &jd);

    QString jobneed() const { return m_jobneed; }
    qint64 size() const { return m_size; }
    // The document name: the job description without its submission time.
    QString document() const;
    bool isTestPage() const;

private:
    QString m_jobneed;
    qint64 m_size = 0;
};

#endif // CARDJOB_H
