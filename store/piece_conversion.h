// A file in another encoding is converted to CP949 a piece at a time:
// where a piece may be cut, and the quick conversion of a UTF-8 piece by
// the table of the platform's converter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/encodings.h"

namespace phonebook {

// Length of the longest prefix of `text`, in `encoding`, that does not end
// inside a character: where a file read in pieces may be cut for
// conversion, the rest going on with the next piece. Invalid bytes count as
// whole characters; UTF-32 is taken in whole units. REQUIRES: encoding is
// not kCp949.
std::size_t wholeCharsLength(std::string_view text, FileEncoding encoding);

// Appends the UTF-8 `text` converted to CP949 through `table` (cp949Table)
// to `out` and returns true where the table gives every character of it;
// returns false, with `out` as it was, where the text holds anything else
// (an invalid or cut-off sequence, a character of four bytes, one the table
// lacks), for the platform's converter. Adds to `wide` the characters of
// three bytes among them.
bool convertUtf8ByTable(std::string_view text, const std::vector<std::uint16_t>& table,
                        std::string& out, std::size_t& wide);

}  // namespace phonebook
