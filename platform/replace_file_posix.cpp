// The save's steps on a POSIX system: the new file written unnamed where
// the system and the file system allow (file_linux.cpp), else named from
// the start, given the old file's access, synced, named, synced again and
// renamed over the old one, and the directory synced; interrupts held
// meanwhile.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iterator>
#include <span>
#include <string>

#include "platform/file.h"
#include "platform/file_posix.h"
#include "platform/replace_file.h"
#include "platform/temporary_name.h"

namespace phonebook {
namespace {

// Keeps Ctrl-C and its kind waiting while the save runs, and then drops
// what came meanwhile, so that the save ends as a save ends: by then the
// new file may be in place, and a run ended by the signal would tell the
// user that nothing was written.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal : kHeld) sigaddset(&held, signal);
    sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~SignalsHeld() {
    int error = errno;
    // Only what this object blocked: a signal that the caller itself held
    // stays pending for it.
    int drop[std::size(kHeld)];
    std::size_t count = 0;
    for (int signal : kHeld) {
      if (!sigismember(&previous_, signal)) drop[count++] = signal;
    }
    dropPendingSignals(std::span<const int>(drop, count));
    sigprocmask(SIG_SETMASK, &previous_, nullptr);
    errno = error;
  }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  static constexpr int kHeld[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};
  sigset_t previous_;
};

// The new file is made by whoever saves, so it starts out as theirs. What
// the old file said about access is put on it before a byte is written:
// owner (only root may give a file away) and group (a member of the group
// may set it), then extended attributes, then the permission bits, last
// because changing the owner can clear set-id bits. `groupKept` tells
// whether the new file has the old one's group.
bool keepAccess(const struct stat& old, const std::string& from, int fd, bool& groupKept) {
  // The new file's group is the saver's, or the directory's where that is
  // set-group-ID: look at what it got.
  struct stat made;
  if (fstat(fd, &made) != 0) return false;
  groupKept = true;
  if (old.st_uid != made.st_uid || old.st_gid != made.st_gid) {
    // Root gives the file back to its owner; anyone else keeps the group
    // where they may (a member of it), and otherwise the file is theirs.
    uid_t owner = geteuid() == 0 ? old.st_uid : static_cast<uid_t>(-1);
    if (fchown(fd, owner, old.st_gid) != 0) {
      if (errno != EPERM) return false;
      groupKept = made.st_gid == old.st_gid;
    }
  }
  if (!copyAttributes(from, fd)) return false;
  mode_t mode = old.st_mode & 07777;
  // What the old group might do is not for another group to take over:
  // the new one gets nothing, through the ACL where the file has one (its
  // group bits are then the ACL's mask, which named users and groups
  // still need), else through the permission bits.
  if (!groupKept && !denyGroupInAcl(fd)) mode &= ~mode_t{070};
  return fchmod(fd, mode) == 0;
}

// The save's steps by POSIX calls, with those of file_posix.h that only
// Linux has or that fall back elsewhere; the signals are held for as long
// as the object lives.
class PosixSaveTarget final : public SaveTarget {
 public:
  // A file size limit must fail the save's write, not kill the program.
  PosixSaveTarget() { std::signal(SIGXFSZ, SIG_IGN); }

  bool resolve(const char* path) override {
    target_ = followLinks(path);
    if (target_.empty()) return false;
    directory_ = directoryOf(target_);
    // An append-only directory would let the new file in but keep it
    // there: neither the rename nor the removal could take its name away.
    if (isAppendOnlyOrImmutable(directory_)) {
      errno = EPERM;
      return false;
    }
    replacing_ = stat(target_.c_str(), &old_) == 0;
    if (!replacing_) return errno == ENOENT;
    if (!S_ISREG(old_.st_mode)) {
      errno = S_ISDIR(old_.st_mode) ? EISDIR : EINVAL;
      return false;
    }
    // The rename needs only the directory, but a file that its user made
    // read-only, or marked append-only, says that it must not change.
    if (faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) return false;
    if (isAppendOnlyOrImmutable(target_)) {
      errno = EPERM;
      return false;
    }
    return true;
  }

  File* create() override {
    // A new phone book is created as any new file would be (umask, default
    // ACL); a replacement starts private and takes on the old file's access.
    mode_t mode = replacing_ ? 0600 : 0666;
    int fd = openUnnamed(directory_, mode);
    unnamed_ = fd >= 0;
    if (!unnamed_ && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
      // Where the file system has no unnamed files: a named one, as
      // short-lived.
      tryTemporaryNames([&](const std::string& name) {
        const std::string path = directory_ + "/" + name;
        fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) path_ = path;
        return fd >= 0 ? NameTry::kMade : errno == EEXIST ? NameTry::kTaken : NameTry::kFailed;
      });
    }
    if (fd < 0) return nullptr;
    file_ = std::make_unique<PosixFile>(fd);
    // Before it can have a name that the next start would look at.
    markTemporary(fd);
    made_ = file_->stamp();
    if (replacing_ && !keepAccess(old_, target_, fd, groupKept_)) return nullptr;
    return file_.get();
  }

  bool sync() override { return fsync(file_->descriptor()) == 0; }

  // The unnamed file is synced twice: once whole, before it is named, and once
  // more after linkat has named it. The first sync writes its data and an inode
  // that no directory yet names; linkat then raises the inode's link count in
  // memory only. On ext4 without a journal nothing else writes that count before
  // the rename and the directory's sync put the new name on disk, and a power cut
  // in the following seconds leaves a directory entry for an inode that the disk
  // still counts as unlinked: e2fsck then drops PhoneList.txt, so that neither
  // the new book nor the old one is left in its place. The second sync writes the
  // count before the rename can make the name matter. It costs little, as only
  // the inode is written: the data is on disk already. A named temporary file
  // would avoid it, but would be left behind, partly written, by a run killed
  // during the write; the unnamed one leaves nothing until it is whole.
  bool name() override {
    return !unnamed_ ||
           (nameUnnamed(file_->descriptor(), directory_, path_) && fsync(file_->descriptor()) == 0);
  }

  bool close() override {
    bool closed = file_->close();
    file_.reset();
    return closed;
  }

  bool putInPlace() override {
    if (rename(path_.c_str(), target_.c_str()) != 0) return false;
    unmarkTemporary(target_);
    return true;
  }

  bool groupKept() const override { return groupKept_; }

  bool inPlace() override { return made_.sameFile(stampOfFile(target_.c_str())); }

  bool syncDirectory() override {
    int directory = open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) return false;
    bool synced = fsync(directory) == 0;
    ::close(directory);
    return synced;
  }

  void discard() override {
    file_.reset();
    if (!path_.empty()) unlink(path_.c_str());
  }

 private:
  SignalsHeld held_;  // first, so that it is let go last
  std::string target_;
  std::string directory_;
  bool replacing_ = false;
  struct stat old_ {};
  bool unnamed_ = false;
  bool groupKept_ = true;
  std::string path_;  // the new file's name, once it has one
  FileStamp made_;    // the new file, as it was made
  std::unique_ptr<PosixFile> file_;
};

}  // namespace

std::unique_ptr<SaveTarget> newSaveTarget() {
  return std::make_unique<PosixSaveTarget>();
}

}  // namespace phonebook
