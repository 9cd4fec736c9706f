// What the builds that check memory are told of storage that the program
// manages itself: AddressSanitizer's poisoning, where it is built in, and
// nothing in any other build.
#include "platform/memory.h"

#if defined(__SANITIZE_ADDRESS__)
#define PHONEBOOK_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PHONEBOOK_ADDRESS_SANITIZER 1
#endif
#endif

#if PHONEBOOK_ADDRESS_SANITIZER
#include <sanitizer/asan_interface.h>
#endif

namespace phonebook {

void markReleased([[maybe_unused]] void* begin, [[maybe_unused]] std::size_t size) {
#if PHONEBOOK_ADDRESS_SANITIZER
  __asan_poison_memory_region(begin, size);
#endif
}

void markUsable([[maybe_unused]] void* begin, [[maybe_unused]] std::size_t size) {
#if PHONEBOOK_ADDRESS_SANITIZER
  __asan_unpoison_memory_region(begin, size);
#endif
}

}  // namespace phonebook
