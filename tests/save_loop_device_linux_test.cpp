// The save on file systems of its own, in images on loop devices: under
// power cuts, and where the times keep whole seconds.
//
// Power cuts: the real program saves a phone book of a few thousand
// records while ptrace stops it before each system call of the save, from
// the call that holds the signals to exit_group. At each stop the image is
// copied as a power cut there would leave it, while the program stands
// still: what the kernel has not yet written to the device (anything not
// synced, unless it happened to be written back already) is not in the
// copy, which is then checked (e2fsck) and mounted as after a reboot. The
// same copy is also taken once the program has ended. Then the program is
// started again on the copy, and the directory must hold the old book or
// the new one whole, byte for byte, and no other file; once the directory
// has been synced, only the new one.
//
// The power cut is modelled at the block device: whole writes that reached
// it, in the order the file system issued them. Not covered: torn sectors
// (part of a sector written), a disk whose volatile cache loses or
// reorders writes that the file system did not flush, and background
// writeback that runs while the image is being copied (the copy is not
// atomic; the program stands still, but the kernel may not). It runs on
// each file system that this machine can make on a loop device.
//
// Needs root (loop devices, mount), and ptrace for the power cuts: skipped
// with the reason otherwise.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "tests/phone_file_run.h"
#include "tests/save_crash_linux.h"
#include "tests/test_support.h"

