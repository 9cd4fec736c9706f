// Any bytes as the phone list file. The loaded list must be in name order,
// hold only texts that fit their fields and that the file can carry, equal
// exactly what inserting the records one by one gives, and come back the
// same through a save and a load. The load's memory must follow the records,
// not the size of the file: the file is padded with white space far larger
// than anything the records could need.
#include <sanitizer/allocator_interface.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "store/phone_file.h"
#include "store/text.h"

namespace {

using phonebook::PhoneEntry;

void require(bool condition) {
  if (!condition) std::abort();
}

std::vector<std::string> listed() {
  std::vector<std::string> items;
  for (const PhoneEntry* entry = phonebook::head; entry != nullptr; entry = entry->next) {
    items.push_back(std::string(entry->name) + '\n' + entry->phone);
  }
  return items;
}

// White space after the records: 256 KiB, so that a loader that reserved
// by the size of the file would exceed the bound below for every input up
// to the fuzzer's default length of 4 KiB.
constexpr size_t kPadding = 256 << 10;

int fileHolding(const uint8_t* data, size_t size) {
  static const std::string padding(kPadding, ' ');
  int fd = memfd_create("PhoneList.txt", 0);
  require(fd >= 0);
  require(write(fd, data, size) == static_cast<ssize_t>(size));
  require(write(fd, padding.data(), padding.size()) == static_cast<ssize_t>(padding.size()));
  lseek(fd, 0, SEEK_SET);
  return fd;
}

// The heap in use while the load runs, and the most of it, counted by the
// sanitizer's allocator hooks.
bool counting = false;
long long inUse = 0;
long long mostInUse = 0;

void countMalloc(const volatile void*, size_t size) {
  if (!counting) return;
  inUse += static_cast<long long>(size);
  mostInUse = std::max(mostInUse, inUse);
}

void countFree(const volatile void* block) {
  if (counting) inUse -= static_cast<long long>(__sanitizer_get_allocated_size(block));
}

// A record takes at least four bytes of the file ("a 1 "); its entry (88
// bytes), its sort record (16) and its share of the packed texts and of the
// list of new first names, grown by doubling, take less than 192 bytes.
long long memoryBound(size_t size) {
  return 16 * 1024 + 48 * static_cast<long long>(size);
}

phonebook::LoadResult load(int fd) {
  lseek(fd, 0, SEEK_SET);
  return phonebook::readPhoneList(fd);
}

// The list that one-by-one insertion makes of the same bytes: tokens split
// at white space, taken in pairs, each ended by a zero byte within it, and
// pairs with an empty text dropped.
std::vector<std::string> insertedOneByOne(const uint8_t* data, size_t size) {
  std::vector<std::string> tokens;
  std::string token;
  for (size_t i = 0; i <= size; ++i) {
    if (i < size && !phonebook::isWhiteSpace(data[i])) {
      token.push_back(static_cast<char>(data[i]));
    } else if (!token.empty()) {
      tokens.push_back(token.substr(0, std::strlen(token.c_str())));
      token.clear();
    }
  }
  for (size_t i = 0; i + 1 < tokens.size(); i += 2) {
    if (tokens[i].empty() || tokens[i + 1].empty()) continue;
    phonebook::insertSorted(phonebook::newEntry(tokens[i].c_str(), tokens[i + 1].c_str()));
  }
  std::vector<std::string> items = listed();
  phonebook::clearList();
  return items;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  __sanitizer_install_malloc_and_free_hooks(countMalloc, countFree);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int fd = fileHolding(data, size);
  inUse = mostInUse = 0;
  counting = true;
  require(load(fd) == phonebook::LoadResult::kLoaded);
  counting = false;
  require(mostInUse <= memoryBound(size));
  close(fd);

  const PhoneEntry* previous = nullptr;
  for (const PhoneEntry* entry = phonebook::head; entry != nullptr; entry = entry->next) {
    require(std::strlen(entry->name) < phonebook::kNameSize);
    require(std::strlen(entry->phone) < phonebook::kPhoneSize);
    require(phonebook::isStorableText(entry->name) && phonebook::isStorableText(entry->phone));
    require(previous == nullptr || phonebook::compareNames(previous->name, entry->name) <= 0);
    previous = entry;
  }
  const std::vector<std::string> loaded = listed();

  // Saving and loading reverses runs of equal names, so twice gives back
  // the very same list.
  int saved = memfd_create("saved", 0);
  for (int round = 0; round < 2; ++round) {
    require(ftruncate(saved, 0) == 0);
    lseek(saved, 0, SEEK_SET);
    require(phonebook::writePhoneList(saved));
    phonebook::clearList();
    require(load(saved) == phonebook::LoadResult::kLoaded);
  }
  close(saved);
  require(listed() == loaded);
  phonebook::clearList();

  require(insertedOneByOne(data, size) == loaded);
  return 0;
}
