// The phone list file on a POSIX file system (Linux): checked before it is
// read, the directory locked with flock, the new file written unnamed
// (O_TMPFILE), named, synced again and renamed over the old one, and the
// leftovers of a run that died part way removed at the next start.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <string_view>
#include <vector>

#include "store/file_on_disk.h"

namespace phonebook {
namespace {

std::string directoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// False for a symbolic link that someone else planted in a sticky directory
// that anyone may write (such as /tmp): the kernel's protected_symlinks rule,
// kept here too where the kernel does not, so that nobody can point the
// save of another user (root, say) at a file of theirs.
bool mayFollow(const std::string& link, const struct stat& info) {
  struct stat directory;
  if (stat(directoryOf(link).c_str(), &directory) != 0) return false;
  bool openToAll = (directory.st_mode & S_ISVTX) != 0 && (directory.st_mode & S_IWOTH) != 0;
  return !openToAll || info.st_uid == geteuid() || info.st_uid == directory.st_uid;
}

// The file that `path` reaches: symbolic links followed, relative ones from
// the directory of the link. The end of the chain need not exist yet. ""
// with errno set when a link could not be looked at or read, or may not be
// followed (EACCES, as the kernel's own rule says).
std::string followLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info;
    // Only a name that is not there ends the chain: a link that could not
    // be looked at or read is not a file to replace in its place.
    if (lstat(path.c_str(), &info) != 0) return errno == ENOENT ? path : "";
    if (!S_ISLNK(info.st_mode)) return path;
    if (!mayFollow(path, info)) {
      errno = EACCES;
      return "";
    }
    std::string target(static_cast<std::size_t>(info.st_size) + 256, '\0');
    ssize_t length = readlink(path.c_str(), target.data(), target.size());
    if (length < 0) return "";
    if (static_cast<std::size_t>(length) >= target.size()) {
      errno = ENAMETOOLONG;  // it grew since lstat
      return "";
    }
    target.resize(static_cast<std::size_t>(length));
    std::size_t slash = path.rfind('/');
    path = target.front() == '/' || slash == std::string::npos ? target
                                                               : path.substr(0, slash + 1) + target;
  }
  return path;
}

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
    sigset_t drop;
    sigemptyset(&drop);
    for (int signal : kHeld) {
      if (!sigismember(&previous_, signal)) sigaddset(&drop, signal);
    }
    const timespec now{0, 0};
    while (sigtimedwait(&drop, nullptr, &now) > 0 || errno == EINTR) {
    }
    sigprocmask(SIG_SETMASK, &previous_, nullptr);
    errno = error;
  }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  static constexpr int kHeld[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};
  sigset_t previous_;
};

// ---------------------------------------------------------------------------
// Who may use the file.
//
// The new file is made by whoever saves, so it starts out as theirs. What
// the old file said about access is put on it before a byte is written:
// owner (only root may give a file away) and group (a member of the group
// may set it), then extended attributes, then the permission bits, last
// because changing the owner can clear set-id bits. A POSIX ACL is the
// attribute system.posix_acl_access; it is carried over like user.*, and a
// save that cannot carry it fails, since the new file would let other
// people in or keep them out. Attributes of other namespaces (security.*,
// trusted.*) are copied where this user may set them and skipped where not.

constexpr char kAccessAcl[] = "system.posix_acl_access";

bool mustKeep(std::string_view attribute) {
  return attribute == kAccessAcl || attribute.starts_with("user.");
}

// Fills `bytes` with what `get` gives: it is asked for the size first (with
// no buffer), then for the bytes, again if they grew meanwhile (ERANGE).
// False, with errno set, when `get` fails.
template <class Get>
bool fetchSized(std::string& bytes, Get get) {
  for (;;) {
    ssize_t size = get(nullptr, 0);
    if (size < 0) return false;
    bytes.resize(static_cast<std::size_t>(size));
    size = get(bytes.data(), bytes.size());
    if (size >= 0) {
      bytes.resize(static_cast<std::size_t>(size));
      return true;
    }
    if (errno != ERANGE) return false;
  }
}

// The names of the extended attributes of `path`, or false when they could
// not be listed. A file system without them has none.
bool attributeNames(const std::string& path, std::vector<std::string>& names) {
  std::string list;
  if (!fetchSized(list, [&](char* buffer, std::size_t size) {
        return listxattr(path.c_str(), buffer, size);
      })) {
    return errno == ENOTSUP;
  }
  for (std::size_t at = 0; at < list.size();) {
    std::size_t end = list.find('\0', at);
    if (end == std::string::npos) end = list.size();
    names.emplace_back(list, at, end - at);
    at = end + 1;
  }
  return true;
}

