// The terminal codec on Linux: glibc's iconv, with each sequence it refuses
// replaced by "?".
#include <iconv.h>

#include "console/encoding.h"
#include "store/iconv_text.h"
#include "store/text.h"

namespace phonebook {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

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
  convertReplacing(converters_->toTerminal, cp949, out, [](std::string_view) { return 1; });
}

void TerminalCodec::fromTerminal(std::string_view text, std::string& out) {
  if (passesThrough()) {
    out.append(text);
    return;
  }
  bool utf8 = converters_->terminalIsUtf8;
  convertReplacing(converters_->fromTerminal, text, out, [utf8](std::string_view rest) {
    return utf8 ? utf8CharLength(rest) : std::size_t{1};
  });
}

}  // namespace phonebook
