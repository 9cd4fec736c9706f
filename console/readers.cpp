#include "console/readers.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "console/line_input.h"
#include "store/text.h"

namespace phonebook {
namespace {

bool isDigit(int byte) {
  return byte >= '0' && byte <= '9';
}

constexpr unsigned char kEscape = 0x1B;

// What a line must never carry into an entry: an escape sequence (a key
// typed where nothing edits the line, or something pasted in), dropped
// whole, and every other control byte but the tab. A sequence is ESC [ with
// parameters up to a final byte (0x40 to 0x7E); ESC O and one byte; a
// string ESC ] (or P, X, ^, _) up to BEL or ESC \; or ESC and one more
// printable byte (Alt with a key).
class ControlFilter {
 public:
  // True when `byte` is text to keep.
  bool keeps(unsigned char byte);

 private:
  enum class State { kText, kEscape, kBracket, kOneMore, kString };
  State state_ = State::kText;
};

bool ControlFilter::keeps(unsigned char byte) {
  switch (state_) {
    case State::kText:
      break;
    case State::kEscape:
      if (byte == kEscape) return false;  // the first ESC was alone
      if (byte == '[' || byte == 'O') {
        state_ = byte == '[' ? State::kBracket : State::kOneMore;
        return false;
      }
      state_ = byte != 0 && std::strchr("]PX^_", byte) != nullptr ? State::kString : State::kText;
      if (byte >= 0x20 && byte <= 0x7E) return false;  // a string, or Alt with a key
      break;                                           // a lone ESC: this byte is text again
    case State::kBracket:
      if (byte >= 0x40 && byte <= 0x7E) state_ = State::kText;
      return false;
    case State::kOneMore:
      state_ = State::kText;
      return false;
    case State::kString:
      if (byte == 0x07) state_ = State::kText;
      if (byte == kEscape) state_ = State::kEscape;  // ESC \ ends it
      return false;
  }
  if (byte == kEscape) {
    state_ = State::kEscape;
    return false;
  }
  return byte == '\t' || !isControlByte(byte);
}

}  // namespace

bool readLine(Console& console, char* buffer, std::size_t capacity) {
  buffer[0] = '\0';
  // One CP949 byte never takes more than four bytes of terminal input, so
  // this much of the line is enough to fill the buffer; the rest is read
  // and dropped, so a long line costs no memory.
  const std::size_t rawLimit = 4 * capacity + 2;
  std::string raw;
  int byte = console.getByte();
  if (byte == Console::kEndOfInput) {
    console.markInputEnded();
    return false;
  }
  ControlFilter filter;
  for (; byte != Console::kEndOfInput; byte = console.getByte()) {
    if (byte == '\n') {
      raw.push_back('\n');
      break;
    }
    if (raw.size() < rawLimit && filter.keeps(static_cast<unsigned char>(byte))) {
      raw.push_back(static_cast<char>(byte));
    }
  }
  removeNewline(raw);

  std::string text;
  console.toProgramText(raw, text);
  // Half a character at the end (a terminal whose Backspace erased one byte
  // of two) would make the file invalid CP949.
  text.resize(cp949WholeLength(text));
  copyFitting(buffer, capacity, text);
  return true;
}

NumberRead readNumber(Console& console, int& target) {
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
