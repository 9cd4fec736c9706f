// The save under crashes: the real program saves a phone book of a few
// thousand records while ptrace stops it before each system call of the
// save, from the call that holds the signals to exit_group, and at each
// stop one of three things happens:
//
//  (a) the program is killed there (SIGKILL: a crash of the program alone);
//  (b) that call fails with EIO instead of running (a failing disk or
//      file system), or runs and then reports EPERM (a FUSE or network file
//      system that lost the answer to a call it did, and refused it when
//      asked again), and the program goes on;
//  (c) the file system is copied as a power cut there would leave it: the
//      save runs on a file system of its own in an image on a loop device,
//      and the image is copied while the program stands still. What the
//      kernel has not yet written to the device (anything not synced, unless
//      it happened to be written back already) is not in the copy, which is
//      then checked (e2fsck) and mounted as after a reboot. The same copy is
//      also taken once the program has ended.
//
// Then the program is started again on what is left, and the directory
// must hold the old book or the new one whole, byte for byte, and no other
// file; once the save has reported success (and for a power cut: once the
// directory has been synced), only the new one. In (b) a run that ended
// with status 0 must have saved, and one that did not must have left the
// old book, and said why: the error of the call.
//
// The power cut is modelled at the block device: whole writes that reached
// it, in the order the file system issued them. Not covered: torn sectors
// (part of a sector written), a disk whose volatile cache loses or
// reorders writes that the file system did not flush, and background
// writeback that runs while the image is being copied (the copy is not
// atomic; the program stands still, but the kernel may not). (a) and (b)
// run in an ordinary temporary directory; (c) on each file system that
// this machine can make on a loop device.
//
// Needs ptrace, x86-64 for (b) and root for (c) (loop devices, mount):
// skipped with the reason otherwise.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "console/reasons.h"
#include "tests/phone_file_run.h"
#include "tests/test_support.h"

namespace phonebook {
namespace {

namespace fs = std::filesystem;
using testing::filesIn;
using testing::readFile;
using testing::runPhonebook;
using testing::script;
using testing::TempDir;
using testing::writeFile;

// ---------------------------------------------------------------------------
// Stopping the program before each system call.

struct Call {
  long number;
  unsigned long long firstArgument;
};

enum class Action { kGoOn, kKill, kFail, kFailAfter };

struct Traced {
  std::vector<Call> saveCalls;  // the calls of the save, in order
  int status = -1;              // exit status, or 128 + signal
  std::string output;           // standard output and error
};

// The signals that the save holds, as the kernel's mask shows them: the
// save's first call blocks exactly these.
constexpr unsigned long long kHeldMask =
    1ull << (SIGINT - 1) | 1ull << (SIGQUIT - 1) | 1ull << (SIGTERM - 1) | 1ull << (SIGHUP - 1);

// Runs the program in `directory` with `input` under ptrace. Before each
// call of its save (the first, numbered 0, blocks the held signals; the
// last is exit_group), `decide` says what to do with it.
Traced traceRun(const std::string& directory, const std::string& input,
                const std::function<Action(std::size_t point, const Call& call)>& decide) {
  TempDir streams;
  writeFile(streams.file("in"), input);
  pid_t child = fork();
  if (child == 0) {
    setsid();
    int in = open(streams.file("in").c_str(), O_RDONLY);
    int out = open(streams.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0 ||
        chdir(directory.c_str()) != 0 || ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
      _exit(120);
    }
    setenv("LC_ALL", "C", 1);
    // LeakSanitizer's check at the end would ptrace the program itself.
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    raise(SIGSTOP);
    execl(PHONEBOOK_BINARY, PHONEBOOK_BINARY, static_cast<char*>(nullptr));
    _exit(123);
  }
  Traced traced;
  int status = 0;
  waitpid(child, &status, 0);
  ptrace(PTRACE_SETOPTIONS, child, nullptr,
         PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL | PTRACE_O_TRACEEXEC);
  bool started = false;  // exec done: the calls are the program's
  bool saving = false;   // the save's first call has been seen
  int failing = 0;       // the error that the call entered is to report
  int deliver = 0;
  for (;;) {
    ptrace(PTRACE_SYSCALL, child, nullptr, deliver);
    deliver = 0;
    if (waitpid(child, &status, 0) < 0) break;
    if (WIFEXITED(status) || WIFSIGNALED(status)) break;
    if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXEC << 8))) {
      started = true;
      continue;
    }
    if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
      deliver = WSTOPSIG(status);
      continue;
    }
    __ptrace_syscall_info info{};
    ptrace(PTRACE_GET_SYSCALL_INFO, child, sizeof info, &info);
    if (info.op == PTRACE_SYSCALL_INFO_ENTRY && started) {
      Call call{static_cast<long>(info.entry.nr), info.entry.args[0]};
      if (!saving && call.number == SYS_rt_sigprocmask && call.firstArgument == SIG_BLOCK &&
          info.entry.args[1] != 0) {
        errno = 0;
        long mask = ptrace(PTRACE_PEEKDATA, child, info.entry.args[1], nullptr);
        saving = errno == 0 && static_cast<unsigned long long>(mask) == kHeldMask;
      }
      if (!saving) continue;
      traced.saveCalls.push_back(call);
      Action action = decide(traced.saveCalls.size() - 1, call);
      if (action == Action::kKill) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        break;
      }
