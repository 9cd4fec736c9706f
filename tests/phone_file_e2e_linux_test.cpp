// The phone list file through the real program, where only Linux can set
// the scene: permissions, other users, links, FIFOs, resource limits,
// signals and closed pipes. No failure of disk, permission or input costs a
// byte of what was saved before.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
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
using testing::kCannotReadStart;
using testing::kFileOpenFail;
using namespace std::string_literals;
using testing::kChangesNotSaved;
using testing::kSaved;
using testing::kSaveFailed;
using testing::manyRecords;
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
  EXPECT_EQ(outcome.output.substr(0, kCannotReadStart.size()), kCannotReadStart);
  chmod(dir.file("PhoneList.txt").c_str(), 0600);
  expectFailedSave(outcome, dir.file("PhoneList.txt"), before,
                   cp949("PhoneList.txt 파일을 처음에 다 읽지 못했습니다"));
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
  const std::string since = "PhoneList.txt가 이 프로그램이 읽은 뒤에 다른 ";
  const std::string again = ". 그래도 덮어쓰려면 0을 다시 고르십시오";
  const std::string changed = since + "프로그램에서 바뀌었습니다" + again;
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
       "PhoneList.txt를 이 프로그램이 읽은 뒤에 다른 프로그램이 지웠습니다. 그래도 저장하려면 0을 "
       "다시 고르십시오",
       "PhoneList.txt"},
      {"made where there was none", false,
       [](const TempDir& dir) { writeFile(dir.file("PhoneList.txt"), "Lee 3\r\n"); },
       "이 프로그램이 시작한 뒤에 다른 프로그램이 PhoneList.txt를 만들었습니다. 그래도 덮어쓰려면 "
       "0을 다시 고르십시오",
       "PhoneList.txt"},
      {"replaced by another file", true,
       [](const TempDir& dir) {
         writeFile(dir.file("other.txt"), "Ahn 1\r\n");
         fs::rename(dir.file("other.txt"), dir.file("PhoneList.txt"));
       },
       since + "프로그램에서 다른 파일로 바뀌었습니다" + again, "PhoneList.txt"},
      {"a link put in its place", true,
       [](const TempDir& dir) {
         writeFile(dir.file("other.txt"), "Lee 3\r\n");
         fs::remove(dir.file("PhoneList.txt"));
         fs::create_symlink("other.txt", dir.file("PhoneList.txt"));
       },
       since + "파일을 가리키는 링크로 바뀌었습니다: other.txt. 그래도 그 파일을 덮어쓰려면 0을 "
               "다시 고르십시오",
       "other.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    if (c.before) writeFile(dir.file("PhoneList.txt"), "Ahn 1\r\n");
    testing::Run run = script("2\n");
    run.later = {cp949("이름"), [&] { c.change(dir); }, "1\nKim\n2\n0\n0\n"};
    testing::Outcome outcome = runPhonebook(dir.path(), run);
    if (c.said.empty()) {
      EXPECT_EQ(outcome.output.find(kSaveFailed), std::string::npos) << outcome.output;
    } else {
      EXPECT_NE(outcome.output.find(kSaveFailed + cp949(c.said)), std::string::npos)
          << outcome.output;
    }
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(readFile(dir.file(c.target)), c.before ? "Ahn 1\r\nKim 2\r\n" : "Kim 2\r\n");
  }
}

TEST(PhoneFileRunTest, ASecondRunIsRefusedWhileTheFirstWaitsAtTheMenu) {
  TempDir dir;
  testing::Outcome second;
  bool savedMeanwhile = true;
  testing::Run first = script("");
  first.later = {cp949("원하시는 메뉴를 선택해주세요: "),
                 [&] {
                   second = runPhonebook(dir.path(), script("1\nKim\n1\n0\n"));
                   savedMeanwhile = fs::exists(dir.file("PhoneList.txt"));
                 },
                 "1\nAhn\n1\n0\n"};
  testing::Outcome outcome = runPhonebook(dir.path(), first);
  EXPECT_EQ(second.output, cp949("\n이 전화번호부는 이미 다른 창에서 열려 있습니다.\n"));
  EXPECT_EQ(second.status, 1);
  EXPECT_FALSE(savedMeanwhile);
  // The first goes on as if nothing happened, and saves.
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(readFile(dir.file("PhoneList.txt")), "Ahn 1\r\n");
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
  // The mark of a temporary file goes with the rename.
  EXPECT_LT(getxattr(dir.file("books/mine.txt").c_str(), "user.phonebook.temporary", nullptr, 0),
            0);
}

