// Conversion on Windows, through UTF-16 with the system's code page
// functions (code_page_windows.h). The console itself is shown CP949
// through UTF-16 (terminal_windows.cpp) and its codeset is always CP949, so
// the terminal codec passes bytes through; a phone list file in another
// encoding is converted here.
#include <string>

#include "platform/code_page_windows.h"
#include "platform/text_codec.h"

namespace phonebook {

struct TerminalCodec::Converters {};

TerminalCodec::TerminalCodec(const std::string&) {}

TerminalCodec::~TerminalCodec() = default;

void TerminalCodec::toTerminal(std::string_view cp949, std::string& out) {
  out.append(cp949);
}

void TerminalCodec::fromTerminal(std::string_view text, std::string& out) {
  out.append(text);
}

namespace {

// The code points of UTF-32 `text` as UTF-16: past U+FFFF as a surrogate
// pair, and a value that is no character (a surrogate, or past U+10FFFF)
// as U+0000, which narrows to kLostCharacter like any other lost one.
void widenUtf32(std::string_view text, bool littleEndian, std::wstring& wide) {
  for (std::size_t at = 0; at + 3 < text.size(); at += 4) {
    char32_t code = 0;
    for (int byte = 0; byte < 4; ++byte) {
      auto value = static_cast<unsigned char>(text[at + (littleEndian ? 3 - byte : byte)]);
      code = code << 8 | value;
    }
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      wide.push_back(L'\0');
    } else if (code > 0xFFFF) {
      wide.push_back(static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10)));
      wide.push_back(static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      wide.push_back(static_cast<wchar_t>(code));
    }
  }
  // Part of a unit at the end of the file.
  if (text.size() % 4 != 0) wide.push_back(L'\0');
}

}  // namespace

void convertToCp949(std::string_view text, FileEncoding from, std::string& out) {
  std::wstring wide;
  if (from == FileEncoding::kUtf8) {
    widenUtf8(text, wide, L'\0');
  } else if (from == FileEncoding::kUtf32Le || from == FileEncoding::kUtf32Be) {
    widenUtf32(text, from == FileEncoding::kUtf32Le, wide);
  } else {
    // Whole units; a lone surrogate is left for narrowToCp949 to refuse.
    std::size_t highAt = from == FileEncoding::kUtf16Le ? 1 : 0;
    wide.reserve(text.size() / 2);
    for (std::size_t at = 0; at + 1 < text.size(); at += 2) {
      unsigned high = static_cast<unsigned char>(text[at + highAt]);
      unsigned low = static_cast<unsigned char>(text[at + 1 - highAt]);
      wide.push_back(static_cast<wchar_t>(high << 8 | low));
    }
    // Half a unit at the end of the file.
    if (text.size() % 2 != 0) wide.push_back(L'\0');
  }
  narrowToCp949(wide, out, kLostCharacter);
}

const std::vector<std::uint16_t>& cp949Table() {
  // Windows converts a phone list file through UTF-16 in one call already.
  static const std::vector<std::uint16_t> none;
  return none;
}

}  // namespace phonebook
