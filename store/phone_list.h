// The phone book in memory: one singly linked list of entries, kept in
// ascending order of name by insertion, reached only through `head`.
//
// Names compare byte by byte as unsigned values; a name that is a prefix of
// another sorts first. An edited name is changed in place and its entry is
// not moved, so the list may be out of order; every operation here then works
// on the list in its present order without re-sorting.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace phonebook {

constexpr std::size_t kNameSize = 30;   // name field, zero byte included
constexpr std::size_t kPhoneSize = 50;  // phone field, zero byte included

struct PhoneEntry {
  char name[kNameSize];    // at most kNameSize - 1 bytes of text, then a zero byte
  char phone[kPhoneSize];  // at most kPhoneSize - 1 bytes of text, then a zero byte
  PhoneEntry* next;        // the following entry, or nullptr for the last
};

// The first entry, or nullptr when the phone book is empty.
extern PhoneEntry* head;

// True when `text` may be an entry's name or number: the phone list file
// carries it as one token, as it is not empty and holds no white space.
// Anything else would shift every later record of the file by a token.
bool isStorableText(std::string_view text);

// Negative, zero or positive as `a` sorts before, equal to or after `b`.
int compareNames(const char* a, const char* b);

// A new unlinked entry holding copies of `name` and `phone`, each cut to its
// field without splitting a two-byte character; nullptr when storage cannot
// be obtained. The caller owns it until it is inserted.
PhoneEntry* newEntry(const char* name, const char* phone);

// Links `entry` into the list at its place by name. Equal names: after the
// first entry when it has that name, otherwise in front of the entries of
// that name. The list owns `entry` afterwards.
// Returns true when `entry` became the first entry of the list.
bool insertSorted(PhoneEntry* entry);

// The first entry, in list order, whose name has exactly the bytes of
// `name`; nullptr when there is none.
PhoneEntry* findByName(const char* name);

// Unlinks and releases the first entry, in list order, named `name`.
// Returns 1 when an entry was removed, 0 otherwise.
int removeByName(const char* name);

// Releases every entry, one at a time and without recursion, and leaves the
// phone book empty.
void clearList();

// Replaces the name or the number of `entry` with `text`, cut to its field
// as newEntry cuts it. The entry stays where it is in the list.
void replaceName(PhoneEntry* entry, std::string_view text);
void replacePhone(PhoneEntry* entry, std::string_view text);

// How often the phone book has changed in this run: entries inserted or
// removed, and texts replaced. Making the entries of a load is no change.
std::size_t changeCount();

// ---------------------------------------------------------------------------
// Entries that lost a character when they were loaded.
//
// A text of the file with a character that CP949 lacks (or a zero byte) is
// loaded with "?" in its place, and its entry is marked, in memory only,
// with the line of the file that it came from. Saving such an entry would
// put the "?" in the file for good, so the save waits until none is left:
// a mark goes with its entry, or once each text of it that lost a
// character has been replaced.

enum LostTexts : unsigned {
  kNameLost = 1,
  kPhoneLost = 2,
};

struct LostEntry {
  const PhoneEntry* entry;
  std::size_t line;  // its line in the file, from 1
  unsigned texts;    // which of its texts lost a character: LostTexts
};

// Marks the entries of `marks`, the entries of a load.
// REQUIRES: they are in the list, and no entry is marked yet.
void markLost(std::vector<LostEntry> marks);

// The marked entries, in the order they were marked.
const std::vector<LostEntry>& lostEntries();

}  // namespace phonebook
