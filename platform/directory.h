// The directory of the phone list file: keeping a second run of the
// program away from it, and clearing up after a run that was killed during
// its save. file_posix.cpp and file_windows.cpp keep these promises.
#pragma once

namespace phonebook {

enum class LockResult {
  kLocked,           // this run holds the lock until it ends
  kLockedElsewhere,  // another run holds it
  kCannotLock,       // the directory cannot be opened or locked: go on without
};

// Takes, without waiting, an exclusive advisory lock on the directory that
// holds `path` (links followed), held until the program ends. The directory
// rather than the file: a save renames a new file into place, and a lock on
// the old file would not keep out a run started after it. Where the
// directory cannot be read, the file itself is locked, if it is there.
LockResult lockDirectoryOf(const char* path);

// Removes from the directory that holds `path` (links followed) the
// temporary files that a run of this program killed during its save left
// behind: regular files of this user with names that isTemporaryFileName
// accepts and, on Linux where the file system has user extended
// attributes, the mark that the save put on them. Never follows a link,
// and leaves anything else alone. REQUIRES: this run holds the lock of
// lockDirectoryOf(path), so that no other run's save is under way there.
void removeLeftoverFiles(const char* path);

}  // namespace phonebook
