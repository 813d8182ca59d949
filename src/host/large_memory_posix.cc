#include "host/large_memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace kestrin::host {
namespace {

constexpr size_t kHugePage = size_t{2} << 20;

size_t Rounded(size_t size) { return (size + kHugePage - 1) & ~(kHugePage - 1); }

}  // namespace

// Whole huge pages, aligned to one: a mapping one page longer than needed,
// less what lies before the first aligned address and after the block.
// Linux backs it with huge pages when asked (transparent huge pages in
// "madvise" mode); elsewhere the advice is ignored.
void* AllocateLarge(size_t size) {
  const size_t length = Rounded(size);
  void* mapped = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<uintptr_t>(mapped);
  const uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
  if (aligned > start) munmap(mapped, aligned - start);
  const uintptr_t end = start + length + kHugePage;
  if (end > aligned + length) munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
#ifdef MADV_HUGEPAGE
  madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
#endif
  return reinterpret_cast<void*>(aligned);
}

void ReleaseLarge(void* block, size_t size) {
  if (block != nullptr) munmap(block, Rounded(size));
}

}  // namespace kestrin::host
