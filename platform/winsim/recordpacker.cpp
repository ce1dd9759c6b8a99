#include "recordpacker.h"

#include <cstring>

namespace winsim {

RecordPacker::RecordPacker(uint8_t *buffer, size_t size)
    : m_buffer(buffer)
    , m_end(size & ~size_t(1)) // texts stay on 2-byte boundaries even in an odd-sized buffer
{
}

size_t RecordPacker::listSize(const std::vector<std::u16string> &texts)
{
    size_t size = 2;
    for (const auto &text : texts)
        size += textSize(text);
    return size;
}

char16_t *RecordPacker::place(const std::u16string &text)
{
    const size_t size = textSize(text);
    m_end -= size;
    std::memcpy(m_buffer + m_end, text.c_str(), size);
    return reinterpret_cast<char16_t *>(m_buffer + m_end);
}

char16_t *RecordPacker::placeList(const std::vector<std::u16string> &texts)
{
    m_end -= listSize(texts);
    uint8_t *out = m_buffer + m_end;
    for (const auto &text : texts) {
        std::memcpy(out, text.c_str(), textSize(text));
        out += textSize(text);
    }
    std::memset(out, 0, 2);
    return reinterpret_cast<char16_t *>(m_buffer + m_end);
}

void RecordPacker::writeRecord(size_t index, const void *record, size_t recordSize)
{
    std::memcpy(m_buffer + index * recordSize, record, recordSize);
}

} // namespace winsim
