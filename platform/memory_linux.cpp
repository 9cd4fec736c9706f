// Linux: pages populated in bulk with madvise, and huge pages where the
// kernel gives them.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "platform/memory.h"

namespace phonebook {

void populate(void* begin, std::size_t size) {
  static const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) & ~(page - 1);
  std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(begin) + size) & ~(page - 1);
  if (end <= first) return;
  // Failure only means the pages will fault in one at a time.
  madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
}

void* allocatePopulated(std::size_t size) {
  constexpr std::size_t kHugePage = 2 << 20;
  if (size < kHugePage) {
    void* block = std::malloc(size);
    if (block != nullptr) populate(block, size);
    return block;
  }
  // aligned_alloc wants a size that is a multiple of the alignment.
  std::size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
  void* block = std::aligned_alloc(kHugePage, rounded);
  if (block == nullptr) return nullptr;
  madvise(block, rounded, MADV_HUGEPAGE);  // a hint: without it, ordinary pages
  populate(block, size);
  return block;
}

}  // namespace phonebook
