// Windows only: text between CP949 and UTF-16, the console's and the file
// system's own encoding, through the system's code page functions. Each
// sequence that has no character on the other side becomes one "?", as the
// converters on Linux do it.
#pragma once

#include <string>
#include <string_view>

namespace phonebook {

// `cp949` in UTF-16. A byte that begins no CP949 character becomes "?",
// and conversion goes on with the byte after it.
std::wstring widenCp949(std::string_view cp949);

// Appends `utf8` in UTF-16 to `wide`. Bytes that form no UTF-8 character
// become one `replacement`, as many as utf8CharLength counts. Returns false
// when any did.
bool widenUtf8(std::string_view utf8, std::wstring& wide, wchar_t replacement = L'?');

// Appends `wide` in CP949 to `out`. A character that CP949 does not have,
// or half of a surrogate pair, becomes `replacement`. Returns false when any
// did.
bool narrowToCp949(std::wstring_view wide, std::string& out, char replacement = '?');

// Appends `wide`, a line typed at the console, in CP949 to `out`: each
// character that CP949 lacks as one kLostCharacter, so that it is never
// taken for a "?" that was typed. A U+0000 typed, which would be taken for
// one, is left out, as the line reader drops a control character anyway.
void narrowTyped(std::wstring_view wide, std::string& out);

// CP949 text that arrives in pieces, as written output does, widened piece
// by piece: a two-byte character split between two pieces waits, by its
// lead byte, for the rest.
class Cp949Pieces {
 public:
  // The whole characters of what has arrived, `piece` included, in UTF-16.
  std::wstring widen(std::string_view piece);

 private:
  std::string carried_;  // a lead byte that ended the last piece
};

}  // namespace phonebook
