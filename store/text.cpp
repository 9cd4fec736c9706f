#include "store/text.h"

#include <cstdint>
#include <cstring>

namespace phonebook {

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

void copyFitting(char* field, std::size_t fieldSize, std::string_view text) {
  std::size_t length = cp949FitLength(text, fieldSize - 1);
  std::memcpy(field, text.data(), length);
  field[length] = '\0';
}

bool hasControlByte(std::string_view text) {
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

bool isStorableText(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (isWhiteSpace(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace phonebook