TEST(PhoneFileRunTest, ASaveThatHitsAFileSizeLimitKeepsTheOldFile) {
  TempDir dir;
  const std::string before = manyRecords(100);
  writeFile(dir.file("PhoneList.txt"), before);
  testing::Run run = script("1\nKim\n1\n0\n");
  run.maxFileSize = 1024;
  expectFailedSave(runPhonebook(dir.path(), run), dir.file("PhoneList.txt"), before,
                   "File too large");
  EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"PhoneList.txt"});
}

// A directory or a file that the user may not write: said at the start,
// said at each 0 with the run's work kept, and saved once the user has
// made it writable.
TEST(PhoneFileRunTest, ASaveThatIsNotAllowedKeepsTheWorkUntilItIs) {
  const std::string before = "Ahn 1\r\n";
  const std::string cannot =
      cp949("\n\nPhoneList.txt를 이 자리에 저장할 수 없습니다: Permission denied\n");
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
    std::size_t first = outcome.output.find(kSaveFailed + "Permission denied");
    EXPECT_NE(outcome.output.find(kSaveFailed + "Permission denied", first + 1), std::string::npos);
    expectFailedSave(outcome, dir.file("PhoneList.txt"), before, "Permission denied");
    EXPECT_EQ(outcome.errors, kChangesNotSaved);

    run.input = "1\nKim\n1\n0\n";
    run.later = {testing::kSaveFailedHint,
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
    EXPECT_NE(outcome.output.find(kSaveFailed), std::string::npos);
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

// The ACL of a file: a version, then entries of tag, permissions and id.
struct AclEntry {
  std::uint16_t tag;
  std::uint16_t permissions;
  std::uint32_t id;
};
std::string aclBytes(const std::vector<AclEntry>& entries) {
  std::string bytes("\x02\0\0\0", 4);
  for (const AclEntry& entry : entries) {
    for (std::uint32_t value : {entry.tag | std::uint32_t{entry.permissions} << 16, entry.id}) {
      for (int shift = 0; shift < 32; shift += 8) bytes.push_back(char(value >> shift));
    }
  }
  return bytes;
}

// nobody saves a file of group adm, and is not in it: the new file's group
// is nobody's own, and it must not take over what adm might do. Standard
// error says what was lost.
TEST(PhoneFileRunTest, AGroupThatCannotBeKeptGetsNoAccessAndTheSaveSaysSo) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to play two users";
  constexpr gid_t kAdm = 4;
  constexpr gid_t kNogroup = 65534;
  constexpr std::uint32_t kNoId = 0xFFFFFFFF;
  const char* const acl = "system.posix_acl_access";
  // The owner, the user daemon (1) and the owning group may read and write.
  const std::vector<AclEntry> shared = {
      {0x01, 6, kNoId}, {0x02, 6, 1}, {0x04, 6, kNoId}, {0x10, 6, kNoId}, {0x20, 0, kNoId}};
  std::vector<AclEntry> afterwards = shared;
  afterwards[2].permissions = 0;  // the new owning group: nothing
  for (bool withAcl : {false, true}) {
    SCOPED_TRACE(withAcl ? "with an ACL" : "permission bits only");
    TempDir dir;
    chmod(dir.path().c_str(), 0777);
    const std::string file = dir.file("PhoneList.txt");
    writeFile(file, "Ahn 1\r\n");
    ASSERT_EQ(chown(file.c_str(), 65534, kAdm), 0);
    chmod(file.c_str(), 0640);
    // Attributes of the user's own go with every save, all of them.
    const std::pair<const char*, std::string> attributes[] = {{"user.origin", "phone"},
                                                              {"user.checked", "2026-12"}};
    for (const auto& [name, value] : attributes) {
      if (setxattr(file.c_str(), name, value.data(), value.size(), 0) != 0) {
        GTEST_SKIP() << "no user extended attributes here";
      }
    }
    if (withAcl) {
      const std::string bytes = aclBytes(shared);
      if (setxattr(file.c_str(), acl, bytes.data(), bytes.size(), 0) != 0) {
        GTEST_SKIP() << "no POSIX ACLs here";
      }
    }
    testing::Run run = script("1\nKim\n2\n0\n");
    run.asNobody = true;
    testing::Outcome outcome = runPhonebook(dir.path(), run);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(readFile(file), "Ahn 1\r\nKim 2\r\n");
    struct stat info;
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_gid, kNogroup);
    EXPECT_EQ(outcome.errors, cp949("\nPhoneList.txt를 저장했지만, 이 사용자가 속하지 않은 원래 "
                                    "그룹은 지키지 못했습니다. 새 파일은 지금의 그룹에 아무 "
                                    "권한도 주지 않습니다. 원래 그룹에 돌려주려면 그 그룹에 "
                                    "속한 사용자나 관리자에게 chgrp를 부탁하십시오.\n"));
    for (const auto& [name, value] : attributes) {
      std::string now(64, '\0');
      ssize_t size = getxattr(file.c_str(), name, now.data(), now.size());
      now.resize(static_cast<std::size_t>(std::max<ssize_t>(size, 0)));
      EXPECT_EQ(now, value) << name;
    }
    if (withAcl) {
      // The mask (the group bits) still lets daemon in.
      EXPECT_EQ(info.st_mode & 07777, 0660u);
      std::string now(256, '\0');
      ssize_t size = getxattr(file.c_str(), acl, now.data(), now.size());
      ASSERT_GT(size, 0);
      now.resize(static_cast<std::size_t>(size));
      EXPECT_EQ(now, aclBytes(afterwards));
    } else {
      EXPECT_EQ(info.st_mode & 07777, 0600u);
    }
  }
}

