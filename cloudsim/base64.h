#ifndef BASE64_H
#define BASE64_H

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// Receives decoded bytes slice by slice; returns false to stop the decoding (e.g. a failed write).
using ByteSink = std::function<bool(const char *data, size_t size)>;

// Decodes standard Base64 (the RFC 4648 alphabet, "=" padding, no line breaks or other
// characters) and hands the bytes to sink in slices of at most about a MiB, so that a large job
// never needs its whole decoded form in memory. Returns false on the first malformed character,
// on a length that is not a multiple of four, on misplaced padding, or when sink stops; error then
// says why (sink may already have seen part of the bytes).
bool decodeBase64(std::string_view text, const ByteSink &sink, std::string *error);

// The number of bytes that well-formed text decodes to.
size_t decodedBase64Size(std::string_view text);

#endif // BASE64_H
