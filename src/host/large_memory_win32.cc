#include "host/large_memory.h"

#include <cstdlib>

namespace kestrin::host {

// Large pages need a privilege that ordinary accounts lack: the heap.
void* AllocateLarge(size_t size) { return std::malloc(size); }

void ReleaseLarge(void* block, size_t) { std::free(block); }

}  // namespace kestrin::host
