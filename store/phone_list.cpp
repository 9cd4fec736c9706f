#include "store/phone_list.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "store/entry_storage.h"
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

}  // namespace

bool isStorableText(std::string_view text) {
  return !text.empty() && std::none_of(text.begin(), text.end(), [](char byte) {
    return isWhiteSpace(static_cast<unsigned char>(byte));
  });
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
