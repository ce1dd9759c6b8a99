#ifndef RAWSERVICE_H
#define RAWSERVICE_H

#include "rawhttppeer.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>

class QTcpSocket;

// A cloud print service on loopback on the raw HTTP peer, for the answers the service
// stand-in does not give: bodies of several MiB, and answers cut off by a connection reset after
// the headers and half the body. It keeps the job bytes of every print request it is sent.
class RawService : public QObject
{
    Q_OBJECT
public:
    enum class Answer {
        Normal, // the job id for a print, the final status for a result, online for a device
        HugeJson, // the normal answer with a member of several MiB beside it
        HugeGarbage, // several MiB that are not JSON, with status 200
        ResetMidway, // the headers and half the body, then a connection reset
        Custom, // the body set with setCustomBody, with status 200
        KeepAndClose, // the request kept (a print's job counted), the connection closed unanswered
        Redirect, // 302 to another address
    };

    explicit RawService(QObject *parent = nullptr);

    bool listen();
    QString base() const;

    void setPrintAnswer(Answer answer) { m_printAnswer = answer; }
    void setResultAnswer(Answer answer) { m_resultAnswer = answer; }
    void setStateAnswer(Answer answer) { m_stateAnswer = answer; }
    void setCustomBody(const QByteArray &body) { m_customBody = body; }
    // Print job ids are this followed by a number ("RAW" unless set).
    void setJobIdPrefix(const QByteArray &prefix) { m_jobIdPrefix = prefix; }

    // The decoded job of every print request, in the order they came.
    QList<QByteArray> jobs() const { return m_jobs; }
    int requests(const QByteArray &path) const { return m_requests.value(path); }
    void clear();

    // The size of the huge answers.
    static constexpr int kHugeBytes = 6 * 1024 * 1024;

private:
    void answer(QTcpSocket *socket, const CapturedRequest &request);
    QByteArray normalBody(const QByteArray &path) const;

    RawHttpPeer m_peer;
    Answer m_printAnswer = Answer::Normal;
    Answer m_resultAnswer = Answer::Normal;
    Answer m_stateAnswer = Answer::Normal;
    QByteArray m_customBody;
    QByteArray m_jobIdPrefix = "RAW";
    QString m_lastSerial;
    QByteArray m_lastQuery;
    QList<QByteArray> m_jobs;
    QMap<QByteArray, int> m_requests;
};

#endif // RAWSERVICE_H
