// UTF-8 in CP949 as the README states it, for the fuzz targets to compare
// with: built from the rules and iconv alone, not from the program's own
// conversion.
#pragma once

#include <iconv.h>

#include <cstddef>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

namespace fuzz_model {

// How many bytes the UTF-8 character at `at` takes, and whether it is
// valid: a whole character in the shortest form, no surrogate, nothing past
// U+10FFFF; else the longest start of one that could still be completed
// (at least a byte), one invalid character.
inline std::pair<std::size_t, bool> utf8Character(std::string_view text, std::size_t at) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char first = byte(at);
  if (first < 0x80) return {1, true};
  std::size_t length = first >= 0xC2 && first <= 0xDF   ? 2
                       : first >= 0xE0 && first <= 0xEF ? 3
                       : first >= 0xF0 && first <= 0xF4 ? 4
                                                        : 0;
  if (length == 0) return {1, false};
  unsigned char low = first == 0xE0 ? 0xA0 : first == 0xF0 ? 0x90 : 0x80;
  unsigned char high = first == 0xED ? 0x9F : first == 0xF4 ? 0x8F : 0xBF;
  std::size_t taken = 1;
  while (taken < length && at + taken < text.size() && byte(at + taken) >= low &&
         byte(at + taken) <= high) {
    ++taken;
    low = 0x80;
    high = 0xBF;
  }
  return {taken, taken == length};
}

// `utf8` in CP949: each character as iconv gives it, U+E000..U+E0BB as the
// user-defined area C9A1..C9FE, FEA1..FEFE in order, and each invalid
// sequence or character that CP949 lacks as a zero byte.
inline std::string toCp949(std::string_view utf8) {
  static iconv_t converter = iconv_open("CP949", "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) std::abort();
  std::string out;
  for (std::size_t at = 0; at < utf8.size();) {
    auto [length, valid] = utf8Character(utf8, at);
    std::string character(utf8.substr(at, length));
    at += length;
    if (!valid) {
      out.push_back('\0');
      continue;
    }
    char converted[8];
    char* in = character.data();
    std::size_t inLeft = character.size();
    char* to = converted;
    std::size_t toLeft = sizeof converted;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    if (iconv(converter, &in, &inLeft, &to, &toLeft) != static_cast<std::size_t>(-1) &&
        inLeft == 0) {
      out.append(converted, to);
      continue;
    }
    // U+E000..U+E0BB: three bytes EE 80 80 .. EE 82 BB.
    unsigned codePoint = 0;
    if (length == 3) {
      codePoint = (static_cast<unsigned char>(character[0]) & 0x0F) << 12 |
                  (static_cast<unsigned char>(character[1]) & 0x3F) << 6 |
                  (static_cast<unsigned char>(character[2]) & 0x3F);
    }
    if (codePoint >= 0xE000 && codePoint <= 0xE0BB) {
      unsigned index = codePoint - 0xE000;
      out.push_back(static_cast<char>(index < 94 ? 0xC9 : 0xFE));
      out.push_back(static_cast<char>(0xA1 + index % 94));
    } else {
      out.push_back('\0');
    }
  }
  return out;
}

}  // namespace fuzz_model
