// The names of terminal encodings as the locale gives them, and which of
// them get the program's CP949 bytes unchanged.
#pragma once

#include <string>

namespace phonebook {

// `codeset` as compared: upper case, without dashes, underscores or dots
// ("utf-8" and "UTF8" both give "UTF8").
std::string codesetKey(const std::string& codeset);

// True for the codesets whose text is CP949 as it stands, or a part of it:
// CP949, UHC and EUC-KR.
bool isKoreanCodeset(const std::string& key);

// True for the codesets (as codesetKey gives them) whose terminal gets the
// program's bytes unchanged: the Korean ones, ASCII, and none at all.
bool passesBytesThrough(const std::string& key);

}  // namespace phonebook
