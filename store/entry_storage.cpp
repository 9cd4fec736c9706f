#include "store/entry_storage.h"

#include <cstddef>
#include <cstdlib>
#include <functional>
#include <new>
#include <vector>

#include "platform/memory.h"

namespace phonebook {
namespace {

struct EntryBlock {
  PhoneEntry* entries;
  std::size_t size;
  std::size_t handedOut = 0;  // entries[0, handedOut) have been made
  std::size_t live = 0;       // ... and so many of them are not released

  bool holds(const PhoneEntry* entry) const {
    return !std::less<const PhoneEntry*>()(entry, entries) &&
           std::less<const PhoneEntry*>()(entry, entries + size);
  }
};

std::vector<EntryBlock> blocks;
PhoneEntry* released = nullptr;  // released entries of blocks, linked by next

EntryBlock* blockHolding(const PhoneEntry* entry) {
  for (EntryBlock& block : blocks) {
    if (block.holds(entry)) return &block;
  }
  return nullptr;
}

// The part of an entry that a released one no longer uses: all but the
// link of the free list.
constexpr std::size_t kTextsSize = offsetof(PhoneEntry, next);

}  // namespace

void releaseEntry(PhoneEntry* entry) {
  EntryBlock* block = blockHolding(entry);
  if (block == nullptr) {
    delete entry;
    return;
  }
  entry->next = released;
  released = entry;
  markReleased(entry, kTextsSize);
  if (--block->live > 0) return;
  // The block's last entry: its entries leave the free list, and it goes.
  PhoneEntry** link = &released;
  while (*link != nullptr) {
    if (block->holds(*link)) {
      *link = (*link)->next;
    } else {
      link = &(*link)->next;
    }
  }
  markUsable(block->entries, block->size * sizeof(PhoneEntry));
  std::free(block->entries);
  blocks.erase(blocks.begin() + (block - blocks.data()));
}

PhoneEntry* allocateEntry() {
  if (released != nullptr) {
    PhoneEntry* entry = released;
    released = entry->next;
    markUsable(entry, kTextsSize);
    ++blockHolding(entry)->live;
    return entry;
  }
  for (EntryBlock& block : blocks) {
    if (block.handedOut < block.size) {
      ++block.live;
      PhoneEntry* entry = &block.entries[block.handedOut++];
      markUsable(entry, sizeof(PhoneEntry));
      return entry;
    }
  }
  return new (std::nothrow) PhoneEntry;
}

bool reserveEntries(std::size_t count) {
  if (count == 0) return true;
  void* storage = allocatePopulated(count * sizeof(PhoneEntry));
  if (storage == nullptr) return false;
  try {
    blocks.push_back({static_cast<PhoneEntry*>(storage), count});
  } catch (const std::bad_alloc&) {
    std::free(storage);
    return false;
  }
  // Entries not yet handed out are as good as released.
  markReleased(storage, count * sizeof(PhoneEntry));
  return true;
}

}  // namespace phonebook
