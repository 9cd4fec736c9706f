// Telling the encoding of a phone list file: a byte order mark, UTF-16
// without one, or UTF-8 that an editor saved; anything else is CP949.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text/byte_rules.h"
#include "text/encodings.h"

namespace phonebook {

// The encoding that the first bytes of a file declare with a byte order
// mark, and the mark's length: EF BB BF is UTF-8, FF FE UTF-16 little endian
// and FE FF big endian, FF FE 00 00 UTF-32 little endian and 00 00 FE FF big
// endian. No valid CP949 text begins with FF, with FE FF or with a zero
// byte. kCp949 and 0 when `start` begins with no mark.
struct EncodingMark {
  FileEncoding encoding;
  std::size_t length;
};
EncodingMark encodingMark(std::string_view start);

// How much of the start of a file unmarkedUtf16 is given to look at: as
// much as the file holds, up to this size.
inline constexpr std::size_t kEncodingSample = 64 * 1024;

// kUtf16Le or kUtf16Be when `start`, the first bytes of a file without a
// mark, is UTF-16 of that byte order; kCp949 otherwise. A CP949 or UTF-8
// text holds no zero byte, while in UTF-16 every character of ASCII (the
// spaces, line breaks and digits of a phone book) is a unit with a zero high
// byte. So `start` counts as UTF-16 when a white space character is such a
// unit, and at least one unit in eight is an ASCII character, each of a
// byte order that the other order's units do not outnumber. A stray zero
// byte in a CP949 file (`B\0C 2`) is no such text.
FileEncoding unmarkedUtf16(std::string_view start);

// Follows a text given piece by piece and tells, at its end, whether it is
// UTF-8. It is when it holds a valid character of three bytes or more
// (Hangul is three) and its lines that hold an invalid sequence (an
// editor's slip, a byte cut off) are few: at most one in a hundred of its
// lines, and at most one for each hundred characters of three bytes or more
// on its valid lines. A text without an invalid sequence needs just one such
// character.
//
// No CP949 Hangul of the common range can pass as valid UTF-8: its lead
// bytes 0xB0..0xC8 either cannot start a UTF-8 character or start one of
// two bytes. A CP949 character forms part of a valid one of three bytes
// only where a Hanja of lead byte 0xE0..0xEF is directly followed by certain
// Hangul or symbols, and the next byte of that line then almost always
// breaks the rules: such a character rarely counts. So a CP949 file passes
// only where, besides, no other character of it breaks them.
//
// The rest of a line with an invalid sequence is passed at once, so that a
// CP949 file pays little for the question.
class Utf8Detector {
 public:
  void feed(std::string_view piece);

  // Takes a piece of whole characters that convertUtf8ByTable converted,
  // so valid UTF-8, instead of feeding it; `wide` as it counted.
  void passConverted(std::string_view piece, std::size_t wide);

  // Whether the text fed is UTF-8, given that it has `lines` lines (its line
  // feeds, and one more where it goes on past the last).
  bool isUtf8(std::size_t lines) const;

  // Whether the text fed could still be UTF-8, whatever the `lines` lines it
  // has so far and the `left` bytes that may follow bring.
  bool mayBeUtf8(std::size_t lines, std::size_t left) const;

  // Whether what was fed so far holds few enough invalid lines for its
  // characters of three bytes or more: the guess, at the first piece past
  // ASCII, that the rest of the text will not change that.
  bool looksUtf8() const { return invalidLines_ * kValidPerInvalid <= wide_ + lineWide_; }

 private:
  // Valid characters of three bytes or more, and lines, that one line with
  // an invalid sequence needs beside it.
  static constexpr std::size_t kValidPerInvalid = 100;

  // The line being read holds an invalid sequence: its characters do not
  // count, nor does anything more of it.
  void invalid() {
    ++invalidLines_;
    lineInvalid_ = true;
    lineWide_ = 0;
    cutLength_ = 0;
  }
  // Takes the valid character at the start of a line's rest.
  void takeValid(const Utf8Char& character) { lineWide_ += character.length >= 3; }
  // Goes on with the character that the last piece cut off, from `at`:
  // where the piece's first bytes complete it, or show it invalid. Returns
  // where the rest of the piece starts.
  const char* continueCut(const char* at, const char* end);
  // A valid line ends: its characters count.
  void endLine() {
    wide_ += lineWide_;
    lineWide_ = 0;
  }

  std::size_t wide_ = 0;          // characters of three bytes or more on valid lines
  std::size_t lineWide_ = 0;      // those of the line being read, while it is valid
  std::size_t invalidLines_ = 0;  // lines with an invalid sequence
  bool lineInvalid_ = false;      // the line being read is one of them
  // The start of a character that the end of the last piece cut off.
  char cut_[3] = {};
  std::size_t cutLength_ = 0;
};

}  // namespace phonebook
