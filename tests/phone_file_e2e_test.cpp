// The phone list file through the real program, on every platform: what
// one run saves the next one finds, and no failure of input costs a byte of
// what was saved before.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/phone_file_run.h"
#include "tests/test_support.h"

namespace phonebook {
namespace {

namespace fs = std::filesystem;
using testing::cp949;
using testing::endsWith;
using testing::expectFailedSave;
using testing::filesIn;
using testing::kCannotReadStart;
using testing::kFileOpenFail;
using testing::kSaved;
using testing::readFile;
using testing::runPhonebook;
using testing::script;
using testing::TempDir;
using testing::terminalLocales;
using testing::writeFile;
using namespace std::string_literals;
using testing::kSaveFailed;

TEST(PhoneFileRunTest, EntriesOutlastARunInBothLocales) {
  for (const std::string& locale : terminalLocales()) {
    SCOPED_TRACE(locale);
    TempDir dir;
    std::string add = "1\n홍길동\n010-123-456\n1\n김철수\n02-987-654\n0\n";
    if (locale == "C") add = cp949(add);
    EXPECT_EQ(runPhonebook(dir.path(), script(add, locale)).status, 0);
    // Bytes in the file are CP949 whatever the terminal speaks.
    EXPECT_EQ(readFile(dir.file("PhoneList.txt")),
              cp949("김철수 02-987-654\r\n홍길동 010-123-456\r\n"));
    testing::Outcome again = runPhonebook(dir.path(), script("2\n0\n", locale));
    std::string listed = "김철수\t\t02-987-654\n홍길동\t\t010-123-456\n";
    if (locale == "C") listed = cp949(listed);
    EXPECT_NE(again.output.find(listed), std::string::npos);
    EXPECT_EQ(again.status, 0);
  }
}

TEST(PhoneFileRunTest, AnEditedOrderIsSortedAgainByTheNextRun) {
  TempDir dir;
  writeFile(dir.file("PhoneList.txt"), "Ahn 1\r\nLee 2\r\n");
  EXPECT_EQ(runPhonebook(dir.path(), script("4\nAhn\n1\nMoon\n0\n")).status, 0);
  EXPECT_EQ(readFile(dir.file("PhoneList.txt")), "Moon 1\r\nLee 2\r\n");
  EXPECT_EQ(runPhonebook(dir.path(), script("0\n")).status, 0);
  EXPECT_EQ(readFile(dir.file("PhoneList.txt")), "Lee 2\r\nMoon 1\r\n");
}

TEST(PhoneFileRunTest, NoFileStartsEmptyAndZeroWritesAnEmptyFile) {
  TempDir dir;
  testing::Outcome outcome = runPhonebook(dir.path(), script("0\n"));
  EXPECT_EQ(outcome.output.substr(0, kFileOpenFail.size()), kFileOpenFail);
  EXPECT_TRUE(endsWith(outcome.output, kSaved));
  EXPECT_EQ(outcome.errors, "");  // nothing to say of a group that no file had
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(readFile(dir.file("PhoneList.txt")), "");
}

TEST(PhoneFileRunTest, EntriesThatLostACharacterAreNamedAndSavedOnlyAtASecondZero) {
  // UTF-8 with a character that CP949 lacks, and a zero byte.
  const std::string before = "홍길동 010\r\nJosé 1\r\nB\0C 2\r\n"s;
  const std::string named = cp949(
      "\n\nPhoneList.txt의 다음 항목에 저장할 수 없는 글자가 있어 ?로 바꾸어 읽었습니다:\n"
      "  2번째 줄: Jos? 1\n  3번째 줄: B?C 2\n"
      "메뉴 4번(전화번호 수정)이나 5번(전화번호 삭제)으로 이 항목들을 고치거나 지우십시오.\n?를 "
      "넣은 채로 저장하려면 0을 두 번 고르십시오.\n");
  auto refused = [](int left) {
    return testing::kSaveRefused +
           cp949("?로 바뀐 글자가 든 항목이 " + std::to_string(left) +
                 "개 남아 있습니다.\n메뉴 4번(전화번호 수정)이나 5번(전화번호 삭제)으로 고치거나 "
                 "지우십시오.\n?를 넣은 채로 저장하려면 0을 다시 고르십시오.\n");
  };
  const struct {
    const char* then;       // after a first 0, which is refused
    std::vector<int> left;  // the entries left with "?" at each refusal
    std::string after;
  } cases[] = {
      // A 0 right after the refusal writes the "?" (a name that cannot be
      // typed need not trap the save); one after a change asks again.
      {"0\n", {2}, "B?C 2\r\nJos? 1\r\n"},
      {"2\n0\n", {2}, "B?C 2\r\nJos? 1\r\n"},
      {"5\nJos?\n0\n0\n", {2, 1}, "B?C 2\r\n"},
      {"5\nJos?\n0\n5\nB?C\n0\n", {2, 1}, ""},
      // A new number leaves the name's "?"; a new name mends it.
      {"4\nJos?\n2\n5\n0\n4\nJos?\n1\nJose\n4\nB?C\n1\nBC\n0\n", {2, 2}, "BC 2\r\nJose 5\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.then);
    TempDir dir;
    writeFile(dir.file("PhoneList.txt"), before);
    testing::Outcome outcome = runPhonebook(dir.path(), script("0\n"s + c.then));
    EXPECT_EQ(outcome.output.find(cp949("저장된 파일을 불러옵니다.") + named), 0u)
        << outcome.output;
    std::size_t at = 0;
    for (int left : c.left) {
      at = outcome.output.find(refused(left), at);
      ASSERT_NE(at, std::string::npos) << left << outcome.output;
      ++at;
    }
    EXPECT_EQ(outcome.output.find(testing::kSaveRefused, at), std::string::npos);
    EXPECT_EQ(outcome.output.find(kSaveFailed), std::string::npos);
    EXPECT_TRUE(endsWith(outcome.output, kSaved));
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.errors, "");  // a refusal says nothing there, of a group neither
    EXPECT_EQ(readFile(dir.file("PhoneList.txt")), c.after + cp949("홍길동 010\r\n"));
  }
}

// The start names at most twenty of the entries that lost a character, and
// says how many more there are.
TEST(PhoneFileRunTest, TheStartNamesAtMostTwentyEntriesThatLostACharacter) {
  for (int lost : {20, 21}) {
    SCOPED_TRACE(lost);
    TempDir dir;
    std::string book;
    for (int i = 10; i < 10 + lost; ++i) book.append("N").append(std::to_string(i)) += "\0 1\r\n"s;
    writeFile(dir.file("PhoneList.txt"), book);
    const std::string output = runPhonebook(dir.path(), script("")).output;
    EXPECT_NE(output.find(cp949("  20번째 줄: N29? 1\n")), std::string::npos) << output;
    EXPECT_EQ(output.find(cp949("번째 줄: N30?")), std::string::npos) << output;
    EXPECT_EQ(output.find(cp949("  외 1개\n")) != std::string::npos, lost == 21) << output;
    EXPECT_EQ(output.find(cp949("  외 ")) != std::string::npos, lost == 21) << output;
  }
}

// A UTF-8 book with an invalid byte on one line of its hundred is read as
// UTF-8: only that entry lost a character, and once it is deleted the save
// writes every entry in CP949, the one added in the run among them.
TEST(PhoneFileRunTest, AUtf8BookWithAnInvalidByteLosesOnlyThatCharacter) {
  std::string book;
  for (int i = 100; i < 199; ++i) {
    book += "홍길동" + std::to_string(i) + " 010-" + std::to_string(i) + "\r\n";
  }
  const std::string after = cp949("이순신 010-9\r\n" + book);
  book.insert(book.find("홍길동150"), "김\xFF철수 02-1\r\n");  // line 51
  TempDir dir;
  writeFile(dir.file("PhoneList.txt"), book);
  testing::Outcome outcome =
      runPhonebook(dir.path(), script(cp949("0\n5\n김?철수\n1\n이순신\n010-9\n0\n")));
  EXPECT_NE(outcome.output.find(cp949("  51번째 줄: 김?철수 02-1\n")), std::string::npos)
      << outcome.output;
  EXPECT_TRUE(endsWith(outcome.output, kSaved));
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(readFile(dir.file("PhoneList.txt")), after);
}

TEST(PhoneFileRunTest, AFileThatCouldNotBeReadIsNeverReplaced) {
  TempDir dir;
  fs::create_directory(dir.file("PhoneList.txt"));
  writeFile(dir.file("PhoneList.txt/keep"), "x");
  testing::Outcome outcome = runPhonebook(dir.path(), script("0\n0\n"));
  EXPECT_EQ(outcome.output.substr(0, testing::kCannotOpenStart.size()), testing::kCannotOpenStart);
  EXPECT_NE(outcome.output.find(testing::kNotReadWhole), std::string::npos);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.errors, "");
  EXPECT_TRUE(fs::is_directory(dir.file("PhoneList.txt")));
  EXPECT_EQ(readFile(dir.file("PhoneList.txt/keep")), "x");
}

TEST(PhoneFileRunTest, WhatAFileHoldsNeverDrivesTheTerminal) {
  // A window title and a clipboard write (OSC 52), a cursor moved back
  // over a number, and bytes that begin no CP949 character (0x9B is CSI to
  // a terminal that takes 8-bit controls; 0xB0 is a lead byte left without
  // its trail byte): shown as "?", kept in the file byte for byte.
  const std::string before =
      "Csi\x9B"
      "31m \x80\xFF"
      "5\xB0\r\nEvil\x1b]0;owned\x07\x1b]52;c;aGk=\x07 1\r\nKim 010\x1b[10D999\x7f\r\n";
  for (const std::string& locale : terminalLocales()) {
    SCOPED_TRACE(locale);
    TempDir dir;
    writeFile(dir.file("PhoneList.txt"), before);
    testing::Outcome outcome = runPhonebook(dir.path(), script("2\n3\nKim\n0\n", locale));
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.output.find_first_of("\x1b\x07\x7f"), std::string::npos);
    EXPECT_NE(outcome.output.find("Csi?31m\t\t??5?\n"), std::string::npos);
    EXPECT_NE(outcome.output.find("Evil?]0;owned??]52;c;aGk=?\t\t1\n"), std::string::npos);
    EXPECT_NE(outcome.output.find(" : Kim 010?[10D999?\n"), std::string::npos);  // the search
    EXPECT_EQ(readFile(dir.file("PhoneList.txt")), before);
  }
}

TEST(PhoneFileRunTest, EndOfInputLeavesTheFileAsItWasAndSaysSoAfterAChange) {
  TempDir dir;
  const std::string before = "Ahn 1\nLee 2";  // not as the program would write it
  writeFile(dir.file("PhoneList.txt"), before);
  const std::string notSaved = cp949("바꾼 내용을 저장하지 않고 끝냅니다.");
  testing::Outcome changed = runPhonebook(dir.path(), script("5\nAhn\n1\nKim\n1\n"));
  EXPECT_EQ(changed.status, 1);
  EXPECT_NE(changed.errors.find(notSaved), std::string::npos) << changed.errors;
  testing::Outcome unchanged = runPhonebook(dir.path(), script("2\n5\nNobody\n"));
  EXPECT_EQ(unchanged.status, 1);
  EXPECT_EQ(unchanged.errors, "");
  EXPECT_EQ(readFile(dir.file("PhoneList.txt")), before);
}

}  // namespace
}  // namespace phonebook
