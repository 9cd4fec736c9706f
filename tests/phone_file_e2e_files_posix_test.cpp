// The phone list file through the real program, where a POSIX system lets
// the scene be set around the file: permissions, other users and their
// groups, links, FIFOs and device nodes, and what other programs do to the
// file, before the run and while it waits. No failure of permission costs a
// byte of what was saved before.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/phone_file_run.h"
#include "tests/test_support.h"

namespace phonebook {
namespace {

namespace fs = std::filesystem;
using testing::cp949;
using testing::endsWith;
using testing::expectFailedSave;
using testing::filesIn;
using testing::kCannotOpenStart;
using namespace std::string_literals;
using testing::kChangesNotSaved;
using testing::kSaved;
using testing::kSaveFailed;
using testing::readFile;
using testing::runPhonebook;
using testing::script;
using testing::TempDir;
using testing::writeFile;

TEST(PhoneFileRunTest, ANewFileGetsThePermissionsOfAnyNewFile) {
  TempDir dir;
  EXPECT_EQ(runPhonebook(dir.path(), script("0\n")).status, 0);
  struct stat info;
  ASSERT_EQ(stat(dir.file("PhoneList.txt").c_str(), &info), 0);
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(info.st_mode & 07777, 0666 & ~mask);
}

TEST(PhoneFileRunTest, AFileWithoutReadPermissionIsNeverReplaced) {
  TempDir dir;
  chmod(dir.path().c_str(), 0777);
  const std::string before = "Ahn 1\r\n";
  writeFile(dir.file("PhoneList.txt"), before);
  chmod(dir.file("PhoneList.txt").c_str(), 0200);
  testing::Run run = script("2\n0\n");
  run.asNobody = true;
  testing::Outcome outcome = runPhonebook(dir.path(), run);
  EXPECT_EQ(outcome.output.substr(0, kCannotOpenStart.size()), kCannotOpenStart);
  chmod(dir.file("PhoneList.txt").c_str(), 0600);
  testing::expectUnsaved(outcome, dir.file("PhoneList.txt"), before, testing::kNotReadWhole);
  EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"PhoneList.txt"});
}

// A name of the user-defined area (U+E000, C9A1 as Windows has it) too.
TEST(PhoneFileRunTest, AFileAnEditorSavedInUtf8OrUtf16IsFoundAsTypedAndSavedInCp949) {
  const std::string book = "홍길동 010-123\r\n\uE000 2\r\nAhn 1\r\n";
  for (const std::string& file :
       {book, testing::encoded(book, "UTF-16LE"), testing::encoded(book, "UTF-16BE")}) {
    TempDir dir;
    writeFile(dir.file("PhoneList.txt"), file);
    testing::Outcome outcome =
        runPhonebook(dir.path(), script("3\n홍길동\n3\n\uE000\n0\n", "C.UTF-8"));
    EXPECT_EQ(outcome.status, 0);
    EXPECT_NE(outcome.output.find(" : 홍길동 010-123\n"), std::string::npos) << outcome.output;
    EXPECT_NE(outcome.output.find(" : \uE000 2\n"), std::string::npos) << outcome.output;
    EXPECT_EQ(readFile(dir.file("PhoneList.txt")),
              cp949("Ahn 1\r\n홍길동 010-123\r\n") + "\xC9\xA1 2\r\n");
  }
}

