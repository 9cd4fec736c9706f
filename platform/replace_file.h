// Replacing the phone list file whole: what could stand in the way of a
// save, and the save's steps, which replaceFile runs in their order.
// replace_file_posix.cpp keeps these promises on a POSIX system (with
// file_linux.cpp's means on Linux and file_fallback_posix.cpp's elsewhere),
// replace_file_windows.cpp on Windows; replace_file.cpp (the order of the
// steps) and temporary_name.cpp are the same everywhere.
#pragma once

#include <functional>
#include <memory>

#include "platform/file.h"

namespace phonebook {

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
