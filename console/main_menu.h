// The menu loop: the program's one top-level loop and its table of choices.
#pragma once

#include <functional>
#include <string>

namespace phonebook {

class Console;

// What choice 0 did to keep the phone book: whether it is safely stored,
// and where not, whether the system failed a step (the file could not be
// written) or the save was refused, why, and what the user can do, as CP949
// text for the screen.
struct SaveReport {
  enum class Result { kSaved, kFailed, kRefused };
  Result result;
  std::string reason;  // one or more sentences
  std::string advice;  // a line
};
using SaveFunction = std::function<SaveReport()>;

// Shows the menu again and again and runs each choice, pausing after it,
// until the user chooses 0 and `save` stores the phone book: the result is
// then 0. A save that fails or is refused says why and what the user can
// do, and goes back to the menu with the phone book as it was, so that the
// user may fix the cause and choose 0 again. When the input ends at any prompt, nothing is saved,
// standard error says so where the phone book was changed in this run, and the result is 1.
int runMainMenu(Console& console, const SaveFunction& save);

}  // namespace phonebook
