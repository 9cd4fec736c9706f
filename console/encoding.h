// Conversion between CP949, the one encoding inside the program and in the
// phone list file, and the encoding of the terminal. It happens only at the
// console's edge: output just before it is written, input as soon as a line
// has been read and before any byte limit is applied.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace phonebook {

// `codeset` as compared: upper case, without dashes, underscores or dots
// ("utf-8" and "UTF8" both give "UTF8").
std::string codesetKey(const std::string& codeset);

// True for the codesets whose text is CP949 as it stands, or a part of it:
// CP949, UHC and EUC-KR.
bool isKoreanCodeset(const std::string& key);

// True for the codesets (as codesetKey gives them) whose terminal gets the
// program's bytes unchanged: the Korean ones, ASCII, and none at all.
bool passesBytesThrough(const std::string& key);

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
  // be converted becomes "?".
  void fromTerminal(std::string_view text, std::string& out);

 private:
  // The platform's converters in both directions (iconv on Linux, the code
  // page functions on Windows); none where bytes pass through.
  struct Converters;
  std::unique_ptr<Converters> converters_;
};

}  // namespace phonebook
