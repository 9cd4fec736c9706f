// Converting a phone list file to CP949 on Windows: through UTF-16 with the
// system's code page functions (code_page_windows.h).
#include <string>

#include "store/code_page_windows.h"
#include "store/file_encoding.h"

namespace phonebook {

bool convertToCp949(std::string_view text, FileEncoding from, std::string& out) {
  std::wstring wide;
  bool whole = true;
  if (from == FileEncoding::kUtf8) {
    whole = widenUtf8(text, wide);
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
    if (text.size() % 2 != 0) {
      wide.push_back(L'?');
      whole = false;
    }
  }
  return narrowToCp949(wide, out) && whole;
}

}  // namespace phonebook
