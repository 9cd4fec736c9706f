// The phone list file: the phone book between runs. It is read once at start
// and written once when the user ends the program.
//
// Format: pairs of tokens, name then number, where a token is a run of bytes
// without white space; any run of white space separates tokens, and a lone
// last token is ignored. Written one record per line as name, one space,
// number, CR LF, in list order, bytes unchanged (CP949). A token longer than
// its field is cut to it without splitting a two-byte character.
//
// A file that a text editor saved in UTF-8 or UTF-16 is read converted to
// CP949, and so written back at the next save (see readPhoneList).
#pragma once

#include "store/file_on_disk.h"
#include "store/phone_list.h"

namespace phonebook {

inline constexpr char kPhoneListFile[] = "PhoneList.txt";

enum class LoadResult {
  kLoaded,      // the whole file was read
  kMissing,     // there is no file: the ordinary first run
  kNotOpened,   // something is there, but not a regular file that could be opened
  kReadFailed,  // the file was opened but could not be read whole: a read
                // failed, or a character had no CP949 form
  kNoStorage,   // storage for the entries could not be obtained
};

// Reads the phone list file at `path` into the phone book. The list comes
// out exactly as inserting the records one by one with insertSorted would
// make it, equal names included, but in O(n log n). On kReadFailed the
// records read before the failure are in the list, with "?" for each
// character that had no CP949 form; on kNoStorage the list is empty.
//
// The file's encoding is told before tokens are cut: a byte order mark
// (EF BB BF, FF FE, FE FF) names UTF-8 or UTF-16; a file without one that is
// valid UTF-8 as a whole and holds a character of three bytes or more is
// UTF-8; any other file is CP949, read byte for byte. UTF-8 and UTF-16 are
// converted to CP949 and then read by the same rules.
// REQUIRES: the phone book is empty.
LoadResult loadPhoneList(const char* path = kPhoneListFile);

// As loadPhoneList, from the open file `fd`, read to its end. A file that
// turns out to be UTF-8 only at its end is read again from where `fd`
// stood; where it cannot be, the result is kReadFailed.
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
