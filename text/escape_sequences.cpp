#include "text/escape_sequences.h"

#include <cstring>

namespace phonebook {

bool EscapeSequences::takes(unsigned char byte) {
  switch (state_) {
    case State::kText:
      break;
    case State::kEscape:
      if (byte == kEscape) return true;  // the first ESC was alone
      if (byte == '[' || byte == 'O') {
        state_ = byte == '[' ? State::kBracket : State::kOneMore;
        return true;
      }
      state_ = byte != 0 && std::strchr("]PX^_", byte) != nullptr ? State::kString : State::kText;
      if (byte >= 0x20 && byte <= 0x7E) return true;  // a string, or Alt with a key
      return false;                                   // a lone ESC: this byte is text again
    case State::kBracket:
      if (byte >= 0x40 && byte <= 0x7E) state_ = State::kText;
      return true;
    case State::kOneMore:
      state_ = State::kText;
      return true;
    case State::kString:
      if (byte == 0x07) state_ = State::kText;
      if (byte == kEscape) state_ = State::kEscape;  // ESC \ ends it
      return true;
  }
  if (byte == kEscape) {
    state_ = State::kEscape;
    return true;
  }
  return false;
}

}  // namespace phonebook
