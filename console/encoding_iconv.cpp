// The terminal codec on Linux: glibc's iconv, with each sequence it refuses
// replaced by "?".
#include <iconv.h>

#include <cerrno>

#include "console/encoding.h"
#include "store/text.h"

namespace phonebook {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

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
    std::size_t skip = sourceIsUtf8 ? utf8CharLength({source, sourceLeft}) : 1;
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
  convert(converters_->toTerminal, cp949, out, false);
}

void TerminalCodec::fromTerminal(std::string_view text, std::string& out) {
  if (passesThrough()) {
    out.append(text);
    return;
  }
  convert(converters_->fromTerminal, text, out, converters_->terminalIsUtf8);
}

}  // namespace phonebook
