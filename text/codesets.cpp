#include "text/codesets.h"

#include <cctype>

namespace phonebook {

std::string codesetKey(const std::string& codeset) {
  std::string result;
  for (char c : codeset) {
    if (c == '-' || c == '_' || c == '.') continue;
    result.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  return result;
}

bool isKoreanCodeset(const std::string& key) {
  return key == "CP949" || key == "EUCKR" || key == "UHC";
}

bool passesBytesThrough(const std::string& key) {
  return key.empty() || isKoreanCodeset(key) || key == "ANSIX341968" || key == "ASCII" ||
         key == "USASCII";
}

}  // namespace phonebook
