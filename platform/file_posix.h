// What the POSIX files of the platform share: the open descriptor, paths,
// and what they ask of the system beyond POSIX (unnamed new files, extended
// attributes, the append-only and immutable flags, and dropping pending
// signals without waiting), which file_linux.cpp gives on Linux and
// file_fallback_posix.cpp, by plain POSIX means or not at all, elsewhere.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <span>
#include <string>

#include "platform/file.h"

namespace phonebook {

// An open descriptor, closed with the object.
class PosixFile final : public File {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override;
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  int descriptor() const { return fd_; }

  // Closes the file now. False, with errno set, when the close reports an
  // error: on network file systems, a write that failed late.
  bool close();

  FileStamp stamp() override;
  std::uint64_t size() override;
  bool rewind() override;

 protected:
  std::ptrdiff_t readSome(char* buffer, std::size_t size) override;
  std::ptrdiff_t writeSome(const char* data, std::size_t size) override;

 private:
  int fd_;
};

// The directory part of `path`: "." for a bare name.
std::string directoryOf(const std::string& path);

// The file that `path` reaches: symbolic links followed, relative ones from
// the directory of the link. The end of the chain need not exist yet. ""
// with errno set when a link could not be looked at or read, or may not be
// followed (EACCES, as the kernel's own rule says: a link that someone
// else planted in a sticky directory that anyone may write).
std::string followLinks(std::string path);

// Opens a new file without a name in `directory`, for writing, with the
// permission bits `mode` (less the umask). -1 with errno set where it
// cannot; EOPNOTSUPP, EISDIR or EINVAL where the file system has no
// unnamed files.
int openUnnamed(const std::string& directory, mode_t mode);

// Gives the unnamed file `fd` a fresh temporary name in `directory`, put in
// `path`. False, with errno set, when none could be given; `path` then
// holds the last name tried.
bool nameUnnamed(int fd, const std::string& directory, std::string& path);

// Puts on the new file `fd` the extended attributes of the file `from`, its
// POSIX ACL among them, and no ACL where `from` has none; never the mark of
// markTemporary. False, with errno set, when one that must be kept (the
// ACL, user.*) could not be.
bool copyAttributes(const std::string& from, int fd);

// Takes from the owning group of the new file `fd` every access that its
// POSIX ACL gives it, for a file whose group is not the old one's. False
// where the file has no ACL (its permission bits then speak for the group)
// or where the ACL could not be changed.
bool denyGroupInAcl(int fd);

// Marks the new file `fd` as a temporary file of this program's, with an
// extended attribute whose value is the file's own number, so that a copy
// of it is not marked. Nothing where the file system has no extended
// attributes, or the mark cannot be set: the save goes on unmarked.
void markTemporary(int fd);

// True where the regular file `path`, whose lstat is `info`, is marked by
// markTemporary as what it is now (not a copy), or where the file system
// has no user extended attributes to mark it with.
bool isMarkedTemporary(const std::string& path, const struct stat& info);

// Takes the mark of markTemporary off the file at `path`, once it is no
// longer temporary. Failing is harmless: the phone list file's name is not
// a temporary one.
void unmarkTemporary(const std::string& path);

// True where the file or directory at `path` is marked append-only or
// immutable (chattr +a, +i): then no file there can be renamed over or
// removed, not even by root. False where it cannot be told.
bool isAppendOnlyOrImmutable(const std::string& path);

// Takes `signals` out of this thread's pending signals, where they are
// pending, without running a handler and without waiting. REQUIRES: they
// are all blocked.
void dropPendingSignals(std::span<const int> signals);

}  // namespace phonebook