// Another program's change is not overwritten unasked: the first 0 says
// what happened to the file, and a second one replaces it. A change of
// access alone is no change of the book. Every refusal of the save has its
// unit test on a fake file system; these runs show that the real files'
// stamps, bytes and links tell each change, and what the user reads.
TEST(PhoneFileRunTest, AFileChangedByAnotherProgramIsReplacedOnlyAtASecondZero) {
  const std::string since = "이 프로그램이 읽은 뒤에 다른 프로그램이 PhoneList.txt를 ";
  const std::string again =
      ".\n그래도 저장하려면 0을 다시 고르십시오.\n그 프로그램이 한 일을 그대로 두려면 Ctrl-C를 "
      "눌러 "
      "저장하지 않고 끝내십시오.\n";
  const std::string changed = since + "바꾸었습니다" + again;
  struct Case {
    const char* what;
    bool before;  // PhoneList.txt holds "Ahn 1" at the start
    std::function<void(const TempDir&)> change;
    std::string said;    // why the first 0 is refused; "" where it saves
    const char* target;  // the file that the save wrote
  };
  const Case cases[] = {
      {"rewritten at the same size, its time set back", true,
       [](const TempDir& dir) {
         auto time = fs::last_write_time(dir.file("PhoneList.txt"));
         writeFile(dir.file("PhoneList.txt"), "Lee 3\r\n");
         fs::last_write_time(dir.file("PhoneList.txt"), time);
       },
       changed, "PhoneList.txt"},
      {"made read-only and writable again", true,
       [](const TempDir& dir) {
         chmod(dir.file("PhoneList.txt").c_str(), 0444);
         chmod(dir.file("PhoneList.txt").c_str(), 0644);
       },
       "", "PhoneList.txt"},
      {"removed", true, [](const TempDir& dir) { fs::remove(dir.file("PhoneList.txt")); },
       since + "지웠습니다" + again, "PhoneList.txt"},
      {"made where there was none", false,
       [](const TempDir& dir) { writeFile(dir.file("PhoneList.txt"), "Lee 3\r\n"); },
       "이 프로그램이 시작한 뒤에 다른 프로그램이 PhoneList.txt를 만들었습니다" + again,
       "PhoneList.txt"},
      {"replaced by another file", true,
       [](const TempDir& dir) {
         writeFile(dir.file("other.txt"), "Ahn 1\r\n");
         fs::rename(dir.file("other.txt"), dir.file("PhoneList.txt"));
       },
       since + "다른 파일로 바꾸었습니다" + again, "PhoneList.txt"},
      {"a link put in its place", true,
       [](const TempDir& dir) {
         writeFile(dir.file("other.txt"), "Lee 3\r\n");
         fs::remove(dir.file("PhoneList.txt"));
         fs::create_symlink("other.txt", dir.file("PhoneList.txt"));
       },
       since + "다른 파일(other.txt)을 가리키는 링크로 바꾸었습니다" + again, "other.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    if (c.before) writeFile(dir.file("PhoneList.txt"), "Ahn 1\r\n");
    testing::Run run = script("2\n");
    run.later = {cp949("이름"), [&] { c.change(dir); }, "1\nKim\n2\n0\n0\n"};
    testing::Outcome outcome = runPhonebook(dir.path(), run);
    if (c.said.empty()) {
      EXPECT_EQ(outcome.output.find(testing::kSaveRefused), std::string::npos) << outcome.output;
    } else {
      EXPECT_NE(outcome.output.find(testing::kSaveRefused + cp949(c.said)), std::string::npos)
          << outcome.output;
      EXPECT_EQ(outcome.output.find(kSaveFailed), std::string::npos);
    }
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(readFile(dir.file(c.target)), c.before ? "Ahn 1\r\nKim 2\r\n" : "Kim 2\r\n");
  }
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

// A directory or a file that the user may not write: said at the start,
// said at each 0 with the run's work kept, and saved once the user has
// made it writable.
TEST(PhoneFileRunTest, ASaveThatIsNotAllowedKeepsTheWorkUntilItIs) {
  const std::string before = "Ahn 1\r\n";
  const std::string cannot =
      cp949("\n\n이 폴더에는 PhoneList.txt를 저장할 수 없습니다: ") + testing::kNoPermission +
      cp949(
          "\n원인을 해결하거나 다른 폴더에서 실행하십시오.\n그대로 쓰면 바꾼 내용을 저장할 수 "
          "없습니다.\n");
  for (const char* locked : {"directory", "file"}) {
    SCOPED_TRACE(locked);
    TempDir dir;
    writeFile(dir.file("PhoneList.txt"), before);
    const std::string what = locked == "file"s ? dir.file("PhoneList.txt") : dir.path();
    chmod(dir.file("PhoneList.txt").c_str(), locked == "file"s ? 0444 : 0666);
    chmod(dir.path().c_str(), locked == "file"s ? 0777 : 0555);
    testing::Run run = script("1\nKim\n1\n0\n0\n");
    run.asNobody = true;  // root writes anywhere
    testing::Outcome outcome = runPhonebook(dir.path(), run);
    EXPECT_NE(outcome.output.find(cp949("저장된 파일을 불러옵니다.") + cannot), std::string::npos);
    std::size_t first = outcome.output.find(kSaveFailed + testing::kNoPermission);
    EXPECT_NE(outcome.output.find(kSaveFailed + testing::kNoPermission, first + 1),
              std::string::npos);
    expectFailedSave(outcome, dir.file("PhoneList.txt"), before, testing::kNoPermission);
    EXPECT_EQ(outcome.errors, kChangesNotSaved);

    run.input = "1\nKim\n1\n0\n";
    run.later = {testing::kSaveFailedAdvice,
                 [&] { chmod(what.c_str(), locked == "file"s ? 0666 : 0777); }, "0\n"};
    outcome = runPhonebook(dir.path(), run);
    chmod(dir.path().c_str(), 0700);
    EXPECT_TRUE(endsWith(outcome.output, kSaved));
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(readFile(dir.file("PhoneList.txt")), "Ahn 1\r\nKim 1\r\n");
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"PhoneList.txt"});
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
         struct stat null;
         return stat("/dev/null", &null) == 0 &&
                mknod(dir.file("PhoneList.txt").c_str(), S_IFCHR | 0666, null.st_rdev) == 0;
       },
       S_IFCHR},
  };
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.what);
    TempDir dir;
    if (!kind.make(dir)) continue;  // mknod needs root
    const std::vector<std::string> before = filesIn(dir.path());
    testing::Outcome outcome = runPhonebook(dir.path(), script("1\nKim\n1\n0\n"));
    EXPECT_EQ(outcome.output.substr(0, kCannotOpenStart.size()), kCannotOpenStart);
    EXPECT_NE(outcome.output.find(testing::kNotReadWhole), std::string::npos);
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

  // Root saving another user's file gives it back to its owner.
  ASSERT_EQ(chown(dir.file("PhoneList.txt").c_str(), 65534, 65534), 0);
  EXPECT_EQ(runPhonebook(dir.path(), script("0\n")).status, 0);
  ASSERT_EQ(stat(dir.file("PhoneList.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 65534u);
  EXPECT_EQ(info.st_gid, 65534u);
}

// nobody saves a file of group adm, and is not in it: the new file's group
// is nobody's own, and it must not take over what adm might do. Standard
// error says what was lost. (Through an ACL too: the Linux tests.)
TEST(PhoneFileRunTest, AGroupThatCannotBeKeptGetsNoAccessAndTheSaveSaysSo) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to play two users";
  constexpr gid_t kAdm = 4;
  TempDir dir;
  chmod(dir.path().c_str(), 0777);
  const std::string file = dir.file("PhoneList.txt");
  writeFile(file, "Ahn 1\r\n");
  ASSERT_EQ(chown(file.c_str(), 65534, kAdm), 0);
  chmod(file.c_str(), 0640);
  testing::Run run = script("1\nKim\n2\n0\n");
  run.asNobody = true;
  testing::Outcome outcome = runPhonebook(dir.path(), run);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(readFile(file), "Ahn 1\r\nKim 2\r\n");
  struct stat info;
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_gid, 65534u);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_EQ(outcome.errors, testing::kGroupNotKept);
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
  // The start says so before any work is done.
  EXPECT_NE(outcome.output.find(cp949("이 폴더에는 PhoneList.txt를 저장할 수 없습니다: ") +
                                testing::kNoPermission),
            std::string::npos)
      << outcome.output;
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
  EXPECT_NE(outcome.errors.find(cp949("폴더의 기록을 디스크에 확정하지 못했습니다")),
            std::string::npos)
      << outcome.errors;
  EXPECT_EQ(readFile(dir.file("PhoneList.txt")), "Ahn 1\r\nKim 2\r\n");
}

}  // namespace
}  // namespace phonebook