// What the save will meet is said at the start: a file or directory that
// chattr made append-only or immutable (which binds root too), or another
// user's file in a sticky directory. The save then fails, says why, and
// leaves the old file and nothing else.
TEST(PhoneFileRunTest, TheStartWarnsOfFlagsAndStickyDirectoriesThatStopTheSave) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for chattr and to play two users";
  const std::string flagged = cp949(
      "\n\nPhoneList.txt를 이 자리에 저장할 수 없습니다: PhoneList.txt나 이 폴더에 바꾸지 "
      "못하게 하는 표시(chattr +a 또는 +i)가 있습니다. 관리자에게 이 표시를 지워 달라고 "
      "부탁하십시오.\n");
  const std::string others = cp949(
      "\n\nPhoneList.txt를 이 자리에 저장할 수 없습니다: PhoneList.txt는 다른 사용자의 "
      "파일이고, 이 폴더에서는 파일의 주인만 파일을 지우거나 새 파일로 바꿀 수 있습니다. "
      "파일의 주인에게 부탁하거나 다른 폴더에서 실행하십시오.\n");
  struct Case {
    const char* what;
    const char* flag;  // for chattr, or none
    bool onDirectory;
    const std::string& warning;
  };
  const Case cases[] = {
      {"an append-only file", "+a", false, flagged},
      {"an immutable file", "+i", false, flagged},
      {"an append-only directory", "+a", true, flagged},
      {"an immutable directory", "+i", true, flagged},
      {"another user's file in a sticky directory", nullptr, false, others},
  };
  const std::string before = "Ahn 1\r\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string book = dir.file("book");
    fs::create_directory(book);
    chmod(book.c_str(), c.flag == nullptr ? 01777 : 0777);
    writeFile(book + "/PhoneList.txt", before);
    chmod((book + "/PhoneList.txt").c_str(), 0666);
    const std::string flagged = c.onDirectory ? book : book + "/PhoneList.txt";
    if (c.flag != nullptr &&
        std::system(("chattr " + std::string(c.flag) + " '" + flagged + "' 2>/dev/null").c_str()) !=
            0) {
      GTEST_SKIP() << "chattr does not work here";
    }
    testing::Run run = script("1\nKim\n2\n0\n");
    run.asNobody = c.flag == nullptr;
    testing::Outcome outcome = runPhonebook(book, run);
    if (c.flag != nullptr) {
      ASSERT_EQ(std::system(("chattr -a -i '" + flagged + "'").c_str()), 0);
    }
    EXPECT_NE(outcome.output.find(cp949("저장된 파일을 불러옵니다.") + c.warning),
              std::string::npos)
        << outcome.output;
    expectFailedSave(outcome, book + "/PhoneList.txt", before, "Operation not permitted");
    EXPECT_EQ(filesIn(book), std::vector<std::string>{"PhoneList.txt"});
  }
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

