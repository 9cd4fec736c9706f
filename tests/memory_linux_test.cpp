// The large blocks of a load as glibc's allocator sees them: as large as
// asked, whatever the huge pages round to, and given back with the last
// entry made in them.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/memory.h"
#include "store/entry_storage.h"

namespace phonebook {
namespace {

// Every byte asked for may be written (a block a byte short is caught in
// the build that checks memory).
TEST(MemoryTest, ABlockHoldsWhatWasAskedAroundTheSizeOfAHugePage) {
  constexpr std::size_t kHugePage = 2 << 20;
  for (std::size_t size :
       {std::size_t{1}, kHugePage - 1, kHugePage, kHugePage + 1, 3 * kHugePage + 1}) {
    void* block = allocatePopulated(size);
    ASSERT_NE(block, nullptr);
    std::memset(block, 1, size);
    EXPECT_GE(malloc_usable_size(block), size) << size;
    std::free(block);
  }
}

#if !defined(__SANITIZE_ADDRESS__)
// AddressSanitizer keeps its own books of memory, which mallinfo2 does not see.
TEST(MemoryTest, TheBlockOfALoadGoesBackWithItsLastEntry) {
  auto inUse = [] {
    struct mallinfo2 now = mallinfo2();
    return now.uordblks + now.hblkhd;
  };
  constexpr std::size_t kEntries = 100000;
  constexpr std::size_t kBlock = kEntries * sizeof(PhoneEntry);
  std::vector<PhoneEntry*> entries;
  entries.reserve(kEntries);
  const std::size_t before = inUse();
  ASSERT_TRUE(reserveEntries(kEntries));
  for (std::size_t i = 0; i < kEntries; ++i) entries.push_back(allocateEntry());
  EXPECT_GE(inUse(), before + kBlock);
  for (PhoneEntry* entry : entries) releaseEntry(entry);
  EXPECT_LT(inUse(), before + kBlock / 2);
}
#endif

}  // namespace
}  // namespace phonebook
