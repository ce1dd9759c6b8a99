#ifndef PORTLIBRARY_H
#define PORTLIBRARY_H

#include <QLibrary>
#include <QString>

// One use of the port library: loaded from the program's folder when constructed, unloaded when
// destroyed. Nothing is kept between uses, so a library replaced or removed meanwhile is seen at
// the next call.
class PortLibrary
{
public:
    PortLibrary();
    ~PortLibrary();

    PortLibrary(const PortLibrary &) = delete;
    PortLibrary &operator=(const PortLibrary &) = delete;

    bool isLoaded() const { return m_loaded; }

    // The export of that name as a function of type Function, or null.
    template<typename Function> Function resolve(const char *name)
    {
        return m_loaded ? reinterpret_cast<Function>(m_library.resolve(name)) : nullptr;
    }

    // Quayport.dll (libQuayport.so outside Windows) in the program's folder.
    static QString filePath();

private:
    QFunctionPointer resolveFunction(const char *name);

    QLibrary m_library;
    bool m_loaded = false;
};

#endif // PORTLIBRARY_H
