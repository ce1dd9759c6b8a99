#include "portlibrary.h"

#include <QCoreApplication>
#include <QDir>

PortLibrary::PortLibrary()
    : m_library(filePath())
{
    m_loaded = m_library.load();
}

PortLibrary::~PortLibrary()
{
    if (m_loaded)
        m_library.unload();
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
