#ifndef STATETHREAD_H
#define STATETHREAD_H

#include <QJsonDocument>
#include <QNetworkReply>
#include <QObject>
#include <QString>

class QNetworkAccessManager;

// Asks the cloud print service for the result of one posted job, once per query(). Not a thread:
// its requests are asynchronous and it lives in the GUI thread. The printer card drives it, one query
// at a time, and deletes it when the job's result is final, which aborts a query still open.
// It asks through the given network client, which the cards share: a client of its own would start
// and, when the job ends, join a network thread on the window's thread for every job.
class StateThread : public QObject
{
    Q_OBJECT
public:
    // Without a client it makes one of its own.
    StateThread(const QString &serviceBase, const QString &jobId, QNetworkAccessManager *manager = nullptr,
        QObject *parent = nullptr);
    ~StateThread() override;

    // Sends one result query. The owner calls it only when no earlier query is outstanding.
    void query();

signals:
    // With no error, jd is the parsed answer (empty when it is not JSON); with an error, empty.
    void stateResule(QNetworkReply::NetworkError error, QJsonDocument jd);

private slots:
    void cloudReceive(QNetworkReply *reply);

private:
    QNetworkAccessManager *m_manager = nullptr;
    QNetworkReply *m_reply = nullptr;
    QString m_url;
};

#endif // STATETHREAD_H
