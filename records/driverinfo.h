#ifndef DRIVERINFO_H
#define DRIVERINFO_H

#include <QMetaType>
#include <QString>

// One cloud printer as it travels between the workers, the window, the cards and task.db.
// printer_name is the key everywhere; the other facts follow it.
struct DriverInfo
{
    QString printer_name;
    QString cloud_sn;
    QString port_name;
    quint16 port_num = 0;
    QString driver_name;
    QString ip;
};

bool operator==(const DriverInfo &a, const DriverInfo &b);
bool operator!=(const DriverInfo &a, const DriverInfo &b);

Q_DECLARE_METATYPE(DriverInfo)

// Call once at start-up, before any worker thread exists: the workers' result signals carry
// DriverInfo (and lists of it) through queued connections, which look the types up by name.
void registerDriverInfoMetaType();

#endif // DRIVERINFO_H
