#include "store/phone_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "store/text.h"

namespace phonebook {
namespace {

constexpr std::size_t kIoChunk = 256 * 1024;

// The bytes of a token worth keeping: one more than the larger field holds,
// so that the cut to a field sees the character that straddles its end.
constexpr std::size_t kTokenKeep = kPhoneSize;

// ---------------------------------------------------------------------------
// Loading.
//
// Inserting every record with insertSorted walks the list each time, which
// is quadratic. The loader instead collects the records, sorts them by name
// and links them once, reproducing exactly the order that one-by-one
// insertion gives. Only the order among equal names needs thought:
//
//  - A new record goes in front of the entries of its name, unless the first
//    entry of the list has its name, in which case it goes directly after
//    that first entry.
//  - Only the first record of a name can ever become the first entry, and
//    only when it sorts before every record read until then. It stays first
//    until a record with a smaller name arrives.
//
// So a name's records, in file order, come out reversed, except when the
// first of them became the first entry of the list: then those read while
// it stayed first follow it (reversed), and those read after it lost its
// place precede it (reversed).

// One record waiting to be linked, with the first eight bytes of its name
// as a number, so that most comparisons need not reach the entry.
struct Record {
  std::uint64_t key;
  PhoneEntry* entry;
  std::uint32_t index;  // position among the records of the file
};

std::uint64_t nameKey(const char* name) {
  std::uint64_t key = 0;
  int i = 0;
  for (; i < 8 && name[i] != '\0'; ++i) key = key << 8 | static_cast<unsigned char>(name[i]);
  return key << (8 * (8 - i));
}

// Names hold no zero byte, so equal keys whose last byte is zero mean the
// names ended within the key and are equal; otherwise both go on past it.
int compareRecordNames(const Record& a, const Record& b) {
  if (a.key != b.key) return a.key < b.key ? -1 : 1;
  if ((a.key & 0xFF) == 0) return 0;
  return compareNames(a.entry->name + 8, b.entry->name + 8);
}

class Loader {
 public:
  ~Loader() {
    for (const Record& record : records_) delete record.entry;
  }

  // Takes the next `size` bytes of the file. Returns false when storage ran
  // out.
  bool feed(const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
      unsigned char byte = static_cast<unsigned char>(data[i]);
      if (!isWhiteSpace(byte)) {
        if (tokenLength_ < kTokenKeep) token_[tokenLength_] = static_cast<char>(byte);
        ++tokenLength_;
      } else if (tokenLength_ > 0 && !endToken()) {
        return false;
      }
    }
    return true;
  }

  // Ends the input; a token that the file ends with is complete. Returns
  // false when storage ran out.
  bool finish() { return tokenLength_ == 0 || endToken(); }

  // Links the records into the (empty) phone book in the order that
  // inserting them one by one would give.
  void link();

 private:
  bool endToken();
  bool addRecord(const char* name, const char* phone);

  char token_[kTokenKeep + 1];
  std::size_t tokenLength_ = 0;
  char name_[kTokenKeep + 1];
  bool haveName_ = false;

  std::vector<Record> records_;
  // Indices of the records that became the first entry when inserted.
  std::vector<std::uint32_t> newFirsts_;
  const char* smallest_ = nullptr;
};

bool Loader::endToken() {
  // A zero byte ends the text as it ends a text in the fields.
  token_[std::min(tokenLength_, kTokenKeep)] = '\0';
  tokenLength_ = 0;
  if (!haveName_) {
    std::memcpy(name_, token_, sizeof name_);
    haveName_ = true;
    return true;
  }
  haveName_ = false;
  return addRecord(name_, token_);
}

bool Loader::addRecord(const char* name, const char* phone) {
  // A token that began with a zero byte leaves an empty text, which the
  // file could not carry back: the record is dropped, the pairing kept.
  if (*name == '\0' || *phone == '\0') return true;
  PhoneEntry* entry = newEntry(name, phone);
  if (entry == nullptr) return false;
  std::uint32_t index = static_cast<std::uint32_t>(records_.size());
  try {
    records_.push_back({nameKey(entry->name), entry, index});
    if (smallest_ == nullptr || compareNames(entry->name, smallest_) < 0) {
      newFirsts_.push_back(index);
      smallest_ = entry->name;
    }
  } catch (const std::bad_alloc&) {
    if (records_.empty() || records_.back().entry != entry) delete entry;
    return false;
  }
  return true;
}

void Loader::link() {
  std::sort(records_.begin(), records_.end(), [](const Record& a, const Record& b) {
    int order = compareRecordNames(a, b);
    return order != 0 ? order < 0 : a.index < b.index;
  });

  auto group = records_.begin();
  while (group != records_.end()) {
    auto end = std::find_if(group + 1, records_.end(),
                            [&](const Record& r) { return compareRecordNames(*group, r) != 0; });
    std::uint32_t first = group->index;
    bool becameFirst = std::binary_search(newFirsts_.begin(), newFirsts_.end(), first);
    // In file order the group is [first][while first][after first lost].
    auto lostFirst = end;
    if (becameFirst) {
      auto next = std::upper_bound(newFirsts_.begin(), newFirsts_.end(), first);
      if (next != newFirsts_.end()) {
        lostFirst = std::find_if(group, end, [&](const Record& r) { return r.index > *next; });
      }
    }
    // Reversed: [after, reversed][while, reversed][first] ...
    std::reverse(group, end);
    if (becameFirst) {
      // ... and the first moves in front of those read while it was first.
      std::rotate(group + (end - lostFirst), end - 1, end);
    }
    group = end;
  }

  PhoneEntry* last = nullptr;
  for (auto it = records_.rbegin(); it != records_.rend(); ++it) {
    it->entry->next = last;
    last = it->entry;
  }
  head = last;
  records_.clear();
}

bool readAll(int fd, Loader& loader, bool& readWhole) {
  std::vector<char> chunk(kIoChunk);
  for (;;) {
    ssize_t got = read(fd, chunk.data(), chunk.size());
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      readWhole = false;
      break;
    }
    if (!loader.feed(chunk.data(), static_cast<std::size_t>(got))) return false;
  }
  // A file that failed part way ends where the reading did, as at its end.
  return loader.finish();
}

