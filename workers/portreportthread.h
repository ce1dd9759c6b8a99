#ifndef PORTREPORTTHREAD_H
#define PORTREPORTTHREAD_H

#include <QStringList>
#include <QThread>

// Logs how each listed port is configured (host and port number), for diagnosis only. It loads the
// port library and asks the port monitor once per port, which adds up over many printers: done in
// the background, the window is up without waiting for it.
class PortReportThread : public QThread
{
    Q_OBJECT

public:
    explicit PortReportThread(const QStringList &portNames, QObject *parent = nullptr);
    // Stops after the port being asked about, and waits for that.
    ~PortReportThread() override;

protected:
    void run() override;

private:
    QStringList m_portNames;
};

#endif // PORTREPORTTHREAD_H
