// The menu loop: the program's one top-level loop and its table of choices.
#pragma once

#include "store/phone_file.h"

namespace phonebook {

class Console;

// What choice 0 does to keep the phone book: returns true when it is safely
// stored.
using SaveFunction = bool (*)(LoadResult loaded);

// Shows the menu again and again and runs each choice, pausing after it,
// until the user chooses 0: then `save` is called with `loaded` and the
// result is the exit status, 0 when the save succeeded and 1 when it failed.
// When the input ends at any prompt, nothing is saved and the result is 1.
int runMainMenu(Console& console, LoadResult loaded, SaveFunction save);

}  // namespace phonebook
