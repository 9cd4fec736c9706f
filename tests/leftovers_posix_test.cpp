// The leftovers of saves that never ended, which the start removes, on a
// POSIX system: known by their name, and on Linux by their mark as well.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/directory.h"
#include "tests/phone_file_run.h"
#include "tests/test_support.h"
#include "tests/test_support_posix.h"

namespace phonebook {
namespace {

namespace fs = std::filesystem;
using testing::filesIn;
using testing::kLeftoversAreMarked;
using testing::markAsTemporary;
using testing::runPhonebook;
using testing::script;
using testing::TempDir;
using testing::writeFile;

// A leftover is known by a name that no person would type and, where the
// system can mark files, by the mark of the save that made it, which a copy
// does not carry: a person's own file is never removed, also in the
// directory that a linked PhoneList.txt points into. (That the save's real leftovers are removed,
// the crash tests show: every kill between the naming and the rename leaves one.)
TEST(PhoneFileRunTest, TheStartRemovesOnlyTheLeftoversOfThisUsersSaves) {
  TempDir dir;
  fs::create_directory(dir.file("books"));
  writeFile(dir.file("books/mine.txt"), "Ahn 1\r\n");
  fs::create_symlink("books/mine.txt", dir.file("PhoneList.txt"));
  enum How { kPlain, kMarked, kCopyOfMarked };
  struct Case {
    const char* name;
    How how;
    bool named;  // as the save names its new file
  };
  const Case cases[] = {
      {".phonebook-Ab3dEf6hIj9k.tmp", kMarked, true},        // a killed save's
      {".phonebook-Xy7zQw2eRt5u.tmp", kPlain, true},         // named so by hand
      {".phonebook-Mn4bVc8xZa1s.tmp", kCopyOfMarked, true},  // cp -a of a leftover
      {".phonebook-20261210", kPlain, false},                // a dated backup
      {".phonebook-abcdefgh", kPlain, false},                // older versions' leftover
      {".phonebook-abcdefghijkl.tmp", kMarked, false},       // not mixed
      {".phonebook-abcdef123456.tmp", kMarked, false},       // no capital
      {".phonebook-AB3DEF6HIJ9K.tmp", kMarked, false},
      {".phonebook-Ab3d-f6hIj9k.tmp", kMarked, false},  // not letters and digits only
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
    if (!c.named || (kLeftoversAreMarked && c.how != kMarked)) kept.push_back(c.name);
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

// With one descriptor left, for the directory but not for its listing, the
// start looks for no leftovers and keeps no descriptor open.
TEST(LeftoversTest, NoDescriptorStaysOpenWhereTheListingGetsNone) {
  TempDir dir;
  const int lowest = open("/dev/null", O_RDONLY);
  ASSERT_GE(lowest, 0);
  close(lowest);
  rlimit was;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &was), 0);
  rlimit one = was;
  one.rlim_cur = static_cast<rlim_t>(lowest) + 1;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &one), 0);
  removeLeftoverFiles(dir.file("PhoneList.txt").c_str());
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &was), 0);
  const int next = open("/dev/null", O_RDONLY);
  EXPECT_EQ(next, lowest);
  close(next);
}

}  // namespace
}  // namespace phonebook