bool copyAttribute(const std::string& from, int fd, const std::string& name) {
  std::string value;
  return fetchSized(value,
                    [&](char* buffer, std::size_t size) {
                      return getxattr(from.c_str(), name.c_str(), buffer, size);
                    }) &&
         fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) == 0;
}

bool copyAttributes(const std::string& from, int fd) {
  std::vector<std::string> names;
  if (!attributeNames(from, names)) return false;
  bool hasAcl = false;
  for (const std::string& name : names) {
    hasAcl = hasAcl || name == kAccessAcl;
    if (!copyAttribute(from, fd, name) && mustKeep(name)) return false;
  }
  // A default ACL of the directory gives the new file an ACL of its own;
  // the old file had none, so neither may the new one.
  if (!hasAcl && fremovexattr(fd, kAccessAcl) != 0 && errno != ENODATA && errno != ENOTSUP) {
    return false;
  }
  return true;
}

bool keepAccess(const struct stat& old, const std::string& from, int fd) {
  // The new file's group is the saver's, or the directory's where that is
  // set-group-ID: look at what it got.
  struct stat made;
  if (fstat(fd, &made) != 0) return false;
  if (old.st_uid != made.st_uid || old.st_gid != made.st_gid) {
    // Root gives the file back to its owner; anyone else keeps the group
    // where they may (a member of it), and otherwise the file is theirs.
    uid_t owner = geteuid() == 0 ? old.st_uid : static_cast<uid_t>(-1);
    if (fchown(fd, owner, old.st_gid) != 0 && errno != EPERM) return false;
  }
  return copyAttributes(from, fd) && fchmod(fd, old.st_mode & 07777) == 0;
}

// ---------------------------------------------------------------------------
// The new file.

std::string temporaryPath(const std::string& directory) {
  return directory + "/" + temporaryFileName();
}

constexpr int kNameTries = 100;

