#ifndef REMOVEPRINTERTHREAD_H
#define REMOVEPRINTERTHREAD_H

#include "driverinfo.h"

#include <QThread>

// Deletes one cloud printer and its queued jobs in the background; driver and port stay installed.
class RemovePrinterThread : public QThread
{
    Q_OBJECT

public:
    explicit RemovePrinterThread(const DriverInfo &info, QObject *parent = nullptr);

signals:
    void removeResult(bool ret, QString msg, DriverInfo driverinfo);

protected:
    void run() override;

private:
    DriverInfo m_info;
};

#endif // REMOVEPRINTERTHREAD_H
