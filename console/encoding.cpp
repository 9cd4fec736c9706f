#include "console/encoding.h"

#include <cctype>
#include <cerrno>

namespace phonebook {
namespace {

bool isPassThroughCodeset(const std::string& name) {
  return name.empty() || isKoreanCodeset(name) || name == "ANSIX341968" || name == "ASCII" ||
         name == "USASCII";
}

bool isContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 character at the start of `text`, or 1
// when there is none: the bytes to replace by one "?" when iconv refuses them.
std::size_t utf8CharLength(const unsigned char* text, std::size_t size) {
  unsigned char lead = text[0];
  std::size_t length = lead >= 0xF0 && lead <= 0xF4   ? 4
                       : lead >= 0xE0 && lead <= 0xEF ? 3
                       : lead >= 0xC2 && lead <= 0xDF ? 2
                                                      : 1;
  if (length > size) return 1;
  for (std::size_t i = 1; i < length; ++i) {
    if (!isContinuation(text[i])) return 1;
  }
  return length;
}

void convert(iconv_t converter, std::string_view in, std::string& out, bool sourceIsUtf8) {
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  char* source = const_cast<char*>(in.data());
  std::size_t sourceLeft = in.size();
  char chunk[1024];
  while (sourceLeft > 0) {
    char* target = chunk;
    std::size_t room = sizeof chunk;
    std::size_t result = iconv(converter, &source, &sourceLeft, &target, &room);
    int error = errno;
    out.append(chunk, static_cast<std::size_t>(target - chunk));
    if (result != static_cast<std::size_t>(-1) || error == E2BIG) continue;
    // EILSEQ or EINVAL: an invalid, unmappable or cut-off sequence.
    std::size_t skip =
        sourceIsUtf8 ? utf8CharLength(reinterpret_cast<unsigned char*>(source), sourceLeft) : 1;
    out.push_back('?');
    source += skip;
    sourceLeft -= skip;
  }
  char* target = chunk;
  std::size_t room = sizeof chunk;
  iconv(converter, nullptr, nullptr, &target, &room);
  out.append(chunk, static_cast<std::size_t>(target - chunk));
}

}  // namespace

std::string codesetKey(const std::string& codeset) {
  std::string result;
  for (char c : codeset) {
    if (c == '-' || c == '_' || c == '.') continue;
    result.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  return result;
}

bool isKoreanCodeset(const std::string& key) {
  return key == "CP949" || key == "EUCKR" || key == "UHC";
}

TerminalCodec::TerminalCodec(const std::string& codeset) {
  std::string name = codesetKey(codeset);
  if (isPassThroughCodeset(name)) return;
  toTerminal_ = iconv_open(codeset.c_str(), "CP949");
  fromTerminal_ = iconv_open("CP949", codeset.c_str());
  if (toTerminal_ == kNone || fromTerminal_ == kNone) {
    // A codeset that iconv cannot reach: show the bytes as they are.
    if (toTerminal_ != kNone) iconv_close(toTerminal_);
    if (fromTerminal_ != kNone) iconv_close(fromTerminal_);
    toTerminal_ = fromTerminal_ = kNone;
    return;
  }
  terminalIsUtf8_ = name == "UTF8";
}

TerminalCodec::~TerminalCodec() {
  if (toTerminal_ != kNone) iconv_close(toTerminal_);
  if (fromTerminal_ != kNone) iconv_close(fromTerminal_);
}

void TerminalCodec::toTerminal(std::string_view cp949, std::string& out) {
  if (passesThrough()) {
    out.append(cp949);
    return;
  }
  convert(toTerminal_, cp949, out, false);
}

void TerminalCodec::fromTerminal(std::string_view text, std::string& out) {
  if (passesThrough()) {
    out.append(text);
    return;
  }
  convert(fromTerminal_, text, out, terminalIsUtf8_);
}

}  // namespace phonebook
