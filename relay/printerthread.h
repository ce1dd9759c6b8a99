#ifndef PRINTERTHREAD_H
#define PRINTERTHREAD_H

#include "driverinfo.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QPointer>
#include <QString>
#include <QTcpSocket>
#include <QThread>

class Cloud;
class QMutex;

// Serves one connection of the spooler: collects the job until the spooler closes the connection,
// posts it through a Cloud client and passes the answer on as cloudResult. Every connection ends with
// exactly one cloudResult, also when nothing could be posted, so that the printer's card can record
// the job and free the port. Deletes itself (through the listener's wiring) once its thread is done.
class PrinterThread : public QThread
{
    Q_OBJECT
public:
    PrinterThread(qintptr socketDescriptor, const DriverInfo &driverInfo, const QString &jobDescription,
        QMutex *mutex, QObject *parent = nullptr);
    ~PrinterThread() override;

signals:
    void error(QTcpSocket::SocketError socketError);
    void cloudResult(QNetworkReply::NetworkError error, QJsonDocument jd);

protected:
    void run() override;

private:
    void collect(QTcpSocket *socket);
    void onSocketDisconnected(QTcpSocket *socket);
    void waitForReply();
    // The result of a job that was not posted: the error and only the two local members.
    void reportUnposted(QNetworkReply::NetworkError error);
    qint32 jobSize() const;

    qintptr m_socketDescriptor;
    DriverInfo m_driverInfo;
    QByteArray m_data;
    QPointer<Cloud> m_cloud;
    QString m_jobDescription;
    QMutex *m_mutex;

    // Everything the spooler sent, kept or not.
    qint64 m_received = 0;
    // The job outgrew maxJobBytes(): its bytes are dropped and it is refused instead of posted.
    bool m_tooLarge = false;
    // The connection's end has been handled (posted or refused); nothing may post it a second time.
    bool m_completed = false;
};

#endif // PRINTERTHREAD_H
