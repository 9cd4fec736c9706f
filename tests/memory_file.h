// A File held in memory, for the tests and the fuzz targets: it reads and
// writes a string, and can be made to move few bytes at a time, to be
// interrupted, or to fail its reads or writes, as a disk or a pipe would.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "platform/file.h"

namespace phonebook::testing {

class MemoryFile final : public File {
 public:
  explicit MemoryFile(std::string content = "") : content_(std::move(content)) {}

  // All that the file holds.
  const std::string& content() const { return content_; }

  std::size_t piece = static_cast<std::size_t>(-1);  // the most one call moves
  bool interrupted = false;  // every other call fails with EINTR, first one first
  int writeError = 0;        // errno of every write, none when 0
  std::size_t readable = static_cast<std::size_t>(-1);  // bytes read before reads fail (EIO)

  FileStamp stamp() override {
    FileStamp stamp;
    stamp.exists = true;
    stamp.size = content_.size();
    return stamp;
  }
  std::uint64_t size() override { return content_.size(); }
  bool rewind() override {
    at_ = 0;
    return true;
  }

 protected:
  std::ptrdiff_t readSome(char* buffer, std::size_t size) override {
    if (interrupt()) return -1;
    if (at_ >= readable) {
      errno = EIO;
      return -1;
    }
    std::size_t got = std::min({size, piece, content_.size() - at_, readable - at_});
    std::memcpy(buffer, content_.data() + at_, got);
    at_ += got;
    return static_cast<std::ptrdiff_t>(got);
  }
  std::ptrdiff_t writeSome(const char* data, std::size_t size) override {
    if (writeError != 0) {
      errno = writeError;
      return -1;
    }
    if (interrupt()) return -1;
    std::size_t put = std::min(size, piece);
    content_.replace(at_, std::min(put, content_.size() - at_), data, put);
    at_ += put;
    return static_cast<std::ptrdiff_t>(put);
  }

 private:
  bool interrupt() {
    if (!interrupted) return false;
    nextInterrupted_ = !nextInterrupted_;
    if (nextInterrupted_) errno = EINTR;
    return nextInterrupted_;
  }

  std::string content_;
  std::size_t at_ = 0;
  bool nextInterrupted_ = false;
};

}  // namespace phonebook::testing