// ---------------------------------------------------------------------------
// Saving.

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t put = write(fd, data, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

// The file that a write to `path` would reach: symbolic links followed,
// relative ones from the directory of the link. The end of the chain need
// not exist yet.
std::string followLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    std::string target(static_cast<std::size_t>(info.st_size) + 256, '\0');
    ssize_t length = readlink(path.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<std::size_t>(length) >= target.size()) return path;
    target.resize(static_cast<std::size_t>(length));
    std::size_t slash = path.rfind('/');
    path = target.front() == '/' || slash == std::string::npos ? target
                                                               : path.substr(0, slash + 1) + target;
  }
  return path;
}

std::string directoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Keeps Ctrl-C and its kind from ending the program half way through a
// save, which would leave the new file behind; they take effect afterwards.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) sigaddset(&held, signal);
    sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// Writes the new file `fd` whole, with the permission bits of the file it
// replaces, and syncs it.
bool fillNewFile(int fd, const std::string& target) {
  struct stat old;
  if (stat(target.c_str(), &old) == 0) {
    if (fchmod(fd, old.st_mode & 07777) != 0) return false;
    // Only root can give the file back to its owner; others own it already.
    if (old.st_uid != geteuid() || old.st_gid != getegid()) {
      int ignored = fchown(fd, old.st_uid, old.st_gid);
      (void)ignored;
    }
  } else {
    // A new phone book gets the bits any newly created file would.
    mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd, 0666 & ~mask) != 0) return false;
  }
  return writePhoneList(fd) && fsync(fd) == 0;
}

}  // namespace

LoadResult readPhoneList(int fd) {
  try {
    Loader loader;
    bool readWhole = true;
    if (!readAll(fd, loader, readWhole)) return LoadResult::kNoStorage;
    loader.link();
    return readWhole ? LoadResult::kLoaded : LoadResult::kReadFailed;
  } catch (const std::bad_alloc&) {
    return LoadResult::kNoStorage;
  }
}

LoadResult loadPhoneList(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? LoadResult::kMissing : LoadResult::kNotOpened;
  LoadResult result = readPhoneList(fd);
  close(fd);
  return result;
}

bool writePhoneList(int fd) {
  std::vector<char> chunk(kIoChunk);
  std::size_t used = 0;
  for (const PhoneEntry* entry = head; entry != nullptr; entry = entry->next) {
    // name, space, number, CR LF: at most kNameSize + kPhoneSize bytes.
    if (used + kNameSize + kPhoneSize > chunk.size()) {
      if (!writeAll(fd, chunk.data(), used)) return false;
      used = 0;
    }
    std::size_t nameLength = std::strlen(entry->name);
    std::size_t phoneLength = std::strlen(entry->phone);
    char* out = chunk.data() + used;
    std::memcpy(out, entry->name, nameLength);
    out[nameLength] = ' ';
    std::memcpy(out + nameLength + 1, entry->phone, phoneLength);
    std::memcpy(out + nameLength + 1 + phoneLength, "\r\n", 2);
    used += nameLength + phoneLength + 3;
  }
  return writeAll(fd, chunk.data(), used);
}

bool savePhoneList(LoadResult loaded, const char* path) {
  if (loaded != LoadResult::kLoaded && loaded != LoadResult::kMissing) return false;
  std::string target = followLinks(path);
  std::string temporary = target + ".saving-XXXXXX";

  SignalsHeld held;
  int fd = mkstemp(temporary.data());
  if (fd < 0) return false;
  bool written = fillNewFile(fd, target);
  // close can report a write that failed late (on network file systems).
  written = close(fd) == 0 && written;
  if (!written || rename(temporary.c_str(), target.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  // The rename is durable only once the directory is synced.
  int directory = open(directoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return false;
  bool synced = fsync(directory) == 0;
  close(directory);
  return synced;
}

}  // namespace phonebook
