// The program on a real (pseudo-)terminal: the screen is cleared, the pause
// waits for a key from the terminal, and it leaves standard input unread.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

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
  const char* localeVariable = "LC_ALL";  // the one of LC_ALL, LC_CTYPE, LANG that is set
  std::string localePath = "";            // LOCPATH, where the locale is the tests' own
  std::string term = "xterm";
  bool outputToFile = false;  // standard output to the file "output"
  // Run as a shell runs a job: in a process group of its own, the
  // terminal's foreground, with the returned process as its parent. A stop
  // (Ctrl-Z) then stops the program, and the shell stands by.
  bool asJob = false;
  // The terminal as another program may leave it: a read there in raw mode
  // returns at once, with nothing (VMIN and VTIME 0).
  bool readsReturnAtOnce = false;
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
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG", "LOCPATH"}) unsetenv(variable);
    setenv(run.localeVariable, run.locale.c_str(), 1);
    if (!run.localePath.empty()) setenv("LOCPATH", run.localePath.c_str(), 1);
    setenv("TERM", run.term.c_str(), 1);
    termios settings;
    if (run.readsReturnAtOnce && tcgetattr(STDERR_FILENO, &settings) == 0) {
      settings.c_cc[VMIN] = settings.c_cc[VTIME] = 0;
      if (tcsetattr(STDERR_FILENO, TCSANOW, &settings) != 0) _exit(122);
    }
    if (run.asJob) {
      pid_t job = fork();
      if (job > 0) {
        int status = -1;
        while (waitpid(job, &status, 0) < 0 && errno == EINTR) {
        }
        _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
      }
      setpgid(0, 0);
      std::signal(SIGTTOU, SIG_IGN);
      tcsetpgrp(STDERR_FILENO, getpid());
      std::signal(SIGTTOU, SIG_DFL);
    }
    execl(PHONEBOOK_BINARY, PHONEBOOK_BINARY, static_cast<char*>(nullptr));
    _exit(123);
  }
  return child;
}

