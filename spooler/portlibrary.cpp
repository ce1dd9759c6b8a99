#include "portlibrary.h"

#include <QCoreApplication>
#include <QDir>

#include <mutex>

namespace {

// Every QLibrary of one file shares one state inside Qt. Loading, resolving and unloading take
// turns across threads; the calls into the library, which may take a while, run side by side.
std::mutex g_libraryMutex;

} // namespace

PortLibrary::PortLibrary()
{
    std::lock_guard<std::mutex> lock(g_libraryMutex);
    m_library.setFileName(filePath());
    m_loaded = m_library.load();
}

PortLibrary::~PortLibrary()
{
    std::lock_guard<std::mutex> lock(g_libraryMutex);
    if (m_loaded)
        m_library.unload();
}

QFunctionPointer PortLibrary::resolveFunction(const char *name)
{
    std::lock_guard<std::mutex> lock(g_libraryMutex);
    return m_loaded ? m_library.resolve(name) : nullptr;
}

QString PortLibrary::filePath()
{
    // Always the copy beside the program: a library of that name elsewhere on the search path is
    // not ours to run with administrator rights.
#ifdef _WIN32
    const QString fileName = QStringLiteral("Quayport.dll");
#else
    const QString fileName = QStringLiteral("libQuayport.so");
#endif
    return QDir(QCoreApplication::applicationDirPath()).filePath(fileName);
}
