#include "store/record_reader.h"

#include "text/encodings.h"

namespace phonebook {

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
