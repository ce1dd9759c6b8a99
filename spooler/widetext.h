#ifndef WIDETEXT_H
#define WIDETEXT_H

#include <QString>

#include <cstddef>
#include <vector>

#include "win32.h"

// The spooler speaks NUL-terminated UTF-16 and takes most strings through non-const pointers, so
// every text handed to it is a copy that lives for the call.
std::vector<WCHAR> toWide(const QString &text);

// A null pointer reads as empty text.
QString fromWide(const WCHAR *text);
// Stops at the first NUL or after maxUnits code units, whichever comes first.
QString fromWide(const WCHAR *text, size_t maxUnits);

// For "%ls" in QString::asprintf, which reads UTF-16 whatever the compiler thinks wchar_t is.
const wchar_t *percentLs(const WCHAR *text);
const wchar_t *percentLs(const QString &text);

#endif // WIDETEXT_H
