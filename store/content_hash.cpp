#include "store/content_hash.h"

#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <random>

namespace phonebook {
namespace {

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87u;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Fu;
constexpr std::uint64_t kPrime3 = 0x165667B19E3779F9u;

std::uint64_t seedOfRun() {
  static const std::uint64_t seed = [] {
    std::random_device random;
    return std::uint64_t{random()} << 32 | random();
  }();
  return seed;
}

std::uint64_t wordAt(const unsigned char* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

std::uint64_t round(std::uint64_t lane, std::uint64_t word) {
  return std::rotl(lane + word * kPrime2, 31) * kPrime1;
}

}  // namespace

ContentHash::ContentHash() {
  const std::uint64_t seed = seedOfRun();
  lanes_[0] = seed + kPrime1 + kPrime2;
  lanes_[1] = seed + kPrime2;
  lanes_[2] = seed;
  lanes_[3] = seed - kPrime1;
}

void ContentHash::addStripe(const unsigned char* stripe) {
  for (int lane = 0; lane < 4; ++lane)
    lanes_[lane] = round(lanes_[lane], wordAt(stripe + 8 * lane));
}

void ContentHash::add(const char* data, std::size_t size) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  total_ += size;
  if (pendingSize_ > 0) {
    std::size_t taken = std::min(size, kStripe - pendingSize_);
    std::memcpy(pending_ + pendingSize_, bytes, taken);
    pendingSize_ += taken;
    bytes += taken;
    size -= taken;
    if (pendingSize_ < kStripe) return;
    addStripe(pending_);
    pendingSize_ = 0;
  }
  for (; size >= kStripe; bytes += kStripe, size -= kStripe) addStripe(bytes);
  std::memcpy(pending_, bytes, size);
  pendingSize_ = size;
}

std::uint64_t ContentHash::value() const {
  std::uint64_t hash = std::rotl(lanes_[0], 1) + std::rotl(lanes_[1], 7) +
                       std::rotl(lanes_[2], 12) + std::rotl(lanes_[3], 18);
  for (std::uint64_t lane : lanes_) hash = (hash ^ round(0, lane)) * kPrime1 + kPrime3;
  hash += total_;
  // The bytes of a last stripe that is not whole, one at a time.
  for (std::size_t i = 0; i < pendingSize_; ++i) {
    hash = std::rotl(hash ^ (pending_[i] * kPrime3), 11) * kPrime1;
  }
  hash ^= hash >> 33;
  hash *= kPrime2;
  hash ^= hash >> 29;
  return hash;
}

bool HashingFile::rewind() {
  hash_ = ContentHash();
  return file_.rewind();
}

std::ptrdiff_t HashingFile::readSome(char* buffer, std::size_t size) {
  std::ptrdiff_t got = file_.read(buffer, size);
  if (got > 0) hash_.add(buffer, static_cast<std::size_t>(got));
  return got;
}

// Only ever read.
std::ptrdiff_t HashingFile::writeSome(const char*, std::size_t) {
  errno = EBADF;
  return -1;
}

bool hashOfFile(FileSystem& files, const char* path, std::uint64_t& hash) {
  OpenedFile opened = files.openRegularFile(path);
  if (opened.result != OpenResult::kOpened) return false;
  ContentHash content;
  std::array<char, kIoChunk> chunk;
  for (;;) {
    std::ptrdiff_t got = opened.file->read(chunk.data(), chunk.size());
    if (got < 0) return false;
    if (got == 0) break;
    content.add(chunk.data(), static_cast<std::size_t>(got));
  }
  hash = content.value();
  return true;
}

}  // namespace phonebook
