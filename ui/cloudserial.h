#ifndef CLOUDSERIAL_H
#define CLOUDSERIAL_H

#include <QString>

// A cloud serial number as printed on the printer's label: 16 characters 0-9, A-F (upper case).
bool isCloudSerial(const QString &serial);

#endif // CLOUDSERIAL_H