TEST(PhoneFileRunTest, ASaveKilledPartWayLeavesOneBookWholeAndTheNextStartClearsUp) {
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
    // A kill between the naming of the new file and its rename leaves it
    // whole under its temporary name, for the next start to remove.
    runPhonebook(dir.path(), script(""));
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"PhoneList.txt"});
    std::string now = readFile(dir.file("PhoneList.txt"));
    EXPECT_TRUE(now == before || now == after);
  }
}

TEST(PhoneFileRunTest, ASignalDuringTheSaveWaitsAndTheSaveEndsAsASaveEnds) {
  TempDir dir;
  const std::string before = manyRecords(200000);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(strsignal(signal));
    writeFile(dir.file("PhoneList.txt"), before);
    testing::Run run = script("5\nName7\n0\n");
    run.signalDuringSave = signal;
    testing::Outcome outcome = runPhonebook(dir.path(), run);
    ASSERT_TRUE(outcome.signalled) << "the save ended before it was seen";
    EXPECT_TRUE(endsWith(outcome.output, kSaved));
    EXPECT_EQ(outcome.status, 0);
    std::string after = readFile(dir.file("PhoneList.txt"));
    EXPECT_EQ(after.size(), before.size() - std::string("Name7 010-7\r\n").size());
    EXPECT_EQ(after.find("Name7 "), std::string::npos);
  }
}

// The mark that a save puts on its new file until the rename: the file's
// own number. False where the file system keeps no user attributes.
bool markAsTemporary(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;
  const std::string number = std::to_string(info.st_ino);
  return setxattr(path.c_str(), "user.phonebook.temporary", number.data(), number.size(), 0) == 0;
}

