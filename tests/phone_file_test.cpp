#include "store/phone_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/text_codec.h"
#include "store/encoding_detection.h"
#include "store/file_reading.h"
#include "store/piece_conversion.h"
#include "tests/fake_file_system.h"
#include "tests/memory_file.h"
#include "tests/test_support.h"

namespace phonebook {
namespace {

using testing::cp949;
using namespace std::string_literals;
using Items = std::vector<std::string>;

Items contents() {
  Items items;
  for (PhoneEntry* entry = head; entry != nullptr; entry = entry->next) {
    items.push_back(std::string(entry->name) + ":" + entry->phone);
  }
  return items;
}

LoadResult loadText(const std::string& content) {
  testing::MemoryFile file(content);
  return readPhoneList(file);
}

// The lines of the file of the entries marked as having lost a character.
std::vector<std::size_t> lostLines() {
  std::vector<std::size_t> lines;
  for (const LostEntry& lost : lostEntries()) lines.push_back(lost.line);
  return lines;
}

std::string savedText() {
  testing::MemoryFile file;
  EXPECT_TRUE(writePhoneList(file));
  return file.content();
}

class PhoneFileTest : public ::testing::Test {
 protected:
  void TearDown() override { clearList(); }
};

TEST_F(PhoneFileTest, LoadsEqualNamesInTheOrderOfOneByOneInsertion) {
  EXPECT_EQ(loadText("Ahn 1\r\nLee 2\r\nLee 3\r\nLee 4\r\n"), LoadResult::kLoaded);
  EXPECT_EQ(contents(), (Items{"Ahn:1", "Lee:4", "Lee:3", "Lee:2"}));
  clearList();
  loadText("Lee 2\r\nLee 3\r\nLee 4\r\n");
  EXPECT_EQ(contents(), (Items{"Lee:2", "Lee:4", "Lee:3"}));
  clearList();
  // The first Lee is first until Ahn arrives; Lees read later go before it.
  loadText("Lee 0 Lee 1 Ahn 2 Lee 3 Lee 4");
  EXPECT_EQ(contents(), (Items{"Ahn:2", "Lee:4", "Lee:3", "Lee:0", "Lee:1"}));
}

TEST_F(PhoneFileTest, LoadsCp949NamesInByteOrder) {
  loadText(cp949("홍길동 010-123-456\r\n김철수 02-987-654\r\n"));
  EXPECT_EQ(contents(), (Items{cp949("김철수:02-987-654"), cp949("홍길동:010-123-456")}));
}

// A file an editor saved in UTF-8, UTF-16 (marked or not) or UTF-32 loads as
// the same phone book as its CP949 form; a character that CP949 lacks loads
// as "?" and marks its entry. The large books put characters across every
// piece in which a file is converted.
TEST_F(PhoneFileTest, Utf8AndUtf16FilesLoadAsTheirCp949Form) {
  std::string large, withEmoji, withMarks;
  for (int i = 0; i < 4000; ++i) {
    std::string tail = std::to_string(i * 7919);
    large += "홍길동" + tail + " 010-" + tail + "\r\n";
    withEmoji += "김" + tail + (i % 7 ? "" : "😀") + " " + tail + "\n";
    withMarks += "김" + tail + (i % 7 ? "" : "?") + " " + tail + "\n";
  }
  const struct {
    std::string utf8;
    std::string asCp949;  // in UTF-8: the same book with "?" for what CP949 lacks
    std::size_t lost;     // entries marked for it
  } books[] = {
      // 꿈 and 꿿 hold 0xBF, the last continuation byte.
      {"홍길동 010-1\r\n김철수 02-2\r\nAhn 3\r\n꿈꿿 4\r\n",
       "홍길동 010-1\r\n김철수 02-2\r\nAhn 3\r\n꿈꿿 4\r\n", 0},
      {"Ahn 1\r\nLee 2\r\n", "Ahn 1\r\nLee 2\r\n", 0},
      {"αβγ 1\r\n° 2\r\n홍길동 3\r\n", "αβγ 1\r\n° 2\r\n홍길동 3\r\n", 0},  // two-byte UTF-8
      {large, large, 0},
      {"홍길동 010\r\n😀 1\r\n", "홍길동 010\r\n? 1\r\n", 1},
      {withEmoji, withMarks, 572},
      // The first character past ASCII comes after the first piece.
      {"Ahn 1\n" + std::string(70000, ' ') + "홍길동 2\n", "Ahn 1\n홍길동 2\n", 0},
      // With a mark, the UTF-16 of U+E0100 (DB40 DD00) runs from the first
      // piece into the next.
      {"a" + std::string(32765, ' ') + "\U000E0100x 2\n", "a ?x 2\n", 1},
  };
  for (const auto& book : books) {
    loadText(cp949(book.asCp949));
    const Items expected = contents();
    clearList();
    for (const std::string& file :
         {book.utf8, "\xEF\xBB\xBF" + book.utf8,
          "\xFF\xFE" + testing::encoded(book.utf8, "UTF-16LE"),
          "\xFE\xFF" + testing::encoded(book.utf8, "UTF-16BE"),
          testing::encoded(book.utf8, "UTF-16LE"), testing::encoded(book.utf8, "UTF-16BE"),
          "\xFF\xFE\0\0"s + testing::encoded(book.utf8, "UTF-32LE"),
          "\0\0\xFE\xFF"s + testing::encoded(book.utf8, "UTF-32BE")}) {
      EXPECT_EQ(loadText(file), LoadResult::kLoaded) << file.substr(0, 40);
      EXPECT_EQ(contents(), expected) << file.substr(0, 40);
      EXPECT_EQ(lostEntries().size(), book.lost) << file.substr(0, 40);
      clearList();
    }
  }
}

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
      {"\uE000", "\xC9\xA1"}, {"\uE05D", "\xC9\xFE"}, {"\uE05E", "\xFE\xA1"},
      {"\uE0BB", "\xFE\xFE"}, {"\uE0BC", "?"},
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

// What holds no character of three bytes, or is not UTF-8 but on at most
// one line in a hundred, with a hundred characters of three bytes for each
// such line, is CP949. Invalid or cut-off characters of a marked file, or
// of one that is UTF-8 by that rule, are "?", and mark their entries by the
// line they are on. A stray zero byte does not make UTF-16.
TEST_F(PhoneFileTest, OnlyUnmistakableFilesAreConverted) {
  auto lines = [](std::size_t count, const std::string& line) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += line;
    return text;
  };
  auto items = [](std::initializer_list<Items> parts) {
    Items all;
    for (const Items& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  };
  const struct {
    std::string file;
    Items expected;
    std::vector<std::size_t> lostLines;
  } cases[] = {
      // Each syllable here is, byte for byte, a valid two-byte UTF-8
      // character that CP949 has too (징 is "¡", 째 "°", 침 "ħ").
      {cp949("징째 010\r\n침 02\r\n"), {cp949("징째:010"), cp949("침:02")}, {}},
      // A cut three-byte character does not take the space after it.
      {"\xEA\xB0\x80 1\n\xEA\xB0 2", {"\xEA\xB0:2", "\xEA\xB0\x80:1"}, {}},
      {"\xED\x95\x9C 1 \xB0\xA1 2", {"\xB0\xA1:2", "\xED\x95\x9C:1"}, {}},
      {"\xEF\xBB\xBF"
       "Ahn\xFF 1\nLee \xEA\xB9",
       {"Ahn?:1", "Lee:?"},
       {1, 2}},
      {"\xFF\xFEL\0 \0"
       "1\0x"s,
       {"L:1?"},
       {1}},
      {"\xFE\xFF\0L\0 \xDC\0\0"
       "1"s,
       {"L:?1"},
       {1}},
      {"B\0C 2\nLee 3\nKim 010-1234-5678\nPark 02-555-6666\n\n\0x 4"s,
       {"?x:4", "B?C:2", "Kim:010-1234-5678", "Lee:3", "Park:02-555-6666"},
       {1, 6}},
      {"Kim 010\0\n"s, {"Kim:010?"}, {1}},
      // UTF-8 in all of its first piece past ASCII, CP949 further on.
      {"\xED\x95\x9C 1" + std::string(70000, ' ') + cp949("홍길동 3"),
       {cp949("홍길동:3"), "\xED\x95\x9C:1"},
       {}},
      // ... or up to the last byte of a piece, which the next does not go on.
      {"\xED\x95\x9C 1" + std::string(65535 - 5, ' ') + "\xEA\x41 2",
       {"\xEA\x41:2", "\xED\x95\x9C:1"},
       {}},
      // One invalid line in 100, or in 99; a hundred characters of three
      // bytes on valid lines beside it, or 99 (김 on the invalid line is none).
      {lines(99, "홍길동 010\n") + "김\xFF 1\n",
       items({{cp949("김?:1")}, Items(99, cp949("홍길동:010"))}),
       {100}},
      {lines(98, "홍길동 010\n") + "김\xFF 1\n",
       items({{"김\xFF:1"}, Items(98, "홍길동:010")}),
       {}},
      {"Lee\xFF 2\n김 3\n" + lines(33, "홍길동 1\n") + lines(65, "Ahn 1\n"),
       items({Items(65, "Ahn:1"), {"Lee?:2", cp949("김:3")}, Items(33, cp949("홍길동:1"))}),
       {1}},
      {"김\xFF 2\n" + lines(33, "홍길동 1\n") + lines(66, "Ahn 1\n"),
       items({Items(66, "Ahn:1"), {"김\xFF:2"}, Items(33, "홍길동:1")}),
       {}},
      // Across pieces, a character cut off at the end included.
      {"홍\xFF동 010\n" + lines(4998, "홍길동 010\n") + "홍\xFF\xFF동 010\n" +
           lines(4998, "홍길동 010\n") + "홍\xEA\xB8동 010\n\xED\x95",
       items({{cp949("홍??동:010"), cp949("홍?동:010"), cp949("홍?동:010")},
              Items(9996, cp949("홍길동:010"))}),
       {1, 5000, 9999}},
      // Three invalid lines, 299 characters beside them: an invalid line's
      // own do not count where it runs from one piece into the next.
      {[&] {
         std::string text = lines(99, "홍길동 1\n") + "김 2\n이 6\n";
         text += std::string(16384 - 15 - text.size(), ' ') + "가나다라마\xFF 3\n";
         text += std::string(32768 - 4 - text.size(), ' ') + "Lee\xFF가나다라마 4\n";
         return text + lines(9000, "Ahn 1\n") + "Kim\xFF 5\n";
       }(),
       items({Items(9000, "Ahn:1"),
              {"Kim\xFF:5", "Lee\xFF가나다라마:4", "가나다라마\xFF:3", "김:2", "이:6"},
              Items(99, "홍길동:1")}),
       {}},
      // A piece that ends with its line: that line's characters count
      // whatever the next line holds.
      {[&] {
         std::string text = lines(66, "Ahn 1\n");
         std::string wide = lines(33, "홍길동 1\n") + "김 1\n";
         return text + std::string(16384 - text.size() - wide.size(), ' ') + wide + "Lee\xFF 2\n";
       }(),
       items({Items(66, "Ahn:1"), {"Lee?:2", cp949("김:1")}, Items(33, cp949("홍길동:1"))}),
       {101}},
      // Taken for CP949 at its first piece past ASCII, and UTF-8 by its end.
      {"김\xFF 1" + std::string(70000, ' ') + lines(200, "홍길동 010\n"),
       items({{cp949("김?:1")}, Items(200, cp949("홍길동:010"))}),
       {1}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(loadText(c.file), LoadResult::kLoaded) << c.file;
    EXPECT_EQ(contents(), c.expected) << c.file;
    EXPECT_EQ(lostLines(), c.lostLines) << c.file;
    clearList();
  }
}

// The rules that tell a file's encoding, each at its limits: the byte order
// marks; UTF-16 without one (white space, one unit in eight, the order that
// is not outnumbered); UTF-8 (every boundary of its bytes, one invalid line
// for each hundred lines and each hundred characters of three bytes or more).
TEST(EncodingRulesTest, EachRuleHoldsAtItsLimits) {
  const struct {
    std::string start;
    FileEncoding encoding;
    std::size_t length;
  } marks[] = {
      {"\xEF\xBB\xBF", FileEncoding::kUtf8, 3},     {"\xEF\xBB", FileEncoding::kCp949, 0},
      {"\xFF\xFE\0"s, FileEncoding::kUtf16Le, 2},   {"\xFE\xFF", FileEncoding::kUtf16Be, 2},
      {"\xFF\xFE\0\0"s, FileEncoding::kUtf32Le, 4}, {"\0\0\xFE\xFF"s, FileEncoding::kUtf32Be, 4},
      {"\0\0\xFF\xFE"s, FileEncoding::kCp949, 0},   {"\xFE\xFE", FileEncoding::kCp949, 0},
  };
  for (const auto& c : marks) {
    EncodingMark mark = encodingMark(c.start);
    EXPECT_EQ(mark.encoding, c.encoding) << ::testing::PrintToString(c.start);
    EXPECT_EQ(mark.length, c.length) << ::testing::PrintToString(c.start);
  }

  auto units = [](std::size_t count, const std::string& unit) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += unit;
    return text;
  };
  const std::string ga = "\0\xAC"s;  // 가 in UTF-16LE: ASCII in neither order
  const struct {
    std::string start;
    FileEncoding encoding;
  } unmarked[] = {
      {" \0"s + units(7, ga), FileEncoding::kUtf16Le},
      {" \0"s + units(8, ga), FileEncoding::kCp949},
      {"\0\t"s + units(7, ga) + "x", FileEncoding::kUtf16Be},  // an odd last byte is no unit
      {"a\0b\0"s, FileEncoding::kCp949},                       // no white space
      {"\0\0 \0\x80\0"s, FileEncoding::kUtf16Le},
      {" \0\0 a\0"s, FileEncoding::kUtf16Le},
      {" \0\0 \0a"s, FileEncoding::kUtf16Be},
      {" \0\0 "s, FileEncoding::kUtf16Le},  // as many: little endian
      {"B\0C 2"s, FileEncoding::kCp949},
  };
  for (const auto& c : unmarked) {
    EXPECT_EQ(unmarkedUtf16(c.start), c.encoding) << ::testing::PrintToString(c.start);
  }

  // `invalid` lines with a bad byte, `wide` characters of three bytes on a
  // line of their own, and empty lines up to `lines`.
  auto book = [&](std::size_t invalid, std::size_t wide, std::size_t lines) {
    return units(invalid, "\xFF\n") + units(wide, "\xEA\xB0\x80") + "\n" +
           units(lines - invalid - 1, "\n");
  };
  const struct {
    std::string text;
    bool utf8;
  } utf8[] = {
      {"\xE0\xA0\x80", true},
      {"\xE0\x9F\xBF", false},
      {"\xE1\x80\x80", true},
      {"\xEA\xBF\x88", true},
      {"\xEA\xBF\xBF", true},
      {"\xEA\xC0\x80", false},
      {"\xEC\xBF\xBF", true},
      {"\xED\x9F\xBF", true},
      {"\xED\xA0\x80", false},
      {"\xEE\x80\x80", true},
      {"\xEF\xBF\xBF", true},
      {"\xEF\xBF\x7F", false},
      {"\xF0\x90\x80\x80", true},
      {"\xF0\x8F\xBF\xBF", false},
      {"\xF3\xBF\xBF\xBF", true},
      {"\xF4\x8F\xBF\xBF", true},
      {"\xF4\x90\x80\x80", false},
      {"\xF5\x80\x80\x80", false},
      {"\xC2\x80\xDF\xBF", false},  // valid, but no character of three bytes
      {"\xC1\xBF\xE1\x80\x80", false},
      {"\xC2\x7F\xE1\x80\x80", false},
      {"\xC2\xC0\xE1\x80\x80", false},
      {"\x80\xE1\x80\x80", false},
      {"\xE1\x80 \xE1\x80\x80", false},
      {"\xE1\x80\x80\xEA\xB0", false},
      {book(1, 100, 100), true},
      {book(1, 99, 100), false},
      {book(1, 100, 99), false},
      {book(2, 200, 200), true},
      {book(2, 199, 200), false},
      {book(2, 200, 199), false},
      {book(0, 100, 99) + "\xEA\xB0", true},  // a character cut off at the end
      {book(0, 100, 98) + "\xEA\xB0", false},
      {book(0, 99, 100) + "\xEA\xB0", false},  // the cut character does not count
  };
  for (const auto& c : utf8) {
    // Whole, and a byte at a time: where the pieces are cut changes nothing.
    Utf8Detector detector, inBytes;
    detector.feed(c.text);
    for (const char& byte : c.text) inBytes.feed({&byte, 1});
    std::size_t lines = std::count(c.text.begin(), c.text.end(), '\n') + (c.text.back() != '\n');
    EXPECT_EQ(detector.isUtf8(lines), c.utf8) << ::testing::PrintToString(c.text.substr(0, 40));
    EXPECT_EQ(inBytes.isUtf8(lines), c.utf8) << ::testing::PrintToString(c.text.substr(0, 40));
  }
}

TEST_F(PhoneFileTest, AnyWhiteSpaceSeparatesTokens) {
  const Items expected{"Ahn:1", "Lee:2"};
  for (const std::string& text : {"Ahn 1 Lee 2"s, "Ahn\n1\n\n\nLee\t2\n"s,
                                  "  Ahn  1\r\n\r\n\v\fLee 2"s, "Ahn 1\r\nLee 2\r\n"s}) {
    loadText(text);
    EXPECT_EQ(contents(), expected) << text;
    clearList();
  }
}

TEST_F(PhoneFileTest, OddTokensLongTokensAndZeroBytes) {
  EXPECT_EQ(loadText(""), LoadResult::kLoaded);  // an empty book is read whole
  EXPECT_EQ(loadText("Ahn 1 Lonely"), LoadResult::kLoaded);
  EXPECT_EQ(contents(), (Items{"Ahn:1"}));
  clearList();

  // A file whose reading fails after its first piece ends where the reading
  // did, as at its end: the number cut there is whole. In ASCII, CP949 and
  // UTF-8 alike.
  for (const auto& [first, expected] :
       {std::pair{"Ahn"s, Items{"Ahn:1", "Lee:2"}},
        std::pair{cp949("홍길동"), Items{"Lee:2", cp949("홍길동:1")}},
        std::pair{"홍길동"s, Items{"Lee:2", cp949("홍길동:1")}}}) {
    SCOPED_TRACE(first);
    const std::string start = first + " 1";
    testing::MemoryFile failing(start + std::string(kIoChunk - start.size() - 5, ' ') +
                                "Lee 23\r\n");
    failing.readable = kIoChunk;
    EXPECT_EQ(readPhoneList(failing), LoadResult::kReadFailed);
    EXPECT_EQ(contents(), expected);
    clearList();
  }

  // Longer than the fields: cut to 29 and 49 bytes, never inside a character.
  std::string longName = "a"s + cp949("가나다라마바사아자차카타파하가");  // 31 bytes
  loadText(longName + " " + std::string(80, '7') + "\nNext 1\n");
  EXPECT_EQ(contents(), (Items{"Next:1", "a"s + cp949("가나다라마바사아자차카타파하") + ":" +
                                             std::string(49, '7')}));
  clearList();

  // A zero byte, which no entry can hold, is kept as "?", and the records
  // after it keep their pairing.
  loadText("ab\0cd 1 \0x 2 Lee 3"s);
  EXPECT_EQ(contents(), (Items{"?x:2", "Lee:3", "ab?cd:1"}));
  clearList();

  // Other control bytes belong to their token, wherever they stand in it.
  loadText("\001bcdefgh\037ij 0\177\010\016 Lee 2");
  EXPECT_EQ(contents(), (Items{"\001bcdefgh\037ij:0\177\010\016", "Lee:2"}));
}

TEST_F(PhoneFileTest, WritesOneRecordPerLineWithCrLf) {
  EXPECT_EQ(savedText(), "");
  loadText(cp949("홍길동 010 Ahn 1"));
  EXPECT_EQ(savedText(), "Ahn 1\r\n" + cp949("홍길동 010\r\n"));
}

// The fast load must give exactly the list that inserting every record with
// insertSorted gives, ties and all.
TEST_F(PhoneFileTest, FastLoadEqualsOneByOneInsertionOnRandomFiles) {
  std::mt19937 random(20261209);
  // Among them: keys equal in their first eight bytes, names of exactly
  // eight and nine bytes, and names that share long prefixes.
  const std::vector<std::string> names = {"A",
                                          "B",
                                          "Ba",
                                          "C",
                                          "Lee",
                                          "Leee",
                                          "Park",
                                          "a",
                                          "abcdefgh",
                                          "abcdefghi",
                                          "abcdefgi",
                                          "abcdefghijklmnopqrstuvwxyz012",
                                          "abcdefghijklmnopqrstuvwxyz01",
                                          "abcdefghijklmnopqrstuvwxyz013",
                                          "abcdefgh\x80",
                                          cp949("김"),
                                          cp949("김철수"),
                                          cp949("홍길동"),
                                          cp949("홍길동홍길동홍길동홍길동"),
                                          cp949("홍길동홍길동홍길순홍길동"),
                                          "\x7F",
                                          "\x80\x80"};
  for (int round = 0; round < 300; ++round) {
    std::size_t records = std::uniform_int_distribution<std::size_t>(0, 60)(random);
    std::size_t distinct = std::uniform_int_distribution<std::size_t>(1, names.size())(random);
    std::string file;
    Items expected;
    for (std::size_t i = 0; i < records; ++i) {
      std::string name = names[random() % distinct];
      std::string phone = std::to_string(i);
      file += name + (random() % 2 ? " " : "\r\n ") + phone + "\n";
      insertSorted(newEntry(name.c_str(), phone.c_str()));
    }
    expected = contents();
    clearList();
    loadText(file);
    ASSERT_EQ(contents(), expected) << "round " << round << ":\n" << file;
    clearList();
  }

  // A load large enough to be sorted in parts, against the rule of
  // insertion kept name by name (inserting one by one would take minutes):
  // a record goes in front of its name's entries, or right after the
  // first entry of the list when that has its name.
  std::map<std::string, std::deque<std::string>> byName;
  std::string file;
  for (std::size_t i = 0; i < 100000; ++i) {
    std::string name = names[random() % names.size()];
    if (random() % 2) name = (name + std::to_string(random() % 4000)).substr(0, kNameSize - 1);
    std::string phone = std::to_string(i);
    file += name + " " + phone + "\n";
    std::deque<std::string>& entries = byName[name];
    bool first = byName.begin()->first == name && !entries.empty();
    entries.insert(entries.begin() + (first ? 1 : 0), name + ":" + phone);
  }
  Items expected;
  for (const auto& [name, entries] : byName)
    expected.insert(expected.end(), entries.begin(), entries.end());
  loadText(file);
  EXPECT_EQ(contents(), expected);
}

// A large load makes its entries in one block; deleting and adding after it
// releases and reuses them one by one, and the list stays whole.
TEST_F(PhoneFileTest, EntriesOfALoadAreReleasedAndReusedOneByOne) {
  auto nameOf = [](unsigned number) { return std::string("N").append(std::to_string(number)); };
  auto item = [](std::string name, const std::string& phone) {
    return name.append(":").append(phone);
  };
  std::string file;
  std::multiset<std::string> expected;
  for (unsigned i = 0; i < 3000; ++i) {
    file.append(nameOf(i % 1000)).append(" ").append(std::to_string(i)).append("\n");
    expected.insert(item(nameOf(i % 1000), std::to_string(i)));
  }
  ASSERT_EQ(loadText(file), LoadResult::kLoaded);
  std::mt19937 random(8);
  for (unsigned step = 0; step < 5000; ++step) {
    std::string name = nameOf(random() % 1100);
    if (random() % 2 == 0) {
      PhoneEntry* found = findByName(name.c_str());
      if (found != nullptr) expected.erase(expected.find(item(name, found->phone)));
      EXPECT_EQ(removeByName(name.c_str()), found != nullptr ? 1 : 0);
    } else {
      std::string phone = std::to_string(step);
      insertSorted(newEntry(name.c_str(), phone.c_str()));
      expected.insert(item(name, phone));
    }
  }
  Items now = contents();
  EXPECT_TRUE(
      std::is_sorted(now.begin(), now.end(), [](const std::string& a, const std::string& b) {
        return a.substr(0, a.find(':')) < b.substr(0, b.find(':'));
      }));
  EXPECT_EQ(std::multiset<std::string>(now.begin(), now.end()), expected);
  while (head != nullptr) removeByName(head->name);  // the block goes back with its last entry
  ASSERT_EQ(loadText(file), LoadResult::kLoaded);
  EXPECT_EQ(contents().size(), 3000u);
}

TEST_F(PhoneFileTest, SaveAndLoadGiveBackTheSameEntries) {
  loadText("Lee 1 Ahn 2 Lee 3 Park 4 Lee 5 Ahn 6");
  const Items before = contents();
  auto roundTrip = [] {
    std::string saved = savedText();
    clearList();
    loadText(saved);
  };
  // Loading reverses each run of equal names (the first entry aside), so
  // one round trip keeps the entries and their name order ...
  roundTrip();
  Items once = contents();
  EXPECT_NE(once, before);
  EXPECT_TRUE(std::is_permutation(once.begin(), once.end(), before.begin(), before.end()));
  // ... and a second one restores the very same list.
  roundTrip();
  EXPECT_EQ(contents(), before);
}

// The save's look at the file, on a file system whose every change the
// test makes. Another program's change, made while the first save writes,
// is seen when the new file is whole: the save refuses once, leaves the
// file as the change left it, and takes it as it is now, so that a second
// save replaces it. A change of access alone, or of times only with the
// same bytes, is no change. A file not read whole is never replaced;
// entries that lost a character are written with their "?" at a second
// save.
TEST_F(PhoneFileTest, TheSaveRefusesOnceWhatItMustAndThenReplacesTheFileAsItIsNow) {
  using testing::FakeFileSystem;
  using testing::kSecond;
  using Scene = std::function<void(FakeFileSystem&)>;
  const std::string file = kPhoneListFile;
  const Scene none = [](FakeFileSystem&) {};
  struct Case {
    const char* what;
    Scene start;                        // after PhoneList.txt is written "Ahn 1", before the load
    Scene during;                       // while the first save writes
    std::vector<SaveOutcome> outcomes;  // of the saves in turn
    const char* target = kPhoneListFile;
    std::string saved = "Ahn 1\r\nKim 2\r\n";  // in `target` at the end, where it saves
  };
  const Case cases[] = {
      {"nothing changed", none, none, {SaveOutcome::kSaved}},
      {"only its access changed",
       none,
       [&](FakeFileSystem& files) {
         files.now += 10 * kSecond;
         files.files[file].stamp.statusChanged = files.now;
         files.now += 10 * kSecond;
       },
       {SaveOutcome::kSaved}},
      {"rewritten",
       none,
       [&](FakeFileSystem& files) { files.write(file, "Lee 3 Park 4\r\n"); },
       {SaveOutcome::kChanged, SaveOutcome::kSaved}},
      {"rewritten at the same size, its time set back",
       none,
       [&](FakeFileSystem& files) {
         files.now += 10 * kSecond;
         const std::int64_t modified = files.files[file].stamp.modified;
         files.write(file, "Lee 3\r\n");
         files.files[file].stamp.modified = modified;
         files.now += 10 * kSecond;
       },
       {SaveOutcome::kChanged, SaveOutcome::kSaved}},
      {"rewritten within one tick, every field as it was",
       none,
       [&](FakeFileSystem& files) {
         const FileStamp was = files.files[file].stamp;
         files.write(file, "Lee 3\r\n");
         files.files[file].stamp = was;
       },
       {SaveOutcome::kChanged, SaveOutcome::kSaved}},
      {"removed",
       none,
       [&](FakeFileSystem& files) { files.files.erase(file); },
       {SaveOutcome::kRemoved, SaveOutcome::kSaved}},
      {"made where there was none",
       [&](FakeFileSystem& files) { files.files.erase(file); },
       [&](FakeFileSystem& files) { files.write(file, "Lee 3\r\n"); },
       {SaveOutcome::kCreated, SaveOutcome::kSaved},
       kPhoneListFile,
       "Kim 2\r\n"},
      {"replaced by another file",
       none,
       [&](FakeFileSystem& files) { files.put(file, "Ahn 1\r\n"); },
       {SaveOutcome::kReplaced, SaveOutcome::kSaved}},
      {"a link put in its place",
       none,
       [&](FakeFileSystem& files) {
         files.put("other.txt", "Lee 3\r\n");
         files.files.erase(file);
         files.links[file] = "other.txt";
       },
       {SaveOutcome::kNowALink, SaveOutcome::kSaved},
       "other.txt"},
      {"a link from the start",
       [&](FakeFileSystem& files) {
         files.put("book.txt", "Ahn 1\r\n");
         files.files.erase(file);
         files.links[file] = "book.txt";
       },
       none,
       {SaveOutcome::kSaved},
       "book.txt"},
      {"a read failed",
       [&](FakeFileSystem& files) { files.files[file].readError = EIO; },
       none,
       {SaveOutcome::kNotReadWhole, SaveOutcome::kNotReadWhole}},
      {"written to while read",
       [&](FakeFileSystem& files) {
         files.whileReading = [&files, &file] { files.write(file, "Lee 3 Park 4\r\n"); };
       },
       none,
       {SaveOutcome::kNotReadWhole, SaveOutcome::kNotReadWhole}},
      {"not a regular file",
       [&](FakeFileSystem& files) { files.files[file].regular = false; },
       none,
       {SaveOutcome::kNotReadWhole, SaveOutcome::kNotReadWhole}},
      {"a character lost",
       [&](FakeFileSystem& files) { files.write(file, "홍길동 010\r\nJosé 1\r\n"); },
       none,
       {SaveOutcome::kLostCharacters, SaveOutcome::kSaved},
       kPhoneListFile,
       cp949("Jos? 1\r\nKim 2\r\n홍길동 010\r\n")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clearList();
    FakeFileSystem files;
    files.write(file, "Ahn 1\r\n");
    c.start(files);
    LoadedFile loaded = loadPhoneList(files);
    insertSorted(newEntry("Kim", "2"));
    std::map<std::string, FakeFileSystem::Node> left;  // the files as the scene left them
    files.whileSaving = [&] {
      c.during(files);
      left = files.files;
    };
    for (SaveOutcome outcome : c.outcomes) {
      left = files.files;
      const SaveOutcome got = savePhoneList(files, loaded);
      EXPECT_EQ(got, outcome);
      if (got != outcome || outcome == SaveOutcome::kSaved) break;
      EXPECT_EQ(files.files, left);
      if (outcome != SaveOutcome::kNotReadWhole) {
        EXPECT_EQ(loaded.stamp, files.stampOfFile(kPhoneListFile));
      }
    }
    if (c.outcomes.back() == SaveOutcome::kSaved) {
      EXPECT_EQ(files.files[c.target].content, c.saved);
    }
  }
}

// Each step of the save that fails gives kFailed with its error (EIO where
// it gave none) and leaves the old file exactly as it was; a rename that
// reported an error but was done is a save. Only a new file in place can
// have lost the old one's group.
TEST_F(PhoneFileTest, AFailedStepOfTheSaveGivesItsErrorAndLeavesTheOldFile) {
  const struct {
    const char* failing;
    int error;
    SaveOutcome outcome;
    int reported = 0;
  } cases[] = {
      {"resolve", EACCES, SaveOutcome::kFailed, EACCES},
      {"create", EROFS, SaveOutcome::kFailed, EROFS},
      {"write", ENOSPC, SaveOutcome::kFailed, ENOSPC},
      {"sync", EIO, SaveOutcome::kFailed, EIO},
      {"name", EEXIST, SaveOutcome::kFailed, EEXIST},
      {"close", 0, SaveOutcome::kFailed, EIO},
      {"rename", EXDEV, SaveOutcome::kFailed, EXDEV},
      {"renamed", EIO, SaveOutcome::kSaved},
      {"sync directory", EIO, SaveOutcome::kSavedNotSynced},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failing);
    clearList();
    testing::FakeFileSystem files;
    files.write(kPhoneListFile, "Ahn 1\r\n");
    LoadedFile loaded = loadPhoneList(files);
    insertSorted(newEntry("Kim", "2"));
    files.failing = c.failing;
    files.error = c.error;
    files.groupKept = false;
    const auto before = files.files;
    bool groupKept = true;
    EXPECT_EQ(savePhoneList(files, loaded, kPhoneListFile, &groupKept), c.outcome);
    if (c.outcome == SaveOutcome::kFailed) {
      EXPECT_EQ(errno, c.reported);
      EXPECT_EQ(files.files, before);
      EXPECT_TRUE(groupKept);
    } else {
      EXPECT_EQ(files.files[kPhoneListFile].content, "Ahn 1\r\nKim 2\r\n");
      EXPECT_FALSE(groupKept);
    }
  }
}

}  // namespace
}  // namespace phonebook
