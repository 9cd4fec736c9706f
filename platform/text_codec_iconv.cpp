// Conversion with glibc's iconv, which knows CP949 as Microsoft's code
// page (Unified Hangul Code) and refuses every invalid, unmappable or
// cut-off sequence: each is replaced, by "?" for the screen and by
// kLostCharacter for what is typed and for a phone list file.
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/text_codec.h"
#include "text/byte_rules.h"
#include "text/codesets.h"

namespace phonebook {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// Appends `text`, converted by `converter`, to `out`. Where iconv refuses
// the sequence at the start of `rest`, one `replacement` stands for
// refusedLength(rest) bytes of it. Returns false when any was refused.
template <class RefusedLength>
bool convertReplacing(iconv_t converter, std::string_view text, std::string& out,
                      RefusedLength refusedLength, char replacement = '?', std::size_t growth = 1) {
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  bool whole = true;
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
    std::size_t skip = refusedLength(std::string_view(source, sourceLeft));
    out.push_back(replacement);
    ++used;
    source += skip;
    sourceLeft -= skip;
    whole = false;
  }
  // The end of a stateful encoding's last shift.
  convert(nullptr, nullptr);
  return whole;
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
// that gives it back.
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
  close();
  return table;
}

}  // namespace

struct TerminalCodec::Converters {
  ~Converters() {
    if (toTerminal != kNoConverter) iconv_close(toTerminal);
    if (fromTerminal != kNoConverter) iconv_close(fromTerminal);
  }

  iconv_t toTerminal = kNoConverter;
  iconv_t fromTerminal = kNoConverter;
  bool terminalIsUtf8 = false;
};

TerminalCodec::TerminalCodec(const std::string& codeset) {
  std::string key = codesetKey(codeset);
  if (passesBytesThrough(key)) return;
  auto converters = std::make_unique<Converters>();
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
  // A byte that begins no CP949 character is one "?"; the next is tried.
  convertReplacing(
      converters_->toTerminal, cp949, out, [](std::string_view) { return 1; }, '?', 2);
}

void TerminalCodec::fromTerminal(std::string_view text, std::string& out) {
  if (passesThrough()) {
    out.append(text);
    return;
  }
  bool utf8 = converters_->terminalIsUtf8;
  convertReplacing(
      converters_->fromTerminal, text, out,
      [utf8](std::string_view rest) { return utf8 ? utf8CharLength(rest) : std::size_t{1}; },
      kLostCharacter);
}

const std::vector<std::uint16_t>& cp949Table() {
  static const Cp949Table table = makeCp949Table();
  return table;
}

bool convertToCp949(std::string_view text, FileEncoding from, std::string& out) {
  iconv_t converter = iconv_open("CP949", iconvName(from));
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    // No converter at all: nothing of the text can be held.
    out.append(text.empty() ? 0 : 1, kLostCharacter);
    return text.empty();
  }
  bool whole = convertReplacing(
      converter, text, out, [from](std::string_view rest) { return refusedLength(rest, from); },
      kLostCharacter);
  iconv_close(converter);
  return whole;
}

}  // namespace phonebook
