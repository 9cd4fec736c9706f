// The phone list file: the phone book between runs. It is read once at start
// and written once when the user ends the program.
//
// Format: pairs of tokens, name then number, where a token is a run of bytes
// without white space; any run of white space separates tokens, and a lone
// last token is ignored. Written one record per line as name, one space,
// number, CR LF, in list order, bytes unchanged (CP949). A token longer than
// its field is cut to it without splitting a two-byte character.
//
// A file that a text editor saved in UTF-8, UTF-16 or UTF-32 is read
// converted to CP949, and so written back at the next save (see
// readPhoneList). A character that CP949 lacks, and a zero byte, are loaded
// as "?" and their entries marked (markLost).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/replace_file.h"
#include "store/phone_list.h"

namespace phonebook {

inline constexpr char kPhoneListFile[] = "PhoneList.txt";

enum class LoadResult {
  kLoaded,      // the whole file was read
  kMissing,     // there is no file: the ordinary first run
  kNotOpened,   // something is there, but not a regular file that could be opened
  kReadFailed,  // the file was opened but could not be read whole: a read
                // failed, or another program wrote to it meanwhile
  kNoStorage,   // storage for the entries could not be obtained
};

// What the start learned of the file, which the save must respect.
struct LoadedFile {
  LoadResult result = LoadResult::kMissing;
  FileStamp stamp;  // the file as it was read, or as the user let it be replaced
  // The hash of the file's bytes as read (ContentHash), where they were:
  // what tells a change where the stamp cannot (see savePhoneList).
  bool hashed = false;
  std::uint64_t hash = 0;
  // The changeCount() at which the user was told that entries still hold
  // "?", where they were: a save right after that writes them so.
  std::optional<std::size_t> lostToldAt;
};

// Reads the phone list file at `path` in `files` into the phone book. The list comes
// out exactly as inserting the records one by one with insertSorted would
// make it, equal names included, but in O(n log n). On kReadFailed the
// records read before the failure are in the list; on kNoStorage the list
// is empty. Entries whose texts lost a character are marked (markLost).
//
// The file's encoding is told before tokens are cut: a byte order mark
// (EF BB BF, FF FE, FE FF, FF FE 00 00, 00 00 FE FF) names UTF-8, UTF-16 or
// UTF-32; a first piece that unmarkedUtf16 finds UTF-16 is UTF-16; a file
// without either that is valid UTF-8 as a whole and holds a character of
// three bytes or more is UTF-8; any other file is CP949, read byte for
// byte. The others are converted to CP949 and then read by the same rules.
//
// The result and what the save must know of the file are returned: its
// stamp, taken before it is read (a file that changed while it was read
// gives kReadFailed), and where need be the hash of its bytes.
// REQUIRES: the phone book is empty.
LoadedFile loadPhoneList(FileSystem& files, const char* path = kPhoneListFile);

// Writes every entry of the phone book, in list order, to `file`. Returns
// false, with errno set, when any write fails.
bool writePhoneList(File& file);

enum class SaveOutcome {
  kSaved,           // the new file is in place and synced to disk
  kSavedNotSynced,  // in place, but a power cut soon after could bring back the old
  kFailed,          // the system refused a step: errno tells which error
  kNotReadWhole,    // refused: entries that were never read would be lost
  kLostCharacters,  // refused once: entries still hold "?" for a lost character
  // Refused once: since the file was read, another program ...
  kChanged,   // ... changed it
  kRemoved,   // ... removed it
  kCreated,   // ... made one where there was none
  kReplaced,  // ... put another file in its place
  kNowALink,  // ... put a symbolic link in its place (LoadedFile::stamp.link)
};

// Replaces the phone list file at `path` in `files` with the phone book, as
// replaceFile does it: atomically, keeping who may use the file, following
// links, never over a file that this user could not write. Refuses when the
// file was not read whole.
//
// Refuses once while entries are marked as having lost a character: a save
// asked for again before the phone book changes writes them with their
// "?".
//
// Refuses once when the file is no longer the one that `loaded` describes:
// another file or link, or another size or time of modification; and
// where only the time of its last change differs, or its times could hide
// a change (timesMayHideChange), its bytes are read again and compared. This is looked at when the
// new file is whole, right before it is put in place, so that a change made while the save wrote is
// seen too. `loaded` then takes the file as it is now, so that a second save replaces it unless it
// changes again. On any outcome but the first two the old file is left exactly as it was.
// `groupKept`, where given, is set as replaceFile sets it.
SaveOutcome savePhoneList(FileSystem& files, LoadedFile& loaded, const char* path = kPhoneListFile,
                          bool* groupKept = nullptr);

}  // namespace phonebook
