// Files, as the phone book needs them of the operating system: an open file
// to read or write, opening the phone list file for reading, keeping a
// second run away from it, and the steps of replacing it whole. No
// descriptor or handle crosses this seam. The store and the start reach
// these functions only through FileSystem (file_system.h), which a test
// can replace.
//
// file_posix.cpp and replace_file_posix.cpp keep these promises on a POSIX
// system, with the Linux-only means in file_linux.cpp and their fallbacks
// elsewhere in file_fallback_posix.cpp; file_windows.cpp and
// replace_file_windows.cpp keep them on Windows. Where a contract below
// names one platform's means, the other's are in its files. file.cpp (the
// one loop of reads and writes), replace_file.cpp (the order of the save's
// steps) and temporary_name.cpp are the same everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace phonebook {

// What tells one state of a file from another: which file it is (device
// and file number), its size, its times of last change, and whether the
// name itself is a symbolic link, and to what. Another program that
// replaces the file, writes to it or puts a link in its place changes its
// stamp, but for one case: a rewrite of the same size within one tick of
// the file system's clock may leave every field as it was (see
// timesMayHideChange).
struct FileStamp {
  bool exists = false;
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // in nanoseconds, or the platform's own unit
  // When the file itself last changed (its content, name or attributes):
  // set by the system, so that no program can set it back as it can the
  // time of modification.
  std::int64_t statusChanged = 0;
  // Where the name itself is a symbolic link, what it leads to, as the
  // terminal names files (on Windows, in CP949); else "".
  std::string link;

  bool operator==(const FileStamp&) const = default;

  // Whether `other` is this same file, whatever became of its content.
  bool sameFile(const FileStamp& other) const {
    return exists && other.exists && device == other.device && file == other.file;
  }
};

// The program reads and writes a file in pieces of this size, through a
// buffer on the stack.
inline constexpr std::size_t kIoChunk = 64 * 1024;

// An open file. Reads and writes go on from where the last one ended. The
// file is closed when the object goes.
class File {
 public:
  virtual ~File() = default;

  // Reads into `buffer` until it holds `size` bytes or the file ends.
  // Returns the bytes read, or -1 with errno set when a read failed.
  std::ptrdiff_t read(char* buffer, std::size_t size);

  // Writes all `size` bytes of `data`. False, with errno set, when a write
  // failed.
  bool write(const char* data, std::size_t size);

  // The file as it stands now; FileStamp{} when it cannot be looked at.
  virtual FileStamp stamp() = 0;

  // The size of the file where it is a regular one, else 0 (not known).
  virtual std::uint64_t size() = 0;

  // Goes back to where the file stood when it was opened, for a second
  // reading. False where it cannot.
  virtual bool rewind() = 0;

 protected:
  // One read or write of the system: it may move fewer bytes than asked,
  // and returns -1 with errno set when it failed (EINTR: try again). A read
  // returns 0 only at the end of the file.
  virtual std::ptrdiff_t readSome(char* buffer, std::size_t size) = 0;
  virtual std::ptrdiff_t writeSome(const char* data, std::size_t size) = 0;
};

enum class OpenResult {
  kOpened,     // `file` is open for reading
  kMissing,    // there is no file: the ordinary first run
  kNotOpened,  // something is there, but not a regular file that could be opened
};

struct OpenedFile {
  OpenResult result;
  std::unique_ptr<File> file;  // open for reading when result is kOpened
};

// Opens `path` for reading when it is, at the end of any chain of symbolic
// links, a regular file. Never blocks and never opens anything else: a
// FIFO, a device, a socket or a directory gives kNotOpened.
OpenedFile openRegularFile(const char* path);

// The stamp of the file at `path`, at the end of any symbolic links, with
// the link that `path` itself is, if it is one; FileStamp{} (but for
// `link`) when there is no file (or it cannot be looked at).
FileStamp stampOfFile(const char* path);

// True when a change made to the file now could leave its times as
// `stamp` holds them: they lie within the coarsest tick of a file system's
// clock (FAT's two seconds, and a second more for the clocks to differ)
// of the present, or after it. A change made later than that moves them.
bool timesMayHideChange(const FileStamp& stamp);

// What stands in the way of a save, as whyCannotSave sees it.
struct SaveObstacle {
  enum class Kind {
    kNone,          // nothing is seen to stand in its way
    kError,         // `error`, an errno value, says what
    kUnchangeable,  // the file or its directory is marked append-only or immutable
    kOthersFile,    // the file is another user's, in a sticky directory that is
                    // not this user's either: it may not be renamed over
  };
  Kind kind = Kind::kNone;
  int error = 0;
};

// Why a save to `path` could not succeed as things stand, or kNone when
// nothing is seen to stand in its way: the directory is not writable for
// this user (EACCES) or is on a file system mounted read-only (EROFS), the
// file is there and this user could not open it for writing (EACCES), or
// either is kept from change as SaveObstacle says, just as replaceFile
// would find.
SaveObstacle whyCannotSave(const char* path);

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

