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
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(readFile(dir.file("PhoneList.txt")), "");
}

TEST(PhoneFileRunTest, AFileThatCouldNotBeReadIsNeverReplaced) {
  {
    SCOPED_TRACE("a UTF-8 file with a character that CP949 lacks: shown as ?");
    TempDir dir;
    const std::string before = "홍길동 010\r\n😀 1\r\n";
    writeFile(dir.file("PhoneList.txt"), before);
    testing::Outcome outcome = runPhonebook(dir.path(), script("2\n0\n"));
    const std::string start = kCannotReadStart.substr(kFileOpenFail.size());
    EXPECT_EQ(outcome.output.substr(0, start.size()), start);
    EXPECT_NE(outcome.output.find("?\t\t1\n" + cp949("홍길동\t\t010\n")), std::string::npos);
    expectFailedSave(outcome, dir.file("PhoneList.txt"), before);
  }
  {
    SCOPED_TRACE("a directory of that name: it opens but cannot be read");
    TempDir dir;
    fs::create_directory(dir.file("PhoneList.txt"));
    writeFile(dir.file("PhoneList.txt/keep"), "x");
    testing::Outcome outcome = runPhonebook(dir.path(), script("0\n"));
    EXPECT_TRUE(endsWith(outcome.output, kFileOpenFail));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(fs::is_directory(dir.file("PhoneList.txt")));
    EXPECT_EQ(readFile(dir.file("PhoneList.txt/keep")), "x");
  }
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

TEST(PhoneFileRunTest, EndOfInputLeavesTheFileAsItWas) {
  TempDir dir;
  const std::string before = "Ahn 1\nLee 2";  // not as the program would write it
  writeFile(dir.file("PhoneList.txt"), before);
  EXPECT_EQ(runPhonebook(dir.path(), script("5\nAhn\n1\nKim\n1\n")).status, 1);
  EXPECT_EQ(readFile(dir.file("PhoneList.txt")), before);
}

}  // namespace
}  // namespace phonebook
