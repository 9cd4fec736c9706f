#include "store/phone_list.h"

#include <cstring>
#include <new>

#include "store/text.h"

namespace phonebook {

PhoneEntry* head = nullptr;

int compareNames(const char* a, const char* b) {
  // strcmp compares the bytes as unsigned char, which is the order we want.
  return std::strcmp(a, b);
}

PhoneEntry* newEntry(const char* name, const char* phone) {
  PhoneEntry* entry = new (std::nothrow) PhoneEntry;
  if (entry == nullptr) return nullptr;
  copyFitting(entry->name, kNameSize, name);
  copyFitting(entry->phone, kPhoneSize, phone);
  entry->next = nullptr;
  return entry;
}

bool insertSorted(PhoneEntry* entry) {
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
      delete entry;
      return 1;
    }
    link = &entry->next;
  }
  return 0;
}

void clearList() {
  while (head != nullptr) {
    PhoneEntry* entry = head;
    head = entry->next;
    delete entry;
  }
}

}  // namespace phonebook
