// What the POSIX test helpers need that only some systems give.
#pragma once

#include <sys/types.h>

#include <string>

namespace phonebook::testing {

// Waits until the running `child` has the new file of its save open in
// `directory`, then sends it `signal`. False when the child ended first.
bool signalDuringSave(pid_t child, const std::string& directory, int signal);

// Whether the save marks its new file until the rename, so that a leftover
// is known by its mark as well as by its name.
extern const bool kLeftoversAreMarked;

// Marks `path` as the save marks its new file (where it does: the file's
// own number in an extended attribute). False where the file system keeps
// no such mark.
bool markAsTemporary(const std::string& path);

}  // namespace phonebook::testing