// A leftover is known by a name that no person would type and by the mark
// of the save that made it, which a copy does not carry: a person's own
// file is never removed, also in the directory that a linked PhoneList.txt
// points into. (That the save's real leftovers are removed, the crash
// tests show: every kill between the naming and the rename leaves one.)
TEST(PhoneFileRunTest, TheStartRemovesOnlyTheLeftoversOfThisUsersSaves) {
  TempDir dir;
  fs::create_directory(dir.file("books"));
  writeFile(dir.file("books/mine.txt"), "Ahn 1\r\n");
  fs::create_symlink("books/mine.txt", dir.file("PhoneList.txt"));
  enum How { kPlain, kMarked, kCopyOfMarked };
  struct Case {
    const char* name;
    How how;
    bool removed;
  };
  const Case cases[] = {
      {".phonebook-Ab3dEf6hIj9k.tmp", kMarked, true},         // a killed save's
      {".phonebook-Xy7zQw2eRt5u.tmp", kPlain, false},         // named so by hand
      {".phonebook-Mn4bVc8xZa1s.tmp", kCopyOfMarked, false},  // cp -a of a leftover
      {".phonebook-20261210", kPlain, false},                 // a dated backup
      {".phonebook-abcdefgh", kPlain, false},                 // older versions' leftover
      {".phonebook-abcdefghijkl.tmp", kMarked, false},        // not mixed
      {".phonebook-AB3DEF6HIJ9K.tmp", kMarked, false},
      {".phonebook-Ab3dEf6hIj9k.tmp~", kMarked, false},
      {"phonebook-Ab3dEf6hIj9k.tmp", kMarked, false},
  };
  std::vector<std::string> kept = {"mine.txt"};
  for (const Case& c : cases) {
    const std::string path = dir.file("books/") + c.name;
    if (c.how == kCopyOfMarked) {
      writeFile(path + ".original", "x");
      if (!markAsTemporary(path + ".original")) GTEST_SKIP() << "no user extended attributes here";
      ASSERT_EQ(std::system(("cp -a '" + path + ".original' '" + path + "'").c_str()), 0);
      fs::remove(path + ".original");
    } else {
      writeFile(path, "Ahn 1\r\n");
      if (c.how == kMarked && !markAsTemporary(path)) {
        GTEST_SKIP() << "no user extended attributes here";
      }
    }
    if (!c.removed) kept.push_back(c.name);
  }
  // Not a regular file of this user's, though named and marked as one.
  const std::string leftover = ".phonebook-Ab3dEf6hIj9k.tmp";
  fs::create_directory(dir.file("books/.phonebook-Dir0000000a.tmp"));
  fs::create_symlink(leftover, dir.file("books/.phonebook-Link000000a.tmp"));
  kept.insert(kept.end(), {".phonebook-Dir0000000a.tmp", ".phonebook-Link000000a.tmp"});
  if (geteuid() == 0) {
    const std::string others = dir.file("books/.phonebook-Nobody00000a.tmp");
    writeFile(others, "x");
    ASSERT_TRUE(markAsTemporary(others));
    ASSERT_EQ(chown(others.c_str(), 65534, 65534), 0);
    kept.push_back(".phonebook-Nobody00000a.tmp");
  }
  EXPECT_EQ(runPhonebook(dir.path(), script("")).status, 1);
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(filesIn(dir.file("books")), kept);
}

TEST(PhoneFileRunTest, OutputThatNobodyReadsDoesNotStopTheSave) {
  TempDir dir;
  testing::Run run = script("1\nKim\n1\n2\n0\n");
  run.closedOutput = true;
  EXPECT_EQ(runPhonebook(dir.path(), run).status, 0);
  EXPECT_EQ(readFile(dir.file("PhoneList.txt")), "Kim 1\r\n");
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

#if !defined(__SANITIZE_ADDRESS__)
// AddressSanitizer reserves more address space than the limit allows.
// A limit that rises in steps of 4 MiB fails each large allocation of the
// load in turn (the file's bytes, the records' order, the entries' block)
// until the whole book fits: each that fails ends the program with the file
// as it was, never with a book that lost its entries.
TEST(PhoneFileRunTest, StorageThatCannotBeObtainedEndsTheProgramAndKeepsTheFile) {
  TempDir dir;
  // About 40 MB of entries, in name order: what a save writes back.
  std::vector<std::string> lines;
  for (int i = 0; i < 400000; ++i) {
    lines.push_back("Name" + std::to_string(i) + " 010-" + std::to_string(i) + "\r\n");
  }
  std::sort(lines.begin(), lines.end());
  std::string before;
  for (const std::string& line : lines) before += line;
  writeFile(dir.file("PhoneList.txt"), before);
  testing::Run run = script("0\n");
  int failed = 0;
  for (unsigned long long mebibytes = 8; mebibytes <= 256; mebibytes += 4) {
    SCOPED_TRACE(std::to_string(mebibytes) + " MiB");
    run.maxAddressSpace = mebibytes << 20;
    testing::Outcome outcome = runPhonebook(dir.path(), run);
    // Compared whole: a diff of two books this large would swamp the report.
    const std::string after = readFile(dir.file("PhoneList.txt"));
    ASSERT_TRUE(after == before) << after.size() << " bytes, " << outcome.status << ": "
                                 << outcome.errors;
    if (outcome.status == 0) break;
    ++failed;
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.errors.find("out of memory"), std::string::npos) << outcome.errors;
  }
  EXPECT_GT(failed, 0);
  EXPECT_EQ(runPhonebook(dir.path(), run).status, 0) << "no limit up to 256 MiB was enough";
}
#endif

}  // namespace
}  // namespace phonebook
