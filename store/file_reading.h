// Reading the phone list file, in whatever encoding an editor saved it.
//
// A file with a byte order mark is converted from the encoding the mark
// names, and so is one whose first piece is UTF-16 without a mark (its
// zero bytes give it away). Any other file is first read as CP949, exactly as this program
// writes it, while a detector asks whether it is UTF-8 instead; a CP949
// file with Hangul almost always fails that test at its first syllable,
// and then costs nothing more. Only a file that is UTF-8 after all is read a second time
// from its start, converted, and what the first pass loaded is thrown away.
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

// As loadPhoneList, from the open file `file`, read to its end. A file that
// turns out to be UTF-8 only at its end is read again from where it was
// opened (File::rewind); where it cannot be, the result is kReadFailed.
LoadResult readPhoneList(File& file);

}  // namespace phonebook
