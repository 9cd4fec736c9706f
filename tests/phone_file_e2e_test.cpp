// The phone list file through the real program: what one run saves the next
// one finds, and no failure of disk, permission or input costs a byte of
// what was saved before.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "tests/test_support.h"

namespace phonebook {
namespace {

namespace fs = std::filesystem;
using testing::cp949;
using testing::readFile;
using testing::runPhonebook;
using testing::script;
using testing::TempDir;
using testing::writeFile;

const std::string kFileOpenFail = "File Open Fail";
const std::string kSaved = cp949("\n\n전화번호부를 저장합니다.\n\n");
// What the start shows when a file is there but cannot be read whole.
const std::string kCannotReadStart =
    kFileOpenFail + cp949(
                        "저장된 파일을 불러옵니다.\n\nPhoneList.txt 파일을 읽을 수 없어, "
                        "이번에 바꾼 내용은 저장되지 않습니다.\n");

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The names of the files in `dir`: a failed save must leave nothing behind.
std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// A phone book of `count` records, larger than any limit the tests set.
std::string manyRecords(int count) {
  std::string text;
  for (int i = 0; i < count; ++i)
    text += "Name" + std::to_string(i) + " 010-" + std::to_string(i) + "\r\n";
  return text;
}

TEST(PhoneFileRunTest, EntriesOutlastARunInBothLocales) {
  for (const char* locale : {"C", "C.UTF-8"}) {
    SCOPED_TRACE(locale);
    TempDir dir;
    std::string add = "1\n홍길동\n010-123-456\n1\n김철수\n02-987-654\n0\n";
    if (std::string(locale) == "C") add = cp949(add);
    EXPECT_EQ(runPhonebook(dir.path(), script(add, locale)).status, 0);
    // Bytes in the file are CP949 whatever the terminal speaks.
    EXPECT_EQ(readFile(dir.file("PhoneList.txt")),
              cp949("김철수 02-987-654\r\n홍길동 010-123-456\r\n"));
    testing::Outcome again = runPhonebook(dir.path(), script("2\n0\n", locale));
    std::string listed = "김철수\t\t02-987-654\n홍길동\t\t010-123-456\n";
    if (std::string(locale) == "C") listed = cp949(listed);
    EXPECT_NE(again.output.find(listed), std::string::npos);
    EXPECT_EQ(again.status, 0);
  }
}

TEST(PhoneFileRunTest, AFileAnEditorSavedInUtf8IsFoundAsTypedAndSavedInCp949) {
  TempDir dir;
  writeFile(dir.file("PhoneList.txt"), "홍길동 010-123\r\nAhn 1\r\n");
  testing::Outcome outcome = runPhonebook(dir.path(), script("3\n홍길동\n0\n", "C.UTF-8"));
  EXPECT_EQ(outcome.status, 0);
  EXPECT_NE(outcome.output.find(" : 홍길동 010-123\n"), std::string::npos) << outcome.output;
  EXPECT_EQ(readFile(dir.file("PhoneList.txt")), cp949("Ahn 1\r\n홍길동 010-123\r\n"));
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
  struct stat info;
  ASSERT_EQ(stat(dir.file("PhoneList.txt").c_str(), &info), 0);
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(info.st_mode & 07777, 0666 & ~mask);
}

TEST(PhoneFileRunTest, SaveKeepsPermissionBitsAndFollowsSymbolicLinks) {
  TempDir dir;
  fs::create_directory(dir.file("books"));
  writeFile(dir.file("books/mine.txt"), "Ahn 1\r\n");
  chmod(dir.file("books/mine.txt").c_str(), 0640);
  fs::create_symlink("books/mine.txt", dir.file("PhoneList.txt"));

  EXPECT_EQ(runPhonebook(dir.path(), script("1\nLee\n2\n0\n")).status, 0);
  EXPECT_TRUE(fs::is_symlink(dir.file("PhoneList.txt")));
  EXPECT_EQ(readFile(dir.file("books/mine.txt")), "Ahn 1\r\nLee 2\r\n");
  struct stat info;
  ASSERT_EQ(stat(dir.file("books/mine.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(filesIn(dir.file("books")), std::vector<std::string>{"mine.txt"});
}

// Every way a save can fail: "File Open Fail", no save text, status 1, the
// old file byte for byte as it was and no new file left behind.
void expectFailedSave(const testing::Outcome& outcome, const std::string& file,
                      const std::string& before) {
  EXPECT_TRUE(endsWith(outcome.output, kFileOpenFail)) << outcome.output;
  EXPECT_EQ(outcome.output.find(kSaved), std::string::npos);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(readFile(file), before);
}

TEST(PhoneFileRunTest, ASaveThatHitsAFileSizeLimitKeepsTheOldFile) {
  TempDir dir;
  const std::string before = manyRecords(100);
  writeFile(dir.file("PhoneList.txt"), before);
  testing::Run run = script("1\nKim\n1\n0\n");
  run.maxFileSize = 1024;
  expectFailedSave(runPhonebook(dir.path(), run), dir.file("PhoneList.txt"), before);
  EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"PhoneList.txt"});
}

TEST(PhoneFileRunTest, ASaveIntoAReadOnlyDirectoryKeepsTheOldFile) {
  TempDir dir;
  const std::string before = "Ahn 1\r\n";
  writeFile(dir.file("PhoneList.txt"), before);
  chmod(dir.file("PhoneList.txt").c_str(), 0644);
  chmod(dir.path().c_str(), 0555);
  testing::Run run = script("1\nKim\n1\n0\n");
  run.asNobody = true;  // root writes anywhere
  testing::Outcome outcome = runPhonebook(dir.path(), run);
  chmod(dir.path().c_str(), 0700);
  expectFailedSave(outcome, dir.file("PhoneList.txt"), before);
  EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"PhoneList.txt"});
}

TEST(PhoneFileRunTest, AFileThatCouldNotBeReadIsNeverReplaced) {
  {
    SCOPED_TRACE("a file without read permission");
    TempDir dir;
    chmod(dir.path().c_str(), 0777);
    const std::string before = "Ahn 1\r\n";
    writeFile(dir.file("PhoneList.txt"), before);
    chmod(dir.file("PhoneList.txt").c_str(), 0200);
    testing::Run run = script("2\n0\n");
    run.asNobody = true;
    testing::Outcome outcome = runPhonebook(dir.path(), run);
    EXPECT_EQ(outcome.output.substr(0, kCannotReadStart.size()), kCannotReadStart);
    chmod(dir.file("PhoneList.txt").c_str(), 0600);
    expectFailedSave(outcome, dir.file("PhoneList.txt"), before);
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"PhoneList.txt"});
  }
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

