// The process heap behind HeapAlloc/HeapFree. It knows its live blocks, so that a free of anything
// else fails as on Windows and a test can count what a call left allocated.
#pragma once

#include <cstddef>
#include <mutex>
#include <unordered_set>

namespace winsim {

class ProcessHeap
{
public:
    static ProcessHeap &instance();
    static void *handle();

    void *allocate(size_t size, bool zeroed);
    bool release(void *block);
    int liveBlocks() const;

private:
    ProcessHeap() = default;

    mutable std::mutex m_mutex;
    std::unordered_set<void *> m_blocks;
};

} // namespace winsim
