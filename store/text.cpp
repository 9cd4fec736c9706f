#include "store/text.h"

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

std::size_t utf8CharLength(std::string_view text) {
  auto byteAt = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
  unsigned char lead = byteAt(0);
  std::size_t length = lead >= 0xF0 && lead <= 0xF4   ? 4
                       : lead >= 0xE0 && lead <= 0xEF ? 3
                       : lead >= 0xC2 && lead <= 0xDF ? 2
                                                      : 1;
  if (length > text.size()) return 1;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byteAt(i) & 0xC0) != 0x80) return 1;
  }
  return length;
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

bool isStorableText(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (isWhiteSpace(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace phonebook
