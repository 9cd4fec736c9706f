// The console as the screens see it: CP949 text out, raw input bytes in.
// Output is buffered and written in large pieces; it is flushed before the
// program waits for input, before the screen is cleared, before a pause and
// at exit, never once per line.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/terminal.h"
#include "platform/text_codec.h"

namespace phonebook {

class Console {
 public:
  static constexpr int kEndOfInput = -1;

  // REQUIRES: `terminal` outlives the console.
  Console(Terminal& terminal, const std::string& codeset);
  ~Console() { flush(); }
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Queues CP949 `text` for the screen.
  void print(std::string_view text);

  // Queues CP949 `text` for the screen and leaves it empty, its room kept:
  // where the terminal takes CP949 as it is, a large piece is handed over
  // rather than copied.
  void printPiece(std::string& text);

  // Queues formatShown(format, args).
  void printFormat(std::string_view format, std::initializer_list<std::string_view> args);

  // Writes out everything queued.
  void flush();

  // Writes CP949 `text` to standard error, converted as the screens are,
  // after everything queued for the screen.
  void printErrors(std::string_view text);

  void clearScreen();

  // Sets CP949 `text` to be written to standard error, converted as the
  // screens are, where a signal ends the program (Terminal::setFarewell).
  void setFarewell(std::string_view text);

  // Ends the program when storage for the phone book cannot be obtained:
  // what was queued is written, one line goes to standard error, the exit
  // status is 1 and nothing is saved. Asks for no storage itself.
  [[noreturn]] void exitOutOfStorage();

  // Prints "계속하려면 아무 키나 누르십시오 . . . " and waits for one key from the
  // keyboard, then ends the line. Without a keyboard it prints nothing and
  // does not wait; the program's input is never touched.
  void pause();

  // The next raw input byte (0..255), or kEndOfInput. Once the input has
  // ended it stays ended.
  int peekByte();
  int getByte();

  // The kind of answer that the next line read from the terminal is, for
  // the line editor's history.
  void expectAnswer(LineKind kind) { answerKind_ = kind; }

  // True once a prompt found no input left to answer it: the user will
  // answer nothing more. The readers set it.
  bool inputEnded() const { return answersEnded_; }
  void markInputEnded() { answersEnded_ = true; }

  // Appends the terminal's `raw` text, converted to CP949, to `out`: each
  // character that CP949 lacks, or bytes that form none, as one
  // kLostCharacter.
  void toProgramText(std::string_view raw, std::string& out) { codec_.fromTerminal(raw, out); }

  // True when a zero byte of raw input is a character that the terminal
  // could not give in CP949 (Terminal::marksLostCharacters), not one typed.
  bool marksLostCharacters() { return terminal_.marksLostCharacters(); }

 private:
  bool fillInput();
  bool readEditedLine();

  Terminal& terminal_;
  TerminalCodec codec_;
  std::string output_;
  // Where lines are edited: what the screen's current line holds, written
  // since the last line break.
  std::string shownLine_;
  std::string outOfStorage_;  // kOutOfStorage as the terminal shows it
  std::string input_;
  std::size_t inputPos_ = 0;
  bool terminalDrained_ = false;  // the terminal has no more input to give
  bool answersEnded_ = false;
  LineKind answerKind_ = LineKind::kChoice;
};

}  // namespace phonebook
