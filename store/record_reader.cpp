#include "store/record_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "text/byte_rules.h"
#include "text/encodings.h"

namespace phonebook {
namespace {

// isWhiteSpace as a table, for the token scan.
constexpr auto kSeparators = [] {
  std::array<bool, 256> table{};
  for (int byte = 0; byte < 256; ++byte)
    table[byte] = isWhiteSpace(static_cast<unsigned char>(byte));
  return table;
}();

bool isSeparator(char byte) {
  return kSeparators[static_cast<unsigned char>(byte)];
}

// The end of the token that starts at `at`: the first separator before
// `end`, or `end`. Eight bytes at a time: only a byte below 0x21 can be
// white space, and a word without one is passed whole. Sets `control` where
// the token holds a byte below 0x20, as a zero byte is.
const char* tokenEnd(const char* at, const char* end, bool& control) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kHighs = 0x8080808080808080;
  // The first byte in memory must be the lowest of the word, for a borrow
  // runs only towards higher bytes, that is later ones.
  if constexpr (std::endian::native == std::endian::little) {
    while (end - at >= 8) {
      std::uint64_t word;
      std::memcpy(&word, at, 8);
      // The high bit of the first byte below 0x21 is set, and none before it.
      std::uint64_t low = (word - kOnes * 0x21) & ~word & kHighs;
      if (low == 0) {
        at += 8;
        continue;
      }
      at += std::countr_zero(low) / 8;
      if (isSeparator(*at)) return at;
      control = true;  // a control byte, which is part of the token
      ++at;
    }
  }
  for (; at < end && !isSeparator(*at); ++at) control |= static_cast<unsigned char>(*at) < 0x20;
  return at;
}

}  // namespace

void RecordReader::restart() {
  texts_.truncate(0);
  tokenLength_ = 0;
  haveName_ = false;
  records_ = 0;
  line_ = 1;
  endsLine_ = true;
  lost_.clear();
}

void RecordReader::feed(const char* data, std::size_t size) {
  const char* end = data + size;
  const char* at = data;
  while (at < end) {
    const char* start = at;
    bool control = false;
    at = tokenEnd(at, end, control);
    std::size_t length = static_cast<std::size_t>(at - start);
    if (tokenLength_ > 0 || at == end) {
      gather(start, length);
      if (at == end) break;
      endGathered();
    } else if (length > 0) {
      endToken({start, std::min(length, kTokenKeep)}, control);
    }
    for (; at < end && isSeparator(*at); ++at) line_ += *at == '\n';
  }
  if (size > 0) endsLine_ = end[-1] == '\n';
  fileLeft_ -= std::min(fileLeft_, size);
}

void RecordReader::finish() {
  if (tokenLength_ > 0) endGathered();
  if (haveName_) texts_.truncate(recordStart_);
  haveName_ = false;
}

void RecordReader::gather(const char* bytes, std::size_t size) {
  if (tokenLength_ < kTokenKeep) {
    std::memcpy(token_ + tokenLength_, bytes, std::min(size, kTokenKeep - tokenLength_));
  }
  tokenLength_ += size;
}

void RecordReader::endGathered() {
  endToken({token_, std::min(tokenLength_, kTokenKeep)}, true);
  tokenLength_ = 0;
}

inline void RecordReader::endToken(std::string_view token, bool control) {
  if (!haveName_) {
    recordStart_ = texts_.size();
    recordLine_ = line_;
    recordLost_ = 0;
  }
  char kept[kTokenKeep];
  std::size_t field = haveName_ ? kPhoneSize : kNameSize;
  // Room for a whole field after the last text, which the loader copies.
  if (control || token.size() >= field ||
      texts_.size() + 1 + token.size() + kPhoneSize > texts_.room()) {
    token = prepared(token, field, kept);
  }
  texts_.append(static_cast<char>(token.size()));
  texts_.append(token);
  if (!haveName_) {
    haveName_ = true;
    return;
  }
  haveName_ = false;
  ++records_;
  if (recordLost_ != 0) lost_.push_back({recordStart_, recordLine_, recordLost_});
}

std::string_view RecordReader::prepared(std::string_view token, std::size_t field, char* kept) {
  if (token.size() >= field) token = token.substr(0, cp949FitLength(token, field - 1));
  // A character that was lost (or a zero byte, which no entry can hold) is
  // kept as "?", and its record marked.
  if (std::memchr(token.data(), kLostCharacter, token.size()) != nullptr) {
    std::replace_copy(token.begin(), token.end(), kept, kLostCharacter, '?');
    token = {kept, token.size()};
    recordLost_ |= haveName_ ? kPhoneLost : kNameLost;
  }
  makeRoom(texts_.size() + 1 + token.size() + kPhoneSize);
  return token;
}

// The room for the packed texts grows with the records, never with the
// size of the file: a file of white space, or of one endless token, costs
// nothing. The room doubles, but never past what the rest of the file could
// still add (a token packs into no more bytes than it takes in the file with
// its separator), so a file of records ends up packed into about its own
// size, as if that had been reserved at once.
void RecordReader::makeRoom(std::size_t needed) {
  constexpr std::size_t kFirstRoom = 4096;
  if (needed <= texts_.room()) return;
  std::size_t room = std::max(2 * texts_.room(), kFirstRoom);
  // Plus one for a last token without a separator.
  if (fileLeft_ > 0) room = std::min(room, needed + fileLeft_ + 1);
  texts_.reserve(std::max(room, needed));
}

}  // namespace phonebook
