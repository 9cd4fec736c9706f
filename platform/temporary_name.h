// The names of new files between their completion and their rename, the
// same on every platform.
#pragma once

#include <string>
#include <string_view>

namespace phonebook {

// A fresh name for the new file in the moment between its completion and
// its rename: ".phonebook-", twelve random letters and digits that mix
// upper case, lower case and digits, and ".tmp". Short whatever the phone
// list file is called, unpredictable enough that a name taken meanwhile is
// rare (a taken name is tried again with the next), and not a name that a
// person would type for a file of their own, such as a dated backup.
std::string temporaryFileName();

// True for the names that temporaryFileName makes, and only those: the
// start removes leftovers by these names (with the platform's mark, where
// it has one), so a name that a person could choose must not pass.
bool isTemporaryFileName(std::string_view name);

enum class NameTry {
  kMade,    // the file got the name
  kTaken,   // something of that name is there already
  kFailed,  // anything else went wrong: errno (or the Windows error) says what
};

// Calls `attempt` with fresh names from temporaryFileName until one is not
// taken, at most 100 times. Returns what the last attempt gave.
template <class Attempt>
NameTry tryTemporaryNames(Attempt attempt) {
  NameTry result = NameTry::kTaken;
  for (int tries = 0; tries < 100 && result == NameTry::kTaken; ++tries) {
    result = attempt(temporaryFileName());
  }
  return result;
}

}  // namespace phonebook
