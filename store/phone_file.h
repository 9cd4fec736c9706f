// The phone list file: the phone book between runs. It is read once at start
// and written once when the user ends the program.
//
// Format: pairs of tokens, name then number, where a token is a run of bytes
// without white space; any run of white space separates tokens, and a lone
// last token is ignored. Written one record per line as name, one space,
// number, CR LF, in list order, bytes unchanged (CP949). A token longer than
// its field is cut to it without splitting a two-byte character.
#pragma once

#include "store/file_on_disk.h"
#include "store/phone_list.h"

namespace phonebook {

inline constexpr char kPhoneListFile[] = "PhoneList.txt";

enum class LoadResult {
  kLoaded,      // the whole file was read
  kMissing,     // there is no file: the ordinary first run
  kNotOpened,   // something is there, but not a regular file that could be opened
  kReadFailed,  // the file was opened but could not be read to its end
  kNoStorage,   // storage for the entries could not be obtained
};

// Reads the phone list file at `path` into the phone book. The list comes
// out exactly as inserting the records one by one with insertSorted would
// make it, equal names included, but in O(n log n). On kReadFailed the
// records read before the failure are in the list; on kNoStorage the list
// is empty.
// REQUIRES: the phone book is empty.
LoadResult loadPhoneList(const char* path = kPhoneListFile);

// As loadPhoneList, from the open file `fd`, read to its end.
LoadResult readPhoneList(int fd);

// Writes every entry of the phone book, in list order, to `fd`. Returns
// false when any write fails.
bool writePhoneList(int fd);

// Replaces the phone list file at `path` with the phone book, as
// replaceFile does it: atomically, keeping who may use the file, following
// links. Refuses when `loaded` says the old file was not read whole, since
// its unread entries would be lost. On kFailed the old file is left exactly
// as it was.
SaveResult savePhoneList(LoadResult loaded, const char* path = kPhoneListFile);

}  // namespace phonebook
