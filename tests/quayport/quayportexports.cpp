#include "quayportexports.h"

namespace {

template<typename Function>
bool resolveInto(QLibrary &library, const char *name, Function &into, QString &missing)
{
    into = reinterpret_cast<Function>(library.resolve(name));
    if (into == nullptr)
        missing += QLatin1Char(' ') + QLatin1String(name);
    return into != nullptr;
}

} // namespace

QString QuayportExports::load()
{
    library.setFileName(QStringLiteral(COURIER_BIN_DIR "/libQuayport.so"));
    if (!library.load())
        return library.errorString();
    QString missing;
    resolveInto(library, "AddStandardTcpPort", add, missing);
    resolveInto(library, "ConfigStandardTcpPort", config, missing);
    resolveInto(library, "DeleteStandardTcpPort", remove, missing);
    resolveInto(library, "GetConfigStandardTcpPort", query, missing);
    resolveInto(library, "StopDependentServices", stopDependents, missing);
    resolveInto(library, "QDeletePrinterDriver", deleteDriver, missing);
    return missing.isEmpty() ? QString() : QStringLiteral("not exported:") + missing;
}
