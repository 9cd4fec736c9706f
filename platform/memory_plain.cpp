// Where there is no way to ask for a range of pages at once (Windows, which
// commits memory page by page as it is first written, and a POSIX system
// without Linux's madvise requests), allocations are plain.
#include <cstdlib>

#include "platform/memory.h"

namespace phonebook {

void populate(void*, std::size_t) {}

void* allocatePopulated(std::size_t size) {
  return std::malloc(size);
}

}  // namespace phonebook