TEST(PhoneFileRunTest, OnlyARegularFileIsReadOrReplaced) {
  struct Kind {
    const char* what;
    std::function<bool(const TempDir&)> make;  // false: cannot be made here
    mode_t type;                               // of what PhoneList.txt reaches
  };
  const Kind kinds[] = {
      {"a FIFO, which would block the start",
       [](const TempDir& dir) { return mkfifo(dir.file("PhoneList.txt").c_str(), 0666) == 0; },
       S_IFIFO},
      {"a link to a FIFO",
       [](const TempDir& dir) {
         fs::create_symlink("fifo", dir.file("PhoneList.txt"));
         return mkfifo(dir.file("fifo").c_str(), 0666) == 0;
       },
       S_IFIFO},
      {"a device node, as /dev/null is",
       [](const TempDir& dir) {
         return mknod(dir.file("PhoneList.txt").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
       },
       S_IFCHR},
  };
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.what);
    TempDir dir;
    if (!kind.make(dir)) continue;  // mknod needs root
    const std::vector<std::string> before = filesIn(dir.path());
    testing::Outcome outcome = runPhonebook(dir.path(), script("1\nKim\n1\n0\n"));
    EXPECT_EQ(outcome.output.substr(0, kCannotReadStart.size()), kCannotReadStart);
    EXPECT_TRUE(endsWith(outcome.output, kFileOpenFail));
    EXPECT_EQ(outcome.status, 1);
    struct stat info;
    ASSERT_EQ(stat(dir.file("PhoneList.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & S_IFMT, kind.type);
    EXPECT_EQ(filesIn(dir.path()), before);
  }
}

TEST(PhoneFileRunTest, TheFilesGroupIsKeptForTheUsersWhoShareIt) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to play two users";
  TempDir dir;
  chmod(dir.path().c_str(), 0777);
  const gid_t shared = 100;
  writeFile(dir.file("PhoneList.txt"), "Ahn 1\r\n");
  ASSERT_EQ(chown(dir.file("PhoneList.txt").c_str(), 0, shared), 0);
  chmod(dir.file("PhoneList.txt").c_str(), 0660);
  testing::Run run = script("1\nKim\n2\n0\n");
  run.asNobody = true;
  run.groups = {shared};
  EXPECT_EQ(runPhonebook(dir.path(), run).status, 0);
  EXPECT_EQ(readFile(dir.file("PhoneList.txt")), "Ahn 1\r\nKim 2\r\n");
  struct stat info;
  ASSERT_EQ(stat(dir.file("PhoneList.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_gid, shared);
  EXPECT_EQ(info.st_mode & 07777, 0660u);

  // A set-group-ID directory gives new files its own group, 50 here.
  ASSERT_EQ(chown(dir.file("PhoneList.txt").c_str(), 0, 0), 0);
  ASSERT_EQ(chown(dir.path().c_str(), 0, 50), 0);
  chmod(dir.path().c_str(), 02777);
  EXPECT_EQ(runPhonebook(dir.path(), script("0\n")).status, 0);
  ASSERT_EQ(stat(dir.file("PhoneList.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_gid, 0u);
}

TEST(PhoneFileRunTest, ALinkPlantedByAnotherUserInASharedDirectoryIsNotFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to play two users";
  TempDir dir;
  fs::create_directory(dir.file("shared"));
  chmod(dir.file("shared").c_str(), 01777);  // as /tmp is
  writeFile(dir.file("victim"), "secret\n");
  fs::create_symlink(dir.file("victim"), dir.file("shared/PhoneList.txt"));
  ASSERT_EQ(lchown(dir.file("shared/PhoneList.txt").c_str(), 65534, 65534), 0);
  testing::Outcome outcome = runPhonebook(dir.file("shared"), script("0\n"));
  expectFailedSave(outcome, dir.file("victim"), "secret\n");
}

TEST(PhoneFileRunTest, ADirectoryThatCannotBeSyncedStillSaves) {
  TempDir dir;
  writeFile(dir.file("PhoneList.txt"), "Ahn 1\r\n");
  chmod(dir.file("PhoneList.txt").c_str(), 0666);
  chmod(dir.path().c_str(), 0333);  // nobody may write and enter, but not read it
  testing::Run run = script("1\nKim\n2\n0\n");
  run.asNobody = true;
  testing::Outcome outcome = runPhonebook(dir.path(), run);
  chmod(dir.path().c_str(), 0700);
  EXPECT_TRUE(endsWith(outcome.output, kSaved));
  EXPECT_EQ(outcome.status, 0);
  EXPECT_NE(outcome.errors.find("could not be synced"), std::string::npos) << outcome.errors;
  EXPECT_EQ(readFile(dir.file("PhoneList.txt")), "Ahn 1\r\nKim 2\r\n");
}

TEST(PhoneFileRunTest, ASaveKilledPartWayLeavesNothingBehind) {
  TempDir dir;
  std::string before;  // as the program writes it: in order, CR LF
  for (int i = 100000; i < 400000; ++i) before += "Name" + std::to_string(i) + " 010\r\n";
  const std::string after = before + "Zzz 1\r\n";
  const testing::Run run = script("1\nZzz\n1\n0\n");
  writeFile(dir.file("PhoneList.txt"), before);
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(runPhonebook(dir.path(), run).status, 0);
  const std::chrono::duration<double> whole = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(readFile(dir.file("PhoneList.txt")) == after);
  // Kills spread over the second half of a run, where the save is.
  for (double part : {0.5, 0.6, 0.7, 0.8, 0.9, 0.95}) {
    SCOPED_TRACE(part);
    writeFile(dir.file("PhoneList.txt"), before);
    testing::Run killed = run;
    killed.killAfter = part * whole.count();
    runPhonebook(dir.path(), killed);
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"PhoneList.txt"});
    std::string now = readFile(dir.file("PhoneList.txt"));
    EXPECT_TRUE(now == before || now == after);
  }
}

TEST(PhoneFileRunTest, OutputThatNobodyReadsDoesNotStopTheSave) {
  TempDir dir;
  testing::Run run = script("1\nKim\n1\n2\n0\n");
  run.closedOutput = true;
  EXPECT_EQ(runPhonebook(dir.path(), run).status, 0);
  EXPECT_EQ(readFile(dir.file("PhoneList.txt")), "Kim 1\r\n");
}

TEST(PhoneFileRunTest, WhatAFileHoldsNeverDrivesTheTerminal) {
  // A window title and a clipboard write (OSC 52), and a cursor moved back
  // over a number: shown as "?", kept in the file byte for byte.
  const std::string before =
      "Evil\x1b]0;owned\x07\x1b]52;c;aGk=\x07 1\r\nKim 010\x1b[10D999\x7f\r\n";
  for (const char* locale : {"C", "C.UTF-8"}) {
    SCOPED_TRACE(locale);
    TempDir dir;
    writeFile(dir.file("PhoneList.txt"), before);
    testing::Outcome outcome = runPhonebook(dir.path(), script("2\n3\nKim\n0\n", locale));
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.output.find_first_of("\x1b\x07\x7f"), std::string::npos);
    EXPECT_NE(outcome.output.find("Evil?]0;owned??]52;c;aGk=?\t\t1\n"), std::string::npos);
    EXPECT_NE(outcome.output.find(" : Kim 010?[10D999?\n"), std::string::npos);  // the search
    EXPECT_EQ(readFile(dir.file("PhoneList.txt")), before);
  }
}

#if !defined(__SANITIZE_ADDRESS__)
// AddressSanitizer's own memory would swamp what is measured.
TEST(PhoneFileRunTest, MemoryFollowsTheRecordsNotTheSizeOfTheFile) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> make;
  };
  const Case cases[] = {
      {"a sparse file of 1 GiB, no records",
       [](const std::string& file) {
         writeFile(file, "");
         fs::resize_file(file, std::uintmax_t{1} << 30);
       }},
      {"a UTF-16 mark, then 256 MiB of zeros",
       [](const std::string& file) {
         writeFile(file, "\xFF\xFE");
         fs::resize_file(file, std::uintmax_t{1} << 28);
       }},
      {"64 MiB of white space around one record",
       [](const std::string& file) {
         std::string space(32 << 20, ' ');
         writeFile(file, space + "Ahn 1" + space);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    c.make(dir.file("PhoneList.txt"));
    testing::Outcome outcome = runPhonebook(dir.path(), script("0\n"));
    EXPECT_EQ(outcome.status, 0);
    EXPECT_LT(outcome.peakMiB, 32);
  }
}
#endif

TEST(PhoneFileRunTest, EndOfInputLeavesTheFileAsItWas) {
  TempDir dir;
  const std::string before = "Ahn 1\nLee 2";  // not as the program would write it
  writeFile(dir.file("PhoneList.txt"), before);
  EXPECT_EQ(runPhonebook(dir.path(), script("5\nAhn\n1\nKim\n1\n")).status, 1);
  EXPECT_EQ(readFile(dir.file("PhoneList.txt")), before);
}

#if !defined(__SANITIZE_ADDRESS__)
// AddressSanitizer reserves more address space than the limit allows.
TEST(PhoneFileRunTest, StorageThatCannotBeObtainedEndsTheProgramAndKeepsTheFile) {
  TempDir dir;
  const std::string before = manyRecords(400000);  // about 40 MB of entries
  writeFile(dir.file("PhoneList.txt"), before);
  testing::Run run = script("0\n");
  run.maxAddressSpace = 32 << 20;
  testing::Outcome outcome = runPhonebook(dir.path(), run);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.errors.find("out of memory"), std::string::npos) << outcome.errors;
  EXPECT_EQ(readFile(dir.file("PhoneList.txt")), before);
}
#endif

}  // namespace
}  // namespace phonebook
