// Reading the user's answers: a whole line into a fixed buffer, or a number.
#pragma once

#include <cstddef>

#include "console/console.h"

namespace phonebook {

enum class LineRead { kLine, kLostCharacter, kEndOfInput };

// Reads one whole line of input, through its line break, and keeps it
// without the break, without escape sequences and control bytes (a tab
// stays), converted to CP949, without half a character at its end, and cut
// to at most capacity - 1 bytes without splitting a two-byte character; the
// rest of a long line is discarded. The kept text ends with a zero byte in
// `buffer`. A last line without a line break still counts as a line.
// kLostCharacter where the kept text lost a character that CP949 lacks (or
// bytes that form none): it holds a "?" in its place, which is not what was
// typed, so it must be neither stored nor looked up. A lost character past
// the cut does not count, and each counts one byte there. kEndOfInput, with
// `buffer` empty and the console marked, when the input had ended. A line
// that the user types is an answer of `kind`.
// REQUIRES: capacity >= 1.
LineRead readLine(Console& console, LineKind kind, char* buffer, std::size_t capacity);

enum class NumberRead { kNumber, kNotANumber, kEndOfInput };

// Skips white space and blank lines, reads an optionally signed decimal
// number and discards the rest of its line ("3abc" and "3 4" give 3).
// kNumber stores it in `target`; a line that does not begin with a number
// that fits 32 bits gives kNotANumber and leaves `target` as it was. At the
// end of input: kEndOfInput, and the console is marked. Lines typed are
// choices (LineKind::kChoice).
NumberRead readNumber(Console& console, int& target);

}  // namespace phonebook
