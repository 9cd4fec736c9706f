// Storage for the entries of the phone book.
//
// An entry is its own piece of storage, made when it is added and released
// when it is deleted. A load of a million entries makes them in blocks
// instead (one malloc each costs more than the rest of the load), and a
// block's entries are released one by one like any other: a released entry
// goes on a free list and is the next entry made, and when the last entry
// of a block is released the block goes back to the system.
#pragma once

#include <cstddef>

#include "store/phone_list.h"

namespace phonebook {

// Storage for one entry, its texts and link not yet set; nullptr when it
// cannot be obtained. The caller owns it until it is inserted.
PhoneEntry* allocateEntry();

// Makes storage for `count` entries at once, for a load: allocateEntry then
// hands them out one after another, from one block instead of one
// allocation each. Each entry is still released on its own when deleted:
// its place goes to the next new entry, and the block is returned once all
// of its entries are gone. Returns false, changing nothing, when the block
// cannot be obtained. In the builds that check memory, an entry of a block
// that is released, or not yet handed out, is marked so (markReleased): a
// use of it is caught as a use of freed storage would be.
bool reserveEntries(std::size_t count);

// Gives back the storage of `entry`, which allocateEntry made.
void releaseEntry(PhoneEntry* entry);

}  // namespace phonebook
