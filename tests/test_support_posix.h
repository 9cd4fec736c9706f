// What the POSIX test helpers need that only some systems give.
#pragma once

#include <sys/types.h>

#include <string>

namespace phonebook::testing {

// Waits until the running `child` has the new file of its save open in
// `directory`, then sends it `signal`. False when the child ended first.
bool signalDuringSave(pid_t child, const std::string& directory, int signal);

}  // namespace phonebook::testing