namespace phonebook::save_crash {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

struct FileSystem {
  const char* name;
  const char* make;     // the mkfs command, given the image last
  const char* options;  // mount options besides loop
  const char* size;     // of the image; mkfs.xfs wants 300 MiB
  bool checked;         // e2fsck repairs it before it is mounted again
};

const FileSystem kFileSystems[] = {
    {"ext4", "mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0", "", "32M", true},
    {"ext4_data_writeback", "mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0",
     ",data=writeback", "32M", true},
    {"ext4_without_journal", "mkfs.ext4 -q -F -O ^has_journal -E lazy_itable_init=0", "", "32M",
     true},
    {"ext2", "mkfs.ext2 -q -F", "", "32M", true},
    {"xfs", "mkfs.xfs -q -f", "", "300M", false},
    {"btrfs", "mkfs.btrfs -q -f", "", "120M", false},
};

void PrintTo(const FileSystem& system, std::ostream* out) {
  *out << system.name;
}

class PowerCutTest : public ::testing::TestWithParam<FileSystem> {};

// Where a fresh image cannot be mounted after the first was (a chroot whose
// /dev holds no loop devices of its own, say), the machine allows no more.
constexpr char kNoMoreLoops[] = "a fresh image cannot be mounted on a loop device here";

TEST_P(PowerCutTest, APowerCutBeforeAnyCallOfTheSaveOrAfterItLeavesTheOldOrTheNewBook) {
  const FileSystem& system = GetParam();
  if (std::string why = whyNoTrace(); !why.empty()) GTEST_SKIP() << why;
  if (geteuid() != 0) GTEST_SKIP() << "needs root for loop devices and mount";
  TempDir work;
  const std::string base = work.file("base.img");
  const std::string image = work.file("work.img");
  const std::string copy = work.file("cut.img");
  const std::string mounted = work.file("mnt");
  fs::create_directory(mounted);
  const std::string make =
      "truncate -s " + std::string(system.size) + " " + base + " && " + system.make + " " + base;
  if (!shell(make) || !Mounted(base, mounted, system.options).unmount()) {
    GTEST_SKIP() << "cannot make and mount " << system.name << " on a loop device here ("
                 << system.make << ")";
  }
  for (const Scene& scene : kScenes) {
    SCOPED_TRACE(scene.what);
    const std::string after = newBook(scene);
    fs::remove(base);
    ASSERT_TRUE(shell(make));
    {
      Mounted book(base, mounted, system.options);
      if (!book.mounted()) GTEST_SKIP() << kNoMoreLoops;
      setUp(scene, mounted);
      ASSERT_TRUE(book.unmount());
    }
    // The save's calls on this file system, and the last sync among them:
    // the directory's, after which only the new book may be found.
    copyImage(base, image);
    std::vector<Call> calls;
    {
      Mounted run(image, mounted, system.options);
      if (!run.mounted()) GTEST_SKIP() << kNoMoreLoops;
      calls = traceRun(mounted, kInput, [](std::size_t, const Call&) {
                return Action::kGoOn;
              }).saveCalls;
    }
    ASSERT_GE(calls.size(), kFewestCalls);
    std::size_t lastSync = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
      if (calls[i].number == SYS_fsync) lastSync = i;
    }
    // Before each call, and once more after the program has ended.
    for (std::size_t point = 0; point <= calls.size(); ++point) {
      SCOPED_TRACE(point < calls.size() ? "power cut before " + describe(point, calls[point])
                                        : "power cut after the program ended");
      copyImage(base, image);
      {
        Mounted run(image, mounted, system.options);
        if (!run.mounted()) GTEST_SKIP() << kNoMoreLoops;
        bool cut = false;
        Traced traced = traceRun(mounted, kInput, [&](std::size_t at, const Call&) {
          if (at != point) return Action::kGoOn;
          cut = true;
          copyImage(image, copy);
          return Action::kKill;
        });
        // A run may make fewer calls than the first: the save reads the old
        // file again only while its times are recent. One that ended before
        // the point is cut after it ended.
        if (!cut) {
          EXPECT_EQ(traced.status, 0);
          copyImage(image, copy);
        }
      }
      if (system.checked) {
        // 0: clean, 1: repaired; 4 and above: errors left.
        int status =
            std::system(("PATH=$PATH:/sbin e2fsck -fy " + copy + " >/dev/null 2>&1").c_str());
        EXPECT_LT(WEXITSTATUS(status), 4);
      }
      Mounted recovered(copy, mounted, system.options);
      ASSERT_TRUE(recovered.mounted()) << "the copy does not mount";
      checkAfter(scene, mounted, after, point > lastSync ? Expect::kNew : Expect::kOldOrNew);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(OnLoopDevices, PowerCutTest, ::testing::ValuesIn(kFileSystems),
                         [](const ::testing::TestParamInfo<FileSystem>& info) {
                           return std::string(info.param.name);
                         });

// On a file system that keeps whole seconds (ext4 with 128-byte inodes), a
// rewrite of the same size within the second of the last change leaves
// every time and the size as they were: only the bytes tell it, and the
// save must still see it.
TEST(CoarseTimesTest, ARewriteOfTheSameSizeWithinOneTickIsSeen) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for loop devices and mount";
  TempDir work;
  const std::string image = work.file("seconds.img");
  const std::string mounted = work.file("mnt");
  fs::create_directory(mounted);
  if (!shell("truncate -s 32M " + image + " && mkfs.ext4 -q -F -I 128 " + image)) {
    GTEST_SKIP() << "cannot make ext4 with 128-byte inodes here";
  }
  Mounted book(image, mounted, "");
  if (!book.mounted()) GTEST_SKIP() << kNoMoreLoops;
  const std::string file = mounted + "/PhoneList.txt";
  // A try whose rewrite fell into the next second shows nothing: try again.
  for (int tries = 0; tries < 10; ++tries) {
    writeFile(file, "Ahn 1\r\n");
    struct stat before {};
    struct stat after {};
    testing::Run run = testing::script("2\n");
    run.later = {"\t\t",
                 [&] {
                   stat(file.c_str(), &before);
                   writeFile(file, "Lee 3\r\n");
                   stat(file.c_str(), &after);
                 },
                 "1\nKim\n2\n0\n0\n"};
    testing::Outcome outcome = testing::runPhonebook(mounted, run);
    if (after.st_ctim.tv_sec != before.st_ctim.tv_sec) continue;
    ASSERT_EQ(after.st_ctim.tv_nsec, 0) << "this ext4 keeps more than whole seconds";
    EXPECT_NE(outcome.output.find(testing::kSaveRefused), std::string::npos) << outcome.output;
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(readFile(file), "Ahn 1\r\nKim 2\r\n");
    return;
  }
  FAIL() << "no rewrite fell within the second of the write before it";
}

}  // namespace
}  // namespace phonebook::save_crash
