// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <cstddef>

namespace render {

// The memory the PDF library may hold at once in this process, all documents and threads
// together. A crafted page can ask for gigabytes (a few bytes of content per saved graphics
// state, images that inflate from nothing); past the limit the library's allocation fails and
// the page fails with a message instead of the machine running out of memory.
constexpr size_t kDefaultMemoryLimit = size_t(1) << 30;

// 0: no limit. Takes effect for the next allocation.
void SetMemoryLimit(size_t bytes);
size_t MemoryLimit();
// The bytes the library holds now.
size_t MemoryInUse();

namespace budget {

// The library's allocator hooks, counting what it holds against the limit.
void *Allocate(void *user, size_t size);
void *Reallocate(void *user, void *old, size_t size);
void Release(void *user, void *block);

// Whether an allocation of this thread was refused for the limit since the last call; clears it.
bool TakeRefusal();

} // namespace budget

} // namespace render
