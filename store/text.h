// Byte-text rules shared by the phone book and its dialogue: what counts as
// white space, how a CP949 text is cut to a size, and which texts the phone
// list file can carry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
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

// True when `text` holds a control byte. Eight bytes at a time, and inline:
// a list of a million entries asks it two million times.
inline bool hasControlByte(std::string_view text) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kHighs = 0x8080808080808080;
  // A byte below 0x20 borrows into its high bit when 0x20 is taken from it,
  // which no byte of 0x80 or above can show (~word clears its high bit); a
  // byte of 0x7F is one that becomes zero when xored with it. Borrows can
  // mark further bytes, but only after a byte that truly matched.
  auto matches = [](std::uint64_t word) {
    std::uint64_t del = word ^ (kOnes * 0x7F);
    return (((word - kOnes * 0x20) & ~word) | ((del - kOnes) & ~del)) & kHighs;
  };
  auto wordAt = [&](std::size_t at) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + at, 8);
    return word;
  };
  if (text.size() < 8) {
    for (char c : text) {
      if (isControlByte(static_cast<unsigned char>(c))) return true;
    }
    return false;
  }
  for (std::size_t at = 0; at + 8 < text.size(); at += 8) {
    if (matches(wordAt(at))) return true;
  }
  // The last eight bytes, which may overlap the words before.
  return matches(wordAt(text.size() - 8)) != 0;
}

// True when `byte` opens a two-byte CP949 character (0x81..0xFE).
constexpr bool isLeadByte(unsigned char byte) {
  return byte >= 0x81 && byte <= 0xFE;
}

// The length of the well-formed UTF-8 character at the start of `text`, or
// 1 when there is none there: the bytes that a converter's one "?" stands
// for when it refuses them. REQUIRES: `text` is not empty.
std::size_t utf8CharLength(std::string_view text);

// Length of `text` without a lead byte that ends it with no trail byte
// after it: half a character.
std::size_t cp949WholeLength(std::string_view text);

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
