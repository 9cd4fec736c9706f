// Conversion with the system's iconv (glibc's on Linux), which knows CP949
// as Microsoft's code page (Unified Hangul Code) and refuses every invalid,
// unmappable or cut-off sequence: each is replaced, by "?" for the screen
// and by kLostCharacter for what is typed and for a phone list file. The
// one part of Windows' code page 949 that iconv lacks, its user-defined
// area, is taken where iconv refuses it (iconv_support.h).
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "platform/iconv_support.h"
#include "platform/text_codec.h"
#include "text/byte_rules.h"
#include "text/codesets.h"

namespace phonebook {
namespace {

// Where iconv refused the start of the rest of a text: how many bytes of
// it the appended stand-in takes the place of.
struct StandIn {
  std::size_t length;
  // iconv had taken the refused two-byte character before it stopped:
  // conversion goes on with its second byte, as after any other refused.
  bool secondByteAgain = false;
};

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
