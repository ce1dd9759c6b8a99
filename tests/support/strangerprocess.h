#ifndef STRANGERPROCESS_H
#define STRANGERPROCESS_H

#include <QProcess>
#include <QString>
#include <QStringList>

// Another local program, not the spooler, talking to a printer's port: the `stranger` tool as a
// child process. Optionally run as another, unprivileged user (when the test runs as root).
class StrangerProcess
{
public:
    StrangerProcess() = default;
    ~StrangerProcess();
    StrangerProcess(const StrangerProcess &) = delete;
    StrangerProcess &operator=(const StrangerProcess &) = delete;

    // Opens `count` idle connections and keeps them; returns once they are made. Events are
    // processed meanwhile, so a listener of this process takes them as they come.
    bool holdIdleConnections(quint16 port, int count);
    // The same, returning as soon as the process runs; waitReady tells when they are made.
    bool startIdleConnections(quint16 port, int count);
    bool waitReady(int timeoutMs = 60000);
    // Sends the bytes over one connection and closes it; returns once the exchange is over.
    bool send(quint16 port, const QByteArray &bytes);
    // Posts the body over HTTP to 127.0.0.1 and the port, as a web page makes the browser do
    // (curl plays the browser); returns once the exchange is over. answered() tells whether
    // anything came back.
    bool postLikeABrowser(quint16 port, const QByteArray &body);
    bool answered() const { return m_answered; }
    // As another user than this process's own; false (and nothing runs) unless we are root.
    void setOtherUser(bool otherUser) { m_otherUser = otherUser; }
    static bool canRunAsOtherUser();

    // The process's id, also after it has ended.
    qint64 processId() const { return m_processId; }
    QString error() const { return m_error; }
    // Closes its connections and lets it end.
    void stop();

private:
    bool start(const QStringList &arguments);
    bool start(const QString &program, const QStringList &arguments);

    QProcess m_process;
    QString m_dataFile;
    QString m_toolCopy;
    QString m_error;
    bool m_otherUser = false;
    bool m_answered = false;
    qint64 m_processId = 0;
};

#endif // STRANGERPROCESS_H
