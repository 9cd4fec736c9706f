// What is typed at a real (pseudo-)terminal: the line editor's keys and
// histories, each encoding of the terminal, a character that CP949 lacks,
// and the signals that end a run.
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

using testing::answer;
using testing::operator+;
using testing::cp949;
using testing::cp949LocalePath;
using testing::kAddKim;
using testing::kMenuPrompt;
using testing::kNamePrompt;
using testing::kPhonePrompt;
using testing::kUtf8PausePrompt;
using testing::readUntil;
using testing::startOnTerminal;
using testing::Steps;
using testing::terminalIsCooked;
using testing::TerminalRun;
using testing::waitForExit;

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
    std::string screen = readUntil(master, namePrompt, 10);
    ASSERT_NE(screen.find(namePrompt), std::string::npos);
    // Keys typed before the editor has taken the terminal out of line mode
    // are the line mode's: a Ctrl-D there would become a zero byte.
    for (int tries = 0; tries < 500 && terminalIsCooked(master); ++tries) usleep(10000);
    // The editor writes the prompt once, and again only the line that it
    // edits, not the menu.
    screen += readUntil(master, "never printed", 0.2);
    EXPECT_EQ(screen.find(namePrompt), screen.rfind(namePrompt)) << screen;
    EXPECT_EQ(screen.find("1. "), screen.rfind("1. ")) << screen;
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

// A signal at the first menu, before any pause, puts the terminal back
// too; one that the program was started to ignore (nohup's SIGHUP) stays
// ignored.
TEST(TerminalTest, ASignalBeforeAnyPauseAndAnIgnoredOne) {
  testing::TempDir dir;
  int master = -1;
  pid_t child = startOnTerminal(dir, {.locale = "C.UTF-8", .ignored = SIGHUP}, master);
  ASSERT_GE(child, 0);
  std::string screen;
  ASSERT_TRUE(answer(master, {{kMenuPrompt, ""}}, screen)) << screen;
  kill(child, SIGHUP);
  readUntil(master, "never printed", 0.3);
  EXPECT_EQ(waitpid(child, nullptr, WNOHANG), 0) << "ended by a signal it was to ignore";
  kill(child, SIGTERM);
  EXPECT_EQ(waitForExit(child), 128 + SIGTERM);
  EXPECT_TRUE(terminalIsCooked(master));
  close(master);
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

}  // namespace
}  // namespace phonebook
