#include "console/line_input.h"

namespace phonebook {

bool flushLine(Console& console) {
  for (;;) {
    int byte = console.getByte();
    if (byte == Console::kEndOfInput) return false;
    if (byte == '\n') return true;
  }
}

void removeNewline(std::string& line) {
  if (line.empty() || line.back() != '\n') return;
  line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
}

}  // namespace phonebook
