// How a phone list file is read as the README states it, for the load fuzz
// target to compare with: the encoding that its mark, its UTF-16 units or
// its UTF-8 lines tell, and the CP949 text that it stands for. Built from
// the rules and iconv alone, not from the program's own detection.
#pragma once

#include <string>
#include <string_view>

#include "text/encodings.h"

namespace fuzz_model {

// `in` converted from `from` to `to` by iconv in one piece; false when any
// of it could not be.
bool converted(std::string_view in, const char* from, const char* to, std::string& out);

// How a file without a mark is taken for UTF-16, by the stated rule: in its
// first 64 KiB (`sample`), a white space character and at least one unit in
// eight are ASCII characters with a zero byte beside them, all on one side
// (a side that the other does not outnumber; little endian first).
phonebook::FileEncoding utf16ByRule(std::string_view sample);

// What the loader looks at to tell UTF-16 without a mark: the start of the
// file as it is fed, padding included.
std::string sampleOf(std::string_view file);

// What a file stands for: its bytes as CP949, whether it could be held
// whole, and whether it is CP949 as it stands.
struct AsCp949 {
  std::string text;
  bool whole = true;
  bool asItStands = true;
};

// What `file` stands for, where `unmarked` is what utf16ByRule says of it:
// after a mark, the text that the mark declares; without one, UTF-16 where
// `unmarked` says so, else UTF-8 where its lines say so, else CP949.
AsCp949 asCp949(std::string_view file, phonebook::FileEncoding unmarked);

}  // namespace fuzz_model
