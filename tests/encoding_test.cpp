// How a phone list file's encoding is told: by its byte order mark, as
// UTF-16 without one, or as UTF-8 by the rules; each rule at its limits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file.h"
#include "store/encoding_detection.h"
#include "store/file_reading.h"
#include "store/phone_file.h"
#include "tests/phone_file_support.h"
#include "tests/test_support.h"

namespace phonebook {
namespace {

using namespace std::string_literals;
using testing::contents;
using testing::cp949;
using testing::Items;
using testing::loadText;
using testing::lostLines;
using testing::PhoneFileTest;

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
      // ... the last line's too, where no line break ends it.
      {"Lee\xFF 2\n김 3\n" + lines(32, "홍길동 1\n") + lines(65, "Ahn 1\n") + "홍길동 1",
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
      // ... where that piece is ASCII but for one byte of 0x80.
      {"Ahn\x80 1" + std::string(70000, ' ') + lines(200, "홍길동 010\n"),
       items({{"Ahn?:1"}, Items(200, cp949("홍길동:010"))}),
       {1}},
      // Its last line counts too where it is all that the last read brings:
      // one invalid line in exactly a hundred.
      {[&] {
         std::string text = "김\xFF 1\n" + lines(97, "홍길동 010\n");
         return text + std::string(kIoChunk - 1 - text.size(), ' ') + "\nx";
       }(),
       items({{cp949("김?:1")}, Items(97, cp949("홍길동:010"))}),
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

}  // namespace
}  // namespace phonebook
