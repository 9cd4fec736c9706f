// The table through which a UTF-8 file's usual characters become CP949,
// filled by the system's iconv itself.
#include <vector>

#include "platform/iconv_support.h"
#include "platform/text_codec.h"

namespace phonebook {
namespace {

// The table of cp949Table, iconv's own: every CP949 character decoded, and
// the code points that only one of them gives encoded again and kept where
// that gives it back; then the user-defined area.
using Cp949Table = std::vector<std::uint16_t>;

Cp949Table makeCp949Table() {
  constexpr char32_t kCodePoints = 0x10000;
  iconv_t decode = iconv_open("UTF-32LE", "CP949");
  iconv_t encode = iconv_open("CP949", "UTF-32LE");
  auto close = [&] {
    if (decode != kNoConverter) iconv_close(decode);
    if (encode != kNoConverter) iconv_close(encode);
  };
  if (decode == kNoConverter || encode == kNoConverter) {
    close();
    return {};
  }
  auto convertOne = [](iconv_t converter, const char* in, std::size_t size, char* out,
                       std::size_t room) -> std::size_t {
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    char* from = const_cast<char*>(in);
    char* to = out;
    if (iconv(converter, &from, &size, &to, &room) == static_cast<std::size_t>(-1) || size != 0) {
      return 0;
    }
    return static_cast<std::size_t>(to - out);
  };
  Cp949Table table(kCodePoints, 0);
  std::vector<unsigned char> givers(kCodePoints, 0);  // CP949 characters giving each
  for (unsigned code = 0x01; code <= 0xFEFE; ++code) {
    unsigned lead = code >> 8;
    unsigned trail = code & 0xFF;
    if (lead != 0 && (lead < 0x81 || trail < 0x41 || trail == 0xFF)) continue;
    if (lead == 0 && code >= 0x80) continue;
    char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    unsigned char unit[8];
    std::size_t made = lead == 0
                           ? convertOne(decode, bytes + 1, 1, reinterpret_cast<char*>(unit), 8)
                           : convertOne(decode, bytes, 2, reinterpret_cast<char*>(unit), 8);
    if (made != 4) continue;
    char32_t codePoint =
        unit[0] | unit[1] << 8 | unit[2] << 16 | static_cast<char32_t>(unit[3]) << 24;
    if (codePoint == 0 || codePoint >= kCodePoints) continue;
    table[codePoint] = static_cast<std::uint16_t>(code);
    if (givers[codePoint] < 2) ++givers[codePoint];
  }
  for (char32_t codePoint = 1; codePoint < kCodePoints; ++codePoint) {
    std::uint16_t code = table[codePoint];
    if (code == 0) continue;
    char unit[4] = {static_cast<char>(codePoint & 0xFF), static_cast<char>(codePoint >> 8 & 0xFF),
                    0, 0};
    char back[8];
    std::size_t made = convertOne(encode, unit, 4, back, sizeof back);
    bool same = code < 0x100 ? made == 1 && static_cast<unsigned char>(back[0]) == code
                             : made == 2 && static_cast<unsigned char>(back[0]) == code >> 8 &&
                                   static_cast<unsigned char>(back[1]) == (code & 0xFF);
    if (givers[codePoint] != 1 || !same) table[codePoint] = 0;
  }
  for (char32_t codePoint = kUserAreaFirst; codePoint < kUserAreaEnd; ++codePoint) {
    table[codePoint] = userAreaCode(codePoint);
  }
  close();
  return table;
}

}  // namespace

const std::vector<std::uint16_t>& cp949Table() {
  static const Cp949Table table = makeCp949Table();
  return table;
}

}  // namespace phonebook
