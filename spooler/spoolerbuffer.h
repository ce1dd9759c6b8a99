#ifndef SPOOLERBUFFER_H
#define SPOOLERBUFFER_H

#include <cstddef>
#include <memory>
#include <new>

#include "win32.h"

// The buffer of a two-call spooler read: zero-filled, freed on every path unless handed over.
// Record is what the buffer is allocated as, so that the one who ends up owning it can free it with
// array delete of that type (BYTE for the enumerations, the record type for single reads).
template<typename Record> class SpoolerBuffer
{
public:
    explicit SpoolerBuffer(DWORD bytes)
        : m_bytes(bytes)
        , m_records(new (std::nothrow) Record[(size_t(bytes) + sizeof(Record) - 1) / sizeof(Record)]())
    {
    }

    SpoolerBuffer(const SpoolerBuffer &) = delete;
    SpoolerBuffer &operator=(const SpoolerBuffer &) = delete;

    // False when the allocation failed.
    bool isValid() const { return m_records != nullptr; }
    LPBYTE bytes() const { return reinterpret_cast<LPBYTE>(m_records.get()); }
    DWORD size() const { return m_bytes; }
    Record *get() const { return m_records.get(); }
    // The caller frees the result with delete[].
    Record *release() { return m_records.release(); }

private:
    DWORD m_bytes;
    std::unique_ptr<Record[]> m_records;
};

#endif // SPOOLERBUFFER_H
