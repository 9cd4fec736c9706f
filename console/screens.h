// One screen per menu command. Each clears the screen, asks for what it
// needs and prints its own outcome; the menu pauses after it. A screen whose
// input ends returns at once and the menu ends the program.
#pragma once

#include "store/phone_list.h"

namespace phonebook {

class Console;

// Reads a name and a number and adds them to the phone book. Prints the
// confirmation unless the new entry became the first of the list. A name or
// number that is empty, holds white space or lost a character that CP949
// lacks is refused with a message.
void addEntry(Console& console);

// Prints every entry in list order under a heading.
void printList(Console& console);

// Reads a name and shows the first entry that has it, in the two-line form
// when it is the first entry of the list and the one-line form otherwise.
// A name that lost a character that CP949 lacks finds none. Returns that
// entry, or nullptr.
PhoneEntry* searchEntry(Console& console);

// Reads a new value and stores it in `entry` as its name (item 1) or number
// (item 2); a name is cut to its field. Any other item, or no entry, stores
// nothing silently; a value that is empty, holds white space or lost a
// character that CP949 lacks is refused with a message. Returns 1 when a
// field was replaced, 0 otherwise.
int editEntry(Console& console, PhoneEntry* entry, int item);

// Reads a name and removes the first entry that has it; a name that lost a
// character that CP949 lacks removes none. Prints nothing of the outcome. Returns 1 when an entry
// was removed, 0 otherwise.
int deleteEntry(Console& console);

}  // namespace phonebook
