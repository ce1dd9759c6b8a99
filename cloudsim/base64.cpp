#include "base64.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

constexpr size_t SliceBytes = 3 * 512 * 1024;

std::array<signed char, 256> makeTable()
{
    std::array<signed char, 256> t {};
    t.fill(-1);
    const char *alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i)
        t[static_cast<unsigned char>(alphabet[i])] = static_cast<signed char>(i);
    return t;
}

const std::array<signed char, 256> &table()
{
    static const std::array<signed char, 256> t = makeTable();
    return t;
}

std::string badCharacter(size_t offset)
{
    return "invalid Base64 character at offset " + std::to_string(offset);
}

unsigned long quad(int a, int b, int c, int d)
{
    return static_cast<unsigned long>(a) << 18 | static_cast<unsigned long>(b) << 12
        | static_cast<unsigned long>(c) << 6 | static_cast<unsigned long>(d);
}

} // namespace

size_t decodedBase64Size(std::string_view text)
{
    if (text.empty() || text.size() % 4 != 0)
        return 0;
    size_t size = text.size() / 4 * 3;
    if (text[text.size() - 1] == '=')
        --size;
    if (text[text.size() - 2] == '=')
        --size;
    return size;
}

bool decodeBase64(std::string_view text, const ByteSink &sink, std::string *error)
{
    if (text.size() % 4 != 0) {
        *error = "Base64 length " + std::to_string(text.size()) + " is not a multiple of 4";
        return false;
    }
    if (text.empty())
        return true;

    const auto &t = table();
    const size_t quads = text.size() / 4;
    const size_t sliceSize = std::min(SliceBytes, quads * 3);
    std::vector<char> slice(sliceSize);
    size_t filled = 0;
    const unsigned char *s = reinterpret_cast<const unsigned char *>(text.data());

    // Every quad but the last is plain; the last may carry the padding.
    for (size_t q = 0; q + 1 < quads; ++q, s += 4) {
        const int a = t[s[0]], b = t[s[1]], c = t[s[2]], d = t[s[3]];
        if ((a | b | c | d) < 0) {
            for (size_t i = 0; i < 4; ++i) {
                if (t[s[i]] < 0) {
                    *error = badCharacter(q * 4 + i);
                    break;
                }
            }
            return false;
        }
        const unsigned long v = quad(a, b, c, d);
        slice[filled++] = static_cast<char>(v >> 16);
        slice[filled++] = static_cast<char>(v >> 8);
        slice[filled++] = static_cast<char>(v);
        if (filled == sliceSize) {
            if (!sink(slice.data(), filled)) {
                *error = "the decoded bytes could not be stored";
                return false;
            }
            filled = 0;
        }
    }

    const size_t lastOffset = text.size() - 4;
    const int a = t[s[0]], b = t[s[1]];
    const bool pad3 = s[3] == '=';
    const bool pad2 = s[2] == '=';
    if (pad2 && !pad3) {
        *error = badCharacter(lastOffset + 2);
        return false;
    }
    const int c = pad2 ? 0 : t[s[2]];
    const int d = pad3 ? 0 : t[s[3]];
    for (int i = 0; i < 4; ++i) {
        const int v = i == 0 ? a : i == 1 ? b : i == 2 ? c : d;
        if (v < 0) {
            *error = badCharacter(lastOffset + static_cast<size_t>(i));
            return false;
        }
    }
    const unsigned long v = quad(a, b, c, d);
    slice[filled++] = static_cast<char>(v >> 16);
    if (!pad2)
        slice[filled++] = static_cast<char>(v >> 8);
    if (!pad3)
        slice[filled++] = static_cast<char>(v);
    if (!sink(slice.data(), filled)) {
        *error = "the decoded bytes could not be stored";
        return false;
    }
    return true;
}
