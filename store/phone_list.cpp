#include "store/phone_list.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <utility>
#include <vector>

#include "platform/memory.h"
#include "text/byte_rules.h"

namespace phonebook {

PhoneEntry* head = nullptr;

namespace {

std::size_t changes = 0;

// Few entries are ever marked, so a list that is searched suffices.
std::vector<LostEntry> lost;

// Takes `texts` off the mark of `entry`, and the mark once nothing is left.
void forgetLost(const PhoneEntry* entry, unsigned texts) {
  for (auto mark = lost.begin(); mark != lost.end(); ++mark) {
    if (mark->entry != entry) continue;
    mark->texts &= ~texts;
    if (mark->texts == 0) lost.erase(mark);
    return;
  }
}

// ---------------------------------------------------------------------------
// Entry storage.
//
// An entry is its own piece of storage, made when it is added and released
// when it is deleted. A load of a million entries makes them in blocks
// instead (one malloc each costs more than the rest of the load), and a
// block's entries are released one by one like any other: a released entry
// goes on a free list and is the next entry made, and when the last entry
// of a block is released the block goes back to the system.

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

void releaseEntry(PhoneEntry* entry) {
  EntryBlock* block = blockHolding(entry);
  if (block == nullptr) {
    delete entry;
    return;
  }
  entry->next = released;
  released = entry;
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
  std::free(block->entries);
  blocks.erase(blocks.begin() + (block - blocks.data()));
}

}  // namespace

PhoneEntry* allocateEntry() {
  if (released != nullptr) {
    PhoneEntry* entry = released;
    released = entry->next;
    ++blockHolding(entry)->live;
    return entry;
  }
  for (EntryBlock& block : blocks) {
    if (block.handedOut < block.size) {
      ++block.live;
      return &block.entries[block.handedOut++];
    }
  }
  return new (std::nothrow) PhoneEntry;
}

bool reserveEntries(std::size_t count) {
#if PHONEBOOK_ENTRY_BLOCKS
  if (count == 0) return true;
  void* storage = allocatePopulated(count * sizeof(PhoneEntry));
  if (storage == nullptr) return false;
  try {
    blocks.push_back({static_cast<PhoneEntry*>(storage), count});
  } catch (const std::bad_alloc&) {
    std::free(storage);
    return false;
  }
#else
  (void)count;
#endif
  return true;
}

int compareNames(const char* a, const char* b) {
  // strcmp compares the bytes as unsigned char, which is the order we want.
  return std::strcmp(a, b);
}

PhoneEntry* newEntry(const char* name, const char* phone) {
  PhoneEntry* entry = allocateEntry();
  if (entry == nullptr) return nullptr;
  copyFitting(entry->name, kNameSize, name);
  copyFitting(entry->phone, kPhoneSize, phone);
  entry->next = nullptr;
  return entry;
}

bool insertSorted(PhoneEntry* entry) {
  ++changes;
  if (head == nullptr || compareNames(entry->name, head->name) < 0) {
    entry->next = head;
    head = entry;
    return true;
  }
  PhoneEntry* before = head;
  while (before->next != nullptr && compareNames(entry->name, before->next->name) > 0) {
    before = before->next;
  }
  entry->next = before->next;
  before->next = entry;
  return false;
}

PhoneEntry* findByName(const char* name) {
  for (PhoneEntry* entry = head; entry != nullptr; entry = entry->next) {
    if (compareNames(entry->name, name) == 0) return entry;
  }
  return nullptr;
}

int removeByName(const char* name) {
  PhoneEntry** link = &head;
  while (*link != nullptr) {
    PhoneEntry* entry = *link;
    if (compareNames(entry->name, name) == 0) {
      *link = entry->next;
      if (!lost.empty()) forgetLost(entry, kNameLost | kPhoneLost);
      releaseEntry(entry);
      ++changes;
      return 1;
    }
    link = &entry->next;
  }
  return 0;
}

void clearList() {
  lost.clear();
  while (head != nullptr) {
    PhoneEntry* entry = head;
    head = entry->next;
    releaseEntry(entry);
  }
}

void replaceName(PhoneEntry* entry, std::string_view text) {
  copyFitting(entry->name, kNameSize, text);
  if (!lost.empty()) forgetLost(entry, kNameLost);
  ++changes;
}

void replacePhone(PhoneEntry* entry, std::string_view text) {
  copyFitting(entry->phone, kPhoneSize, text);
  if (!lost.empty()) forgetLost(entry, kPhoneLost);
  ++changes;
}

std::size_t changeCount() {
  return changes;
}

void markLost(std::vector<LostEntry> marks) {
  lost = std::move(marks);
}

const std::vector<LostEntry>& lostEntries() {
  return lost;
}

}  // namespace phonebook
