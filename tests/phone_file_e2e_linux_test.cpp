// The phone list file through the real program, where only Linux can set
// the scene: extended attributes, POSIX ACLs and chattr's flags, which a
// save keeps, carries over or cannot get past.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_posix.h"
#include "tests/phone_file_run.h"
#include "tests/test_support.h"

namespace phonebook {
namespace {

namespace fs = std::filesystem;
using testing::cp949;
using testing::expectFailedSave;
using testing::filesIn;
using testing::readFile;
using testing::runPhonebook;
using testing::script;
using testing::TempDir;
using testing::writeFile;

constexpr const char* kMark = "user.phonebook.temporary";

TEST(PhoneFileRunTest, TheMarkOfATemporaryFileGoesWithTheRename) {
  TempDir dir;
  writeFile(dir.file("PhoneList.txt"), "Ahn 1\r\n");
  EXPECT_EQ(runPhonebook(dir.path(), script("1\nLee\n2\n0\n")).status, 0);
  EXPECT_EQ(readFile(dir.file("PhoneList.txt")), "Ahn 1\r\nLee 2\r\n");
  EXPECT_LT(getxattr(dir.file("PhoneList.txt").c_str(), kMark, nullptr, 0), 0);

  // A mark that the old file still has (a run killed right after its
  // rename) is not copied: the new file keeps its own, which the next start
  // checks where that save is killed in turn.
  const std::string old = dir.file("PhoneList.txt"), made = dir.file("new");
  if (setxattr(old.c_str(), kMark, "1", 1, 0) != 0) GTEST_SKIP() << "no user attributes here";
  ASSERT_EQ(setxattr(old.c_str(), "user.origin", "phone", 5, 0), 0);
  writeFile(made, "");
  const int fd = open(made.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(copyAttributes(old, fd));
  close(fd);
  EXPECT_LT(getxattr(made.c_str(), kMark, nullptr, 0), 0);
  EXPECT_EQ(getxattr(made.c_str(), "user.origin", nullptr, 0), 5);
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

// nobody saves a file of group adm, and is not in it: where the file has an
// ACL, the new owning group gets nothing through it, while the mask still
// lets in those that the ACL names. Every user attribute goes along.
TEST(PhoneFileRunTest, AGroupThatCannotBeKeptGetsNoAccessThroughTheAcl) {
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
  TempDir dir;
  chmod(dir.path().c_str(), 0777);
  const std::string file = dir.file("PhoneList.txt");
  writeFile(file, "Ahn 1\r\n");
  ASSERT_EQ(chown(file.c_str(), 65534, kAdm), 0);
  chmod(file.c_str(), 0640);
  const std::pair<const char*, std::string> attributes[] = {{"user.origin", "phone"},
                                                            {"user.checked", "2026-12"}};
  for (const auto& [name, value] : attributes) {
    if (setxattr(file.c_str(), name, value.data(), value.size(), 0) != 0) {
      GTEST_SKIP() << "no user extended attributes here";
    }
  }
  const std::string bytes = aclBytes(shared);
  if (setxattr(file.c_str(), acl, bytes.data(), bytes.size(), 0) != 0) {
    GTEST_SKIP() << "no POSIX ACLs here";
  }
  testing::Run run = script("1\nKim\n2\n0\n");
  run.asNobody = true;
  testing::Outcome outcome = runPhonebook(dir.path(), run);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(readFile(file), "Ahn 1\r\nKim 2\r\n");
  struct stat info;
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_gid, kNogroup);
  EXPECT_EQ(outcome.errors, testing::kGroupNotKept);
  for (const auto& [name, value] : attributes) {
    std::string now(64, '\0');
    ssize_t size = getxattr(file.c_str(), name, now.data(), now.size());
    now.resize(static_cast<std::size_t>(std::max<ssize_t>(size, 0)));
    EXPECT_EQ(now, value) << name;
  }
  // The mask (the group bits) still lets daemon in.
  EXPECT_EQ(info.st_mode & 07777, 0660u);
  std::string now(256, '\0');
  ssize_t size = getxattr(file.c_str(), acl, now.data(), now.size());
  ASSERT_GT(size, 0);
  now.resize(static_cast<std::size_t>(size));
  EXPECT_EQ(now, aclBytes(afterwards));
}

// What the save will meet is said at the start: a file or directory that
// chattr made append-only or immutable (which binds root too), or another
// user's file in a sticky directory. The save then fails, says why, and
// leaves the old file and nothing else.
TEST(PhoneFileRunTest, TheStartWarnsOfFlagsAndStickyDirectoriesThatStopTheSave) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for chattr and to play two users";
  const std::string flagged = cp949(
      "\n\n이 폴더에는 PhoneList.txt를 저장할 수 없습니다: PhoneList.txt나 이 폴더에 바꾸지 "
      "못하게 하는 표시(chattr +a 또는 +i)가 있습니다.\n관리자에게 이 표시를 지워 달라고 "
      "부탁하십시오.\n");
  const std::string others = cp949(
      "\n\n이 폴더에는 PhoneList.txt를 저장할 수 없습니다: PhoneList.txt는 다른 사용자의 "
      "파일이고, 이 폴더에서는 파일의 주인만 파일을 지우거나 새 파일로 바꿀 수 있습니다.\n"
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
    expectFailedSave(outcome, book + "/PhoneList.txt", before, testing::kNoPermission);
    EXPECT_EQ(filesIn(book), std::vector<std::string>{"PhoneList.txt"});
  }
}

}  // namespace
}  // namespace phonebook
