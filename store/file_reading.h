// Reading the phone list file, in whatever encoding an editor saved it.
//
// A file with a byte order mark is converted from the encoding the mark
// names, and so is one whose first piece is UTF-16 without a mark (its
// zero bytes give it away). Any other file is read as UTF-8 or as CP949,
// exactly as this program writes it, by a guess at its first piece past
// ASCII, while a detector follows it to tell whether it is UTF-8 (see
// Utf8Detector). A CP949 file with Hangul fails that test at its first
// syllables, and is followed no further than it takes to rule it out. Only
// a file whose guess proves wrong is read a second time from its start, and
// what the first pass loaded is thrown away.
//
// Converted text is fed to the loader a piece at a time, each piece cut
// where a character ends and the rest carried over to the next, so that
// memory follows the records, as for a CP949 file. A character becomes no
// more bytes in CP949 than it takes in UTF-8, UTF-16 or UTF-32, and a lost
// one takes one byte for at least one, so the bytes left in the file bound
// what can still come.
#pragma once

#include "store/phone_file.h"

namespace phonebook {

// As loadPhoneList, from the open file `file`, read to its end. A file
// whose encoding turns out other than guessed only at its end is read again
// from where it was opened (File::rewind); where it cannot be, the result is
// kReadFailed.
LoadResult readPhoneList(File& file);

}  // namespace phonebook
