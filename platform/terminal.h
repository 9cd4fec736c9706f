// The platform edge of the dialogue: where input bytes come from, where
// output bytes go, how the screen is cleared and how the user is made to
// wait for a key. Everything behind this header is raw terminal bytes; the
// Console above it converts to and from CP949.
//
// Tests and fuzz targets stand in for the real terminal with their own
// Terminal. The system's own is terminal_posix.cpp or terminal_windows.cpp.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace phonebook {

// What a line typed at a prompt answers. Each kind has its own history of
// answers: up at a name prompt brings back names, not menu choices.
enum class LineKind { kChoice, kName, kPhone };

class Terminal {
 public:
  virtual ~Terminal() = default;

  // Reads up to `size` bytes of input into `buffer`. Returns how many were
  // read; 0 only at the end of input.
  virtual std::size_t readInput(char* buffer, std::size_t size) = 0;

  // True when input is read a line at a time through a line editor, with
  // readEditedLine instead of readInput.
  virtual bool editsLines() { return false; }

  // True when the terminal gives its input in CP949 itself (a Windows
  // console, read in UTF-16) and hands out each character typed that CP949
  // lacks as one kLostCharacter, and no other zero byte. Elsewhere a zero
  // byte of input is one that was typed or piped.
  virtual bool marksLostCharacters() { return false; }

  // Shows `prompt`, the text of the screen's current line (terminal bytes),
  // and reads one edited line after it, an answer of `kind`, into `line`,
  // with its line break. Returns false at the end of input. REQUIRES:
  // editsLines() is true, and the cursor is at the start of the line.
  virtual bool readEditedLine(const std::string& prompt, LineKind kind, std::string& line) {
    (void)prompt;
    (void)kind;
    (void)line;
    return false;
  }

  // Writes all of `data` to the output. Failures are not reported: there is
  // nobody left to tell.
  virtual void writeOutput(const char* data, std::size_t size) = 0;

  // Writes all of `data`, a message that is not part of the dialogue, to
  // standard error. Failures are not reported.
  virtual void writeErrors(const char* data, std::size_t size) = 0;

  // Empties the screen and its scroll-back and homes the cursor, where the
  // output is a screen that can be cleared at all (not TERM=dumb).
  // REQUIRES: pending output has been written.
  virtual void clearScreen() = 0;

  // True when there is a person to wait for: a keyboard (a controlling
  // terminal), and the program's input or output is that terminal.
  virtual bool hasKeyboard() = 0;

  // Waits for one key press on the keyboard, never on the program's input,
  // and takes exactly that key: one character, or one escape sequence.
  // REQUIRES: hasKeyboard() was true.
  virtual void waitForKey() = 0;

  // Sets what is written to standard error (terminal bytes, at most
  // kFarewellSize) where the user or the system ends the program: Ctrl-C,
  // Ctrl-\, SIGTERM or SIGHUP (Ctrl-C, Ctrl-Break or the window closed, on
  // Windows). Before it is set, nothing.
  static constexpr std::size_t kFarewellSize = 1024;
  virtual void setFarewell(const std::string& text) { (void)text; }
};

// The process's own terminal, of `codeset`: standard input and output,
// edited a line at a time where both are the terminal, and the keyboard of
// the terminal (/dev/tty, or the console's CONIN$) for the key press.
std::unique_ptr<Terminal> makeSystemTerminal(const std::string& codeset);

// The codeset of the terminal as the locale names it: LC_ALL, then LC_CTYPE,
// then LANG. Where the named locale is not installed, the codeset is read
// from the name itself (ko_KR.UTF-8 gives "UTF-8"); without one, "". On
// Windows always "CP949": the console is shown CP949 through UTF-16.
std::string terminalCodeset();

}  // namespace phonebook
