// Conversions between the UTF-16 texts of the Windows calls and the UTF-8 texts winsim stores.
#pragma once

#include <cstddef>
#include <string>

namespace winsim {

// Length in code units of a NUL-terminated UTF-16 text; 0 for a null pointer.
size_t utf16Length(const char16_t *text);

std::string toUtf8(const char16_t *text);
std::string toUtf8(const std::u16string &text);
std::u16string toUtf16(const std::string &text);

// The key under which names compare without regard to case, as the spooler, the registry and the
// service manager compare them: every character upper-cased by simple one-to-one mapping.
std::string foldedKey(const std::string &utf8);

// Text of a fixed-width UTF-16 field; false when the field holds no terminator within its width.
bool fixedFieldText(const char16_t *field, size_t width, std::string *out);

} // namespace winsim
