// The two smallest steps of reading input: throwing away the rest of a line,
// and taking the line break off a line that was read.
#pragma once

#include <string>

#include "console/console.h"

namespace phonebook {

// Reads and discards input up to and including the next line feed. Returns
// false when the input ended before one.
bool flushLine(Console& console);

// Removes the line break that ends `line`, LF or CR LF, where there is one;
// a line without one is left as it is.
void removeNewline(std::string& line);

}  // namespace phonebook
