// A hash of a file's bytes, taken while the load reads them, so that the
// save can tell a change that the file's stamp does not show: a rewrite of
// the same size within one tick of the file system's clock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/file.h"
#include "platform/file_system.h"

namespace phonebook {

// A 64-bit hash of a stream of bytes that arrive in pieces of any size: the
// same bytes give the same value however they are cut. Four lanes take
// eight bytes each per round, each multiplied and rotated (the round of
// xxHash64), so that a hash costs far less than the read it rides on. Not a
// defence against a crafted collision; the seed is chosen at random once a
// run, so that no file can be made in advance to collide with another.
class ContentHash {
 public:
  ContentHash();

  void add(const char* data, std::size_t size);

  // The hash of every byte added so far.
  std::uint64_t value() const;

 private:
  static constexpr std::size_t kStripe = 32;

  void addStripe(const unsigned char* stripe);

  std::uint64_t lanes_[4];
  std::uint64_t total_ = 0;              // bytes added
  unsigned char pending_[kStripe] = {};  // the start of a stripe not yet whole
  std::size_t pendingSize_ = 0;
};

// A File that reads `file` and hashes what it reads. Going back to the
// start for a second reading starts the hash anew.
class HashingFile final : public File {
 public:
  explicit HashingFile(File& file) : file_(file) {}

  std::uint64_t hash() const { return hash_.value(); }

  FileStamp stamp() override { return file_.stamp(); }
  std::uint64_t size() override { return file_.size(); }
  bool rewind() override;

 protected:
  std::ptrdiff_t readSome(char* buffer, std::size_t size) override;
  std::ptrdiff_t writeSome(const char* data, std::size_t size) override;

 private:
  File& file_;
  ContentHash hash_;
};

// The hash of the whole of the file at `path` in `files`, as ContentHash
// gives it; false when it could not be opened and read to its end.
bool hashOfFile(FileSystem& files, const char* path, std::uint64_t& hash);

}  // namespace phonebook
