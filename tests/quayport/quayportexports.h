#ifndef QUAYPORTEXPORTS_H
#define QUAYPORTEXPORTS_H

#include <QLibrary>
#include <QString>

#include "quayport.h"

// The six exports of the built port library, resolved by name at run time as the program does.
struct QuayportExports
{
    decltype(&AddStandardTcpPort) add = nullptr;
    decltype(&ConfigStandardTcpPort) config = nullptr;
    decltype(&DeleteStandardTcpPort) remove = nullptr;
    decltype(&GetConfigStandardTcpPort) query = nullptr;
    decltype(&StopDependentServices) stopDependents = nullptr;
    decltype(&QDeletePrinterDriver) deleteDriver = nullptr;

    // Empty on success, else what went wrong.
    QString load();

    QLibrary library;
};

#endif // QUAYPORTEXPORTS_H