#if defined(__x86_64__)
      if (action == Action::kFail) {
        // No call numbered -1: the kernel skips it.
        user_regs_struct regs;
        ptrace(PTRACE_GETREGS, child, nullptr, &regs);
        regs.orig_rax = static_cast<unsigned long long>(-1);
        ptrace(PTRACE_SETREGS, child, nullptr, &regs);
      }
      failing = action == Action::kFail ? EIO : action == Action::kFailAfter ? EPERM : 0;
    } else if (info.op == PTRACE_SYSCALL_INFO_EXIT && failing != 0) {
      user_regs_struct regs;
      ptrace(PTRACE_GETREGS, child, nullptr, &regs);
      regs.rax = static_cast<unsigned long long>(-failing);
      ptrace(PTRACE_SETREGS, child, nullptr, &regs);
      failing = 0;
#endif
    }
  }
  traced.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  traced.output = readFile(streams.file("out"));
  return traced;
}

// ---------------------------------------------------------------------------
// The phone books before and after, and what may be left.

struct Scene {
  const char* what;
  bool before;  // there is a phone book before the save
  bool linked;  // PhoneList.txt is a link to books/mine.txt
};

const Scene kScenes[] = {
    {"an existing file", true, false},
    {"a new file", false, false},
    {"a file reached through a symbolic link", true, true},
};

const std::string kInput = "1\nZzz\n1\n0\n";

std::string oldBook() {
  return testing::manyRecords(3000);
}

// Lays out `scene` in `directory` before the save.
void setUp(const Scene& scene, const std::string& directory) {
  std::string book = directory + "/PhoneList.txt";
  if (scene.linked) {
    fs::create_directory(directory + "/books");
    fs::create_symlink("books/mine.txt", book);
    book = directory + "/books/mine.txt";
  }
  if (scene.before) writeFile(book, oldBook());
}

// The book that the save writes, from a run that nothing disturbs.
std::string newBook(const Scene& scene) {
  TempDir dir;
  setUp(scene, dir.path());
  EXPECT_EQ(runPhonebook(dir.path(), script(kInput)).status, 0);
  return readFile(dir.file("PhoneList.txt"));
}

enum class Expect { kOldOrNew, kOld, kNew };

