// Any bytes as standard input to the line and number readers, on a
// pass-through and on a UTF-8 console. A line read keeps at most capacity - 1
// bytes, is the start of the converted line (without its escape sequences,
// control bytes and a last half character, with "?" for each character that
// could not be converted) cut on a character boundary, says whether such a
// "?" is among the bytes kept, and never takes input past its own line; a
// number read takes what "%d" would and the rest of its line, no more. The
// expected line is built from those rules alone, with iconv converting
// UTF-8 a character at a time.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "console/console.h"
#include "console/readers.h"
#include "console/scripted_terminal.h"
#include "fuzz/utf8_model.h"

namespace {

using phonebook::Console;

void require(bool condition) {
  if (!condition) std::abort();
}

// A terminal acts on these rather than shows them.
bool isControl(char c) {
  auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

// A CP949 character of two bytes begins with 0x81..0xFE.
bool opensPair(char c) {
  auto byte = static_cast<unsigned char>(c);
  return byte >= 0x81 && byte <= 0xFE;
}

// Where the line that starts at `at` ends, line feed included.
size_t lineEnd(const std::string& input, size_t at) {
  size_t feed = input.find('\n', at);
  return feed == std::string::npos ? input.size() : feed + 1;
}

// `raw` without escape sequences (ESC [ up to a byte of 0x40..0x7E; ESC O
// and one byte; ESC ] P X ^ or _ up to BEL or ESC \; ESC and one more
// printable byte; a lone ESC) and without control bytes other than the tab.
std::string withoutControls(const std::string& raw) {
  std::string kept;
  size_t i = 0;
  auto isFinal = [](char c) { return c >= 0x40 && c <= 0x7E; };
  while (i < raw.size()) {
    if (raw[i] != '\x1b') {
      if (raw[i] == '\t' || !isControl(raw[i])) kept.push_back(raw[i]);
      ++i;
      continue;
    }
    ++i;  // past ESC
    if (i == raw.size()) break;
    char kind = raw[i];
    if (kind == '[') {
      ++i;
      while (i < raw.size() && !isFinal(raw[i])) ++i;
      if (i < raw.size()) ++i;
    } else if (kind == 'O') {
      i = std::min(raw.size(), i + 2);
    } else if (kind == ']' || kind == 'P' || kind == 'X' || kind == '^' || kind == '_') {
      ++i;
      while (i < raw.size() && raw[i] != '\x07' && raw[i] != '\x1b') ++i;
      if (i < raw.size() && raw[i] == '\x07') ++i;  // an ESC there starts what ends it
    } else if (kind >= 0x20 && kind <= 0x7E) {
      ++i;
    }
  }
  return kept;
}

void checkNextByte(Console& console, const std::string& input, size_t at) {
  int next = console.peekByte();
  require(at == input.size() ? next == Console::kEndOfInput
                             : next == static_cast<unsigned char>(input[at]));
}

// Reads a line at `at` and checks it; returns where the next read starts.
size_t checkLine(Console& console, bool utf8, const std::string& input, size_t at,
                 size_t capacity) {
  char buffer[64];
  phonebook::LineRead read =
      phonebook::readLine(console, phonebook::LineKind::kName, buffer, capacity);
  require((read != phonebook::LineRead::kEndOfInput) == (at < input.size()));
  if (read == phonebook::LineRead::kEndOfInput) return at;
  size_t end = lineEnd(input, at);
  std::string raw = input.substr(at, end - at);
  if (!raw.empty() && raw.back() == '\n') {
    raw.pop_back();
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
  }
  std::string full = utf8 ? fuzz_model::toCp949(withoutControls(raw)) : withoutControls(raw);
  size_t whole = 0;  // without half a character at the end
  while (whole < full.size() && !(opensPair(full[whole]) && whole + 1 == full.size())) {
    whole += opensPair(full[whole]) ? 2 : 1;
  }
  full.resize(whole);

  std::string kept(buffer);
  // What could not be converted is a zero byte here, which no
  // line holds otherwise once its control bytes are gone.
  bool lost = full.substr(0, kept.size()).find('\0') != std::string::npos;
  require(lost == (read == phonebook::LineRead::kLostCharacter));
  std::replace(full.begin(), full.end(), '\0', '?');
  require(kept.size() <= capacity - 1);
  for (char c : kept) require(c == '\t' || !isControl(c));
  require(full.compare(0, kept.size(), kept) == 0);
  if (kept.size() < full.size()) {
    // Cut: on a character boundary, and only where the next one won't fit.
    size_t boundary = 0;
    while (boundary < kept.size()) boundary += opensPair(full[boundary]) ? 2 : 1;
    require(boundary == kept.size());
    size_t next = opensPair(full[boundary]) ? 2 : 1;
    require(kept.size() + next > capacity - 1);
  }
  checkNextByte(console, input, end);
  return end;
}

size_t checkNumber(Console& console, const std::string& input, size_t at) {
  int target = 12345;
  phonebook::NumberRead read = phonebook::readNumber(console, target);
  while (at < input.size() && std::isspace(static_cast<unsigned char>(input[at]))) ++at;
  if (at == input.size()) {
    require(read == phonebook::NumberRead::kEndOfInput);
    return at;
  }
  // from_chars takes a minus sign itself, but not a plus.
  size_t number = input[at] == '+' ? at + 1 : at;
  bool plusMinus = number != at && number < input.size() && input[number] == '-';
  int expected = 0;
  auto parsed = std::from_chars(input.data() + number, input.data() + lineEnd(input, at), expected);
  bool isNumber = !plusMinus && parsed.ec == std::errc();
  if (isNumber) {
    require(read == phonebook::NumberRead::kNumber && target == expected);
  } else {
    require(read == phonebook::NumberRead::kNotANumber && target == 12345);
  }
  size_t end = lineEnd(input, at);
  checkNextByte(console, input, end);
  return end;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first byte chooses the console, the second the order of the reads.
  const std::string codeset = data[0] & 1 ? "UTF-8" : "";
  const unsigned plan = data[1];
  const std::string input(reinterpret_cast<const char*>(data + 2), size - 2);

  phonebook::ScriptedTerminal terminal(input, 1 + (data[0] >> 1) % 16);
  Console console(terminal, codeset);
  size_t at = 0;
  for (unsigned step = 0; at < input.size(); ++step) {
    switch ((plan >> (step % 4 * 2)) & 3) {
      case 0:
        at = checkNumber(console, input, at);
        break;
      case 1:
        at = checkLine(console, !codeset.empty(), input, at, 30);
        break;
      case 2:
        at = checkLine(console, !codeset.empty(), input, at, 50);
        break;
      case 3:
        at = checkLine(console, !codeset.empty(), input, at, 2);
        break;
    }
  }
  char last[2];
  require(phonebook::readLine(console, phonebook::LineKind::kName, last, sizeof last) ==
              phonebook::LineRead::kEndOfInput &&
          console.inputEnded());
  return 0;
}
