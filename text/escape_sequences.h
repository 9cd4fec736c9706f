// Escape sequences in terminal input: a key such as an arrow typed where
// nothing edits the line, or something pasted in. One reader follows them
// for both the line readers (which drop them) and the pause (which takes a
// key whole).
#pragma once

namespace phonebook {

inline constexpr unsigned char kEscape = 0x1B;

// Follows input a byte at a time. A sequence is ESC [ with parameters up to
// a final byte (0x40 to 0x7E); ESC O and one byte; a string ESC ] (or P, X,
// ^, _) up to BEL or ESC \; or ESC and one more printable byte (Alt with a
// key). A lone ESC followed by any other byte ends there, and that byte is
// text again.
class EscapeSequences {
 public:
  // True when `byte` belongs to an escape sequence, ESC included.
  bool takes(unsigned char byte);

  // True while a sequence that a key press sends has begun and not ended:
  // a key ends with ESC and one byte, ESC O and a byte, or ESC [ up to its
  // final byte. (A string is never a key.)
  bool inKey() const {
    return state_ == State::kEscape || state_ == State::kBracket || state_ == State::kOneMore;
  }

 private:
  enum class State { kText, kEscape, kBracket, kOneMore, kString };
  State state_ = State::kText;
};

}  // namespace phonebook
