#include "processheap.h"

#include <cstdlib>

namespace winsim {

ProcessHeap &ProcessHeap::instance()
{
    static ProcessHeap *heap = new ProcessHeap;
    return *heap;
}

void *ProcessHeap::handle()
{
    // Any stable value that no other handle can take.
    static int marker = 0;
    return &marker;
}

void *ProcessHeap::allocate(size_t size, bool zeroed)
{
    // A zero-byte request still gets a block of its own, which must be freed.
    void *block = zeroed ? std::calloc(1, size ? size : 1) : std::malloc(size ? size : 1);
    if (!block)
        return nullptr;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_blocks.insert(block);
    return block;
}

bool ProcessHeap::release(void *block)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_blocks.erase(block) == 0)
            return false;
    }
    std::free(block);
    return true;
}

int ProcessHeap::liveBlocks() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_blocks.size());
}

} // namespace winsim
