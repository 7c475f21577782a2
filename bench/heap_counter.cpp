#include "bench/heap_counter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace heap {
namespace {

std::atomic<std::int64_t> live{0};
std::atomic<std::int64_t> peak{0};

void* Allocate(std::size_t size)
{
    void* block = std::malloc(size ? size : 1);
    if (!block) return nullptr;
    const auto now = live.fetch_add(static_cast<std::int64_t>(malloc_usable_size(block))) +
                     static_cast<std::int64_t>(malloc_usable_size(block));
    auto highest = peak.load();
    while (now > highest && !peak.compare_exchange_weak(highest, now)) {
    }
    return block;
}

void Release(void* block)
{
    if (!block) return;
    live.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(block)));
    std::free(block);
}

}  // namespace

std::int64_t LiveBytes() { return live.load(); }
std::int64_t PeakBytes() { return peak.load(); }
void ResetPeak() { peak.store(live.load()); }

}  // namespace heap

void* operator new(std::size_t size)
{
    if (void* block = heap::Allocate(size)) return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return heap::Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return heap::Allocate(size); }
void operator delete(void* block) noexcept { heap::Release(block); }
void operator delete[](void* block) noexcept { heap::Release(block); }
void operator delete(void* block, std::size_t) noexcept { heap::Release(block); }
void operator delete[](void* block, std::size_t) noexcept { heap::Release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { heap::Release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { heap::Release(block); }
