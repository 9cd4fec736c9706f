// What only the Windows build has: CP949 through UTF-16 for the console,
// and the save's and the lock's Windows file operations.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <cerrno>
#include <string>

#include "platform/code_page_windows.h"
#include "platform/directory.h"
#include "platform/file.h"
#include "platform/replace_file.h"
#include "tests/phone_file_run.h"
#include "tests/test_support.h"

namespace phonebook {
namespace {

using testing::cp949;
using testing::expectFailedSave;
using testing::filesIn;
using testing::readFile;
using testing::runPhonebook;
using testing::script;
using testing::TempDir;
using testing::writeFile;

// The help names the README beside phonebook.exe: Windows has no manual
// pages.
TEST(HelpTest, NamesTheReadmeBesideTheProgram) {
  TempDir dir;
  testing::Run run = script("");
  run.argument = "-h";
  testing::Outcome outcome = runPhonebook(dir.path(), run);
  EXPECT_NE(outcome.output.find(cp949("자세한 설명: phonebook.exe와 같은 폴더의 README.md\n")),
            std::string::npos)
      << outcome.output;
  EXPECT_EQ(outcome.output.find("man phonebook"), std::string::npos);
}

TEST(CodePageTest, Cp949AndUtf16BothWays) {
  struct Case {
    const char* what;
    std::string cp949;
    std::wstring wide;
  };
  const Case cases[] = {
      {"Hangul, Latin and a tab", cp949("홍길동\tKim 010"), L"홍길동\tKim 010"},
      {"a syllable only CP949 has", cp949("똠"), L"똠"},
      {"a lead byte without its trail", "A\xB0", L"A?"},
      {"bytes in no character, then Latin",
       "\x80\xFF"
       "B",
       L"??B"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(widenCp949(c.cp949), c.wide);
  }
  std::string narrowed;
  EXPECT_TRUE(narrowToCp949(L"홍길동 똠", narrowed));
  EXPECT_EQ(narrowed, cp949("홍길동 똠"));
  // An emoji (a surrogate pair) and a Thai letter, which CP949 lacks, and
  // the code page's characters for the stray bytes 0x80 and 0xFF: one "?"
  // each; Cyrillic and the euro sign it has.
  narrowed.clear();
  EXPECT_FALSE(narrowToCp949(L"a\U0001F600b\u0E01\u0444\u20ACc\u0080\uF8F7", narrowed));
  EXPECT_EQ(narrowed,
            "a?b?\xAC\xE6\xA2\xE6"
            "c??");
}

TEST(CodePageTest, ATypedCharacterCp949LacksIsMarkedNotTakenForAQuestionMark) {
  using namespace std::string_literals;
  // É and an emoji are lost, a "?" typed stays, a U+0000 typed is left out.
  std::string typed;
  narrowTyped(L"\u00C9m?\U0001F600\0\uD64Dx"s, typed);
  EXPECT_EQ(typed, "\0m?\0"s + cp949("홍") + "x");
}

TEST(CodePageTest, ACharacterSplitBetweenWritesWaitsForItsRest) {
  Cp949Pieces pieces;
  const std::string name = cp949("홍길동");
  EXPECT_EQ(pieces.widen(name.substr(0, 3)), L"홍");
  EXPECT_EQ(pieces.widen(name.substr(3, 2)), L"길");
  EXPECT_EQ(pieces.widen(name.substr(5) + "\n"), L"동\n");
}

// A fill that writes part of a phone book and then fails, as a full disk
// would.
bool failingFill(File& file) {
  return file.write("Kim 1\r\n", 7) && false;
}

bool fill(File& file) {
  return file.write("Kim 1\r\n", 7);
}

TEST(WindowsSaveTest, AFailedSaveLeavesTheOldFileAndNothingElse) {
  struct Case {
    const char* what;
    bool readOnly;
    bool (*fill)(File& file);
  };
  for (const Case& c : {Case{"a write that fails", false, failingFill},
                        Case{"a read-only file is never replaced", true, fill}}) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string file = dir.file("PhoneList.txt");
    writeFile(file, "Ahn 1\r\n");
    if (c.readOnly) SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(replaceFile(file.c_str(), c.fill), SaveResult::kFailed);
    EXPECT_EQ(readFile(file), "Ahn 1\r\n");
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"PhoneList.txt"});
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  TempDir dir;
  EXPECT_EQ(replaceFile(dir.file("PhoneList.txt").c_str(), fill), SaveResult::kSaved);
  EXPECT_EQ(replaceFile(dir.file("PhoneList.txt").c_str(), fill), SaveResult::kSaved);
  EXPECT_EQ(readFile(dir.file("PhoneList.txt")), "Kim 1\r\n");
  EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"PhoneList.txt"});
}

