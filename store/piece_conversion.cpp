#include "store/piece_conversion.h"

#include <cstdint>
#include <cstring>

#include "text/byte_rules.h"

namespace phonebook {
namespace {

bool isHighSurrogate(unsigned char first, unsigned char second, FileEncoding encoding) {
  unsigned char high = encoding == FileEncoding::kUtf16Le ? second : first;
  return high >= 0xD8 && high <= 0xDB;
}

}  // namespace

std::size_t wholeCharsLength(std::string_view text, FileEncoding encoding) {
  std::size_t size = text.size();
  if (encoding == FileEncoding::kUtf32Le || encoding == FileEncoding::kUtf32Be) {
    return size & ~std::size_t{3};
  }
  if (encoding != FileEncoding::kUtf8) {
    // Whole code units, and never the first half of a surrogate pair.
    size &= ~std::size_t{1};
    if (size >= 2 && isHighSurrogate(text[size - 2], text[size - 1], encoding)) size -= 2;
    return size;
  }
  // The last byte that is no continuation byte starts the last character,
  // unless more than three continuation bytes follow it (then they are
  // invalid on their own, and so whole).
  std::size_t start = size;
  while (start > 0 && size - start < 3 && isContinuation(text[start - 1])) --start;
  if (start == 0) return size;
  --start;
  Utf8Lead lead = utf8Lead(static_cast<unsigned char>(text[start]));
  return start + static_cast<std::size_t>(lead.length) > size ? start : size;
}

bool convertUtf8ByTable(std::string_view text, const std::vector<std::uint16_t>& table,
                        std::string& out, std::size_t& wide) {
  if (table.empty()) return false;
  constexpr std::uint64_t kHighs = 0x8080808080808080;
  const std::size_t start = out.size();
  // No character takes more bytes in CP949 than in UTF-8.
  out.resize(start + text.size());
  char* to = out.data() + start;
  const unsigned char* at = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* end = at + text.size();
  std::size_t wideHere = 0;
  auto refuse = [&] {
    out.resize(start);
    return false;
  };
  while (at < end) {
    // Eight bytes of ASCII, as the numbers and Latin names are, go over at once.
    if (end - at >= 8) {
      std::uint64_t word;
      std::memcpy(&word, at, 8);
      if ((word & kHighs) == 0) {
        std::memcpy(to, at, 8);
        at += 8;
        to += 8;
        continue;
      }
    }
    if (*at < 0x80) {
      *to++ = static_cast<char>(*at++);
      continue;
    }
    Utf8Char character =
        utf8CharAt({reinterpret_cast<const char*>(at), static_cast<std::size_t>(end - at)});
    if (!character.valid || character.length == 4) return refuse();
    char32_t codePoint;
    if (character.length == 2) {
      codePoint = (*at & 0x1Fu) << 6 | (at[1] & 0x3Fu);
    } else {
      codePoint = (*at & 0x0Fu) << 12 | (at[1] & 0x3Fu) << 6 | (at[2] & 0x3Fu);
      ++wideHere;
    }
    std::uint16_t code = table[codePoint];
    if (code == 0) return refuse();
    if (code >= 0x100) *to++ = static_cast<char>(code >> 8);
    *to++ = static_cast<char>(code & 0xFF);
    at += character.length;
  }
  out.resize(static_cast<std::size_t>(to - out.data()));
  wide += wideHere;
  return true;
}

}  // namespace phonebook
