// Byte-text rules shared by the phone book and its dialogue: what counts as
// white space, how a CP949 text is cut to a size, and which texts the phone
// list file can carry.
#pragma once

#include <cstddef>
#include <string_view>

namespace phonebook {

// True for the bytes that separate tokens in the phone list file: space, tab,
// line feed, vertical tab, form feed and carriage return.
constexpr bool isWhiteSpace(unsigned char byte) {
  return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

// True for the control bytes 0x00..0x1F and 0x7F, which a terminal acts on
// rather than shows.
constexpr bool isControlByte(unsigned char byte) {
  return byte < 0x20 || byte == 0x7F;
}

// True when `text` holds a control byte. Eight bytes at a time: a list of
// a million entries asks it two million times.
bool hasControlByte(std::string_view text);

// True when `byte` opens a two-byte CP949 character (0x81..0xFE).
constexpr bool isLeadByte(unsigned char byte) {
  return byte >= 0x81 && byte <= 0xFE;
}

// Length of the longest prefix of `text` that holds at most `maxBytes` bytes
// and does not split a two-byte character. A text that already fits is kept
// whole; otherwise the cut walks whole characters from the start, so a lead
// byte whose trail byte falls past the limit is dropped with it.
std::size_t cp949FitLength(std::string_view text, std::size_t maxBytes);

// Copies the longest prefix of `text` that fits `fieldSize` - 1 bytes (as
// cp949FitLength cuts it) into `field` and ends it with a zero byte.
// REQUIRES: fieldSize >= 1.
void copyFitting(char* field, std::size_t fieldSize, std::string_view text);

// True when the phone list file can carry `text` as one token: it is not
// empty and holds no white space. Anything else would shift every later
// record of the file by a token.
bool isStorableText(std::string_view text);

}  // namespace phonebook
