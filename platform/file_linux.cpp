// The Linux-only means of the save: the new file written unnamed
// (O_TMPFILE) and named through /proc once whole, the extended attributes
// and POSIX ACL of the old file carried over to it, the mark that tells a
// temporary file of this program's from a file that a person made, the
// append-only and immutable flags that no save can get past, and pending
// signals dropped with sigtimedwait.
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_posix.h"
#include "platform/temporary_name.h"

namespace phonebook {
namespace {

// ---------------------------------------------------------------------------
// Extended attributes.
//
// A POSIX ACL is the attribute system.posix_acl_access; it is carried over
// like user.*, and a save that cannot carry it fails, since the new file
// would let other people in or keep them out. Attributes of other
// namespaces (security.*, trusted.*) are copied where this user may set
// them and skipped where not.

constexpr char kAccessAcl[] = "system.posix_acl_access";

// The mark of a temporary file; its value is the file's number in decimal.
constexpr char kTemporaryMark[] = "user.phonebook.temporary";

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

}  // namespace

bool copyAttributes(const std::string& from, int fd) {
  std::vector<std::string> names;
  if (!attributeNames(from, names)) return false;
  bool hasAcl = false;
  for (const std::string& name : names) {
    // A mark left on the old file by a run killed just after its rename is
    // not the new file's.
    if (name == kTemporaryMark) continue;
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

// A POSIX ACL as the attribute holds it: a 4-byte version, then entries of
// a 2-byte tag, 2-byte permissions and a 4-byte id, all little-endian.
constexpr std::size_t kAclHeaderSize = 4;
constexpr std::size_t kAclEntrySize = 8;
constexpr unsigned kAclGroupObject = 0x04;  // the tag of the owning group's entry

bool denyGroupInAcl(int fd) {
  std::string acl;
  if (!fetchSized(acl, [&](char* buffer, std::size_t size) {
        return fgetxattr(fd, kAccessAcl, buffer, size);
      })) {
    return false;
  }
  for (std::size_t at = kAclHeaderSize; at + kAclEntrySize <= acl.size(); at += kAclEntrySize) {
    unsigned tag = static_cast<unsigned char>(acl[at]) | static_cast<unsigned char>(acl[at + 1])
                                                             << 8;
    if (tag == kAclGroupObject) acl[at + 2] = acl[at + 3] = '\0';
  }
  return fsetxattr(fd, kAccessAcl, acl.data(), acl.size(), 0) == 0;
}

// ---------------------------------------------------------------------------
// The mark of temporary files. Its value ties it to the file's number, so
// that a copy (cp -a carries extended attributes) is a file of its own.

void markTemporary(int fd) {
  struct stat info;
  if (fstat(fd, &info) != 0) return;
  const std::string number = std::to_string(info.st_ino);
  fsetxattr(fd, kTemporaryMark, number.data(), number.size(), 0);
}

bool isMarkedTemporary(const std::string& path, const struct stat& info) {
  std::string value;
  if (!fetchSized(value, [&](char* buffer, std::size_t size) {
        return lgetxattr(path.c_str(), kTemporaryMark, buffer, size);
      })) {
    // No user extended attributes here, so no mark either: the name alone.
    return errno == ENOTSUP;
  }
  return value == std::to_string(info.st_ino);
}

void unmarkTemporary(const std::string& path) {
  lremovexattr(path.c_str(), kTemporaryMark);
}

// ---------------------------------------------------------------------------
// The append-only and immutable flags.

bool isAppendOnlyOrImmutable(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool marked =
      ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
  close(fd);
  return marked;
}

// ---------------------------------------------------------------------------
// Unnamed files.

int openUnnamed(const std::string& directory, mode_t mode) {
  return open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
}

// Through /proc where it is mounted; otherwise AT_EMPTY_PATH, which needs
// privilege.
bool nameUnnamed(int fd, const std::string& directory, std::string& path) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return tryTemporaryNames([&](const std::string& name) {
           path = directory + "/" + name;
           int made = linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW);
           // Only where /proc is missing: after any other error the first
           // call may have made the name all the same, and a second would
           // find it taken and leave it behind, as a link to the new book.
           if (made != 0 && errno == ENOENT) {
             made = linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH);
           }
           if (made == 0) return NameTry::kMade;
           return errno == EEXIST ? NameTry::kTaken : NameTry::kFailed;
         }) == NameTry::kMade;
}

// ---------------------------------------------------------------------------
// Pending signals, taken without waiting for one.

void dropPendingSignals(std::span<const int> signals) {
  sigset_t drop;
  sigemptyset(&drop);
  for (int signal : signals) sigaddset(&drop, signal);
  const timespec now{0, 0};
  while (sigtimedwait(&drop, nullptr, &now) > 0 || errno == EINTR) {
  }
}

}  // namespace phonebook
