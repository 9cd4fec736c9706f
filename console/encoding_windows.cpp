// The terminal codec on Windows. The console itself is shown CP949 through
// UTF-16 (terminal_windows.cpp), so the program's own terminal always
// passes bytes through; a UTF-8 terminal is converted with the system's
// code page functions. Other codesets pass through.
#include "console/encoding.h"
#include "store/code_page_windows.h"

namespace phonebook {

struct TerminalCodec::Converters {};

TerminalCodec::TerminalCodec(const std::string& codeset) {
  if (codesetKey(codeset) == "UTF8") converters_ = std::make_unique<Converters>();
}

TerminalCodec::~TerminalCodec() = default;

void TerminalCodec::toTerminal(std::string_view cp949, std::string& out) {
  if (passesThrough()) {
    out.append(cp949);
    return;
  }
  narrowToUtf8(widenCp949(cp949), out);
}

void TerminalCodec::fromTerminal(std::string_view text, std::string& out) {
  if (passesThrough()) {
    out.append(text);
    return;
  }
  std::wstring wide;
  widenUtf8(text, wide);
  narrowToCp949(wide, out);
}

}  // namespace phonebook
