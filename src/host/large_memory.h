// Memory for large tables that are read at random (the cabinet encoders'
// match finders): backed by huge pages where the system offers them, so
// that a random read costs one cache miss and not a TLB miss as well.
#ifndef KESTRIN_HOST_LARGE_MEMORY_H_
#define KESTRIN_HOST_LARGE_MEMORY_H_

#include <cstddef>

namespace kestrin::host {

// A block of `size` bytes, or nullptr when memory is short.
void* AllocateLarge(size_t size);
// Frees a block of AllocateLarge with the size asked for.
void ReleaseLarge(void* block, size_t size);

}  // namespace kestrin::host

#endif  // KESTRIN_HOST_LARGE_MEMORY_H_
