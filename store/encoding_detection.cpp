#include "store/encoding_detection.h"

#include <algorithm>
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

EncodingMark encodingMark(std::string_view start) {
  using namespace std::string_view_literals;
  if (start.starts_with("\xFF\xFE\0\0"sv)) return {FileEncoding::kUtf32Le, 4};
  if (start.starts_with("\0\0\xFE\xFF"sv)) return {FileEncoding::kUtf32Be, 4};
  if (start.starts_with("\xEF\xBB\xBF")) return {FileEncoding::kUtf8, 3};
  if (start.starts_with("\xFF\xFE")) return {FileEncoding::kUtf16Le, 2};
  if (start.starts_with("\xFE\xFF")) return {FileEncoding::kUtf16Be, 2};
  return {FileEncoding::kCp949, 0};
}

FileEncoding unmarkedUtf16(std::string_view start) {
  // Units whose high byte is zero and low byte ASCII, by the byte order
  // that would make them so, and whether one of them was white space.
  std::size_t ascii[2] = {0, 0};
  bool spaced[2] = {false, false};
  std::size_t units = start.size() / 2;
  for (std::size_t unit = 0; unit < units; ++unit) {
    unsigned char first = static_cast<unsigned char>(start[2 * unit]);
    unsigned char second = static_cast<unsigned char>(start[2 * unit + 1]);
    for (int order = 0; order < 2; ++order) {
      unsigned char low = order == 0 ? first : second;
      unsigned char high = order == 0 ? second : first;
      if (high != 0 || low == 0 || low >= 0x80) continue;
      ++ascii[order];
      spaced[order] = spaced[order] || isWhiteSpace(low);
    }
  }
  for (int order = 0; order < 2; ++order) {
    if (spaced[order] && ascii[order] * 8 >= units && ascii[order] >= ascii[1 - order]) {
      return order == 0 ? FileEncoding::kUtf16Le : FileEncoding::kUtf16Be;
    }
  }
  return FileEncoding::kCp949;
}

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

void Utf8Detector::feed(std::string_view piece) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kHighs = 0x8080808080808080;
  const char* at = piece.data();
  const char* end = at + piece.size();
  while (at < end) {
    if (lineInvalid_) {
      // Nothing more of the line counts: on to the next.
      const void* feed = std::memchr(at, '\n', static_cast<std::size_t>(end - at));
      if (feed == nullptr) break;
      at = static_cast<const char*>(feed) + 1;
      lineInvalid_ = false;
      continue;
    }
    if (needed_ > 0) {
      unsigned char byte = static_cast<unsigned char>(*at);
      if (byte < low_ || byte > high_) {
        // The character is cut off; the byte is taken with the line.
        invalid();
        continue;
      }
      ++at;
      --needed_;
      lineWide_ += needed_ == 0 && length_ >= 3;
      low_ = 0x80;
      high_ = 0xBF;
      continue;
    }
    while (end - at >= 8) {
      std::uint64_t word;
      std::memcpy(&word, at, 8);
      if (word & kHighs) break;
      std::uint64_t feeds = word ^ (kOnes * '\n');
      if (lineWide_ > 0 && ((feeds - kOnes) & ~feeds & kHighs) != 0) endLine();
      at += 8;
    }
    if (at == end) break;
    unsigned char byte = static_cast<unsigned char>(*at++);
    if (byte < 0x80) {
      if (byte == '\n') endLine();
      continue;
    }
    Utf8Lead lead = utf8Lead(byte);
    if (lead.length == 0) {
      invalid();
      continue;
    }
    length_ = lead.length;
    needed_ = lead.length - 1;
    low_ = lead.low;
    high_ = lead.high;
  }
}

void Utf8Detector::passConverted(std::string_view piece, std::size_t wide) {
  // Valid UTF-8: its characters of three bytes or more are its bytes of
  // 0xE0 or more, which only the lines at its ends need counted.
  auto wideIn = [](const char* from, const char* to) {
    return static_cast<std::size_t>(std::count_if(
        from, to, [](char byte) { return static_cast<unsigned char>(byte) >= 0xE0; }));
  };
  const char* begin = piece.data();
  const char* end = begin + piece.size();
  const char* first = static_cast<const char*>(std::memchr(begin, '\n', piece.size()));
  if (first == nullptr) {
    if (!lineInvalid_) lineWide_ += wide;
    return;
  }
  // The line that goes on from before ends here; the piece's own lines are
  // valid, and the last of them goes on into the next.
  if (lineInvalid_) wide -= wideIn(begin, first);
  lineInvalid_ = false;
  const char* last = end - 1;
  while (*last != '\n') --last;
  std::size_t tail = wideIn(last + 1, end);
  wide_ += lineWide_ + wide - tail;
  lineWide_ = tail;
}

bool Utf8Detector::isUtf8(std::size_t lines) const {
  // A character cut off at the end leaves its line invalid.
  bool cut = needed_ > 0;
  std::size_t wide = wide_ + (cut ? 0 : lineWide_);
  std::size_t needed = (invalidLines_ + cut) * kValidPerInvalid;
  return wide > 0 && needed <= wide && needed <= lines;
}

bool Utf8Detector::mayBeUtf8(std::size_t lines, std::size_t left) const {
  // At best every byte still to come is part of a character of three bytes
  // on a valid line, or ends a line.
  std::size_t wide = wide_ + lineWide_;
  std::size_t needed = invalidLines_ * kValidPerInvalid;
  return (needed <= wide || needed - wide <= left / 3) &&
         (needed <= lines || needed - lines <= left);
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
    Utf8Lead lead = utf8Lead(*at);
    if (lead.length < 2 || lead.length > 3 || end - at < lead.length) return refuse();
    if (at[1] < lead.low || at[1] > lead.high) return refuse();
    char32_t codePoint;
    if (lead.length == 2) {
      codePoint = (*at & 0x1Fu) << 6 | (at[1] & 0x3Fu);
    } else {
      if (at[2] < 0x80 || at[2] > 0xBF) return refuse();
      codePoint = (*at & 0x0Fu) << 12 | (at[1] & 0x3Fu) << 6 | (at[2] & 0x3Fu);
      ++wideHere;
    }
    std::uint16_t code = table[codePoint];
    if (code == 0) return refuse();
    if (code >= 0x100) *to++ = static_cast<char>(code >> 8);
    *to++ = static_cast<char>(code & 0xFF);
    at += lead.length;
  }
  out.resize(static_cast<std::size_t>(to - out.data()));
  wide += wideHere;
  return true;
}

}  // namespace phonebook
