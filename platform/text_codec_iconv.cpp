// Conversion with the system's iconv (glibc's on Linux), which knows CP949
// as Microsoft's code page (Unified Hangul Code) and refuses every invalid,
// unmappable or cut-off sequence: each is replaced, by "?" for the screen
// and by kLostCharacter for what is typed and for a phone list file. The
// one part of Windows' code page 949 that iconv lacks, its user-defined
// area, is converted here.
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "platform/text_codec.h"
#include "text/byte_rules.h"
#include "text/codesets.h"

namespace phonebook {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

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

// An iconv converter opened on first use: for what the main converter
// refuses, which most texts never hold.
class LazyConverter {
 public:
  LazyConverter(std::string to, std::string from) : to_(std::move(to)), from_(std::move(from)) {}
  ~LazyConverter() {
    if (converter_ != kNoConverter) iconv_close(converter_);
  }
  LazyConverter(const LazyConverter&) = delete;
  LazyConverter& operator=(const LazyConverter&) = delete;

  // kNoConverter where iconv cannot convert between the two.
  iconv_t get() {
    if (!tried_) converter_ = iconv_open(to_.c_str(), from_.c_str());
    tried_ = true;
    return converter_;
  }

 private:
  std::string to_;
  std::string from_;
  iconv_t converter_ = kNoConverter;
  bool tried_ = false;
};

// Where iconv refused the start of the rest of a text: how many bytes of
// it the appended stand-in takes the place of.
struct StandIn {
  std::size_t length;
  // iconv had taken the refused two-byte character before it stopped:
  // conversion goes on with its second byte, as after any other refused.
  bool secondByteAgain = false;
};

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
  unsigned char unit[4];
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

// Appends `text`, converted by `converter`, to `out`. Where iconv refuses
// the sequence at the start of `rest`, `refused(rest, out)` appends what
// stands for it.
template <class Refused>
void convertReplacing(iconv_t converter, std::string_view text, std::string& out, Refused refused,
                      std::size_t growth = 1) {
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  char* source = const_cast<char*>(text.data());
  std::size_t sourceLeft = text.size();
  // Straight into `out`, with room for what the rest can become: each time
  // iconv runs out of room it must take its last step again, which in
  // small pieces costs four times the conversion itself. `growth` bytes for
  // each byte of `text` is enough for the common case (CP949 into UTF-8
  // makes at most three bytes of two; into CP949 never more than it takes);
  // a conversion that needs more is given more room when it asks.
  std::size_t used = out.size();
  auto convert = [&](char** from, std::size_t* fromLeft) {
    out.resize(used + growth * sourceLeft + 16);
    char* target = out.data() + used;
    std::size_t room = out.size() - used;
    std::size_t result = iconv(converter, from, fromLeft, &target, &room);
    int error = errno;
    used = static_cast<std::size_t>(target - out.data());
    out.resize(used);
    return result != static_cast<std::size_t>(-1) || error == E2BIG;
  };
  while (sourceLeft > 0) {
    if (convert(&source, &sourceLeft)) continue;
    // EILSEQ or EINVAL: an invalid, unmappable or cut-off sequence.
    StandIn standIn = refused(std::string_view(source, sourceLeft), out);
    used = out.size();
    if (standIn.secondByteAgain) {
      --source;
      ++sourceLeft;
    }
    std::size_t length = std::min(standIn.length, sourceLeft);
    source += length;
    sourceLeft -= length;
  }
  // The end of a stateful encoding's last shift.
  convert(nullptr, nullptr);
}

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

struct TerminalCodec::Converters {
  explicit Converters(const std::string& codeset)
      : utf32ToTerminal(codeset, "UTF-32LE"), terminalToUtf32("UTF-32LE", codeset) {}
  ~Converters() {
    if (toTerminal != kNoConverter) iconv_close(toTerminal);
    if (fromTerminal != kNoConverter) iconv_close(fromTerminal);
  }

