#ifndef SPOOLERBUFFER_H
#define SPOOLERBUFFER_H

#include <cstddef>
#include <memory>
#include <new>

#include "win32.h"

// The buffer of a two-call spooler read: zero-filled, aligned for whatever record the spooler writes
// into it, and freed on every path. The records' texts point into the same buffer, so whoever keeps
// the records keeps the buffer: it moves to its new owner and is never copied or freed by hand.
// An empty (default) buffer is what a failed read leaves behind.
class SpoolerBuffer
{
public:
    SpoolerBuffer() = default;
    explicit SpoolerBuffer(DWORD bytes)
        : m_bytes(bytes)
        , m_blocks(new (std::nothrow) std::max_align_t[(size_t(bytes) + sizeof(std::max_align_t) - 1)
              / sizeof(std::max_align_t)]())
    {
    }

    SpoolerBuffer(SpoolerBuffer &&) = default;
    SpoolerBuffer &operator=(SpoolerBuffer &&) = default;
    SpoolerBuffer(const SpoolerBuffer &) = delete;
    SpoolerBuffer &operator=(const SpoolerBuffer &) = delete;

    // False when empty or when the allocation failed.
    bool isValid() const { return m_blocks != nullptr; }
    LPBYTE bytes() const { return reinterpret_cast<LPBYTE>(m_blocks.get()); }
    DWORD size() const { return isValid() ? m_bytes : 0; }
    // The first record; null when empty.
    template<typename Record> Record *as() const { return reinterpret_cast<Record *>(m_blocks.get()); }

private:
    DWORD m_bytes = 0;
    std::unique_ptr<std::max_align_t[]> m_blocks;
};

#endif // SPOOLERBUFFER_H
