// Converting a phone list file to CP949 on Linux: glibc's iconv, which
// knows CP949 as Microsoft's code page (Unified Hangul Code) and refuses
// every invalid or unmappable sequence, each of which is replaced here by
// kLostCharacter.
#include <iconv.h>

#include <algorithm>

#include "store/file_encoding.h"
#include "store/iconv_text.h"
#include "store/text.h"

namespace phonebook {
namespace {

const char* iconvName(FileEncoding encoding) {
  switch (encoding) {
    case FileEncoding::kUtf8:
      return "UTF-8";
    case FileEncoding::kUtf16Le:
      return "UTF-16LE";
    case FileEncoding::kUtf16Be:
      return "UTF-16BE";
    case FileEncoding::kUtf32Le:
      return "UTF-32LE";
    case FileEncoding::kUtf32Be:
      return "UTF-32BE";
    case FileEncoding::kCp949:
      break;
  }
  return "CP949";
}

// The bytes of the character at the start of `text` that iconv refused,
// which one "?" replaces.
std::size_t refusedLength(std::string_view text, FileEncoding from) {
  if (from == FileEncoding::kUtf8) return utf8CharLength(text);
  if (from == FileEncoding::kUtf32Le || from == FileEncoding::kUtf32Be) {
    return std::min<std::size_t>(text.size(), 4);
  }
  if (text.size() < 2) return text.size();
  // A surrogate pair is one character; a lone surrogate is one invalid unit.
  std::size_t highAt = from == FileEncoding::kUtf16Le ? 1 : 0;
  auto unitIs = [&](std::size_t at, unsigned char first, unsigned char last) {
    unsigned char byte = static_cast<unsigned char>(text[at + highAt]);
    return byte >= first && byte <= last;
  };
  if (text.size() >= 4 && unitIs(0, 0xD8, 0xDB) && unitIs(2, 0xDC, 0xDF)) return 4;
  return 2;
}

}  // namespace

bool convertToCp949(std::string_view text, FileEncoding from, std::string& out) {
  iconv_t converter = iconv_open("CP949", iconvName(from));
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    // No converter at all: nothing of the text can be held.
    out.append(text.empty() ? 0 : 1, kLostCharacter);
    return text.empty();
  }
  bool whole = convertReplacing(
      converter, text, out, [from](std::string_view rest) { return refusedLength(rest, from); },
      kLostCharacter);
  iconv_close(converter);
  return whole;
}

}  // namespace phonebook
