// Lays enumerated records out in the caller's buffer the way the spooler does: the fixed-size
// records from the start, the texts they point to packed from the end of the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace winsim {

class RecordPacker
{
public:
    RecordPacker(uint8_t *buffer, size_t size);

    // Bytes a text takes with its terminator; a list of texts ends with an extra terminator.
    static size_t textSize(const std::u16string &text) { return (text.size() + 1) * 2; }
    static size_t listSize(const std::vector<std::u16string> &texts);

    char16_t *place(const std::u16string &text);
    char16_t *placeList(const std::vector<std::u16string> &texts);
    void writeRecord(size_t index, const void *record, size_t recordSize);

private:
    uint8_t *m_buffer;
    size_t m_end;
};

} // namespace winsim