  iconv_t toTerminal = kNoConverter;
  iconv_t fromTerminal = kNoConverter;
  // For the user-defined area, which the two above refuse.
  LazyConverter utf32ToTerminal;
  LazyConverter terminalToUtf32;
  bool terminalIsUtf8 = false;
};

TerminalCodec::TerminalCodec(const std::string& codeset) {
  std::string key = codesetKey(codeset);
  if (passesBytesThrough(key)) return;
  auto converters = std::make_unique<Converters>(codeset);
  converters->toTerminal = iconv_open(codeset.c_str(), "CP949");
  converters->fromTerminal = iconv_open("CP949", codeset.c_str());
  // A codeset that iconv cannot reach: show the bytes as they are.
  if (converters->toTerminal == kNoConverter || converters->fromTerminal == kNoConverter) return;
  converters->terminalIsUtf8 = key == "UTF8";
  converters_ = std::move(converters);
}

TerminalCodec::~TerminalCodec() = default;

void TerminalCodec::toTerminal(std::string_view cp949, std::string& out) {
  if (passesThrough()) {
    out.append(cp949);
    return;
  }
  // A byte that begins no CP949 character is one "?"; the next is tried. A
  // two-byte character that the terminal lacks is "??", as wide as it would
  // be shown, and its second byte is never taken for the start of another.
  LazyConverter& fromUtf32 = converters_->utf32ToTerminal;
  convertReplacing(
      converters_->toTerminal, cp949, out,
      [&fromUtf32, cp949](std::string_view rest, std::string& into) -> StandIn {
        // glibc refuses A2E8 (a postal mark that Windows' code page lacks
        // too) only after taking it, and stops after it; it can stop there
        // for no other reason, as it never converts A2E8.
        std::size_t at = static_cast<std::size_t>(rest.data() - cp949.data());
        if (at >= 2 && cp949.substr(at - 2, 2) == "\xA2\xE8") {
          into.push_back('?');
          return {0, true};
        }
        char32_t codePoint = userAreaCodePoint(rest);
        if (codePoint != 0 && appendCodePoint(fromUtf32, codePoint, into)) return {2};
        if (rest.size() >= 2 &&
            isCp949Pair(static_cast<unsigned char>(rest[0]), static_cast<unsigned char>(rest[1]))) {
          into += "??";
          return {2};
        }
        into.push_back('?');
        return {1};
      },
      2);
}

void TerminalCodec::fromTerminal(std::string_view text, std::string& out) {
  if (passesThrough()) {
    out.append(text);
    return;
  }
  bool utf8 = converters_->terminalIsUtf8;
  LazyConverter& toUtf32 = converters_->terminalToUtf32;
  convertReplacing(converters_->fromTerminal, text, out,
                   [utf8, &toUtf32](std::string_view rest, std::string& into) -> StandIn {
                     if (std::size_t length = appendUserAreaCharacter(toUtf32, rest, into)) {
                       return {length};
                     }
                     into.push_back(kLostCharacter);
                     return {utf8 ? utf8CharLength(rest) : std::size_t{1}};
                   });
}

const std::vector<std::uint16_t>& cp949Table() {
  static const Cp949Table table = makeCp949Table();
  return table;
}

void convertToCp949(std::string_view text, FileEncoding from, std::string& out) {
  iconv_t converter = iconv_open("CP949", iconvName(from));
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    // No converter at all: nothing of the text can be held.
    out.append(text.empty() ? 0 : 1, kLostCharacter);
    return;
  }
  LazyConverter toUtf32("UTF-32LE", iconvName(from));
  convertReplacing(converter, text, out,
                   [from, &toUtf32](std::string_view rest, std::string& into) -> StandIn {
                     if (std::size_t length = appendUserAreaCharacter(toUtf32, rest, into)) {
                       return {length};
                     }
                     into.push_back(kLostCharacter);
                     return {refusedLength(rest, from)};
                   });
  iconv_close(converter);
}

}  // namespace phonebook
