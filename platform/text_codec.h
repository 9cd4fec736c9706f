// Conversion between CP949, the one encoding inside the program and in the
// phone list file, and the others: the terminal's, and those a phone list
// file may arrive in. It is the platform's work (iconv on Linux, the code
// page functions on Windows); telling encodings apart is not. CP949 is
// Windows' code page 949 on both, its user-defined area (C9A1..C9FE and
// FEA1..FEFE, U+E000..U+E0BB) included.
//
// The terminal's conversion happens only at the console's edge: output just
// before it is written, input as soon as a line has been read and before
// any byte limit is applied.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "text/encodings.h"

namespace phonebook {

class TerminalCodec {
 public:
  // A codec for a terminal of `codeset` (as the locale names it). CP949,
  // EUC-KR and UHC terminals, the C/POSIX locale (ASCII), an empty name and a
  // codeset that the platform's converter does not know pass bytes through
  // unchanged.
  explicit TerminalCodec(const std::string& codeset);
  ~TerminalCodec();
  TerminalCodec(const TerminalCodec&) = delete;
  TerminalCodec& operator=(const TerminalCodec&) = delete;

  bool passesThrough() const { return converters_ == nullptr; }

  // Appends `cp949` in the terminal's encoding to `out`. A sequence that
  // cannot be converted becomes "?".
  void toTerminal(std::string_view cp949, std::string& out);

  // Appends the terminal's `text` in CP949 to `out`. A sequence that cannot
  // be converted (a character that CP949 lacks, or bytes that form none)
  // becomes one kLostCharacter, so that what was typed is never taken for a
  // "?" that was typed.
  void fromTerminal(std::string_view text, std::string& out);

 private:
  // The platform's converters in both directions (iconv on Linux, the code
  // page functions on Windows); none where bytes pass through.
  struct Converters;
  std::unique_ptr<Converters> converters_;
};

// Appends `text`, in the encoding `from`, converted to CP949 to `out`. Each
// character that CP949 lacks (an emoji, a rare Hanja), each U+0000, and each
// invalid or cut-off sequence, becomes one kLostCharacter.
// REQUIRES: from is not kCp949; `text` holds no byte order mark.
void convertToCp949(std::string_view text, FileEncoding from, std::string& out);

// The CP949 form of each code point below U+10000 that the platform's
// converter gives both ways, one to one, the user-defined area included:
// a byte below 0x80, a lead byte << 8 | trail byte, or 0 for none.
// Converting the usual characters of a UTF-8 file through it is several
// times as fast as the converter, which looks every character up anew, and
// gives the same bytes. Made once, on first use; empty where the platform
// makes none.
const std::vector<std::uint16_t>& cp949Table();

}  // namespace phonebook
