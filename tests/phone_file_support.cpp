#include "tests/phone_file_support.h"

#include "store/file_reading.h"
#include "store/phone_list.h"
#include "tests/memory_file.h"

namespace phonebook::testing {

Items contents() {
  Items items;
  for (PhoneEntry* entry = head; entry != nullptr; entry = entry->next) {
    items.push_back(std::string(entry->name) + ":" + entry->phone);
  }
  return items;
}

LoadResult loadText(const std::string& content) {
  MemoryFile file(content);
  return readPhoneList(file);
}

std::vector<std::size_t> lostLines() {
  std::vector<std::size_t> lines;
  for (const LostEntry& lost : lostEntries()) lines.push_back(lost.line);
  return lines;
}

std::string savedText() {
  MemoryFile file;
  EXPECT_TRUE(writePhoneList(file));
  return file.content();
}

void PhoneFileTest::TearDown() {
  clearList();
}

}  // namespace phonebook::testing
