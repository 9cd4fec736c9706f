// Line editing at the prompts of a terminal, with libedit: the arrow keys,
// Home, End, Backspace and Delete move and erase whole characters (a Hangul
// syllable is one character two columns wide), Ctrl-A, Ctrl-E, Ctrl-U and
// Ctrl-W do what they do in a shell, and up and down bring back the answers
// of the same kind typed earlier in this run. Nothing of it is written to
// disk.
#pragma once

#include <memory>
#include <string>

#include "platform/terminal.h"

namespace phonebook {

class LineEditor {
 public:
  // An editor on standard input and output for a terminal of `codeset`, or
  // nullptr where it cannot edit: its characters must be known to the C
  // library, so a UTF-8 terminal uses C.UTF-8 and a CP949 or EUC-KR one an
  // installed locale of that encoding. Sets LC_CTYPE to that locale.
  // REQUIRES: standard input and output are the terminal.
  static std::unique_ptr<LineEditor> open(const std::string& codeset);

  ~LineEditor();
  LineEditor(const LineEditor&) = delete;
  LineEditor& operator=(const LineEditor&) = delete;

  // Shows `prompt` (terminal text: what the screen's current line holds),
  // lets the user edit one line after it, with the history of `kind`, and
  // puts it in `line`, with its line break. Returns false at the end of
  // input (Ctrl-D on an empty line, or the terminal gone).
  bool readLine(const std::string& prompt, LineKind kind, std::string& line);

 private:
  struct State;
  explicit LineEditor(std::unique_ptr<State> state);

  std::unique_ptr<State> state_;
};

}  // namespace phonebook
