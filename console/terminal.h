// The platform edge of the dialogue: where input bytes come from, where
// output bytes go, how the screen is cleared and how the user is made to
// wait for a key. Everything behind this header is raw terminal bytes; the
// Console above it converts to and from CP949.
//
// Tests and fuzz targets stand in for the real terminal with their own
// Terminal; a Windows console would be one more implementation.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace phonebook {

class Terminal {
 public:
  virtual ~Terminal() = default;

  // Reads up to `size` bytes of input into `buffer`. Returns how many were
  // read; 0 only at the end of input.
  virtual std::size_t readInput(char* buffer, std::size_t size) = 0;

  // Writes all of `data` to the output. Failures are not reported: there is
  // nobody left to tell.
  virtual void writeOutput(const char* data, std::size_t size) = 0;

  // Empties the screen and its scroll-back and homes the cursor, where the
  // output is a screen at all. REQUIRES: pending output has been written.
  virtual void clearScreen() = 0;

  // True when there is a keyboard to wait on (a controlling terminal).
  virtual bool hasKeyboard() = 0;

  // Waits for one key press on the keyboard, never on the program's input.
  // REQUIRES: hasKeyboard() was true.
  virtual void waitForKey() = 0;
};

// The process's own terminal: standard input and output, and /dev/tty for
// the key press.
std::unique_ptr<Terminal> makeSystemTerminal();

// The codeset of the terminal as the locale names it: LC_ALL, then LC_CTYPE,
// then LANG. Where the named locale is not installed, the codeset is read
// from the name itself (ko_KR.UTF-8 gives "UTF-8"); without one, "".
std::string terminalCodeset();

}  // namespace phonebook
