// SPDX-License-Identifier: AGPL-3.0-or-later
#include "render/memory_budget.h"

#include <atomic>
#include <cstdlib>
#include <malloc.h>
#include <sys/mman.h>

namespace render {

namespace {

std::atomic<size_t> limit{kDefaultMemoryLimit};
std::atomic<size_t> inUse{0};
thread_local bool refused = false;

// The allocator's own size of a block is counted, so no header is needed to remember it.
size_t SizeOf(void *block)
{
    return block == nullptr ? 0 : malloc_usable_size(block);
}

// Counts grown bytes, or refuses them (and counts nothing) when they would pass the limit.
bool Take(size_t bytes)
{
    const size_t cap = limit.load(std::memory_order_relaxed);
    const size_t before = inUse.fetch_add(bytes, std::memory_order_relaxed);
    if (cap != 0 && (bytes > cap || before > cap - bytes)) {
        inUse.fetch_sub(bytes, std::memory_order_relaxed);
        refused = true;
        return false;
    }
    return true;
}

void Give(size_t bytes)
{
    inUse.fetch_sub(bytes, std::memory_order_relaxed);
}

} // namespace

void SetMemoryLimit(size_t bytes)
{
    limit.store(bytes, std::memory_order_relaxed);
}

size_t MemoryLimit()
{
    return limit.load(std::memory_order_relaxed);
}

size_t MemoryInUse()
{
    return inUse.load(std::memory_order_relaxed);
}

namespace budget {

namespace {

// Images and bands take megabytes each, touched page by page for the first time: in pages of
// 2 MB where the system offers them, a block costs a few page faults instead of hundreds.
constexpr size_t kLargePage = size_t{2} << 20;
constexpr size_t kLargeBlock = 2 * kLargePage;

void AskForLargePages(void *block, size_t size)
{
    const auto begin = reinterpret_cast<uintptr_t>(block);
    const uintptr_t first = (begin + kLargePage - 1) & ~(kLargePage - 1);
    const uintptr_t end = (begin + size) & ~(kLargePage - 1);
    if (end > first) {
        madvise(reinterpret_cast<void *>(first), end - first, MADV_HUGEPAGE);
    }
}

} // namespace

void *Allocate(void *, size_t size)
{
    const size_t cap = limit.load(std::memory_order_relaxed);
    if (cap != 0 && size > cap) {
        refused = true;
        return nullptr;
    }
    void *block = std::malloc(size);
    if (block != nullptr && !Take(SizeOf(block))) {
        std::free(block);
        return nullptr;
    }
    if (block != nullptr && size >= kLargeBlock) {
        AskForLargePages(block, size);
    }
    return block;
}

void *Reallocate(void *, void *old, size_t size)
{
    if (old == nullptr) {
        return Allocate(nullptr, size);
    }
    if (size == 0) {
        Release(nullptr, old);
        return nullptr;
    }
    const size_t cap = limit.load(std::memory_order_relaxed);
    const size_t oldSize = SizeOf(old);
    if (cap != 0 && size > oldSize && !Take(size - oldSize)) {
        return nullptr;
    }
    void *block = std::realloc(old, size);
    const size_t taken = cap != 0 && size > oldSize ? size - oldSize : 0;
    if (block == nullptr) {
        Give(taken);
        return nullptr;
    }
    // What the allocator gave may differ from what was asked: settle the count to it.
    const size_t newSize = SizeOf(block);
    const size_t counted = oldSize + taken;
    if (newSize > counted) {
        inUse.fetch_add(newSize - counted, std::memory_order_relaxed);
    } else {
        Give(counted - newSize);
    }
    return block;
}

void Release(void *, void *block)
{
    Give(SizeOf(block));
    std::free(block);
}

bool TakeRefusal()
{
    const bool was = refused;
    refused = false;
    return was;
}

} // namespace budget

} // namespace render