// Starts the program again in `directory` (it reads the book, cleans up and
// ends with the input) and checks what is there.
void checkAfter(const Scene& scene, const std::string& directory, const std::string& after,
                Expect expect) {
  runPhonebook(directory, script(""));
  std::vector<std::string> names = filesIn(directory);
  std::erase(names, "lost+found");
  std::string bookPath = directory + "/PhoneList.txt";
  std::vector<std::string> expected = {"PhoneList.txt"};
  if (scene.linked) {
    expected = {"PhoneList.txt", "books"};
    bookPath = directory + "/books/mine.txt";
    EXPECT_TRUE(fs::is_symlink(directory + "/PhoneList.txt"));
    std::vector<std::string> books = filesIn(directory + "/books");
    EXPECT_EQ(books, std::vector<std::string>{"mine.txt"});
  }
  bool present = fs::exists(bookPath);
  if (!present && !scene.before && expect != Expect::kNew) expected.erase(expected.begin());
  EXPECT_EQ(names, expected);
  std::string now = present ? readFile(bookPath) : "";
  bool isOld = scene.before ? present && now == oldBook() : !present;
  bool isNew = present && now == after;
  switch (expect) {
    case Expect::kOldOrNew:
      EXPECT_TRUE(isOld || isNew) << now.size() << " bytes";
      break;
    case Expect::kOld:
      EXPECT_TRUE(isOld) << now.size() << " bytes";
      break;
    case Expect::kNew:
      EXPECT_TRUE(isNew) << now.size() << " bytes";
      break;
  }
}

