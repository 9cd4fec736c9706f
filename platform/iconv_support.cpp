#include "platform/iconv_support.h"

#include <utility>

namespace phonebook {

// The code point of the user-defined character at the start of `cp949`; 0
// where it begins with any other.
char32_t userAreaCodePoint(std::string_view cp949) {
  if (cp949.size() < 2) return 0;
  unsigned char lead = static_cast<unsigned char>(cp949[0]);
  unsigned char trail = static_cast<unsigned char>(cp949[1]);
  if (trail < 0xA1 || trail > 0xFE) return 0;
  for (std::size_t row = 0; row < std::size(kUserRows); ++row) {
    if (lead == kUserRows[row]) return kUserAreaFirst + row * kUserRowLength + (trail - 0xA1);
  }
  return 0;
}

LazyConverter::~LazyConverter() {
  if (converter_ && *converter_ != kNoConverter) iconv_close(*converter_);
}

iconv_t LazyConverter::get() {
  if (!converter_) converter_ = iconv_open(to_.c_str(), from_.c_str());
  return *converter_;
}

// Appends the CP949 form of the character at the start of `text` to `out`
// where it is one of the user-defined area, and returns its length in
// `text`; returns 0 otherwise. `toUtf32` converts from the text's encoding
// into UTF-32LE.
std::size_t appendUserAreaCharacter(LazyConverter& toUtf32, std::string_view text,
                                    std::string& out) {
  iconv_t converter = toUtf32.get();
  if (converter == kNoConverter) return 0;
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  // Room for one code point: iconv stops after the first character.
  unsigned char unit[4] = {};
  char* from = const_cast<char*>(text.data());
  std::size_t left = text.size();
  char* to = reinterpret_cast<char*>(unit);
  std::size_t room = sizeof unit;
  iconv(converter, &from, &left, &to, &room);
  if (room != 0) return 0;
  std::uint16_t code =
      userAreaCode(unit[0] | unit[1] << 8 | unit[2] << 16 | static_cast<char32_t>(unit[3]) << 24);
  if (code == 0) return 0;
  out.push_back(static_cast<char>(code >> 8));
  out.push_back(static_cast<char>(code & 0xFF));
  return text.size() - left;
}

// Appends `codePoint` in the encoding that `fromUtf32` converts UTF-32LE
// into to `out`; returns false, with `out` as it was, where it has none.
bool appendCodePoint(LazyConverter& fromUtf32, char32_t codePoint, std::string& out) {
  iconv_t converter = fromUtf32.get();
  if (converter == kNoConverter) return false;
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  char unit[4];
  for (int byte = 0; byte < 4; ++byte) unit[byte] = static_cast<char>(codePoint >> 8 * byte);
  char made[16];
  char* from = unit;
  std::size_t left = sizeof unit;
  char* to = made;
  std::size_t room = sizeof made;
  if (iconv(converter, &from, &left, &to, &room) == static_cast<std::size_t>(-1)) return false;
  // The end of a stateful encoding's shift.
  if (iconv(converter, nullptr, nullptr, &to, &room) == static_cast<std::size_t>(-1)) return false;
  out.append(made, to);
  return true;
}

}  // namespace phonebook
