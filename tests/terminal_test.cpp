// The program on a real (pseudo-)terminal: the screen is cleared, the pause
// waits for a key from the terminal, and it leaves standard input unread.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>

#include "tests/test_support.h"

namespace phonebook {
namespace {

using testing::cp949;

// Reads what the program writes to the terminal until `wanted` has been
// seen or `seconds` have passed; returns all that was read.
std::string readUntil(int master, const std::string& wanted, double seconds) {
  std::string seen;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (seen.find(wanted) == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd ready{master, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) break;
    char chunk[4096];
    ssize_t got = read(master, chunk, sizeof chunk);
    if (got <= 0) break;
    seen.append(chunk, static_cast<std::size_t>(got));
  }
  return seen;
}

const std::string kPausePrompt = cp949("계속하려면 아무 키나 누르십시오 . . . ");

struct TerminalRun {
  std::string input = "";  // standard input from this file; none: from the terminal
  std::string locale = "C";
  std::string term = "xterm";
  bool outputToFile = false;  // standard output to the file "output"
};

// Starts the program in `dir` with a new pseudo-terminal as its controlling
// terminal and, unless redirected, its standard input and output. Returns
// its pid and sets `master` to the terminal's other end.
pid_t startOnTerminal(const testing::TempDir& dir, const TerminalRun& run, int& master) {
  testing::writeFile(dir.file("input"), run.input);
  pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
  if (child == 0) {
    if (chdir(dir.path().c_str()) != 0) _exit(121);
    int in = open("input", O_RDONLY);
    if (!run.input.empty() && (in < 0 || dup2(in, 0) < 0)) _exit(120);
    int out = open("output", O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (run.outputToFile && (out < 0 || dup2(out, 1) < 0)) _exit(120);
    setenv("LC_ALL", run.locale.c_str(), 1);
    setenv("TERM", run.term.c_str(), 1);
    execl(PHONEBOOK_BINARY, PHONEBOOK_BINARY, static_cast<char*>(nullptr));
    _exit(123);
  }
  return child;
}

int waitForExit(pid_t child) {
  int status = -1;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool terminalIsCooked(int master) {
  termios settings;
  return tcgetattr(master, &settings) == 0 &&
         (settings.c_lflag & (ICANON | ECHO)) == static_cast<tcflag_t>(ICANON | ECHO);
}

TEST(TerminalTest, ClearsTheScreenAndPausesForAKeyFromTheTerminal) {
  testing::TempDir dir;
  int master = -1;
  // An invalid choice, then 0.
  pid_t child = startOnTerminal(dir, {.input = "7\n0\n"}, master);
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

TEST(TerminalTest, CtrlCDuringAPauseRestoresTheTerminal) {
  testing::TempDir dir;
  int master = -1;
  pid_t child = startOnTerminal(dir, {.input = "7\n0\n"}, master);
  ASSERT_GE(child, 0);
  ASSERT_NE(readUntil(master, kPausePrompt, 10).find(kPausePrompt), std::string::npos);
  readUntil(master, "never printed", 0.3);
  ASSERT_EQ(write(master, "\x03", 1), 1);
  int status = -1;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
  EXPECT_TRUE(terminalIsCooked(master));
  close(master);
  EXPECT_FALSE(std::filesystem::exists(dir.file("PhoneList.txt")));  // nothing saved
}

TEST(TerminalTest, KeysEditTheLineByWholeCharacters) {
  struct Typing {
    const char* what;
    std::string keys;  // typed at the name prompt of the add screen
    std::string name;  // stored; none when the input ended
  };
  const Typing typings[] = {
      {"left arrow", "홍길\x1b[D순\r", "홍순길"},
      {"Backspace over a syllable", "홍길동\x7f\r", "홍길"},
      {"Home, then a syllable", "길동\x1b[H홍\r", "홍길동"},
      {"Ctrl-U", "xyz\x15김\r", "김"},
      {"Ctrl-D on an empty line", "\x04", ""},
  };
  const std::string namePrompt = "입력할 이름을 입력해주세요: ";
  for (const Typing& typing : typings) {
    SCOPED_TRACE(typing.what);
    testing::TempDir dir;
    int master = -1;
    pid_t child = startOnTerminal(dir, {.locale = "C.UTF-8"}, master);
    ASSERT_GE(child, 0);
    ASSERT_EQ(write(master, "1\r", 2), 2);
    ASSERT_NE(readUntil(master, namePrompt, 10).find(namePrompt), std::string::npos);
    // Keys typed before the editor has taken the terminal out of line mode
    // are the line mode's: a Ctrl-D there would become a zero byte.
    for (int tries = 0; tries < 500 && terminalIsCooked(master); ++tries) usleep(10000);
    ASSERT_EQ(write(master, typing.keys.data(), typing.keys.size()),
              static_cast<ssize_t>(typing.keys.size()));
    if (!typing.name.empty()) {
      ASSERT_EQ(write(master, "010\r", 4), 4);
      readUntil(master, "계속하려면", 10);
      ASSERT_EQ(write(master, "k0\r", 3), 3);
    }
    readUntil(master, "never printed", 1);
    EXPECT_EQ(waitForExit(child), typing.name.empty() ? 1 : 0);
    close(master);
    EXPECT_EQ(testing::readFile(dir.file("PhoneList.txt")),
              typing.name.empty() ? "" : cp949(typing.name + " 010\r\n"));
  }
}

TEST(TerminalTest, ACharacterCp949LacksIsRefusedAndFindsNothing) {
  testing::TempDir dir;
  // "?mile" is what "Émile" would have become.
  testing::writeFile(dir.file("PhoneList.txt"), "?mile 1\r\n");
  int master = -1;
  pid_t child = startOnTerminal(dir, {.locale = "C.UTF-8"}, master);
  ASSERT_GE(child, 0);
  // Each answer once its prompt is shown and the editor has the terminal.
  auto answer = [&](const std::string& prompt, const std::string& keys) {
    std::string seen = readUntil(master, prompt, 10);
    for (int tries = 0; tries < 500 && terminalIsCooked(master); ++tries) usleep(10000);
    EXPECT_EQ(write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    return seen;
  };
  const std::string menuPrompt = "선택해주세요: ";
  const std::string pause = "계속하려면 아무 키나 누르십시오 . . . ";
  answer(menuPrompt, "1\r");
  answer("이름을 입력해주세요: ", "\xC3\x89mile\r");
  answer("전화번호를 입력해주세요: ", "010\r");
  std::string added = readUntil(master, pause, 10);
  ASSERT_EQ(write(master, "k", 1), 1);
  answer(menuPrompt, "3\r");
  answer("이름을 입력하세요: ", "\xC3\x89mile\r");
  std::string searched = readUntil(master, pause, 10);
  ASSERT_EQ(write(master, "k", 1), 1);
  answer(menuPrompt, "0\r");
  readUntil(master, "저장합니다.", 10);
  EXPECT_EQ(waitForExit(child), 0);
  close(master);
  EXPECT_NE(added.find("저장할 수 없는 글자가 있어 추가하지 않았습니다."), std::string::npos)
      << added;
  EXPECT_NE(searched.find("검색한 값이 없습니다."), std::string::npos) << searched;
  EXPECT_EQ(testing::readFile(dir.file("PhoneList.txt")), "?mile 1\r\n");
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
  ASSERT_EQ(write(master, "k0\r", 3), 3);
  screen += readUntil(master, cp949("저장합니다."), 10);
  EXPECT_EQ(waitForExit(child), 0);
  close(master);
  EXPECT_NE(screen.find(cp949("잘못된 입력입니다.")), std::string::npos) << screen;
  EXPECT_EQ(screen.find('\x1b'), std::string::npos) << screen;
}

}  // namespace
}  // namespace phonebook
