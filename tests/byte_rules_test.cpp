#include "text/byte_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "tests/test_support.h"
#include "text/codesets.h"

namespace phonebook {
namespace {

TEST(ByteRulesTest, FitLengthNeverSplitsATwoByteCharacter) {
  const std::string ga = testing::cp949("가");
  EXPECT_EQ(cp949FitLength("abc", 3), 3u);
  EXPECT_EQ(cp949FitLength("abcd", 3), 3u);
  EXPECT_EQ(cp949FitLength("a" + ga, 2), 1u);  // the lead byte goes with its trail
  EXPECT_EQ(cp949FitLength(ga + ga, 3), 2u);
  EXPECT_EQ(cp949FitLength("a" + ga + "b", 3), 3u);
  EXPECT_EQ(cp949FitLength("a\xB0", 5), 2u);  // fits: kept as it is
}

TEST(ByteRulesTest, OnlyBytesThatBeginACp949CharacterAreShown) {
  // Printable ASCII, KS X 1001 (user-defined rows too), and the Hangul that
  // CP949 adds, at the edges of their trail byte ranges.
  for (std::string_view text :
       {"A", "~", "\xB0\xA1", "\xFE\xFE", "\xC9\xA1", "\x81\x41", "\x81\xFE", "\xA1\x5A",
        "\xA1\x61", "\xA1\x7A", "\xA1\xA0", "\xC6\x41", "\xC6\x52", "\xC7\xA1"}) {
    EXPECT_EQ(cp949ShownLength(text), text.size()) << ::testing::PrintToString(text);
  }
  // Controls, bytes that begin no character (0x9B is CSI to some
  // terminals), and lead bytes without a trail byte that fits them.
  for (std::string_view text :
       {"\x7F", "\x1B[", "\x80", "\xFF", "\x9B\x31", "\xB0", "\xB0 ", "\xA1\x5B", "\xA1\x60",
        "\xA1\x7B", "\xC5\x80\x80", "\xC6\x40", "\xC6\x53", "\xC6\x81", "\xC7\x41", "\xC7\xA0"}) {
    EXPECT_EQ(cp949ShownLength(text), 0u) << ::testing::PrintToString(text);
  }
}

// A UTF-8 character at each boundary of its bytes: whole and valid, or as
// much of it as could still begin a valid one.
TEST(ByteRulesTest, Utf8CharactersEndAtEachBoundaryOfTheirBytes) {
  const struct {
    std::string_view text;
    std::size_t length;
  } cases[] = {
      {"\x7F\x80", 1},         {"\x80\x80", 1},         {"\xBF\x80", 1},
      {"\xC0\x80", 1},         {"\xC1\xBF", 1},         {"\xC2\x80", 2},
      {"\xC2\x7F", 1},         {"\xC2\xC0", 1},         {"\xDF\xBF", 2},
      {"\xE0\x9F\xBF", 1},     {"\xE0\xA0\x80", 3},     {"\xE0\xA0", 2},
      {"\xE1\x80 ", 2},        {"\xEA\xBF\xBF", 3},     {"\xEC\xBF\xC0", 2},
      {"\xED\x9F\xBF", 3},     {"\xED\xA0\x80", 1},     {"\xEE\x80\x80", 3},
      {"\xEF\xBF\xBF", 3},     {"\xF0\x8F\xBF\xBF", 1}, {"\xF0\x90\x80\x80", 4},
      {"\xF3\xBF\xBF\xBF", 4}, {"\xF4\x8F\xBF\xBF", 4}, {"\xF4\x90\x80\x80", 1},
      {"\xF4\x8F\xBF", 3},     {"\xF5\x80\x80\x80", 1}, {"\xFF\x80", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf8CharLength(c.text), c.length) << ::testing::PrintToString(c.text);
  }
}

TEST(ByteRulesTest, TellsTextsShownAsTheyAreWhateverByteStandsAnywhere) {
  auto allIn = [](std::string_view text, int low, int high) {
    return std::all_of(text.begin(), text.end(), [&](char c) {
      return static_cast<unsigned char>(c) >= low && static_cast<unsigned char>(c) <= high;
    });
  };
  // Every byte value at every place of texts up to three words long, among
  // printable ASCII or KS X 1001 bytes that sit next to their limits.
  for (std::string_view limits : {"\x20\x7E\x21", "\xA1\xFE\xB0"}) {
    for (std::size_t length = 1; length <= 24; ++length) {
      for (std::size_t at = 0; at < length; ++at) {
        for (int byte = 0; byte < 256; ++byte) {
          std::string text(length, ' ');
          for (std::size_t i = 0; i < length; ++i) text[i] = limits[i % 3];
          text[at] = static_cast<char>(byte);
          bool shown = allIn(text, 0x20, 0x7E) || (length % 2 == 0 && allIn(text, 0xA1, 0xFE));
          ASSERT_EQ(isShownAsItIs(text), shown) << length << " " << at << " " << byte;
        }
      }
    }
  }
  EXPECT_TRUE(isShownAsItIs(""));
}

// Which codeset names the terminal gets the program's CP949 bytes under,
// however the locale spells them; any other is converted.
TEST(CodesetTest, KoreanAndAsciiNamesPassBytesThroughAndOthersAreConverted) {
  struct Case {
    const char* codeset;
    bool korean;
    bool passes;
  };
  for (const Case& c :
       {Case{"CP949", true, true}, Case{"cp949", true, true}, Case{"UHC", true, true},
        Case{"EUC-KR", true, true}, Case{"euckr", true, true}, Case{"EUC_KR", true, true},
        Case{"ANSI_X3.4-1968", false, true}, Case{"ASCII", false, true},
        Case{"US-ASCII", false, true}, Case{"", false, true}, Case{"UTF-8", false, false},
        Case{"utf8", false, false}, Case{"ISO-8859-1", false, false}, Case{"EUC-JP", false, false},
        Case{"CP9490", false, false}}) {
    SCOPED_TRACE(c.codeset);
    std::string key = codesetKey(c.codeset);
    EXPECT_EQ(isKoreanCodeset(key), c.korean);
    EXPECT_EQ(passesBytesThrough(key), c.passes);
  }
  EXPECT_EQ(codesetKey("utf-8"), "UTF8");
  EXPECT_EQ(codesetKey("Utf_8"), "UTF8");
}

}  // namespace
}  // namespace phonebook