// The exit status, or 128 + the signal; a program still running after
// `seconds` is killed, and gives -1.
int waitForExit(pid_t child, double seconds = 20) {
  int status = -1;
  for (int tries = 0; tries < seconds * 100; ++tries) {
    if (waitpid(child, &status, WNOHANG) == child) {
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    usleep(10000);
  }
  kill(child, SIGKILL);
  waitpid(child, &status, 0);
  return -1;
}

bool terminalIsCooked(int master) {
  termios settings;
  return tcgetattr(master, &settings) == 0 &&
         (settings.c_lflag & (ICANON | ECHO)) == static_cast<tcflag_t>(ICANON | ECHO);
}

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

// The process's state as /proc tells it: 'T' when stopped.
char stateOf(pid_t process) {
  std::string stat = testing::readFile("/proc/" + std::to_string(process) + "/stat");
  std::size_t end = stat.rfind(')');
  return end == std::string::npos || end + 2 >= stat.size() ? '?' : stat[end + 2];
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
  // pause has its single keys again.
  ASSERT_EQ(write(master, "\x1a", 1), 1);
  for (int tries = 0; tries < 500 && stateOf(job) != 'T'; ++tries) usleep(10000);
  EXPECT_EQ(stateOf(job), 'T');
  EXPECT_TRUE(terminalIsCooked(master));
  kill(-job, SIGCONT);
  for (int tries = 0; tries < 200 && terminalIsCooked(master); ++tries) usleep(10000);
  EXPECT_FALSE(terminalIsCooked(master));

  ASSERT_EQ(write(master, "\x03", 1), 1);
  EXPECT_EQ(waitForExit(child), 128 + SIGINT);
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
      {"Ctrl-U, which keeps what is after the cursor", "홍길동\x1b[D\x15김\r", "김동"},
      {"Ctrl-Left to the word's start, Ctrl-Right to its end", "ab\x1b[1;5Dx\x1b[1;5Cy\r", "xaby"},
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
    const std::string screen = readUntil(master, namePrompt, 10);
    ASSERT_NE(screen.find(namePrompt), std::string::npos);
    // The editor writes again only the line that it edits, not the menu.
    EXPECT_EQ(screen.find("1. "), screen.rfind("1. ")) << screen;
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

// Prompts, each with the keys that answer it.
using Steps = std::vector<std::pair<std::string, std::string>>;

// Answers each prompt of `steps` once it is shown and the line editor has
// the terminal; false, with what was shown in `screen`, at the first that
// does not come.
bool answer(int master, const Steps& steps, std::string& screen) {
  for (const auto& [prompt, keys] : steps) {
    std::size_t at = screen.size();
    screen += readUntil(master, prompt, 10);
    if (screen.find(prompt, at) == std::string::npos) return false;
    for (int tries = 0; tries < 500 && terminalIsCooked(master); ++tries) usleep(10000);
    if (write(master, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) return false;
  }
  return true;
}

const std::string kMenuPrompt = "선택해주세요: ", kUtf8PausePrompt = "누르십시오 . . . ";
const std::string kNamePrompt = "이름을 입력해주세요: ", kPhonePrompt = "전화번호를 입력해주세요: ";
// Kim 010 added, and the pause after it taken.
const Steps kAddKim = {
    {kMenuPrompt, "1\r"}, {kNamePrompt, "Kim\r"}, {kPhonePrompt, "010\r"}, {kUtf8PausePrompt, "k"}};

// The steps of `first`, then those of `then`.
Steps operator+(Steps first, const Steps& then) {
  first.insert(first.end(), then.begin(), then.end());
  return first;
}

// Up brings back the answers of the same kind only: at a name prompt the
// names typed before, not the menu's choices or the numbers.
TEST(TerminalTest, EachKindOfPromptHasItsOwnHistory) {
  testing::TempDir dir;
  int master = -1;
  pid_t child = startOnTerminal(dir, {.locale = "C.UTF-8"}, master);
  ASSERT_GE(child, 0);
  std::string screen;
  ASSERT_TRUE(answer(master,
                     kAddKim + Steps{{kMenuPrompt, "1\r"},
                                     {kNamePrompt, "\x1b[A\r"},
                                     {kPhonePrompt, "\x1b[A1\r"},
                                     {kUtf8PausePrompt, "k"},
                                     {kMenuPrompt,
                                      "\x1b[A\x7f"
                                      "0\r"}},
                     screen))
      << screen;
  readUntil(master, "저장합니다.", 10);
  EXPECT_EQ(waitForExit(child), 0);
  close(master);
  EXPECT_EQ(testing::readFile(dir.file("PhoneList.txt")), "Kim 010\r\nKim 0101\r\n");
}

// A signal that ends the program after a change says, as the end of input
// does, that the change was not saved, and leaves the terminal as it was;
// so too after a save that was refused, which held signals while it ran.
TEST(TerminalTest, ASignalAfterAChangeSaysItWasNotSaved) {
  const std::string notSaved = "바꾼 내용을 저장하지 않고 끝냅니다.";
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    testing::TempDir dir;
    int master = -1;
    pid_t child = startOnTerminal(dir, {.locale = "C.UTF-8"}, master);
    ASSERT_GE(child, 0);
    std::string screen;
    ASSERT_TRUE(answer(master, kAddKim + Steps{{kMenuPrompt, ""}}, screen)) << screen;
    EXPECT_EQ(screen.find(notSaved), std::string::npos);
    // Another program makes the file meanwhile.
    testing::writeFile(dir.file("PhoneList.txt"), "Lee 1\r\n");
    ASSERT_TRUE(answer(master, {{"", "0\r"}, {kUtf8PausePrompt, "k"}, {kMenuPrompt, ""}}, screen))
        << screen;
    if (signal == SIGINT) {
      ASSERT_EQ(write(master, "\x03", 1), 1);  // Ctrl-C, at the line editor
    } else {
      kill(child, signal);
    }
    screen = readUntil(master, notSaved, 10);
    EXPECT_NE(screen.find(notSaved), std::string::npos) << screen;
    EXPECT_EQ(waitForExit(child), 128 + signal);
    EXPECT_TRUE(terminalIsCooked(master));
    close(master);
    EXPECT_EQ(testing::readFile(dir.file("PhoneList.txt")), "Lee 1\r\n");
  }
}

// A CP949 locale of the tests' own, as few systems have one installed: its
// directory, for LOCPATH, or "" where localedef could not make it.
std::string cp949LocalePath() {
  static testing::TempDir dir;
  static const bool made =
      std::system(("localedef -f CP949 -i ko_KR " + dir.file("ko_KR.CP949") + " >/dev/null 2>&1")
                      .c_str()) >= 0 &&
      std::filesystem::exists(dir.file("ko_KR.CP949/LC_CTYPE"));
  return made ? dir.path() : "";
}

// The terminal's encoding, as the locale names it, decides what is shown,
// what typed text means, whether lines are edited, and what one key at the
// pause is; a key at the pause is taken whole, and nothing of it is left
// for the menu.
TEST(TerminalTest, EachEncodingIsShownAndTypedAndTakesWholeKeys) {
  enum Encoding { kUtf8, kCp949, kLatin1 };
  struct Case {
    const char* what;
    TerminalRun run;
    Encoding encoding;
    std::string pauseKey;
    std::string nameKeys;  // in the terminal's encoding
    std::string name;      // stored; none when refused
  };
  const Case cases[] = {
      {"UTF-8 named by LANG, not installed; Esc alone at the pause",
       {.locale = "en_US.UTF-8", .localeVariable = "LANG"},
       kUtf8,
       "\x1b",
       "홍길\x1b[D순\r",
       "홍순길"},
      {"a CP949 locale; F5 at the pause",
       {.locale = "ko_KR.CP949", .localePath = cp949LocalePath()},
       kCp949,
       "\x1b[15~",
       cp949("홍길\x1b[D순\r"),
       "홍순길"},
      {"Latin-1, not Korean: a letter that CP949 lacks; an arrow at the pause",
       {.locale = "fr_FR.ISO-8859-1", .localeVariable = "LC_CTYPE"},
       kLatin1,
       "\x1b[A",
       "\xC9mile\r",
       ""},
      {"C, no line editing; a syllable at the pause", {}, kCp949, cp949("한"), "Kim\r", "Kim"},
      {"UTF-8 on a dumb terminal, no line editing; a syllable at the pause",
       {.locale = "C.UTF-8", .term = "dumb"},
       kUtf8,
       "한",
       "홍길동\r",
       "홍길동"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.run.locale == "ko_KR.CP949" && c.run.localePath.empty()) {
      ADD_FAILURE() << "localedef could not make a CP949 locale: is the package locales there?";
      continue;
    }
    // A syllable is "??" where the terminal has no Hangul: as wide.
    auto shown = [&](const std::string& utf8) {
      if (c.encoding == kUtf8) return utf8;
      if (c.encoding == kCp949) return cp949(utf8);
      std::string latin1;
      for (unsigned char byte : utf8) {
        if (byte < 0x80) latin1 += static_cast<char>(byte);
        if (byte >= 0xC0) latin1 += "??";
      }
      return latin1;
    };
    const bool edits = c.run.locale != "C" && c.encoding != kLatin1 && c.run.term != "dumb";
    testing::TempDir dir;
    int master = -1;
    pid_t child = startOnTerminal(dir, c.run, master);
    ASSERT_GE(child, 0);
    const std::string menuPrompt = "선택해주세요: ";
    const std::string pausePrompt = "누르십시오 . . . ";
    const std::pair<std::string, std::string> steps[] = {
        {menuPrompt, "7\r"},
        {pausePrompt, c.pauseKey},
        {menuPrompt, "1\r"},
        {"이름을 입력해주세요: ", c.nameKeys},
        {"전화번호를 입력해주세요: ", "010\r"},
        {pausePrompt, "k"},
        {menuPrompt, "0\r"},
    };
    // Each answer once its prompt is shown and, where lines are edited, the
    // editor has the terminal; up to the first prompt that does not come.
    std::string screen;
    bool prompted = true;
    for (const auto& [prompt, keys] : steps) {
      std::size_t at = screen.size();
      screen += readUntil(master, shown(prompt), 5);
      prompted = screen.find(shown(prompt), at) != std::string::npos;
      if (!prompted) break;
      for (int tries = 0; edits && tries < 500 && terminalIsCooked(master); ++tries) usleep(10000);
      EXPECT_EQ(write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    if (prompted) screen += readUntil(master, shown("저장합니다."), 5);
    EXPECT_TRUE(prompted) << screen;
    EXPECT_EQ(waitForExit(child, prompted ? 20 : 0), 0);
    close(master);
    const std::string invalid = shown("\n잘못된 입력입니다. 다시 입력해주세요.");
    EXPECT_EQ(screen.find(invalid, screen.find(invalid) + 1), std::string::npos) << screen;
    EXPECT_EQ(screen.find(shown("추가하지 않았습니다.")) != std::string::npos, c.name.empty())
        << screen;
    EXPECT_EQ(testing::readFile(dir.file("PhoneList.txt")),
              c.name.empty() ? "" : cp949(c.name + " 010\r\n"));
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
