#ifndef ADDPRINTERTHREAD_H
#define ADDPRINTERTHREAD_H

#include "cprinter.h"
#include "driverinfo.h"

#include <QThread>

// Provisions one cloud printer in the background: a free loopback port, the printer on it (with
// the driver installed when missing), and the printer's serial and port number stored on it.
class AddPrinterThread : public QThread
{
    Q_OBJECT

public:
    explicit AddPrinterThread(const DriverInfo &info, QObject *parent = nullptr);
    ~AddPrinterThread() override;

    // The highest port index: its port number, 8100 + index, is the last valid TCP port.
    static constexpr int kMaxPortIndex = 65535 - 8100;

signals:
    void addResult(bool ret, QString msg, DriverInfo driverinfo);

protected:
    void run() override;

private:
    QString provision();

    CPrinter m_printer;
    DriverInfo m_info;
};

#endif // ADDPRINTERTHREAD_H
