// Windows: memory is committed page by page as it is first written, and
// there is no way to ask for a range at once; allocations are plain.
#include <cstdlib>

#include "platform/memory.h"

namespace phonebook {

void populate(void*, std::size_t) {}

void* allocatePopulated(std::size_t size) {
  return std::malloc(size);
}

}  // namespace phonebook
