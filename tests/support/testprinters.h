#ifndef TESTPRINTERS_H
#define TESTPRINTERS_H

#include "courierconstants.h"

#include <QString>

// The printer driver the program supports and how the suites install it on winsim, taken from the
// build's own constants so that a build for another driver tests that driver.
namespace TestPrinters {

// The driver's model name, as the spooler lists it.
inline constexpr const char *kDriver = COURIER_DRIVER_NAME;
// The environment and version the suites install it under, unless a case is about versions.
inline constexpr const char *kEnvironment = "Windows x64";
inline constexpr const char *kVersion = "1.0.0.0";

inline QString driverName()
{
    return QStringLiteral(COURIER_DRIVER_NAME);
}

} // namespace TestPrinters

#endif // TESTPRINTERS_H
