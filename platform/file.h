// Files, as the phone book needs them of the operating system: an open file
// to read or write, opening the phone list file for reading, and telling
// one state of it from another. Keeping a second run away from it is in
// directory.h, replacing it whole in replace_file.h. No descriptor or
// handle crosses this seam. The store and the start reach these functions
// only through FileSystem (file_system.h), which a test can replace.
//
// file_posix.cpp keeps these promises on a POSIX system, with the
// Linux-only means in file_linux.cpp and their fallbacks elsewhere in
// file_fallback_posix.cpp; file_windows.cpp keeps them on Windows. Where a
// contract names one platform's means, the other's are in its files.
// file.cpp (the one loop of reads and writes) is the same everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
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

}  // namespace phonebook