// Whether the DACL is carried over cannot be seen under Wine, which shows
// one made from the Unix permission bits whatever was set.
TEST(WindowsSaveTest, TheRenameKeepsTheOldFilesAttributes) {
  TempDir dir;
  const std::string file = dir.file("PhoneList.txt");
  writeFile(file, "Ahn 1\r\n");
  const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
  ASSERT_TRUE(SetFileAttributesA(file.c_str(), kept));
  EXPECT_EQ(replaceFile(file.c_str(), fill), SaveResult::kSaved);
  EXPECT_EQ(readFile(file), "Kim 1\r\n");
  EXPECT_EQ(GetFileAttributesA(file.c_str()) & kept, kept);
  EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"PhoneList.txt"});
}

TEST(WindowsSaveTest, AFileHeldOpenByAnotherProgramIsNotReplacedAndNothingIsLeft) {
  for (DWORD sharing : {DWORD{FILE_SHARE_READ}, DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE}}) {
    SCOPED_TRACE(sharing);
    TempDir dir;
    const std::string file = dir.file("PhoneList.txt");
    writeFile(file, "Ahn 1\r\n");
    HANDLE held = CreateFileA(file.c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    expectFailedSave(runPhonebook(dir.path(), script("1\nKim\n1\n0\n")), file, "Ahn 1\r\n",
                     cp949("다른 프로그램이 이 파일을 쓰고 있습니다."));
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"PhoneList.txt"});
    errno = 0;
    EXPECT_EQ(replaceFile(file.c_str(), fill), SaveResult::kFailed);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"PhoneList.txt"});
    CloseHandle(held);
  }
}

// Windows gives the leftover no mark that Wine keeps: the name alone tells
// it, one that no person would type.
TEST(WindowsSaveTest, TheStartRemovesALeftoverFileButNotADirectoryOrAPersonsFile) {
  TempDir dir;
  writeFile(dir.file("PhoneList.txt"), "Ahn 1\r\n");
  writeFile(dir.file(".phonebook-Ab3dEf6hIj9k.tmp"), "Ahn 1\r\n");
  const std::vector<std::string> kept = {".phonebook-20261210", ".phonebook-abcdefgh",
                                         ".phonebook-abcdefghijkl.tmp"};
  for (const std::string& name : kept) writeFile(dir.file(name), "x");
  ASSERT_TRUE(CreateDirectoryA(dir.file(".phonebook-Dir0000000a.tmp").c_str(), nullptr));
  EXPECT_EQ(runPhonebook(dir.path(), script("")).status, 1);
  EXPECT_EQ(filesIn(dir.path()),
            (std::vector<std::string>{".phonebook-20261210", ".phonebook-Dir0000000a.tmp",
                                      ".phonebook-abcdefgh", ".phonebook-abcdefghijkl.tmp",
                                      "PhoneList.txt"}));
}

TEST(WindowsSaveTest, TheDirectoryIsLockedForOneRunWhateverItsPathIsCalled) {
  TempDir dir;
  EXPECT_EQ(lockDirectoryOf(dir.file("PhoneList.txt").c_str()), LockResult::kLocked);
  // The same directory by another name: through "." and in other letters.
  std::string other = dir.path() + "\\.\\phonelist.TXT";
  for (char& c : other) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(lockDirectoryOf(other.c_str()), LockResult::kLockedElsewhere);
  TempDir elsewhere;
  EXPECT_EQ(lockDirectoryOf(elsewhere.file("PhoneList.txt").c_str()), LockResult::kLocked);
}

}  // namespace
}  // namespace phonebook
