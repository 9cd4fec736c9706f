// The records of the phone list file as they are read: the text is cut
// into tokens at white space, the tokens are paired into name and number,
// each is cut to its field, and the pairs are packed one after another, in
// file order. A token is a run of bytes without white space; a lone last
// token is ignored. A zero byte (kLostCharacter), which no entry can hold,
// is kept as "?" and its record remembered as one that lost a character.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "platform/memory.h"
#include "store/phone_list.h"

namespace phonebook {

// The bytes of a token worth keeping: one more than the larger field holds,
// so that the cut to a field sees the character that straddles its end.
inline constexpr std::size_t kTokenKeep = kPhoneSize;

// A text in the packed copy: a length byte, then the bytes.
struct PackedText {
  const unsigned char* bytes;
  std::size_t length;
};

inline PackedText textAt(const char* at) {
  return {reinterpret_cast<const unsigned char*>(at) + 1, static_cast<unsigned char>(*at)};
}

// A record whose texts hold a "?" for a lost character: where it starts
// in the packed texts, its line in the file, and which texts (LostTexts).
struct LostRecord {
  std::size_t offset;
  std::size_t line;
  unsigned texts;
};

class RecordReader {
 public:
  // Tells how many bytes the input can still bring at most (the rest of the
  // file), so that the packed texts need not grow past what it can add.
  void expect(std::size_t size) { fileLeft_ = size; }

  // Forgets every record, to take the file again from its start. The room
  // already made is kept.
  void restart();

  // Takes the next `size` bytes of the file. A token that lies within them
  // is taken where it lies; only one that runs on from one piece into the
  // next is gathered in token_.
  void feed(const char* data, std::size_t size);

  // Ends the input: a token that the file ends with is complete, and a name
  // left without a number is dropped.
  void finish();

  // name, number, name, number, ...: each a length byte and the bytes,
  // with room for a whole field after the last text.
  const PopulatedBytes& texts() const { return texts_; }

  // The lines of the input so far: its line feeds, and one more where it
  // goes on past the last.
  std::size_t lines() const { return line_ - endsLine_; }

  // How many records the texts hold.
  std::size_t count() const { return records_; }

  // The records that lost a character, in file order.
  const std::vector<LostRecord>& lost() const { return lost_; }

 private:
  // Adds `size` bytes to the token gathered in token_, keeping what fits.
  void gather(const char* bytes, std::size_t size);
  void endGathered();
  // Takes a whole token, of which at most kTokenKeep bytes are kept; it may
  // hold a zero byte only where `control` is set. The usual token, which
  // fits its field, lost nothing and has room, goes straight in.
  void endToken(std::string_view token, bool control);
  // The token cut to its field, with "?" for a zero byte (in `kept`), and
  // room for it.
  std::string_view prepared(std::string_view token, std::size_t field, char* kept);
  void makeRoom(std::size_t needed);

  char token_[kTokenKeep];
  std::size_t tokenLength_ = 0;
  bool haveName_ = false;
  std::size_t recordStart_ = 0;
  std::size_t recordLine_ = 0;
  unsigned recordLost_ = 0;  // LostTexts of the record being read
  std::size_t line_ = 1;     // the line of the file that the input has reached
  bool endsLine_ = true;     // the input ends with a line feed, or is empty
  std::vector<LostRecord> lost_;
  std::size_t records_ = 0;
  std::size_t fileLeft_ = 0;  // bytes of the file not yet fed, where known

  PopulatedBytes texts_;
};

}  // namespace phonebook
