#include "printuicommand.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "win32.h"

namespace {

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

bool holdsDoubleQuote(const QStringList &texts)
{
    for (const QString &text : texts) {
        if (text.contains(QLatin1Char('"')))
            return true;
    }
    return false;
}

QString installPrinterCommandLine(const QString &printerName, const QString &portName,
    const QString &driverName, const QString &infPath, bool withInf)
{
    QString line = QStringLiteral("RUNDLL32 PRINTUI.DLL,PrintUIEntry /if /b ") + quoted(printerName);
    if (withInf)
        line += QStringLiteral(" /f ") + quoted(infPath);
    line += QStringLiteral(" /r ") + quoted(portName) + QStringLiteral(" /m ") + quoted(driverName);
    if (withInf)
        line += QStringLiteral(" /u");
    return line;
}

QString testPageCommandLine(const QString &printerName)
{
    return QStringLiteral("RUNDLL32 PRINTUI.DLL,PrintUIEntry /k /n ") + quoted(printerName);
}

QString rundll32Program()
{
#ifdef _WIN32
    // Not the search order's first hit, which would be a RUNDLL32 lying in the program's folder.
    WCHAR system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length > 0 && length < MAX_PATH)
        return QDir(QString::fromWCharArray(system, int(length))).filePath(QStringLiteral("rundll32.exe"));
    return QStringLiteral("RUNDLL32");
#else
    const QFileInfo beside(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("RUNDLL32")));
    if (beside.isFile() && beside.isExecutable())
        return beside.filePath();
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("RUNDLL32"));
    return onPath.isEmpty() ? QStringLiteral("RUNDLL32") : onPath;
#endif
}
