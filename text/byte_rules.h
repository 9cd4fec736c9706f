// The byte rules that every part of the program needs: what counts as
// white space, which bytes a terminal acts on, how CP949 characters are
// formed and cut, and how long a UTF-8 character is. No system call here.
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

// True when a terminal shows `text` as it is, as the usual names and
// numbers are: printable ASCII only (0x20..0x7E), or KS X 1001 characters
// only (every byte 0xA1..0xFE, in pairs, as a name in Hangul is). Eight
// bytes at a time: a list of a million entries asks it two million times.
// Defined here, so that the list's loop can inline it.
inline bool isShownAsItIs(std::string_view text) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kHighs = 0x8080808080808080;
  if (text.empty()) return true;
  // KS X 1001 bytes are printable ASCII other than the space with the high
  // bit set: with it flipped, the same test takes both.
  const bool wide = static_cast<unsigned char>(text[0]) >= 0x80;
  if (wide && text.size() % 2 != 0) return false;
  const std::uint64_t flip = wide ? kHighs : 0;
  const std::uint64_t lowest = kOnes * (wide ? 0x21 : 0x20);
  // A byte with the high bit; a byte below the lowest, which borrows into
  // its high bit (a borrow can mark further bytes, but only after a byte
  // that truly matched); or 0x7F, which becomes zero when xored with it.
  auto refused = [&](std::uint64_t word) {
    word ^= flip;
    std::uint64_t del = word ^ (kOnes * 0x7F);
    return ((word | ((word - lowest) & ~word) | ((del - kOnes) & ~del)) & kHighs) != 0;
  };
  auto wordAt = [&](std::size_t at) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + at, 8);
    return word;
  };
  if (text.size() < 8) {
    // The bytes after bytes that pass ('a', or 0xE1 when flipped).
    std::uint64_t word = (kOnes * 'a') ^ flip;
    for (char byte : text) word = word << 8 | static_cast<unsigned char>(byte);
    return !refused(word);
  }
  for (std::size_t at = 0; at + 8 < text.size(); at += 8) {
    if (refused(wordAt(at))) return false;
  }
  // The last eight bytes, which may overlap the words before.
  return !refused(wordAt(text.size() - 8));
}

// True when every byte of `text` is below 0x80.
bool isAscii(std::string_view text);

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

// What a byte that starts a UTF-8 character says about it: how many bytes
// the character takes (0 for a byte that cannot start one) and the range of
// its second byte.
struct Utf8Lead {
  int length;
  unsigned char low;
  unsigned char high;
};

constexpr Utf8Lead utf8Lead(unsigned char byte) {
  if (byte < 0x80) return {1, 0, 0};
  if (byte >= 0xC2 && byte <= 0xDF) return {2, 0x80, 0xBF};
  if (byte == 0xE0) return {3, 0xA0, 0xBF};  // no overlong forms
  if (byte == 0xED) return {3, 0x80, 0x9F};  // no surrogates
  if (byte >= 0xE1 && byte <= 0xEF) return {3, 0x80, 0xBF};
  if (byte == 0xF0) return {4, 0x90, 0xBF};  // no overlong forms
  if (byte == 0xF4) return {4, 0x80, 0x8F};  // nothing past U+10FFFF
  if (byte >= 0xF1 && byte <= 0xF3) return {4, 0x80, 0xBF};
  return {0, 0, 0};
}

// True for a byte that continues a UTF-8 character (0x80..0xBF).
constexpr bool isContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// The UTF-8 character at the start of a text, as every reader of UTF-8 in
// the program takes it. It is valid when it is whole, in its shortest form,
// no surrogate and nothing past U+10FFFF; then `length` is its bytes.
// Otherwise `length` is the longest start of it that could still begin a
// valid character (at least one byte), which counts as one invalid
// character: where that start runs to the end of the text, the character
// may only be cut off.
struct Utf8Char {
  std::size_t length;
  bool valid;
};

// REQUIRES: text is not empty. Defined here, where the readers of a
// UTF-8 file can inline it: they ask it for every character of the file.
constexpr Utf8Char utf8CharAt(std::string_view text) {
  Utf8Lead lead = utf8Lead(static_cast<unsigned char>(text[0]));
  if (lead.length <= 1) return {1, lead.length == 1};
  const std::size_t wanted = static_cast<std::size_t>(lead.length);
  if (text.size() < 2) return {1, false};
  unsigned char second = static_cast<unsigned char>(text[1]);
  if (second < lead.low || second > lead.high) return {1, false};
  std::size_t length = 2;
  while (length < wanted && length < text.size() &&
         isContinuation(static_cast<unsigned char>(text[length]))) {
    ++length;
  }
  return {length, length == wanted};
}

// utf8CharAt(text).length. REQUIRES: text is not empty.
std::size_t utf8CharLength(std::string_view text);

}  // namespace phonebook
