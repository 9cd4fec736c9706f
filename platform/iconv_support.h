// What the files that convert with the system's iconv share: the part of
// Windows' code page 949 that iconv lacks, its user-defined area, and the
// converters opened only when a text needs them.
#pragma once

#include <iconv.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

namespace phonebook {

inline const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// Windows' code page 949 gives the rows C9 and FE, trail bytes A1..FE, to
// the Private Use Area, in order: C9A1..C9FE are U+E000..U+E05D and
// FEA1..FEFE are U+E05E..U+E0BB. iconv refuses both sides; they are taken
// here where it does, so that a file or a terminal gives the same phone
// book on Linux as on Windows.
constexpr char32_t kUserAreaFirst = 0xE000;
constexpr unsigned kUserRowLength = 0xFE - 0xA1 + 1;
constexpr unsigned char kUserRows[] = {0xC9, 0xFE};
constexpr char32_t kUserAreaEnd = kUserAreaFirst + kUserRowLength * std::size(kUserRows);

// The CP949 code (lead byte << 8 | trail byte) of `codePoint` in the
// user-defined area; 0 for any other code point.
constexpr std::uint16_t userAreaCode(char32_t codePoint) {
  if (codePoint < kUserAreaFirst || codePoint >= kUserAreaEnd) return 0;
  unsigned index = codePoint - kUserAreaFirst;
  return static_cast<std::uint16_t>(kUserRows[index / kUserRowLength] << 8 |
                                    (0xA1 + index % kUserRowLength));
}

// The code point of the user-defined character at the start of `cp949`; 0
// where it begins with any other.
char32_t userAreaCodePoint(std::string_view cp949);

// An iconv converter opened on first use: for what the main converter
// refuses, which most texts never hold.
class LazyConverter {
 public:
  LazyConverter(std::string to, std::string from) : to_(std::move(to)), from_(std::move(from)) {}
  ~LazyConverter();
  LazyConverter(const LazyConverter&) = delete;
  LazyConverter& operator=(const LazyConverter&) = delete;

  // kNoConverter where iconv cannot convert between the two.
  iconv_t get();

 private:
  std::string to_;
  std::string from_;
  std::optional<iconv_t> converter_;  // none until the first get()
};

// Appends the CP949 form of the character at the start of `text` to `out`
// where it is one of the user-defined area, and returns its length in
// `text`; returns 0 otherwise. `toUtf32` converts from the text's encoding
// into UTF-32LE.
std::size_t appendUserAreaCharacter(LazyConverter& toUtf32, std::string_view text,
                                    std::string& out);

// Appends `codePoint` in the encoding that `fromUtf32` converts UTF-32LE
// into to `out`; returns false, with `out` as it was, where it has none.
bool appendCodePoint(LazyConverter& fromUtf32, char32_t codePoint, std::string& out);

}  // namespace phonebook
