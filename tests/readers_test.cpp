#include "console/readers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/line_input.h"
#include "console/scripted_terminal.h"
#include "tests/test_support.h"

namespace phonebook {
namespace {

using testing::cp949;
using namespace std::string_literals;

// Reads one line with `capacity` from `input` on a terminal of `codeset`
// (one that marks lost characters where `marksLost`), and returns the kept
// text and the rest of the input, which the next read would see.
struct OneLine {
  LineRead read;
  std::string text;
  std::string rest;
};

OneLine readOneLine(const std::string& input, std::size_t capacity, const std::string& codeset = "",
                    bool marksLost = false) {
  ScriptedTerminal terminal(input, 7, marksLost);
  Console console(terminal, codeset);
  std::vector<char> buffer(capacity, 'x');
  OneLine result{readLine(console, LineKind::kName, buffer.data(), capacity), buffer.data(), ""};
  for (int byte = console.getByte(); byte != Console::kEndOfInput; byte = console.getByte()) {
    result.rest.push_back(static_cast<char>(byte));
  }
  return result;
}

TEST(ReadLineTest, KeepsTheWholeLineAndNeverTheNext) {
  struct Case {
    std::string input;
    std::size_t capacity;
    std::string text;
  };
  const std::string name29(29, 'n');
  const std::string name40(40, 'n');
  const Case cases[] = {
      {"Lee\nnext", 30, "Lee"},
      {"Lee\r\nnext", 30, "Lee"},
      {"\nnext", 30, ""},
      {name29 + "\nnext", 30, name29},  // fits exactly
      {name40 + "\nnext", 30, name29},  // cut, the rest dropped
      {std::string(5000, 'n') + "\nnext", 50, std::string(49, 'n')},
      {"a\rb\nnext", 30, "ab"},                       // a lone CR is no line break, and no text
      {"ab\0cd\nnext"s, 30, "abcd"},                  // nor is any other control byte ...
      {"a\tb\x7f\x01\nnext", 30, "a\tb"},             // ... but the tab
      {"K\x1b[Dim\x1b[1;5C\x1bOH\nnext", 30, "Kim"},  // escape sequences go whole
      {"a\x1b\x1b\x01"
       "b\x1b\xB0\xA1\nnext",
       30, "ab\xB0\xA1"},  // and a lone ESC, whatever follows it
      {"n\x1b]0;title\x07"
       "1\x1bPq#0\x1b\\"
       "2\x1bx3\nnext",
       30, "n123"},                            // strings, Alt-x
      {"\xB0\xA1\xB0\nnext", 30, "\xB0\xA1"},  // half a character at the end
  };
  for (const Case& c : cases) {
    OneLine result = readOneLine(c.input, c.capacity);
    EXPECT_EQ(result.read, LineRead::kLine) << c.input;
    EXPECT_EQ(result.text, c.text) << c.input;
    EXPECT_EQ(result.rest, "next") << c.input;
  }
}

// Whether a terminal may speak UTF-8 here: not on Windows, whose console is
// shown CP949 through UTF-16 whatever its code page.
bool utf8TerminalsExist() {
  return testing::terminalLocales().size() > 1;
}

TEST(ReadLineTest, CutsOnCharacterBoundariesAfterConversion) {
  // 15 Hangul syllables: 30 CP949 bytes, 45 UTF-8 bytes.
  const std::string utf8 = "가나다라마바사아자차카타파하가";
  const std::string kept = cp949("가나다라마바사아자차카타파하");  // 28 bytes
  EXPECT_EQ(readOneLine(cp949(utf8) + "\n", 30).text, kept);
  if (!utf8TerminalsExist()) GTEST_SKIP() << "no UTF-8 terminal here";
  EXPECT_EQ(readOneLine(utf8 + "\n", 30, "UTF-8").text, kept);
  // "a" and 14 syllables: 29 bytes, kept whole only once converted.
  const std::string a14 = "a가나다라마바사아자차카타파하";
  EXPECT_EQ(readOneLine(a14 + "\n", 30, "UTF-8").text, cp949(a14));
  // Converted before the limit applies: 16 syllables of UTF-8 fit capacity 50.
  EXPECT_EQ(readOneLine(utf8 + "가\n", 50, "UTF-8").text, cp949(utf8 + "가"));
}

TEST(ReadLineTest, ACharacterCp949LacksIsReportedWhereItIsKept) {
  enum Kind { kUtf8, kMarking, kPassing };  // kMarking as a Windows console
  struct Case {
    Kind terminal;
    std::string input;
    std::string text;
    LineRead read;
  };
  const std::string n27(27, 'n');
  const std::string n28(28, 'n');
  const Case cases[] = {
      {kUtf8, "\xC3\x89mile\n", "?mile", LineRead::kLostCharacter},      // no É in CP949
      {kUtf8, "x\xF0\x9F\x98\x80y\n", "x?y", LineRead::kLostCharacter},  // nor an emoji
      {kUtf8,
       "a\xFF"
       "b\n",
       "a?b", LineRead::kLostCharacter},                                 // bytes that form none
      {kUtf8, "\xEA\xB0\n", "?", LineRead::kLostCharacter},              // one cut-off character
      {kUtf8, "a?b\n", "a?b", LineRead::kLine},                          // a "?" typed is no loss
      {kUtf8, n28 + "\xC3\x89\n", n28 + "?", LineRead::kLostCharacter},  // the last byte kept
      {kUtf8, n28 + "n\xC3\x89\n", n28 + "n", LineRead::kLine},          // past the cut
      {kUtf8, n27 + "가\xC3\x89\n", n27 + cp949("가"),
       LineRead::kLine},  // past the cut, counted once converted
      {kMarking, "a\0b\n"s, "a?b", LineRead::kLostCharacter},
      {kMarking, n28 + "n\0\n"s, n28 + "n", LineRead::kLine},
      // A zero byte typed is dropped; a CP949 terminal's bytes pass as they are.
      {kPassing, "a\0b\xFF\n"s, "ab\xFF", LineRead::kLine},
  };
  for (const Case& c : cases) {
    if (c.terminal == kUtf8 && !utf8TerminalsExist()) continue;
    OneLine result =
        readOneLine(c.input, 30, c.terminal == kUtf8 ? "UTF-8" : "", c.terminal == kMarking);
    EXPECT_EQ(result.read, c.read) << c.input;
    EXPECT_EQ(result.text, c.text) << c.input;
    EXPECT_EQ(result.rest, "") << c.input;
  }
}

TEST(ReadLineTest, EndOfInput) {
  OneLine empty = readOneLine("", 30);
  EXPECT_EQ(empty.read, LineRead::kEndOfInput);
  EXPECT_EQ(empty.text, "");
  OneLine last = readOneLine("Lee", 30);  // a last line without a line break
  EXPECT_EQ(last.read, LineRead::kLine);
  EXPECT_EQ(last.text, "Lee");
}

struct NumberCase {
  std::string input;
  NumberRead read;
  int value;
  std::string rest;
};

TEST(ReadNumberTest, ReadsANumberAndDiscardsItsLine) {
  const NumberCase cases[] = {
      {"3\nnext", NumberRead::kNumber, 3, "next"},
      {"+3\nnext", NumberRead::kNumber, 3, "next"},
      {"-1\nnext", NumberRead::kNumber, -1, "next"},
      {"3abc\nnext", NumberRead::kNumber, 3, "next"},
      {" 2\nnext", NumberRead::kNumber, 2, "next"},
      {"1 2\nnext", NumberRead::kNumber, 1, "next"},
      {"\n\n \t\n4\r\nnext", NumberRead::kNumber, 4, "next"},  // blank lines skipped
      {"2147483647\nnext", NumberRead::kNumber, 2147483647, "next"},
      {"-2147483648\nnext", NumberRead::kNumber, -2147483647 - 1, "next"},
      {"0", NumberRead::kNumber, 0, ""},  // a last line without a line break
      {"abc\nnext", NumberRead::kNotANumber, 99, "next"},
      {"+\nnext", NumberRead::kNotANumber, 99, "next"},
      {"- 3\nnext", NumberRead::kNotANumber, 99, "next"},
      {"2147483648\nnext", NumberRead::kNotANumber, 99, "next"},
      {"21474836470\nnext", NumberRead::kNotANumber, 99, "next"},
      {"-2147483649\nnext", NumberRead::kNotANumber, 99, "next"},
      {"99999999999999999999999\nnext", NumberRead::kNotANumber, 99, "next"},
      {"", NumberRead::kEndOfInput, 99, ""},
      {"\n  \n", NumberRead::kEndOfInput, 99, ""},
  };
  for (const NumberCase& c : cases) {
    ScriptedTerminal terminal(c.input);
    Console console(terminal, "");
    int target = 99;
    EXPECT_EQ(readNumber(console, target), c.read) << c.input;
    EXPECT_EQ(target, c.value) << c.input;
    EXPECT_EQ(console.inputEnded(), c.read == NumberRead::kEndOfInput) << c.input;
    std::string rest;
    for (int byte = console.getByte(); byte != Console::kEndOfInput; byte = console.getByte()) {
      rest.push_back(static_cast<char>(byte));
    }
    EXPECT_EQ(rest, c.rest) << c.input;
  }
}

TEST(LineInputTest, RemoveNewlineTakesOnlyALineBreak) {
  for (auto [line, expected] : std::vector<std::pair<std::string, std::string>>{{"abc\n", "abc"},
                                                                                {"abc\r\n", "abc"},
                                                                                {"abc", "abc"},
                                                                                {"abc\r", "abc\r"},
                                                                                {"", ""},
                                                                                {"\n", ""}}) {
    removeNewline(line);
    EXPECT_EQ(line, expected);
  }
}

TEST(ConsoleTest, OutputIsConvertedWhereTheTerminalIsNotCp949) {
  const std::string text = cp949("전화번호부") + "\xFF";
  ScriptedTerminal utf8Terminal("");
  ScriptedTerminal plainTerminal("");
  {
    Console utf8(utf8Terminal, "UTF-8");
    Console plain(plainTerminal, "ANSI_X3.4-1968");
    utf8.printFormat("%s|%s\n", {text, "x"});
    plain.printFormat("%s|%s\n", {text, "x"});
  }
  // A byte that begins no CP949 character is "?" on either terminal.
  EXPECT_EQ(plainTerminal.output(), cp949("전화번호부") + "?|x\n");

  // A long listing reaches the terminal as it is made, not held whole.
  for (const char* codeset : {"ANSI_X3.4-1968", "UTF-8"}) {
    ScriptedTerminal terminal("");
    Console console(terminal, codeset);
    std::string listing(1 << 20, 'a');
    console.printPiece(listing);
    EXPECT_EQ(terminal.output().size(), std::size_t{1} << 20) << codeset;
  }
  if (!utf8TerminalsExist()) GTEST_SKIP() << "no UTF-8 terminal here";
  EXPECT_EQ(utf8Terminal.output(), "전화번호부?|x\n");

  // A terminal without Hangul shows each syllable as "??", as wide; no
  // second byte is taken for the start of the next character, nor shown
  // where it is a letter (갂 is 81 41) and ends the text.
  ScriptedTerminal latin1Terminal("");
  {
    Console latin1(latin1Terminal, "ISO-8859-1");
    latin1.print(cp949("불러옵니다. 홍길동갂"));
  }
  EXPECT_EQ(latin1Terminal.output(), "??????????. ????????");

  // A terminal whose encoding shifts between character sets is shifted back
  // at the end of each text.
  ScriptedTerminal shiftingTerminal("");
  {
    Console shifting(shiftingTerminal, "ISO-2022-KR");
    shifting.print(cp949("홍길동"));
  }
  EXPECT_EQ(shiftingTerminal.output(), "\x1b$)C\x0eH+1f5?\x0f");
}

}  // namespace
}  // namespace phonebook
