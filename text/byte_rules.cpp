#include "text/byte_rules.h"

#include <algorithm>
#include <cstring>

namespace phonebook {

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

std::size_t utf8CharLength(std::string_view text) {
  return utf8CharAt(text).length;
}

}  // namespace phonebook
