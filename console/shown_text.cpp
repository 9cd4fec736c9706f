#include "console/shown_text.h"

#include "text/byte_rules.h"

namespace phonebook {

std::string formatShown(std::string_view format, std::initializer_list<std::string_view> args) {
  std::string out;
  auto arg = args.begin();
  std::size_t start = 0;
  for (std::size_t at = format.find("%s"); at != std::string_view::npos && arg != args.end();
       at = format.find("%s", start)) {
    out.append(format.substr(start, at - start));
    appendShown(out, *arg++);
    start = at + 2;
  }
  return out.append(format.substr(start));
}

void appendShown(std::string& out, std::string_view text) {
  if (isShownAsItIs(text)) {
    out.append(text);
    return;
  }
  // Runs of characters that may be shown go out whole, between the "?"s.
  std::size_t run = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t length = cp949ShownLength(text.substr(at));
    if (length > 0) {
      at += length;
      continue;
    }
    out.append(text, run, at - run);
    out.push_back('?');
    run = ++at;
  }
  out.append(text, run, at - run);
}

}  // namespace phonebook
