// The phone list file on disk: opening it for reading, keeping a second run
// away from it, and replacing it whole. These are the only file operations
// that differ from one platform to another; the format and the loader are
// shared (phone_file.h). file_on_disk_linux.cpp and file_on_disk_windows.cpp
// keep the same promises by each platform's means; where a contract below
// names one platform's means, the other's are in its file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace phonebook {

enum class OpenResult {
  kOpened,     // `fd` is open for reading
  kMissing,    // there is no file: the ordinary first run
  kNotOpened,  // something is there, but not a regular file that could be opened
};

struct OpenedFile {
  OpenResult result;
  int fd;  // open for reading when result is kOpened, -1 otherwise
};

// Opens `path` for reading when it is, at the end of any chain of symbolic
// links, a regular file. Never blocks and never opens anything else: a
// FIFO, a device, a socket or a directory gives kNotOpened. The caller
// closes the file with closeFile.
OpenedFile openRegularFile(const char* path);
void closeFile(int fd);

// What tells one state of a file from another: which file it is (device
// and file number) and its size and time of last change. Another program
// that replaces the file, or writes to it, changes its stamp.
struct FileStamp {
  bool exists = false;
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  std::uint64_t size = 0;
  std::int64_t changed = 0;  // in nanoseconds, or the platform's own unit

  bool operator==(const FileStamp&) const = default;
};

// The stamp of the open file `fd`.
FileStamp stampOfOpenFile(int fd);

// The stamp of the file at `path`, at the end of any symbolic links;
// FileStamp{} when there is none (or it cannot be looked at).
FileStamp stampOfFile(const char* path);

// Why a save to `path` could not succeed as things stand, as an errno
// value, or 0 when nothing is seen to stand in its way: the directory is
// not writable for this user (EACCES) or is on a file system mounted
// read-only (EROFS), or the file is there and this user could not open it
// for writing (EACCES), just as replaceFile would find.
int whyCannotSave(const char* path);

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

enum class SaveResult {
  kSaved,           // the new file is in place and synced to disk
  kSavedNotSynced,  // in place, but the directory could not be synced: a power
                    // cut soon after could still bring back the old file
  kFailed,          // nothing was changed
};

// Writes a new file with `fill` and puts it in place of the file at `path`,
// atomically, following symbolic links so that a link stays a link. Refuses
// a file that this user could not open for writing (root may), as a save
// that opened it to write would. The
// new file keeps the old one's permission bits, its group where this user
// may set it (and its owner where the program runs as root), its POSIX ACL
// and its user extended attributes. It is written unnamed where the file
// system allows, so that a run killed part way leaves nothing behind, and
// named only once it is whole and synced. Refuses to replace anything but
// a regular file. `fill` writes the whole content to the open file and
// returns false, with errno set, when a write fails.
//
// A power cut at any moment during the call leaves the old file or the new
// one whole; once it has returned kSaved, the new one. A run killed during
// it leaves the old file or the new one in place, and at most a temporary
// file beside it (see removeLeftoverFiles): a whole one, or a partial one
// where the file system has no unnamed files. SIGINT, SIGQUIT, SIGTERM and
// SIGHUP wait while it runs, and those that came meanwhile are dropped
// when it returns: what the caller does next is what follows a save (on
// Windows, Ctrl-C and Ctrl-Break are ignored meanwhile).
//
// On kFailed the old file is as it was, no new file is left, and errno
// holds the system error of the step that failed (on Windows, the nearest
// errno to its Windows error: EACCES for a file denied, or held open by
// another program, ENOSPC for a full disk, EROFS for a protected medium,
// EIO for any other).
SaveResult replaceFile(const char* path, bool (*fill)(int fd));

// A fresh name, ".phonebook-" and eight random letters and digits, for the
// new file in the moment between its completion and its rename: short
// whatever the phone list file is called, and unpredictable enough that a
// name taken meanwhile is rare (a taken name is tried again with the next).
std::string temporaryFileName();

// True for the names that temporaryFileName makes: ".phonebook-" and
// exactly eight lower-case letters or digits.
bool isTemporaryFileName(std::string_view name);

// Removes from the directory that holds `path` (links followed) the
// temporary files that a run of this program killed during its save left
// behind: regular files of this user with names that isTemporaryFileName
// accepts. Never follows a link, and leaves anything else of such a name
// alone. REQUIRES: this run holds the lock of lockDirectoryOf(path), so
// that no other run's save is under way there.
void removeLeftoverFiles(const char* path);

}  // namespace phonebook
