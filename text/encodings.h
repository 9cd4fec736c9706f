// The encodings a phone list file may arrive in. CP949 is the one encoding
// inside the program and in the file it writes; a text editor saves UTF-8
// or UTF-16 by default, and such a file is read as its user wrote it.
//
// A character that CP949 lacks is never dropped silently: a converted text
// holds kLostCharacter in its place, which the loader stores as "?" and
// remembers, so that the user is told which entries lost one.
#pragma once

namespace phonebook {

enum class FileEncoding {
  kCp949,    // bytes as they are: every file this program writes
  kUtf8,     // with or without a byte order mark
  kUtf16Le,  // after the mark FF FE, or without a mark (see unmarkedUtf16)
  kUtf16Be,  // after the mark FE FF, or without a mark (see unmarkedUtf16)
  kUtf32Le,  // after the mark FF FE 00 00
  kUtf32Be,  // after the mark 00 00 FE FF
};

// What a converted text holds for each character that CP949 lacks: a zero
// byte, which no CP949 or UTF-8 text holds and no entry can.
inline constexpr char kLostCharacter = '\0';

}  // namespace phonebook
