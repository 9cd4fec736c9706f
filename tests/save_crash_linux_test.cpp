// The save under crashes of the program alone and failures of the disk: the
// real program saves a phone book of a few thousand records while ptrace
// stops it before each system call of the save, from the call that holds
// the signals to exit_group, and at each stop
//
//  (a) the program is killed there (SIGKILL: a crash of the program alone);
//  (b) that call fails with EIO instead of running (a failing disk or
//      file system), or runs and then reports EPERM (a FUSE or network file
//      system that lost the answer to a call it did, and refused it when
//      asked again), and the program goes on.
//
// Then the program is started again on what is left, and the directory
// must hold the old book or the new one whole, byte for byte, and no other
// file. In (b) a run that ended with status 0 must have saved, and one that
// did not must have left the old book, and said why: the error of the call.
// Both run in an ordinary temporary directory; power cuts are in
// save_loop_device_linux_test.cpp.
//
// Needs ptrace, and x86-64 for (b): skipped with the reason otherwise.
#include "tests/save_crash_linux.h"

#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <vector>

#include "console/reasons.h"
#include "tests/phone_file_run.h"
#include "tests/test_support.h"

namespace phonebook::save_crash {
namespace {

using testing::TempDir;

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

}  // namespace
}  // namespace phonebook::save_crash
