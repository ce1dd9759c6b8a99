#include "driverinfo.h"

#include <QList>

bool operator==(const DriverInfo &a, const DriverInfo &b)
{
    return a.printer_name == b.printer_name && a.cloud_sn == b.cloud_sn && a.port_name == b.port_name
        && a.port_num == b.port_num && a.driver_name == b.driver_name && a.ip == b.ip;
}

bool operator!=(const DriverInfo &a, const DriverInfo &b)
{
    return !(a == b);
}

void registerDriverInfoMetaType()
{
    qRegisterMetaType<DriverInfo>("DriverInfo");
    qRegisterMetaType<QList<DriverInfo>>("QList<DriverInfo>");
}
