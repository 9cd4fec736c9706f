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