// Gives the unnamed file `fd` a fresh temporary name. Through /proc where
// it is mounted; otherwise AT_EMPTY_PATH, which needs privilege.
bool nameFile(int fd, const std::string& directory, std::string& path) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  for (int tries = 0; tries < kNameTries; ++tries) {
    path = temporaryPath(directory);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
        linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) {
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// Where the file system has no unnamed files: a named one, as short-lived.
int createNamed(const std::string& directory, mode_t mode, std::string& path) {
  for (int tries = 0; tries < kNameTries; ++tries) {
    path = temporaryPath(directory);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Writes, syncs and names the new file; returns its temporary name, or ""
// when anything failed (and then nothing is left behind, and errno holds
// the error of the step that failed).
//
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
std::string writeNewFile(const std::string& target, bool (*fill)(int fd)) {
  const std::string directory = directoryOf(target);
  struct stat old;
  bool replacing = stat(target.c_str(), &old) == 0;
  if (!replacing && errno != ENOENT) return "";
  if (replacing && !S_ISREG(old.st_mode)) {
    errno = S_ISDIR(old.st_mode) ? EISDIR : EINVAL;
    return "";
  }
  // The rename needs only the directory, but a file that its user made
  // read-only says that it must not change.
  if (replacing && faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return "";
  // A new phone book is created as any new file would be (umask, default
  // ACL); a replacement starts private and takes on the old file's access.
  mode_t mode = replacing ? 0600 : 0666;
  std::string path;
  int fd = open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  bool unnamed = fd >= 0;
  if (!unnamed && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    fd = createNamed(directory, mode, path);
  }
  if (fd < 0) return "";
  bool whole = (!replacing || keepAccess(old, target, fd)) && fill(fd) && fsync(fd) == 0;
  if (whole && unnamed) whole = nameFile(fd, directory, path) && fsync(fd) == 0;
  int error = errno;
  // close can report a write that failed late (on network file systems).
  if (close(fd) != 0 && whole) {
    whole = false;
    error = errno;
  }
  if (!whole) {
    if (!path.empty()) unlink(path.c_str());
    errno = error;
    return "";
  }
  return path;
}

}  // namespace

OpenedFile openRegularFile(const char* path) {
  // Look before opening: opening a device or a FIFO can block or act.
  struct stat info;
  if (stat(path, &info) != 0) {
    return {errno == ENOENT ? OpenResult::kMissing : OpenResult::kNotOpened, -1};
  }
  if (!S_ISREG(info.st_mode)) return {OpenResult::kNotOpened, -1};
  // The path may have changed since: open without blocking, then look again
  // at what was opened.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return {errno == ENOENT ? OpenResult::kMissing : OpenResult::kNotOpened, -1};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return {OpenResult::kNotOpened, -1};
  }
  return {OpenResult::kOpened, fd};
}

void closeFile(int fd) {
  close(fd);
}

namespace {

FileStamp stampOf(const struct stat& info) {
  return {true, static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
          static_cast<std::uint64_t>(info.st_size),
          static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

}  // namespace

FileStamp stampOfOpenFile(int fd) {
  struct stat info;
  return fstat(fd, &info) == 0 ? stampOf(info) : FileStamp{};
}

FileStamp stampOfFile(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 ? stampOf(info) : FileStamp{};
}

int whyCannotSave(const char* path) {
  const std::string target = followLinks(path);
  if (target.empty()) return EACCES;
  // The new file is made in the directory and renamed there; access()
  // answers EROFS for a file system mounted read-only.
  if (faccessat(AT_FDCWD, directoryOf(target).c_str(), W_OK | X_OK, AT_EACCESS) != 0) return errno;
  struct stat info;
  if (stat(target.c_str(), &info) == 0 &&
      faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
    return errno;
  }
  return 0;
}

LockResult lockDirectoryOf(const char* path) {
  const std::string target = followLinks(path);
  if (target.empty()) return LockResult::kCannotLock;
  int held = open(directoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (held < 0 && errno == EACCES) {
    // A directory that may be written and entered but not read cannot be
    // opened to lock; the phone book in it can be, where it is there. Its
    // lock lasts until this run has saved, so it keeps a second run out
    // just as well.
    OpenedFile file = openRegularFile(target.c_str());
    held = file.fd;
  }
  if (held < 0) return LockResult::kCannotLock;
  if (flock(held, LOCK_EX | LOCK_NB) == 0) {
    // Left open on purpose: the lock lasts as long as the program.
    return LockResult::kLocked;
  }
  bool elsewhere = errno == EWOULDBLOCK;
  close(held);
  return elsewhere ? LockResult::kLockedElsewhere : LockResult::kCannotLock;
}

SaveResult replaceFile(const char* path, bool (*fill)(int fd)) {
  SignalsHeld held;
  // A file size limit must fail the save's write, not kill the program.
  std::signal(SIGXFSZ, SIG_IGN);
  const std::string target = followLinks(path);
  if (target.empty()) return SaveResult::kFailed;
  const std::string temporary = writeNewFile(target, fill);
  if (temporary.empty()) return SaveResult::kFailed;
  if (rename(temporary.c_str(), target.c_str()) != 0) {
    int error = errno;
    unlink(temporary.c_str());
    errno = error;
    return SaveResult::kFailed;
  }
  // From here the save is done; syncing the directory only makes the
  // rename itself survive a power cut.
  int directory = open(directoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return SaveResult::kSavedNotSynced;
  bool synced = fsync(directory) == 0;
  close(directory);
  return synced ? SaveResult::kSaved : SaveResult::kSavedNotSynced;
}

void removeLeftoverFiles(const char* path) {
  const std::string target = followLinks(path);
  if (target.empty()) return;
  int directory = open(directoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return;
  // The listing gets a descriptor of its own; `directory` stays for the
  // look and the removal, so that both are relative to the same directory
  // whatever happens to its path meanwhile.
  int listed = dup(directory);
  DIR* entries = listed < 0 ? nullptr : fdopendir(listed);
  if (entries == nullptr) {
    if (listed >= 0) close(listed);
    close(directory);
    return;
  }
  const uid_t self = geteuid();
  while (const dirent* entry = readdir(entries)) {
    if (!isTemporaryFileName(entry->d_name)) continue;
    // Not following links: a link of that name, or a directory, or another
    // user's file, is not a leftover of this program's.
    struct stat info;
    if (fstatat(directory, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(info.st_mode) && info.st_uid == self) {
      unlinkat(directory, entry->d_name, 0);
    }
  }
  closedir(entries);
  close(directory);
}

}  // namespace phonebook
