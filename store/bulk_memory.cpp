#include "store/bulk_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace phonebook {

void populate(void* begin, std::size_t size) {
  static const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) & ~(page - 1);
  std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(begin) + size) & ~(page - 1);
  if (end <= first) return;
  // Failure only means the pages will fault in one at a time.
  madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
}

void PopulatedBytes::reserve(std::size_t room) {
  if (room <= room_) return;
  char* grown = static_cast<char*>(std::realloc(data_, room));
  if (grown == nullptr) throw std::bad_alloc();
  populate(grown + room_, room - room_);
  data_ = grown;
  room_ = room;
}

HeapGrowth::HeapGrowth() : top_(static_cast<char*>(sbrk(0))) {}

void HeapGrowth::populateNew() {
  // sbrk(0) reads the current end of the heap without changing it. Between
  // the old end and the new one lies exactly what the heap grew by; where
  // the allocator took memory elsewhere the end does not move.
  char* top = static_cast<char*>(sbrk(0));
  if (top > top_) populate(top_, static_cast<std::size_t>(top - top_));
  top_ = top;
}

}  // namespace phonebook
