// The conversions into and out of CP949: the UTF-8 table against the
// platform's converter, every character alike on Linux and on Windows, and
// Windows' own user-defined area.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/text_codec.h"
#include "store/piece_conversion.h"
#include "tests/phone_file_support.h"
#include "tests/test_support.h"
#include "text/encodings.h"

namespace phonebook {
namespace {

using namespace std::string_literals;
using testing::contents;
using testing::cp949;
using testing::Items;
using testing::loadText;
using testing::PhoneFileTest;

// The UTF-8 form of `code`, a code point below U+10000.
std::string utf8Of(char32_t code) {
  if (code < 0x80) return std::string(1, static_cast<char>(code));
  if (code < 0x800) return std::string{char(0xC0 | code >> 6), char(0x80 | (code & 0x3F))};
  return std::string{char(0xE0 | code >> 12), char(0x80 | (code >> 6 & 0x3F)),
                     char(0x80 | (code & 0x3F))};
}

// The usual characters of a UTF-8 file are converted through a table, any
// piece with another through the platform's converter: both give the same
// bytes for every character that the table has.
TEST(ConversionTest, TheTableConvertsAsThePlatformsConverter) {
  std::string text, alone;
  for (char32_t code = 1; code < 0x10000; ++code) {
    if ((code >= 0xD800 && code <= 0xDFFF) || code == 0xFEFF) continue;  // no character; a mark
    std::string character = utf8Of(code);
    std::size_t wide = 0;
    if (!convertUtf8ByTable(character, cp949Table(), alone, wide)) continue;
    EXPECT_EQ(wide, code >= 0x800 ? 1u : 0u) << static_cast<unsigned>(code);
    text += character;
  }
  std::string whole;
  convertToCp949(text, FileEncoding::kUtf8, whole);
  EXPECT_EQ(alone, whole);
  // Where the platform makes a table (not on Windows), Hangul is in it;
  // without one, the platform's converter takes every text.
  EXPECT_TRUE(cp949Table().empty() || text.size() > 2350 * 3);
  std::size_t wide = 0;
  EXPECT_FALSE(convertUtf8ByTable("\uAC00", {}, alone, wide));
}

// Every conversion of this system, written out: each CP949 code (a byte,
// or a lead byte 81..FE with a trail byte 41..FE) as the console shows it,
// and each code point below U+10000 as a UTF-8 file, a UTF-16 file and the
// console give it in CP949.
std::string conversionsOfThisSystem() {
  std::string conversions;
  auto hex = [&](std::string_view bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (unsigned char byte : bytes) {
      conversions += kDigits[byte >> 4];
      conversions += kDigits[byte & 0xF];
    }
  };
  for (unsigned code = 0x01; code <= 0xFEFE; ++code) {
    unsigned lead = code >> 8, trail = code & 0xFF;
    if (lead != 0 && (lead < 0x81 || trail < 0x41 || trail == 0xFF)) continue;
    std::string bytes = lead == 0 ? std::string{char(trail)} : std::string{char(lead), char(trail)};
    hex(bytes);
    conversions += " shown ";
    hex(testing::shownOnConsole(bytes));
    conversions += '\n';
  }
  for (char32_t code = 1; code < 0x10000; ++code) {
    if (code >= 0xD800 && code <= 0xDFFF) continue;
    std::string utf8 = utf8Of(code), fromUtf8, fromUtf16;
    convertToCp949(utf8, FileEncoding::kUtf8, fromUtf8);
    convertToCp949(std::string{char(code & 0xFF), char(code >> 8)}, FileEncoding::kUtf16Le,
                   fromUtf16);
    hex(utf8);
    conversions += " file ";
    hex(fromUtf8);
    conversions += ' ';
    hex(fromUtf16);
    conversions += " read ";
    hex(testing::readFromConsole(utf8));
    conversions += '\n';
  }
  return conversions;
}

// A phone book reads and shows alike on Linux and on Windows: both builds
// convert every character as Windows' code page 949 does (its user-defined
// area C9A1..C9FE and FEA1..FEFE is U+E000..U+E0BB), the bytes 0x80 and
// 0xFF are none, and what is lost is lost on both. The digest is of the
// Windows build's conversions (under Wine); each build's test compares its
// own with it, and where they differ leaves them in a file to compare with
// the other build's.
TEST(ConversionTest, LinuxAndWindowsConvertEveryCharacterAlike) {
  constexpr std::uint64_t kWindowsDigest = 0x76A05BAB815778C3;
  const std::string conversions = conversionsOfThisSystem();
  std::uint64_t digest = 0xCBF29CE484222325;  // 64-bit FNV-1a
  for (unsigned char byte : conversions) digest = (digest ^ byte) * 0x100000001B3;
  if (digest != kWindowsDigest) {
    const std::string path = "conversions.txt";
    testing::writeFile(path, conversions);
    ADD_FAILURE() << "digest " << std::hex << digest << ", not " << kWindowsDigest
                  << ": the conversions are in " << path;
  }
}

// The ends of the user-defined area's two rows, and past its end, through
// every conversion: a file loaded, and the console both ways.
TEST_F(PhoneFileTest, TheUserDefinedAreaIsWindowsOwn) {
  const struct {
    std::string utf8;
    std::string cp949;  // kept, or "?" for lost
  } cases[] = {
      {"\uE000", "\xC9\xA1"},
      {"\uE05D", "\xC9\xFE"},
      {"\uE05E", "\xFE\xA1"},
      {"\uE0BB", "\xFE\xFE"},
      {"\uE0BC", "?"},
      // Past U+FFFF, where no CP949 character is: 𐐀's last three bytes are
      // those of А (U+0410) in a character of three.
      {"\U00010400", "?"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cp949);
    EXPECT_EQ(loadText(c.utf8 + "\uAC00 1\n"), LoadResult::kLoaded);
    EXPECT_EQ(contents(), Items{c.cp949 + "\xB0\xA1:1"});
    EXPECT_EQ(lostEntries().size(), c.cp949 == "?" ? 1u : 0u);
    clearList();
    // Typed, a lost character is marked as lost, never taken for a "?".
    EXPECT_EQ(testing::readFromConsole(c.utf8),
              c.cp949 == "?" ? std::string(1, kLostCharacter) : c.cp949);
    if (c.cp949 != "?") {
      EXPECT_EQ(testing::shownOnConsole(c.cp949), c.utf8);
    }
  }
}

}  // namespace
}  // namespace phonebook
