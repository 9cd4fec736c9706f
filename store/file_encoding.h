// The encodings a phone list file may arrive in, and their conversion to
// CP949, the one encoding inside the program and in the file it writes. A
// text editor saves UTF-8 or UTF-16 by default; such a file is read as its
// user wrote it. Converting is the platform's work (iconv on Linux); telling
// the encodings apart is not (text.h).
//
// A character that CP949 lacks is never dropped silently: the converted text
// holds kLostCharacter in its place, which the loader stores as "?" and
// remembers, so that the user is told which entries lost one.
#pragma once

#include <string>
#include <string_view>

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

// Appends `text`, in the encoding `from`, converted to CP949 to `out`. Each
// character that CP949 lacks (an emoji, a rare Hanja), each U+0000, and each
// invalid or cut-off sequence, becomes one kLostCharacter. Returns false
// when any did.
// REQUIRES: from is not kCp949; `text` holds no byte order mark.
bool convertToCp949(std::string_view text, FileEncoding from, std::string& out);

}  // namespace phonebook
