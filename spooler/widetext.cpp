#include "widetext.h"

#include <cstring>

std::vector<WCHAR> toWide(const QString &text)
{
    std::vector<WCHAR> wide(size_t(text.size()) + 1, 0);
    static_assert(sizeof(WCHAR) == sizeof(QChar), "UTF-16 code units on both sides");
    std::memcpy(wide.data(), text.utf16(), size_t(text.size()) * sizeof(WCHAR));
    return wide;
}

QString fromWide(const WCHAR *text)
{
    if (text == nullptr)
        return QString();
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(text));
}

QString fromWide(const WCHAR *text, size_t maxUnits)
{
    if (text == nullptr)
        return QString();
    size_t length = 0;
    while (length < maxUnits && text[length] != 0)
        ++length;
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(text), int(length));
}

const wchar_t *percentLs(const WCHAR *text)
{
    static const WCHAR empty[1] = { 0 };
    return reinterpret_cast<const wchar_t *>(text != nullptr ? text : empty);
}

const wchar_t *percentLs(const QString &text)
{
    return percentLs(reinterpret_cast<const WCHAR *>(text.utf16()));
}
