#ifndef PRINTUICOMMAND_H
#define PRINTUICOMMAND_H

#include <QString>
#include <QStringList>

// The PRINTUI command lines. Texts go between double quotes unchanged, so a text that holds a
// double quote would end its argument early and inject its own switches: refuse those.
bool holdsDoubleQuote(const QStringList &texts);

QString installPrinterCommandLine(const QString &printerName, const QString &portName,
    const QString &driverName, const QString &infPath, bool withInf);
QString testPageCommandLine(const QString &printerName);

// The RUNDLL32 that runs those command lines: the system's on Windows; elsewhere the stand-in
// beside the program, else the one on PATH.
QString rundll32Program();

#endif // PRINTUICOMMAND_H
