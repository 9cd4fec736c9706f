// Running the program on a pseudo-terminal of its own, as a person at a
// terminal would: what it shows, the keys that answer it, how it ends.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/test_support.h"

namespace phonebook::testing {

// Reads what the program writes to the terminal until `wanted` has been
// seen or `seconds` have passed; returns all that was read.
std::string readUntil(int master, const std::string& wanted, double seconds);

extern const std::string kPausePrompt;  // in CP949, as a C-locale terminal shows it

struct TerminalRun {
  std::string input = "";  // standard input from this file; none: from the terminal
  std::string locale = "C";
  const char* localeVariable = "LC_ALL";  // the one of LC_ALL, LC_CTYPE, LANG that is set
  std::string localePath = "";            // LOCPATH, where the locale is the tests' own
  std::string term = "xterm";
  bool outputToFile = false;  // standard output to the file "output"
  // Run as a shell runs a job: in a process group of its own, the
  // terminal's foreground, with the returned process as its parent. A stop
  // (Ctrl-Z) then stops the program, and the shell stands by.
  bool asJob = false;
  // The terminal as another program may leave it: a read there in raw mode
  // returns at once, with nothing (VMIN and VTIME 0).
  bool readsReturnAtOnce = false;
  int ignored = 0;  // a signal the program is started to ignore, as nohup does SIGHUP
};

// Starts the program in `dir` with a new pseudo-terminal as its controlling
// terminal and, unless redirected, its standard input and output. Returns
// its pid and sets `master` to the terminal's other end.
pid_t startOnTerminal(const TempDir& dir, const TerminalRun& run, int& master);

// The exit status, or 128 + the signal; a program still running after
// `seconds` is killed, and gives -1.
int waitForExit(pid_t child, double seconds = 20);

// True when the terminal is in its usual mode: whole lines, echoed.
bool terminalIsCooked(int master);

// The process's state as /proc tells it: 'T' when stopped.
char stateOf(pid_t process);

// Prompts, each with the keys that answer it.
using Steps = std::vector<std::pair<std::string, std::string>>;

// Answers each prompt of `steps` once it is shown and the line editor has
// the terminal; false, with what was shown in `screen`, at the first that
// does not come.
bool answer(int master, const Steps& steps, std::string& screen);

// The prompts as a UTF-8 terminal shows them.
extern const std::string kMenuPrompt, kUtf8PausePrompt, kNamePrompt, kPhonePrompt;

// Kim 010 added, and the pause after it taken.
extern const Steps kAddKim;

// The steps of `first`, then those of `then`.
Steps operator+(Steps first, const Steps& then);

// A CP949 locale of the tests' own, as few systems have one installed: its
// directory, for LOCPATH, or "" where localedef could not make it.
std::string cp949LocalePath();

}  // namespace phonebook::testing
