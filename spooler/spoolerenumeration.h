#ifndef SPOOLERENUMERATION_H
#define SPOOLERENUMERATION_H

#include <QDebug>
#include <QString>

#include <functional>
#include <utility>

#include "spoolerbuffer.h"
#include "win32.h"

// The spooler's two-call enumeration: ask with no buffer for the size, then read into a buffer of
// that size. The records' texts point into the buffer, so it is handed over whole, never copied.
// A spooler with nothing to list answers the first call without asking for a buffer; that is a
// failure here like any other, and callers treat an empty spooler as one.
template<typename Record> class SpoolerEnumeration
{
public:
    using Call = std::function<BOOL(LPBYTE data, DWORD size, LPDWORD needed, LPDWORD returned)>;

    // sizeFailed takes the last error and the needed size (%lu, %lu), readFailed the last error.
    SpoolerEnumeration(const Call &call, const char *sizeFailed, const char *readFailed)
    {
        DWORD needed = 0;
        DWORD returned = 0;
        call(nullptr, 0, &needed, &returned);
        const DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER || needed == 0) {
            qCritical().noquote() << QString::asprintf(
                sizeFailed, static_cast<unsigned long>(error), static_cast<unsigned long>(needed));
            return;
        }

        m_buffer = SpoolerBuffer(needed);
        if (!m_buffer.isValid() || !call(m_buffer.bytes(), m_buffer.size(), &needed, &returned)) {
            const DWORD readError = m_buffer.isValid() ? GetLastError() : DWORD(ERROR_NOT_ENOUGH_MEMORY);
            m_buffer = SpoolerBuffer();
            qCritical().noquote() << QString::asprintf(readFailed, static_cast<unsigned long>(readError));
            return;
        }
        m_count = returned;
    }

    SpoolerEnumeration(const SpoolerEnumeration &) = delete;
    SpoolerEnumeration &operator=(const SpoolerEnumeration &) = delete;

    bool isValid() const { return m_buffer.isValid(); }

    // The records in the order the spooler returned them.
    struct Range
    {
        const Record *first;
        const Record *last;
        const Record *begin() const { return first; }
        const Record *end() const { return last; }
    };
    Range records() const
    {
        const Record *first = m_buffer.as<const Record>();
        return Range { first, first + (isValid() ? m_count : 0) };
    }

    // Hands the buffer the records point into to whoever keeps them; this listing is empty after.
    SpoolerBuffer take()
    {
        m_count = 0;
        return std::move(m_buffer);
    }

private:
    SpoolerBuffer m_buffer;
    DWORD m_count = 0;
};

#endif // SPOOLERENUMERATION_H
