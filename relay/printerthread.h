#ifndef PRINTERTHREAD_H
#define PRINTERTHREAD_H

#include "driverinfo.h"
#include "printbodywriter.h"

#include <QJsonDocument>
#include <QNetworkReply>
#include <QPointer>
#include <QString>
#include <QTcpSocket>
#include <QThread>

#include <memory>

class Cloud;
class QMutex;

// Serves one connection of the spooler: collects the job until the spooler closes the connection,
// posts it through a Cloud client and passes the answer on as cloudResult. Every connection ends with
// exactly one cloudResult, also when nothing could be posted, so that the printer's card can record
// the job and free the port. Deletes itself (through the listener's wiring) once its thread is done.
//
// The job is Base64-encoded into the print body as it arrives, so what stays in memory is the body
// alone (4/3 of the job), never the raw job beside it.
class PrinterThread : public QThread
{
    Q_OBJECT
public:
    // `mutex` serialises the posts of one printer. It is shared, not borrowed: the listener that
    // handed it out may be deleted while this receiver still holds it.
    PrinterThread(qintptr socketDescriptor, const DriverInfo &driverInfo, const QString &jobDescription,
        std::shared_ptr<QMutex> mutex, QObject *parent = nullptr);
    ~PrinterThread() override;

    // The job's size as the spooler reported it (0: not known). The body is reserved for it at once
    // instead of growing while the job arrives. Call before start().
    void setExpectedJobBytes(qint64 bytes);

signals:
    void error(QTcpSocket::SocketError socketError);
    void cloudResult(QNetworkReply::NetworkError error, QJsonDocument jd);

protected:
    void run() override;

private:
    void collect(QTcpSocket *socket);
    // Stops keeping the job (too large, or no memory left for it); the rest is read and dropped.
    void dropJob(const QString &why);
    void onSocketDisconnected(QTcpSocket *socket);
    void waitForReply();
    // The result of a job that was not posted: the error and only the two local members.
    void reportUnposted(QNetworkReply::NetworkError error);
    qint32 jobSize() const;

    qintptr m_socketDescriptor;
    DriverInfo m_driverInfo;
    // The print body, filled while the job arrives.
    PrintBodyWriter m_body;
    QPointer<Cloud> m_cloud;
    QString m_jobDescription;
    std::shared_ptr<QMutex> m_mutex;

    qint64 m_expectedBytes = 0;
    // Everything the spooler sent, kept or not.
    qint64 m_received = 0;
    // The job outgrew maxJobBytes() or memory: its bytes are dropped and it is refused, not posted.
    bool m_tooLarge = false;
    // The connection's end has been handled (posted or refused); nothing may post it a second time.
    bool m_completed = false;
};

#endif // PRINTERTHREAD_H
