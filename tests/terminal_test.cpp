// The program on a real (pseudo-)terminal: the screen is cleared, the pause
// waits for a key from the terminal, and it leaves standard input unread.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/terminal_run.h"
#include "tests/test_support.h"

namespace phonebook {
namespace {

using testing::cp949;
using testing::kPausePrompt;
using testing::readUntil;
using testing::startOnTerminal;
using testing::stateOf;
using testing::terminalIsCooked;
using testing::waitForExit;

TEST(TerminalTest, ClearsTheScreenAndPausesForAKeyFromTheTerminal) {
  testing::TempDir dir;
  int master = -1;
  // An invalid choice, then 0; the pause sets the terminal's reads itself.
  pid_t child = startOnTerminal(dir, {.input = "7\n0\n", .readsReturnAtOnce = true}, master);
  ASSERT_GE(child, 0);

  const std::string clear = "\x1b[H\x1b[2J\x1b[3J";
  const std::string pausePrompt = kPausePrompt;
  std::string screen = readUntil(master, pausePrompt, 10);
  ASSERT_NE(screen.find(pausePrompt), std::string::npos) << screen;
  EXPECT_EQ(screen.find(clear), screen.find(cp949("\t\t전화번호부")) - clear.size());
  EXPECT_NE(screen.find(cp949("잘못된 입력입니다.")), std::string::npos);

  // Waiting, with the terminal in single-key mode, not echoing ...
  readUntil(master, "never printed", 0.3);
  EXPECT_EQ(waitpid(child, nullptr, WNOHANG), 0) << "the pause did not wait";
  EXPECT_FALSE(terminalIsCooked(master));

  // ... until a key is pressed there; then "0" is still waiting on standard
  // input, and the program saves and ends.
  ASSERT_EQ(write(master, "k", 1), 1);
  std::string rest = readUntil(master, cp949("저장합니다."), 10);
  EXPECT_NE(rest.find(cp949("저장합니다.")), std::string::npos) << rest;
  int status = -1;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(terminalIsCooked(master));
  close(master);
  EXPECT_EQ(testing::readFile(dir.file("PhoneList.txt")), "");
}

// What the start warns of is on the screen, and waits for a key, before the
// menu is.
TEST(TerminalTest, TheStartWaitsUntilItsWarningIsSeen) {
  struct Start {
    const char* what;
    bool bookIsADirectory;  // else a UTF-8 book with a character CP949 lacks
    std::string warning;
  };
  const Start starts[] = {
      {"a book that cannot be read", true, "File Open Fail"},
      {"entries that lost a character", false, "  1"},
  };
  for (const Start& start : starts) {
    SCOPED_TRACE(start.what);
    testing::TempDir dir;
    if (start.bookIsADirectory) {
      std::filesystem::create_directory(dir.file("PhoneList.txt"));
    } else {
      testing::writeFile(dir.file("PhoneList.txt"), "Kim\xF0\x9F\x98\x80 1\r\n");
    }
    int master = -1;
    pid_t child = startOnTerminal(dir, {.input = "\n"}, master);
    ASSERT_GE(child, 0);
    std::string screen = readUntil(master, kPausePrompt, 10);
    ASSERT_NE(screen.find(kPausePrompt), std::string::npos) << screen;
    EXPECT_NE(screen.find(start.warning), std::string::npos) << screen;
    EXPECT_EQ(screen.find(cp949("전화번호부\n")), std::string::npos) << screen;
    readUntil(master, "never printed", 0.3);
    EXPECT_EQ(waitpid(child, nullptr, WNOHANG), 0) << "the start did not wait";
    ASSERT_EQ(write(master, "k", 1), 1);
    EXPECT_NE(readUntil(master, cp949("선택해주세요"), 10).find(cp949("선택해주세요")),
              std::string::npos);
    EXPECT_EQ(waitForExit(child), 1);  // the end of input
    close(master);
  }
}

TEST(TerminalTest, CtrlZAndCtrlCDuringAPauseRestoreTheTerminal) {
  testing::TempDir dir;
  int master = -1;
  pid_t child = startOnTerminal(dir, {.input = "7\n0\n", .asJob = true}, master);
  ASSERT_GE(child, 0);
  ASSERT_NE(readUntil(master, kPausePrompt, 10).find(kPausePrompt), std::string::npos);
  readUntil(master, "never printed", 0.3);
  const pid_t job = tcgetpgrp(master);
  ASSERT_GT(job, 0);
  ASSERT_NE(job, child);

  // Ctrl-Z: stopped, with the terminal given back in line mode; on fg the
  // pause has its single keys again. So too a second time.
  for (int time = 1; time <= 2; ++time) {
    SCOPED_TRACE(time);
    ASSERT_EQ(write(master, "\x1a", 1), 1);
    for (int tries = 0; tries < 500 && stateOf(job) != 'T'; ++tries) usleep(10000);
    EXPECT_EQ(stateOf(job), 'T');
    EXPECT_TRUE(terminalIsCooked(master));
    kill(-job, SIGCONT);
    for (int tries = 0; tries < 200 && terminalIsCooked(master); ++tries) usleep(10000);
    EXPECT_FALSE(terminalIsCooked(master));
  }

  ASSERT_EQ(write(master, "\x03", 1), 1);
  EXPECT_EQ(waitForExit(child), 128 + SIGINT);
  EXPECT_TRUE(terminalIsCooked(master));
  close(master);
  EXPECT_FALSE(std::filesystem::exists(dir.file("PhoneList.txt")));  // nothing saved
}

TEST(TerminalTest, NobodyIsWaitedForWhenInputAndOutputAreRedirected) {
  testing::TempDir dir;
  int master = -1;
  pid_t child = startOnTerminal(dir, {.input = "7\n0\n", .outputToFile = true}, master);
  ASSERT_GE(child, 0);
  readUntil(master, "never printed", 0.5);
  EXPECT_EQ(waitForExit(child), 0);
  close(master);
  EXPECT_NE(testing::readFile(dir.file("output")).find(cp949("저장합니다.")), std::string::npos);
}

TEST(TerminalTest, ADumbTerminalGetsNoEscapeSequence) {
  testing::TempDir dir;
  int master = -1;
  pid_t child = startOnTerminal(dir, {.term = "dumb"}, master);
  ASSERT_GE(child, 0);
  std::string screen = readUntil(master, cp949("선택해주세요: "), 10);
  ASSERT_EQ(write(master, "7\r", 2), 2);
  screen += readUntil(master, kPausePrompt, 10);
  // Once the pause has the terminal: a key typed before would be echoed.
  for (int tries = 0; tries < 500 && terminalIsCooked(master); ++tries) usleep(10000);
  ASSERT_EQ(write(master, "k0\r", 3), 3);
  screen += readUntil(master, cp949("저장합니다."), 10);
  EXPECT_EQ(waitForExit(child), 0);
  close(master);
  EXPECT_NE(screen.find(cp949("잘못된 입력입니다.")), std::string::npos) << screen;
  EXPECT_EQ(screen.find('\x1b'), std::string::npos) << screen;
  // Nothing clears the screen there: the key ends the pause's line.
  EXPECT_NE(screen.find(kPausePrompt + "\r\n"), std::string::npos) << screen;
}

}  // namespace
}  // namespace phonebook
