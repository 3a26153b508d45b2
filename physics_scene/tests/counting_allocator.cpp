#include "counting_allocator.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include <LinearMath/btAlignedAllocator.h>

namespace {

std::atomic<std::int64_t> liveBlocks{0};
std::atomic<std::int64_t> liveBytes{0};

void* countedAllocate(std::size_t size)
{
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block != nullptr) {
        liveBlocks.fetch_add(1, std::memory_order_relaxed);
        liveBytes.fetch_add(static_cast<std::int64_t>(malloc_usable_size(block)), std::memory_order_relaxed);
    }
    return block;
}

void countedFree(void* block)
{
    if (block == nullptr) {
        return;
    }
    liveBlocks.fetch_sub(1, std::memory_order_relaxed);
    liveBytes.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(block)), std::memory_order_relaxed);
    std::free(block);
}

void* countedAlignedAllocate(std::size_t size, std::size_t alignment)
{
    void* block = nullptr;
    if (posix_memalign(&block, alignment < sizeof(void*) ? sizeof(void*) : alignment, size == 0 ? 1 : size) != 0) {
        return nullptr;
    }
    liveBlocks.fetch_add(1, std::memory_order_relaxed);
    liveBytes.fetch_add(static_cast<std::int64_t>(malloc_usable_size(block)), std::memory_order_relaxed);
    return block;
}

void* bulletAllocate(std::size_t size)
{
    return countedAllocate(size);
}

void bulletFree(void* block)
{
    countedFree(block);
}

// Before any scene exists; the library's allocations made earlier would be
// freed uncounted, which only shifts the baseline.
const bool installed = [] {
    btAlignedAllocSetCustom(bulletAllocate, bulletFree);
    return true;
}();

} // namespace

HeapCount liveHeap()
{
    return {liveBlocks.load(), liveBytes.load()};
}

void* operator new(std::size_t size)
{
    void* block = countedAllocate(size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}

void* operator new(std::size_t size, std::align_val_t alignment)
{
    void* block = countedAlignedAllocate(size, static_cast<std::size_t>(alignment));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

void* operator new[](std::size_t size, std::align_val_t alignment)
{
    return operator new(size, alignment);
}

void operator delete(void* block) noexcept { countedFree(block); }
void operator delete[](void* block) noexcept { countedFree(block); }
void operator delete(void* block, std::size_t) noexcept { countedFree(block); }
void operator delete[](void* block, std::size_t) noexcept { countedFree(block); }
void operator delete(void* block, std::align_val_t) noexcept { countedFree(block); }
void operator delete[](void* block, std::align_val_t) noexcept { countedFree(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { countedFree(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { countedFree(block); }
