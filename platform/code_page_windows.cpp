#include "platform/code_page_windows.h"

#include <windows.h>

#include <algorithm>

#include "text/byte_rules.h"
#include "text/encodings.h"

namespace phonebook {
namespace {

constexpr UINT kCp949 = 949;

// `text` of `codePage` in UTF-16, or false when any of it is not valid.
bool widenStrictly(UINT codePage, std::string_view text, std::wstring& out) {
  out.clear();
  if (text.empty()) return true;
  int size = static_cast<int>(text.size());
  int length = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length <= 0) return false;
  out.resize(static_cast<std::size_t>(length));
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, out.data(),
                             length) == length;
}

// Where a character of a multi-byte code page begins: its length, and the
// bytes that one "?" stands for when it is invalid.
struct Character {
  std::size_t length;
  std::size_t invalidLength;
};

// Appends `text` of `codePage` in UTF-16 to `wide`, each invalid character
// as `replacement`: the whole text at once where `tryWhole`, and where that
// fails or is not tried, one `character` at a time. Returns false when any
// was invalid.
template <class CharacterAt>
bool widen(UINT codePage, std::string_view text, bool tryWhole, CharacterAt character,
           std::wstring& wide, wchar_t replacement = L'?') {
  std::wstring one;
  if (tryWhole && widenStrictly(codePage, text, one)) {
    wide += one;
    return true;
  }
  bool whole = true;
  for (std::size_t at = 0; at < text.size();) {
    Character here = character(text.substr(at));
    if (here.length > 0 && widenStrictly(codePage, text.substr(at, here.length), one)) {
      wide += one;
      at += here.length;
    } else {
      wide.push_back(replacement);
      at += here.invalidLength;
      whole = false;
    }
  }
  return whole;
}

bool isHighSurrogate(wchar_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}

bool isLowSurrogate(wchar_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

// The characters that the code page gives for the bytes 0x80 and 0xFF,
// and takes back to them; but neither byte is a CP949 character, and
// widenCp949 shows each as "?".
bool isStrayByteCharacter(wchar_t c) {
  return c == 0x0080 || c == 0xF8F7;
}

}  // namespace

std::wstring widenCp949(std::string_view cp949) {
  // 0x80 and 0xFF are in no CP949 character, but the code page passes them
  // on as U+0080 (a C1 control) and U+F8F7: they are taken one by one. An
  // invalid pair is one "?" for its lead byte, and its second byte is read
  // again, as iconv does it.
  bool strayBytes = cp949.find_first_of("\x80\xFF") != std::string_view::npos;
  std::wstring wide;
  widen(
      kCp949, cp949, !strayBytes,
      [](std::string_view rest) -> Character {
        unsigned char first = static_cast<unsigned char>(rest[0]);
        if (first == 0x80 || first == 0xFF) return {0, 1};
        return {isLeadByte(first) && rest.size() >= 2 ? 2u : 1u, 1};
      },
      wide);
  return wide;
}

bool widenUtf8(std::string_view utf8, std::wstring& wide, wchar_t replacement) {
  return widen(
      CP_UTF8, utf8, true,
      [](std::string_view rest) -> Character {
        std::size_t length = utf8CharLength(rest);
        return {length, length};
      },
      wide, replacement);
}

bool narrowToCp949(std::wstring_view wide, std::string& out, char replacement) {
  bool whole = true;
  std::size_t start = 0;
  // Runs without surrogates go to the code page function whole; a surrogate
  // pair (a character past U+FFFF, none of which CP949 has) is one "?", as
  // is a stray byte's character.
  auto narrow = [&](std::size_t from, std::size_t end) {
    int size = static_cast<int>(end - from);
    int length = WideCharToMultiByte(kCp949, WC_NO_BEST_FIT_CHARS, wide.data() + from, size,
                                     nullptr, 0, nullptr, nullptr);
    std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(std::max(length, 0)));
    BOOL replaced = FALSE;
    WideCharToMultiByte(kCp949, WC_NO_BEST_FIT_CHARS, wide.data() + from, size, out.data() + at,
                        length, "?", &replaced);
    return replaced != FALSE;
  };
  auto narrowRun = [&](std::size_t end) {
    if (end == start) return;
    std::size_t at = out.size();
    if (!narrow(start, end)) return;
    whole = false;
    if (replacement == '?') return;
    // The code page function says only that something was replaced: the
    // run again, a character at a time, to put `replacement` where.
    out.resize(at);
    for (std::size_t one = start; one < end; ++one) {
      std::size_t before = out.size();
      if (narrow(one, one + 1)) {
        out.resize(before);
        out.push_back(replacement);
      }
    }
  };
  for (std::size_t at = 0; at < wide.size(); ++at) {
    if (!isHighSurrogate(wide[at]) && !isLowSurrogate(wide[at]) &&
        !isStrayByteCharacter(wide[at])) {
      continue;
    }
    narrowRun(at);
    if (isHighSurrogate(wide[at]) && at + 1 < wide.size() && isLowSurrogate(wide[at + 1])) ++at;
    out.push_back(replacement);
    whole = false;
    start = at + 1;
  }
  narrowRun(wide.size());
  return whole;
}

void narrowTyped(std::wstring_view wide, std::string& out) {
  std::wstring typed(wide);
  std::erase(typed, L'\0');
  narrowToCp949(typed, out, kLostCharacter);
}

std::wstring Cp949Pieces::widen(std::string_view piece) {
  std::string text = std::move(carried_);
  text.append(piece);
  std::size_t whole = cp949WholeLength(text);
  carried_.assign(text, whole);
  text.resize(whole);
  return widenCp949(text);
}

}  // namespace phonebook
