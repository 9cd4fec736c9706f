// Files on a POSIX system: open descriptors, the phone list file checked
// before it is read, the directory locked with flock, and the leftovers of
// a run that died part way through its save removed at the next start. The
// save's own steps are in replace_file_posix.cpp.
#include "platform/file_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <string>

#include "platform/directory.h"
#include "platform/file.h"
#include "platform/replace_file.h"
#include "platform/temporary_name.h"

namespace phonebook {

std::string directoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

namespace {

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

std::int64_t nanoseconds(const timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

FileStamp stampOf(const struct stat& info) {
  FileStamp stamp;
  stamp.exists = true;
  stamp.device = static_cast<std::uint64_t>(info.st_dev);
  stamp.file = static_cast<std::uint64_t>(info.st_ino);
  stamp.size = static_cast<std::uint64_t>(info.st_size);
  stamp.modified = nanoseconds(info.st_mtim);
  stamp.statusChanged = nanoseconds(info.st_ctim);
  return stamp;
}

// What the symbolic link `path`, as lstat found it in `info`, holds; ""
// with errno set where it cannot be read.
std::string linkText(const char* path, const struct stat& info) {
  std::string text(static_cast<std::size_t>(info.st_size) + 256, '\0');
  ssize_t length = readlink(path, text.data(), text.size());
  if (length < 0) return "";
  if (static_cast<std::size_t>(length) >= text.size()) {
    errno = ENAMETOOLONG;  // it grew since lstat
    return "";
  }
  text.resize(static_cast<std::size_t>(length));
  return text;
}

}  // namespace

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
    const std::string target = linkText(path.c_str(), info);
    if (target.empty()) return "";
    std::size_t slash = path.rfind('/');
    path = target.front() == '/' || slash == std::string::npos ? target
                                                               : path.substr(0, slash + 1) + target;
  }
  return path;
}

PosixFile::~PosixFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool PosixFile::close() {
  int fd = fd_;
  fd_ = -1;
  return ::close(fd) == 0;
}

FileStamp PosixFile::stamp() {
  struct stat info;
  return fstat(fd_, &info) == 0 ? stampOf(info) : FileStamp{};
}

std::uint64_t PosixFile::size() {
  struct stat info;
  return fstat(fd_, &info) == 0 && S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size)
                                                         : 0;
}

// Every file is opened at its start.
bool PosixFile::rewind() {
  return lseek(fd_, 0, SEEK_SET) == 0;
}

std::ptrdiff_t PosixFile::readSome(char* buffer, std::size_t size) {
  return ::read(fd_, buffer, size);
}

std::ptrdiff_t PosixFile::writeSome(const char* data, std::size_t size) {
  return ::write(fd_, data, size);
}

namespace {

// As openRegularFile, giving the descriptor, or -1.
int openRegular(const char* path, OpenResult& result) {
  // Look before opening: opening a device or a FIFO can block or act.
  struct stat info;
  if (stat(path, &info) != 0) {
    result = errno == ENOENT ? OpenResult::kMissing : OpenResult::kNotOpened;
    return -1;
  }
  result = OpenResult::kNotOpened;
  if (!S_ISREG(info.st_mode)) return -1;
  // The path may have changed since: open without blocking, then look again
  // at what was opened.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) result = OpenResult::kMissing;
    return -1;
  }
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return -1;
  }
  result = OpenResult::kOpened;
  return fd;
}

}  // namespace

OpenedFile openRegularFile(const char* path) {
  OpenedFile opened{OpenResult::kNotOpened, nullptr};
  int fd = openRegular(path, opened.result);
  if (fd >= 0) opened.file = std::make_unique<PosixFile>(fd);
  return opened;
}

FileStamp stampOfFile(const char* path) {
  struct stat info;
  FileStamp stamp = stat(path, &info) == 0 ? stampOf(info) : FileStamp{};
  if (lstat(path, &info) == 0 && S_ISLNK(info.st_mode)) stamp.link = linkText(path, info);
  return stamp;
}

bool timesMayHideChange(const FileStamp& stamp) {
  constexpr std::int64_t kCoarsestTick = 3 * std::int64_t{1000000000};
  timespec now;
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return true;
  return std::max(stamp.modified, stamp.statusChanged) > nanoseconds(now) - kCoarsestTick;
}

SaveObstacle whyCannotSave(const char* path) {
  using Kind = SaveObstacle::Kind;
  const std::string target = followLinks(path);
  if (target.empty()) return {Kind::kError, EACCES};
  const std::string directory = directoryOf(target);
  // The new file is made in the directory and renamed there; access()
  // answers EROFS for a file system mounted read-only, and EPERM for an
  // immutable directory or file.
  if (faccessat(AT_FDCWD, directory.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    return errno == EPERM ? SaveObstacle{Kind::kUnchangeable} : SaveObstacle{Kind::kError, errno};
  }
  // An append-only directory lets the new file in but not over the old one.
  if (isAppendOnlyOrImmutable(directory)) return {Kind::kUnchangeable};
  struct stat info;
  if (stat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
  if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
    return errno == EPERM ? SaveObstacle{Kind::kUnchangeable} : SaveObstacle{Kind::kError, errno};
  }
  if (isAppendOnlyOrImmutable(target)) return {Kind::kUnchangeable};
  // The rename removes the old file's name, which a sticky directory allows
  // only to the file's owner, the directory's, and root.
  struct stat parent;
  const uid_t self = geteuid();
  if (stat(directory.c_str(), &parent) == 0 && (parent.st_mode & S_ISVTX) != 0 && self != 0 &&
      info.st_uid != self && parent.st_uid != self) {
    return {Kind::kOthersFile};
  }
  return {};
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
    OpenResult ignored;
    held = openRegular(target.c_str(), ignored);
  }
  if (held < 0) return LockResult::kCannotLock;
  // flock, which POSIX lacks but Linux, macOS and the BSDs all have: a
  // POSIX lock (fcntl) that excludes others needs a file open for writing,
  // as a directory cannot be.
  if (flock(held, LOCK_EX | LOCK_NB) == 0) {
    // Left open on purpose: the lock lasts as long as the program.
    return LockResult::kLocked;
  }
  bool elsewhere = errno == EWOULDBLOCK;
  close(held);
  return elsewhere ? LockResult::kLockedElsewhere : LockResult::kCannotLock;
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
    // user's file, or one without the mark (a copy, or a file that a
    // person named so), is not a leftover of this program's.
    struct stat info;
    if (fstatat(directory, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(info.st_mode) && info.st_uid == self &&
        isMarkedTemporary(directoryOf(target) + "/" + entry->d_name, info)) {
      unlinkat(directory, entry->d_name, 0);
    }
  }
  closedir(entries);
  close(directory);
}

}  // namespace phonebook