// Why this machine cannot trace the program, or "" where it can: a child
// asks to be traced and stops, and must be seen stopped.
std::string whyNoTrace() {
  pid_t child = fork();
  if (child == 0) {
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(1);
    raise(SIGSTOP);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  bool traced = WIFSTOPPED(status);
  if (traced) {
    ptrace(PTRACE_CONT, child, nullptr, 0);
    waitpid(child, &status, 0);
  }
  return traced ? "" : "ptrace is not allowed here (a container's seccomp, or Yama)";
}

// The save's calls in an undisturbed traced run of `scene`.
std::vector<Call> saveCalls(const Scene& scene) {
  TempDir dir;
  setUp(scene, dir.path());
  Traced traced =
      traceRun(dir.path(), kInput, [](std::size_t, const Call&) { return Action::kGoOn; });
  EXPECT_EQ(traced.status, 0);
  return traced.saveCalls;
}

// A save makes at least this many calls; fewer would mean that the trace
// missed it.
constexpr std::size_t kFewestCalls = 10;

std::string describe(std::size_t point, const Call& call) {
  return "call " + std::to_string(point) + " of the save, number " + std::to_string(call.number);
}

TEST(SaveCrashTest, AKillBeforeAnyCallOfTheSaveLeavesTheOldOrTheNewBookWhole) {
  if (std::string why = whyNoTrace(); !why.empty()) GTEST_SKIP() << why;
  for (const Scene& scene : kScenes) {
    SCOPED_TRACE(scene.what);
    const std::string after = newBook(scene);
    const std::vector<Call> calls = saveCalls(scene);
    ASSERT_GE(calls.size(), kFewestCalls);
    for (std::size_t point = 0; point < calls.size(); ++point) {
      SCOPED_TRACE("killed before " + describe(point, calls[point]));
      TempDir dir;
      setUp(scene, dir.path());
      traceRun(dir.path(), kInput, [&](std::size_t at, const Call&) {
        return at == point ? Action::kKill : Action::kGoOn;
      });
      checkAfter(scene, dir.path(), after, Expect::kOldOrNew);
    }
  }
}

TEST(SaveCrashTest, AnErrorInAnyCallOfTheSaveIsReportedAndLeavesTheOldOrTheNewBook) {
#if !defined(__x86_64__)
  GTEST_SKIP() << "failing a call is written for x86-64 registers";
#endif
  if (std::string why = whyNoTrace(); !why.empty()) GTEST_SKIP() << why;
  for (const Scene& scene : kScenes) {
    SCOPED_TRACE(scene.what);
    const std::string after = newBook(scene);
    const std::vector<Call> calls = saveCalls(scene);
    ASSERT_GE(calls.size(), kFewestCalls);
    // Not exit_group, the last: a program cannot go on past its end.
    for (std::size_t point = 0; point + 1 < calls.size(); ++point) {
      for (Action action : {Action::kFail, Action::kFailAfter}) {
        SCOPED_TRACE((action == Action::kFail ? "EIO instead of " : "EPERM after ") +
                     describe(point, calls[point]));
        TempDir dir;
        setUp(scene, dir.path());
        // An attribute of the user's goes with the book, or the save fails.
        const std::string book = dir.file(scene.linked ? "books/mine.txt" : "PhoneList.txt");
        if (scene.before) {
          ASSERT_EQ(setxattr(book.c_str(), "user.origin", "phone", 5, 0), 0);
        }
        Traced traced = traceRun(dir.path(), kInput, [&](std::size_t at, const Call&) {
          return at == point ? action : Action::kGoOn;
        });
        // Status 0 says that the book is saved; any other, that it is not.
        checkAfter(scene, dir.path(), after, traced.status == 0 ? Expect::kNew : Expect::kOld);
        char origin[8] = {};
        EXPECT_EQ(getxattr(book.c_str(), "user.origin", origin, sizeof origin),
                  scene.before ? 5 : -1);
        // Where the reason is a system error, it is the call's; or EACCES,
        // which a link that could not be looked at gets on purpose.
        const int error = action == Action::kFail ? EIO : EPERM;
        for (int other = 0; other < 134; ++other) {
          if (reasonFor(other) == reasonFor(error) || reasonFor(other) == reasonFor(EACCES)) {
            continue;
          }
          const std::string wrong = testing::kSaveFailed + reasonFor(other) + "\n";
          EXPECT_EQ(traced.output.find(wrong), std::string::npos) << wrong;
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Power cuts, on file systems in images on loop devices.

// Runs `command` through the shell, quietly; true when it succeeded.
bool shell(const std::string& command) {
  return std::system(("PATH=$PATH:/sbin:/usr/sbin; " + command + " >/dev/null 2>&1").c_str()) == 0;
}

// Copies the image `from` to `to`, holes and all: the images are mostly
// holes, and are copied at every crash point.
void copyImage(const std::string& from, const std::string& to) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(in, 0);
  ASSERT_GE(out, 0);
  const off_t size = lseek(in, 0, SEEK_END);
  ASSERT_EQ(ftruncate(out, size), 0);
  std::vector<char> buffer(1 << 20);
  for (off_t data = lseek(in, 0, SEEK_DATA); data >= 0 && data < size;
       data = lseek(in, data, SEEK_DATA)) {
    const off_t hole = lseek(in, data, SEEK_HOLE);
    while (data < hole) {
      const std::size_t want = std::min<std::size_t>(buffer.size(), hole - data);
      const ssize_t got = pread(in, buffer.data(), want, data);
      ASSERT_GT(got, 0);
      ASSERT_EQ(pwrite(out, buffer.data(), got, data), got);
      data += got;
    }
  }
  close(in);
  close(out);
}

// An image mounted on a directory through a loop device, unmounted when the
// object goes, also when a check ends the test early.
class Mounted {
 public:
  Mounted(const std::string& image, const std::string& directory, const std::string& options)
      : directory_(directory),
        mounted_(shell("mount -o loop" + options + " " + image + " " + directory)) {}
  ~Mounted() { unmount(); }
  Mounted(const Mounted&) = delete;
  Mounted& operator=(const Mounted&) = delete;

  bool mounted() const { return mounted_; }
  bool unmount() {
    if (mounted_) mounted_ = !shell("umount " + directory_);
    return !mounted_;
  }

 private:
  std::string directory_;
  bool mounted_;
};

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
}  // namespace phonebook
