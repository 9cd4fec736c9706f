#include "store/encoding_detection.h"

#include <algorithm>
#include <cstring>

#include "text/byte_rules.h"

namespace phonebook {

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

const char* Utf8Detector::continueCut(const char* at, const char* end) {
  char bytes[4];
  std::memcpy(bytes, cut_, cutLength_);
  std::size_t added = std::min(sizeof bytes - cutLength_, static_cast<std::size_t>(end - at));
  std::memcpy(bytes + cutLength_, at, added);
  const std::size_t had = cutLength_;
  Utf8Char character = utf8CharAt({bytes, had + added});
  cutLength_ = 0;
  if (character.valid) {
    takeValid(character);
  } else if (character.length == had + added) {
    // Cut off again, by the end of this piece.
    std::memcpy(cut_ + had, at, added);
    cutLength_ = had + added;
    return end;
  } else {
    // The byte that broke it is taken with the line.
    invalid();
  }
  return at + (character.length - had);
}

void Utf8Detector::feed(std::string_view piece) {
  const char* at = piece.data();
  const char* end = at + piece.size();
  if (cutLength_ > 0 && at < end) at = continueCut(at, end);
  while (at < end) {
    if (lineInvalid_) {
      // Nothing more of the line counts: on to the next.
      const void* feed = std::memchr(at, '\n', static_cast<std::size_t>(end - at));
      if (feed == nullptr) break;
      at = static_cast<const char*>(feed) + 1;
      lineInvalid_ = false;
      continue;
    }
    if (static_cast<unsigned char>(*at) < 0x80) {
      if (*at++ == '\n') endLine();
      continue;
    }
    std::size_t left = static_cast<std::size_t>(end - at);
    Utf8Char character = utf8CharAt({at, left});
    if (character.valid) {
      takeValid(character);
      at += character.length;
    } else if (character.length == left && utf8Lead(static_cast<unsigned char>(*at)).length > 1) {
      // Cut off by the end of the piece: the next goes on with it.
      std::memcpy(cut_, at, left);
      cutLength_ = left;
      break;
    } else {
      // The bytes that broke it are taken with the line.
      invalid();
    }
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
  bool cut = cutLength_ > 0;
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

}  // namespace phonebook
