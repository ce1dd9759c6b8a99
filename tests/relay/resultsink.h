#ifndef RESULTSINK_H
#define RESULTSINK_H

#include <QJsonDocument>
#include <QList>
#include <QNetworkReply>
#include <QObject>

// Stands where the printer card stands: takes print results queued into the test's thread.
class ResultSink : public QObject
{
    Q_OBJECT
public:
    struct Result
    {
        QNetworkReply::NetworkError error;
        QJsonDocument document;
    };

    QList<Result> results;

    // Waits, processing events, until `count` results have come in all told.
    bool waitFor(int count, int timeoutMs = 5000);

    // The members the card reads from a result.
    QString jobneed(int i) const;
    int jobSize(int i) const;
    // The id the service gave the job.
    QString jobId(int i) const;

public slots:
    void onResult(QNetworkReply::NetworkError error, const QJsonDocument &document);
};

#endif // RESULTSINK_H
