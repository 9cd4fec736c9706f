#include "text/byte_rules.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace phonebook {

bool isShownAsItIs(std::string_view text) {
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

bool isAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::size_t cp949FitLength(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text.size();
  std::size_t kept = 0;
  while (kept < maxBytes) {
    std::size_t width = isLeadByte(static_cast<unsigned char>(text[kept])) ? 2 : 1;
    if (kept + width > maxBytes) break;
    kept += width;
  }
  return kept;
}

std::size_t cp949WholeLength(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    if (!isLeadByte(static_cast<unsigned char>(text[at]))) {
      ++at;
    } else if (at + 1 < text.size()) {
      at += 2;
    } else {
      return at;
    }
  }
  return at;
}

void copyFitting(char* field, std::size_t fieldSize, std::string_view text) {
  std::size_t length = cp949FitLength(text, fieldSize - 1);
  std::memcpy(field, text.data(), length);
  field[length] = '\0';
}

Utf8Char utf8CharAt(std::string_view text) {
  Utf8Lead lead = utf8Lead(static_cast<unsigned char>(text[0]));
  if (lead.length <= 1) return {1, lead.length == 1};
  std::size_t length = 1;
  unsigned char low = lead.low;
  unsigned char high = lead.high;
  while (length < static_cast<std::size_t>(lead.length) && length < text.size()) {
    unsigned char byte = static_cast<unsigned char>(text[length]);
    if (byte < low || byte > high) break;
    ++length;
    low = 0x80;
    high = 0xBF;
  }
  return {length, length == static_cast<std::size_t>(lead.length)};
}

std::size_t utf8CharLength(std::string_view text) {
  return utf8CharAt(text).length;
}

}  // namespace phonebook
