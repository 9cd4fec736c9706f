// The harness of the save-crash tests: the traced run that stops the save
// before each of its calls, the scenes and the check of what is left, and
// the images on loop devices.
#include "tests/save_crash_linux.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/phone_file_run.h"
#include "tests/test_support.h"

namespace phonebook::save_crash {

namespace fs = std::filesystem;
using testing::filesIn;
using testing::readFile;
using testing::runPhonebook;
using testing::script;
using testing::TempDir;
using testing::writeFile;

namespace {

// The signals that the save holds, as the kernel's mask shows them: the
// save's first call blocks exactly these.
constexpr unsigned long long kHeldMask =
    1ull << (SIGINT - 1) | 1ull << (SIGQUIT - 1) | 1ull << (SIGTERM - 1) | 1ull << (SIGHUP - 1);

}  // namespace

// ---------------------------------------------------------------------------
// Stopping the program before each system call.

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

// ---------------------------------------------------------------------------
// The phone books before and after, and what may be left.

const Scene kScenes[] = {
    {"an existing file", true, false},
    {"a new file", false, false},
    {"a file reached through a symbolic link", true, true},
};

const std::string kInput = "1\nZzz\n1\n0\n";

std::string oldBook() {
  return testing::manyRecords(3000);
}

void setUp(const Scene& scene, const std::string& directory) {
  std::string book = directory + "/PhoneList.txt";
  if (scene.linked) {
    fs::create_directory(directory + "/books");
    fs::create_symlink("books/mine.txt", book);
    book = directory + "/books/mine.txt";
  }
  if (scene.before) writeFile(book, oldBook());
}

std::string newBook(const Scene& scene) {
  TempDir dir;
  setUp(scene, dir.path());
  EXPECT_EQ(runPhonebook(dir.path(), script(kInput)).status, 0);
  return readFile(dir.file("PhoneList.txt"));
}

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

std::vector<Call> saveCalls(const Scene& scene) {
  TempDir dir;
  setUp(scene, dir.path());
  Traced traced =
      traceRun(dir.path(), kInput, [](std::size_t, const Call&) { return Action::kGoOn; });
  EXPECT_EQ(traced.status, 0);
  return traced.saveCalls;
}

std::string describe(std::size_t point, const Call& call) {
  return "call " + std::to_string(point) + " of the save, number " + std::to_string(call.number);
}

// ---------------------------------------------------------------------------
// File systems in images on loop devices.

bool shell(const std::string& command) {
  return std::system(("PATH=$PATH:/sbin:/usr/sbin; " + command + " >/dev/null 2>&1").c_str()) == 0;
}

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

Mounted::Mounted(const std::string& image, const std::string& directory, const std::string& options)
    : directory_(directory),
      mounted_(shell("mount -o loop" + options + " " + image + " " + directory)) {}

Mounted::~Mounted() {
  unmount();
}

bool Mounted::unmount() {
  if (mounted_) mounted_ = !shell("umount " + directory_);
  return !mounted_;
}

}  // namespace phonebook::save_crash
