// Byte-text rules shared by the phone book and its dialogue: what counts as
// white space, how a CP949 text is cut to a size, which texts the phone list
// file can carry, and how a file in UTF-8 or UTF-16 is told from CP949.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "store/file_encoding.h"

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

// True when every byte of `text` is below 0x80. Eight bytes at a time, as
// hasControlByte.
inline bool isAscii(std::string_view text) {
  constexpr std::uint64_t kHighs = 0x8080808080808080;
  std::size_t at = 0;
  for (; at + 8 <= text.size(); at += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + at, 8);
    if (word & kHighs) return false;
  }
  for (; at < text.size(); ++at) {
    if (static_cast<unsigned char>(text[at]) >= 0x80) return false;
  }
  return true;
}

// True when `byte` opens a two-byte CP949 character (0x81..0xFE).
constexpr bool isLeadByte(unsigned char byte) {
  return byte >= 0x81 && byte <= 0xFE;
}

// True when `trail` ends a two-byte CP949 character that `lead` opens: KS X
// 1001 takes trail bytes 0xA1..0xFE after any lead of 0xA1 or above, and
// the Hangul that CP949 adds take 0x41..0x5A, 0x61..0x7A and 0x81..0xA0
// (0x81..0xFE after leads below 0xA1; only 0x41..0x52 after 0xC6, the last
// of them).
constexpr bool isCp949Pair(unsigned char lead, unsigned char trail) {
  if (!isLeadByte(lead)) return false;
  if (lead >= 0xA1 && trail >= 0xA1 && trail <= 0xFE) return true;
  if (lead > 0xC6) return false;
  if (lead == 0xC6) return trail >= 0x41 && trail <= 0x52;
  bool letter = (trail >= 0x41 && trail <= 0x5A) || (trail >= 0x61 && trail <= 0x7A);
  return letter || (trail >= 0x81 && trail <= (lead < 0xA1 ? 0xFE : 0xA0));
}

// The bytes that the character at the start of `text` takes where it is
// one that a terminal can show: 1 for a byte of 0x20..0x7E, 2 for a whole
// two-byte CP949 character. 0 for a byte that begins none: a control byte,
// 0x80, 0xFF, or a lead byte without a trail byte that fits it. REQUIRES:
// text is not empty.
constexpr std::size_t cp949ShownLength(std::string_view text) {
  unsigned char first = static_cast<unsigned char>(text[0]);
  if (first < 0x80) return isControlByte(first) ? 0 : 1;
  return text.size() >= 2 && isCp949Pair(first, static_cast<unsigned char>(text[1])) ? 2 : 0;
}

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

// The encoding that the first bytes of a file declare with a byte order
// mark, and the mark's length: EF BB BF is UTF-8, FF FE UTF-16 little endian
// and FE FF big endian, FF FE 00 00 UTF-32 little endian and 00 00 FE FF big
// endian. No valid CP949 text begins with FF, with FE FF or with a zero
// byte. kCp949 and 0 when `start` begins with no mark.
struct EncodingMark {
  FileEncoding encoding;
  std::size_t length;
};
EncodingMark encodingMark(std::string_view start);

// How much of the start of a file unmarkedUtf16 is given to look at: as
// much as the file holds, up to this size.
inline constexpr std::size_t kEncodingSample = 64 * 1024;

// kUtf16Le or kUtf16Be when `start`, the first bytes of a file without a
// mark, is UTF-16 of that byte order; kCp949 otherwise. A CP949 or UTF-8
// text holds no zero byte, while in UTF-16 every character of ASCII (the
// spaces, line breaks and digits of a phone book) is a unit with a zero high
// byte. So `start` counts as UTF-16 when a white space character is such a
// unit, and at least one unit in eight is an ASCII character, each of a
// byte order that the other order's units do not outnumber. A stray zero
// byte in a CP949 file (`B\0C 2`) is no such text.
FileEncoding unmarkedUtf16(std::string_view start);

// The bytes that the UTF-8 character at the start of `text` takes: its
// length when it is whole and valid; otherwise the length of the longest
// start of it that could still begin a valid character (at least one),
// which counts as one invalid character.
// REQUIRES: text is not empty.
std::size_t utf8CharLength(std::string_view text);

// Length of the longest prefix of `text`, in `encoding`, that does not end
// inside a character: where a file read in pieces may be cut for
// conversion, the rest going on with the next piece. Invalid bytes count as
// whole characters; UTF-32 is taken in whole units. REQUIRES: encoding is
// not kCp949.
std::size_t wholeCharsLength(std::string_view text, FileEncoding encoding);

// Follows a text given piece by piece and tells, at its end, whether it is
// UTF-8: valid UTF-8 as a whole and holding a character of three bytes or
// more (Hangul is three). No CP949 Hangul of the common range can pass:
// its lead bytes 0xB0..0xC8 either cannot start a UTF-8 character or start
// one of two bytes. A CP949 text passes only where a Hanja of lead byte
// 0xE0..0xEF is directly followed by certain Hangul or symbols, and no
// other character of the whole text breaks the rules. Looking stops at the first invalid byte, and
// a run of ASCII is passed eight bytes at a time, so that a CP949 file pays almost nothing for the
// question.
class Utf8Detector {
 public:
  void feed(std::string_view piece);
  bool isUtf8() const { return valid_ && needed_ == 0 && wide_; }

 private:
  bool valid_ = true;
  bool wide_ = false;  // a character of three bytes or more was seen
  int needed_ = 0;     // continuation bytes still owed by the current character
  // The range the next continuation byte must fall in: narrower than
  // 0x80..0xBF after some leads, to refuse overlong forms, surrogates and
  // code points past U+10FFFF.
  unsigned char low_ = 0x80;
  unsigned char high_ = 0xBF;
};

}  // namespace phonebook
