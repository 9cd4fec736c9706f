// Loading the records of the phone list file into the phone book.
//
// Inserting every record with insertSorted walks the list each time, which
// is quadratic. The loader instead collects the records, sorts them by name
// and links them once, reproducing exactly the order that one-by-one
// insertion gives. Only the order among equal names needs thought:
//
//  - A new record goes in front of the entries of its name, unless the first
//    entry of the list has its name, in which case it goes directly after
//    that first entry.
//  - Only the first record of a name can ever become the first entry, and
//    only when it sorts before every record read until then. It stays first
//    until a record with a smaller name arrives.
//
// So a name's records, in file order, come out reversed, except when the
// first of them became the first entry of the list: then those read while
// it stayed first follow it (reversed), and those read after it lost its
// place precede it (reversed).

// The loader reads the file into a packed copy of its texts, sorts small
// records that point into it, and only then makes the entries, one after
// another in list order: walking the list then walks memory forward, which
// listing and saving a large phone book do many times faster than hopping.
#pragma once

#include "store/record_reader.h"

namespace phonebook {

// Makes the entries of the records of `reader` and links them into the
// (empty) phone book in the order that inserting them one by one would
// give, and marks those that lost a character (markLost). Returns false,
// with the phone book left empty, when storage ran out.
bool linkRecords(const RecordReader& reader);

}  // namespace phonebook
