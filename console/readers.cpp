#include "console/readers.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "console/line_input.h"
#include "text/byte_rules.h"
#include "text/encodings.h"
#include "text/escape_sequences.h"

namespace phonebook {
namespace {

bool isDigit(int byte) {
  return byte >= '0' && byte <= '9';
}

}  // namespace

LineRead readLine(Console& console, LineKind kind, char* buffer, std::size_t capacity) {
  console.expectAnswer(kind);
  buffer[0] = '\0';
  // One CP949 byte never takes more than four bytes of terminal input, so
  // this much of the line is enough to fill the buffer; the rest is read
  // and dropped, so a long line costs no memory.
  const std::size_t rawLimit = 4 * capacity + 2;
  std::string raw;
  int byte = console.getByte();
  if (byte == Console::kEndOfInput) {
    console.markInputEnded();
    return LineRead::kEndOfInput;
  }
  // What a line must never carry into an entry: an escape sequence, dropped
  // whole, and every other control byte but the tab. A character that the
  // terminal could not give in CP949 stays, to be found below.
  const bool marksLost = console.marksLostCharacters();
  EscapeSequences sequences;
  for (; byte != Console::kEndOfInput; byte = console.getByte()) {
    if (byte == '\n') {
      raw.push_back('\n');
      break;
    }
    const auto kept = static_cast<unsigned char>(byte);
    const bool lost = marksLost && kept == static_cast<unsigned char>(kLostCharacter);
    if ((lost || (!sequences.takes(kept) && (kept == '\t' || !isControlByte(kept)))) &&
        raw.size() < rawLimit) {
      raw.push_back(static_cast<char>(byte));
    }
  }
  removeNewline(raw);

  std::string text;
  console.toProgramText(raw, text);
  // Half a character at the end (a terminal whose Backspace erased one byte
  // of two) would make the file invalid CP949.
  text.resize(cp949WholeLength(text));
  // Only what the buffer keeps counts: the cut is made as if each lost
  // character were the "?" that stands for it.
  const std::size_t keptLength = cp949FitLength(text, capacity - 1);
  const bool lost = text.find(kLostCharacter) < keptLength;
  std::replace(text.begin(), text.end(), kLostCharacter, '?');
  copyFitting(buffer, capacity, text);
  return lost ? LineRead::kLostCharacter : LineRead::kLine;
}

NumberRead readNumber(Console& console, int& target) {
  console.expectAnswer(LineKind::kChoice);
  int byte = console.peekByte();
  while (byte != Console::kEndOfInput && isWhiteSpace(static_cast<unsigned char>(byte))) {
    console.getByte();
    byte = console.peekByte();
  }
  if (byte == Console::kEndOfInput) {
    console.markInputEnded();
    return NumberRead::kEndOfInput;
  }

  bool negative = false;
  if (byte == '+' || byte == '-') {
    negative = byte == '-';
    console.getByte();
    byte = console.peekByte();
  }
  if (!isDigit(byte)) {
    flushLine(console);
    return NumberRead::kNotANumber;
  }
  // Every digit is consumed; past the 32-bit range the value stops growing,
  // so it cannot overflow here.
  constexpr std::int64_t kLimit = std::int64_t{INT32_MAX} + 1;
  std::int64_t value = 0;
  for (; isDigit(byte); byte = console.peekByte()) {
    console.getByte();
    if (value <= kLimit) value = value * 10 + (byte - '0');
  }
  flushLine(console);
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return NumberRead::kNotANumber;
  target = static_cast<int>(value);
  return NumberRead::kNumber;
}

}  // namespace phonebook