enum class SaveResult {
  kSaved,           // the new file is in place and synced to disk
  kSavedNotSynced,  // in place, but the directory could not be synced: a power
                    // cut soon after could still bring back the old file
  kFailed,          // nothing was changed
  kRefused,         // nothing was changed: the caller's last look said no
};

// The steps of putting a new file in place of an old one, as a platform
// takes them; replaceFile runs them in this order, each once, writing the
// content between create and sync. A step that fails returns false
// (create: nullptr) with errno set to its error; no step follows but
// discard, and not even that after resolve; only a failed putInPlace is
// followed by inPlace first. Abstract so that a test can fail any step.
class SaveTarget {
 public:
  virtual ~SaveTarget() = default;

  // Finds the file that `path` names, links followed, and checks that it
  // may be replaced: it is a regular file that this user could open for
  // writing (root may), or there is none yet.
  virtual bool resolve(const char* path) = 0;

  // Creates the new file in the target's directory, with the access of the
  // old file where there is one. The target owns it.
  virtual File* create() = 0;

  // Puts what was written to the new file on the disk.
  virtual bool sync() = 0;

  // Makes the new file one that stays: it gets its temporary name where it
  // was made without one, and is synced again.
  virtual bool name() = 0;

  // Closes the new file; fails where the close reports a late write error.
  virtual bool close() = 0;

  // Renames the new file over the old one, in one step of the file system.
  virtual bool putInPlace() = 0;

  // Whether the file found at the target now is the new file (the same
  // file, not only the same content). A file system can report an error
  // for a rename that it did (a FUSE or network one that lost the answer);
  // false also where nothing can be found there.
  virtual bool inPlace() = 0;

  // Makes the rename itself survive a power cut.
  virtual bool syncDirectory() = 0;

  // Closes the new file if it is open and removes it if it has a name,
  // whatever step the save had reached.
  virtual void discard() = 0;

  // False once create has made a new file whose group is not the old
  // one's, as happens where this user is not a member of that group: the
  // new file then gives its group no access.
  virtual bool groupKept() const = 0;
};

// The platform's steps for one save. While the object lives, SIGINT,
// SIGQUIT, SIGTERM and SIGHUP wait, and those that came meanwhile are
// dropped when it goes: what the caller does next is what follows a save
// (on Windows, Ctrl-C and Ctrl-Break are ignored meanwhile).
std::unique_ptr<SaveTarget> newSaveTarget();

// Runs the steps of `target` for `path`, with `fill` writing the whole
// content to the new file and returning false, with errno set, when a
// write fails. `mayReplace`, where given, is asked last, when the new file
// is whole and closed, right before it is put in place: false gives
// kRefused. On kFailed and kRefused the new file is discarded and the old
// one is as it was; on kFailed errno holds the error of the step that
// failed. A rename that reported an error counts as done where the new
// file is in place all the same. `groupKept` as below.
using MayReplace = std::function<bool()>;
SaveResult replaceFile(SaveTarget& target, const char* path, bool (*fill)(File&),
                       const MayReplace& mayReplace = nullptr, bool* groupKept = nullptr);

// Writes a new file with `fill` and puts it in place of the file at `path`,
// atomically, following symbolic links so that a link stays a link. Refuses
// a file that this user could not open for writing (root may), as a save
// that opened it to write would, and one in an append-only or immutable
// directory or marked so itself (EPERM). The new file keeps the old one's
// permission bits, its group where this user may set it (and its owner
// where the program runs as root), its POSIX ACL and its user extended
// attributes; where the group cannot be kept, the group that the new file
// got instead is given no access. It is written unnamed where the file
// system allows, so that a run killed part way leaves nothing behind, and
// named only once it is whole and synced, marked as this program's (see
// removeLeftoverFiles) until it is in place. Refuses to replace anything
// but a regular file.
//
// A power cut at any moment during the call leaves the old file or the new
// one whole; once it has returned kSaved, the new one. A run killed during
// it leaves the old file or the new one in place, and at most a temporary
// file beside it (see removeLeftoverFiles): a whole one, or a partial one
// where the file system has no unnamed files. Signals wait as newSaveTarget
// says.
//
// On kFailed errno holds the system error of the step that failed (on
// Windows, the nearest errno to its Windows error: EACCES for a file
// denied, EBUSY for one held open by another program, ENOSPC for a full disk, EROFS
// for a protected medium, EIO for any other).
//
// `groupKept`, where given, is set false when the new file in place could
// not be given the old one's group (SaveTarget::groupKept).
SaveResult replaceFile(const char* path, bool (*fill)(File&),
                       const MayReplace& mayReplace = nullptr, bool* groupKept = nullptr);

}  // namespace phonebook
