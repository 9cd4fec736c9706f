// Whole dialogues through the real program: scripted standard input, no
// terminal, LC_ALL=C so that every byte on the screen is the program's own
// CP949. Expected screens are written in UTF-8 and converted.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace phonebook {
namespace {

using testing::cp949;
using namespace std::string_literals;

const std::string kStartMissing = "File Open Fail저장된 파일을 불러옵니다.";
const std::string kStartLoaded = "저장된 파일을 불러옵니다.";
const std::string kMenu =
    "\t\t전화번호부\n\n\n1. 전화번호 추가\n2. 전화번호 출력\n3. 전화번호 검색\n4. 전화번호 수정\n"
    "5. 전화번호 삭제\n0. 프로그램 종료\n\n\n원하시는 메뉴를 선택해주세요: ";
const std::string kInvalid = "\n잘못된 입력입니다. 다시 입력해주세요.\n";
const std::string kSaved = "\n\n전화번호부를 저장합니다.\n\n";
const std::string kAddName = "\t\t[전화번호 입력]\n\n입력할 이름을 입력해주세요: ";
const std::string kAdd = kAddName + "입력할 전화번호를 입력해주세요: ";
const std::string kAdded = "\n\n전화번호를 저장완료하였습니다.\n\n";
const std::string kAddRejected =
    "\n\n이름이나 전화번호가 비어 있거나 공백이 있어 추가하지 않았습니다.\n공백 없이 다시 "
    "입력하십시오.\n\n";
const std::string kList = "\t\t [전화번호부 출력]\n\n[전화번호부]\n\n이름\t\t전화번호\n";
const std::string kSearch = "\t\t [전화번호부 검색]\n\n\n\n검색할 이름을 입력하세요: ";
const std::string kNotFound = "검색한 값이 없습니다.\n";
const std::string kItem = "수정할 항목을 선택하세요(1: 이름 / 2: 전화번호):  ";
const std::string kEdit = "\t\t [전화번호부 수정]\n\n수정할 값을 입력하세요: ";
const std::string kEdited = "\n수정성공\n";
const std::string kEditRejected =
    "\n새 값이 비어 있거나 공백이 있어 바꾸지 않았습니다.\n공백 없이 다시 입력하십시오.\n";
const std::string kAddLostRejected =
    "\n\n이름이나 전화번호에 저장할 수 없는 글자가 있어 추가하지 않았습니다.\n그 글자를 빼고 다시 "
    "입력하십시오.\n\n";
const std::string kEditLostRejected =
    "\n저장할 수 없는 글자가 있어 바꾸지 않았습니다.\n그 글자를 빼고 다시 입력하십시오.\n";
const std::string kDelete = "\n\n삭제할 이름을 입력하세요: ";

std::string foundFirst(const std::string& name, const std::string& phone) {
  return "\n\n조회결과는 다음과 같습니다.\n이름: " + name + " // 전화번호: " + phone + "\n\n";
}
std::string foundLater(const std::string& name, const std::string& phone) {
  return "검색한 값 : " + name + " " + phone + "\n\n";
}

struct Dialogue {
  const char* what;
  std::string file;    // PhoneList.txt before the run, in UTF-8; none when empty
  std::string input;   // standard input, in the terminal's encoding once converted
  std::string screen;  // everything after the first menu, in UTF-8
  int status;
  std::string saved;  // PhoneList.txt afterwards, in UTF-8 ("" for none)
  // The command-line argument. With one the program may show a text about
  // itself instead of the menu: `screen` is then how its output begins.
  const char* argument = nullptr;
  bool utf8 = false;  // a UTF-8 terminal, which is typed and shown UTF-8
};

void check(const Dialogue& d) {
  SCOPED_TRACE(d.what);
  testing::TempDir dir;
  if (!d.file.empty()) testing::writeFile(dir.file("PhoneList.txt"), cp949(d.file));
  auto terminal = [&](const std::string& utf8) { return d.utf8 ? utf8 : cp949(utf8); };
  testing::Run run = testing::script(terminal(d.input), d.utf8 ? "C.UTF-8" : "C");
  if (d.argument != nullptr) run.argument = d.argument;
  testing::Outcome outcome = testing::runPhonebook(dir.path(), run);
  std::string start = d.file.empty() ? kStartMissing : kStartLoaded;
  if (d.argument == nullptr) {
    EXPECT_EQ(outcome.output, terminal(start + kMenu + d.screen));
  } else {
    EXPECT_EQ(outcome.output.substr(0, terminal(d.screen).size()), terminal(d.screen));
  }
  EXPECT_EQ(outcome.status, d.status);
  EXPECT_EQ(testing::readFile(dir.file("PhoneList.txt")), cp949(d.saved));
}

const std::string kTwo = "Ahn 1\r\nLee 2\r\n";

TEST(MenuTest, ChoicesAndTheirEnds) {
  const Dialogue dialogues[] = {
      {"0 saves and ends at once", "", "0\n", kSaved, 0, ""},
      {"a last 0 without a line break still counts", kTwo, "0", kSaved, 0, kTwo},
      {"7, -1 and x are invalid", "", "7\n-1\nx\n0\n",
       kInvalid + kMenu + kInvalid + kMenu + kInvalid + kMenu + kSaved, 0, ""},
      {"a number past 32 bits is invalid", "", "4294967296\n0\n", kInvalid + kMenu + kSaved, 0, ""},
      {"after 2, x is invalid, not the list again", kTwo, "2\nx\n0\n",
       kList + "Ahn\t\t1\nLee\t\t2\n" + kMenu + kInvalid + kMenu + kSaved, 0, kTwo},
      {"blank lines are skipped, +2 and 2abc are 2", kTwo, "\n\n  \n+2\n2abc\n0\n",
       kList + "Ahn\t\t1\nLee\t\t2\n" + kMenu + kList + "Ahn\t\t1\nLee\t\t2\n" + kMenu + kSaved, 0,
       kTwo},
      {"end of input at the menu saves nothing", kTwo, "1\nKim\n3\n", kAdd + kAdded + kMenu + "\n",
       1, kTwo},
      {"end of input at a screen saves nothing", "", "1\nKim\n", kAdd + "\n", 1, ""},
      {"end of input at the name prompt asks no more", "", "1\n", kAddName + "\n", 1, ""},
      {"end of input at the item prompt", kTwo, "4\nLee\n",
       kSearch + foundLater("Lee", "2") + kItem + "\n", 1, kTwo},
      // A file as the program would not write it: the menu's 0 would rewrite it.
      {"--help shows the usage, and reads and writes nothing", "Ahn 1\nLee 2", "0\n",
       "phonebook: 터미널에서 한 사람이 쓰는 전화번호부입니다.", 0, "Ahn 1\nLee 2", "--help"},
      {"-h is --help", "", "0\n",
       "phonebook: 터미널에서 한 사람이 쓰는 전화번호부입니다. 이름과 전화번호를\n"
       "이름 순서대로 현재 폴더의 PhoneList.txt 파일에 (CP949로) 보관합니다.\n\n"
       "사용법: phonebook [-h | --help | --version]\n"
       "  -h, --help  이 도움말을 보여 주고 끝냅니다.\n"
       "  --version   버전을 보여 주고 끝냅니다.\n\n"
       "메뉴: 1 추가, 2 출력, 3 검색, 4 수정, 5 삭제, 0 저장하고 끝내기.\n"
       "Ctrl-C나 입력 종료(Ctrl-D, Windows에서는 Ctrl-Z와 Enter)는 저장하지 않고\n끝냅니다.\n"
       "종료 상태: 0 저장함, 1 저장하지 않음(입력 종료, 저장 실패, 다른 창에서 이미\n"
       "열려 있음, 메모리 부족).\n"
       "자세한 설명: ",
       0, "", "-h"},
      {"--version shows the version, and reads and writes nothing", "Ahn 1\nLee 2", "0\n",
       "phonebook " PHONEBOOK_VERSION "\n", 0, "Ahn 1\nLee 2", "--version"},
  };
  for (const Dialogue& d : dialogues) check(d);
}

TEST(ScreensTest, AddAndList) {
  const Dialogue dialogues[] = {
      {"the first entry gets no confirmation, a later one does", "",
       "1\nLee\n010\n1\nPark\n011\n1\nAhn\n012\n1\nAhn\n013\n2\n0\n",
       kAdd + kMenu + kAdd + kAdded + kMenu + kAdd + kMenu + kAdd + kAdded + kMenu + kList +
           "Ahn\t\t012\nAhn\t\t013\nLee\t\t010\nPark\t\t011\n" + kMenu + kSaved,
       0, "Ahn 012\r\nAhn 013\r\nLee 010\r\nPark 011\r\n"},
      {"Hangul sorts after Latin", "", "1\n홍길동\n010-123\n1\nKim\n02\n2\n0\n",
       kAdd + kMenu + kAdd + kMenu + kList + "Kim\t\t02\n홍길동\t\t010-123\n" + kMenu + kSaved, 0,
       "Kim 02\r\n홍길동 010-123\r\n"},
      {"a number of 49 bytes is kept whole", "", "1\nLee\n" + std::string(49, '1') + "\n0\n",
       kAdd + kMenu + kSaved, 0, "Lee " + std::string(49, '1') + "\r\n"},
      {"a long name is cut and the number prompt still waits", "",
       "1\n" + std::string(40, 'n') + "\n010\n0\n", kAdd + kMenu + kSaved, 0,
       std::string(29, 'n') + " 010\r\n"},
      {"a name of 15 syllables keeps 14", "", "1\n가나다라마바사아자차카타파하가\n1\n0\n",
       kAdd + kMenu + kSaved, 0, "가나다라마바사아자차카타파하 1\r\n"},
      {"empty or spaced texts are refused", kTwo,
       "1\n\n010\n1\nKim\n\n1\nKim Lee\n010\n1\nKim\n010 11\n1\nKim\t\n1\n2\n0\n",
       kAdd + kAddRejected + kMenu + kAdd + kAddRejected + kMenu + kAdd + kAddRejected + kMenu +
           kAdd + kAddRejected + kMenu + kAdd + kAddRejected + kMenu + kList +
           "Ahn\t\t1\nLee\t\t2\n" + kMenu + kSaved,
       0, kTwo},
      {"an empty phone book lists the headings only", "", "2\n0\n", kList + kMenu + kSaved, 0, ""},
      {"control bytes typed never enter an entry", "",
       "1\nK\x1b[Dim\n0\x07\x7f"
       "1\n0\n",
       kAdd + kMenu + kSaved, 0, "Kim 01\r\n"},
  };
  for (const Dialogue& d : dialogues) check(d);
}

TEST(ScreensTest, SearchAndEdit) {
  const std::string three = "Ahn 1\r\nLee 2\r\nLee 3\r\n";  // loads as Ahn 1, Lee 3, Lee 2
  const Dialogue dialogues[] = {
      {"the first entry in the two-line form, a later one in one line", three,
       "3\nAhn\n3\nLee\n3\nNobody\n3\nAh\n0\n",
       kSearch + foundFirst("Ahn", "1") + kMenu + kSearch + foundLater("Lee", "3") + kMenu +
           kSearch + kNotFound + kMenu + kSearch + kNotFound + kMenu + kSaved,
       0, "Ahn 1\r\nLee 3\r\nLee 2\r\n"},
      {"the first of equal names is found and edited", three, "4\nLee\n2\n033\n2\n0\n",
       kSearch + foundLater("Lee", "3") + kItem + kEdit + kEdited + kMenu + kList +
           "Ahn\t\t1\nLee\t\t033\nLee\t\t2\n" + kMenu + kSaved,
       0, "Ahn 1\r\nLee 033\r\nLee 2\r\n"},
      {"a renamed entry stays in place; insertion walks the list as it is", kTwo,
       "4\nAhn\n1\nMoon\n2\n1\nNam\n5\n2\n0\n",
       kSearch + foundFirst("Ahn", "1") + kItem + kEdit + kEdited + kMenu + kList +
           "Moon\t\t1\nLee\t\t2\n" + kMenu + kAdd + kAdded + kMenu + kList +
           "Moon\t\t1\nLee\t\t2\nNam\t\t5\n" + kMenu + kSaved,
       0, "Moon 1\r\nLee 2\r\nNam 5\r\n"},
      {"not found: the edit screen still asks and stores nothing", kTwo, "4\nNobody\n1\nX\n0\n",
       kSearch + kNotFound + kItem + kEdit + kMenu + kSaved, 0, kTwo},
      {"items 3 and x drop the value silently", kTwo, "4\nLee\n3\nX\n4\nLee\nx\nX\n2\n0\n",
       kSearch + foundLater("Lee", "2") + kItem + kEdit + kMenu + kSearch + foundLater("Lee", "2") +
           kItem + kEdit + kMenu + kList + "Ahn\t\t1\nLee\t\t2\n" + kMenu + kSaved,
       0, kTwo},
      {"an empty or spaced value is refused", kTwo, "4\nLee\n1\n\n4\nLee\n2\n0 1\n0\n",
       kSearch + foundLater("Lee", "2") + kItem + kEdit + kEditRejected + kMenu + kSearch +
           foundLater("Lee", "2") + kItem + kEdit + kEditRejected + kMenu + kSaved,
       0, kTwo},
      {"a long new name is cut to 29 bytes, whole characters only", kTwo,
       "4\nLee\n1\na가나다라마바사아자차카타파하가\n4\nLee\n2\n" + std::string(60, '9') + "\n0\n",
       kSearch + foundLater("Lee", "2") + kItem + kEdit + kEdited + kMenu + kSearch + kNotFound +
           kItem + kEdit + kMenu + kSaved,
       0, "Ahn 1\r\na가나다라마바사아자차카타파하 2\r\n"},
      {"a number of 49 bytes is kept whole", kTwo, "4\nLee\n2\n" + std::string(49, '9') + "\n0\n",
       kSearch + foundLater("Lee", "2") + kItem + kEdit + kEdited + kMenu + kSaved, 0,
       "Ahn 1\r\nLee " + std::string(49, '9') + "\r\n"},
  };
  for (const Dialogue& d : dialogues) check(d);
}

TEST(ScreensTest, Delete) {
  const std::string shared = "Ahn 1\r\nLee 2\r\nLee 3\r\nPark 4\r\n";  // Ahn, Lee 3, Lee 2, Park
  const Dialogue dialogues[] = {
      {"the first: the second becomes first", shared, "5\nAhn\n3\nLee\n0\n",
       kDelete + "삭제 성공\n" + kMenu + kSearch + foundFirst("Lee", "3") + kMenu + kSaved, 0,
       "Lee 3\r\nLee 2\r\nPark 4\r\n"},
      {"the last, then a shared name twice, then a miss", shared,
       "5\nPark\n5\nLee\n2\n5\nLee\n5\nLee\n0\n",
       kDelete + "삭제 성공\n" + kMenu + kDelete + "삭제 성공\n" + kMenu + kList +
           "Ahn\t\t1\nLee\t\t2\n" + kMenu + kDelete + "삭제 성공\n" + kMenu + kDelete +
           "삭제 실패\n" + kMenu + kSaved,
       0, "Ahn 1\r\n"},
      {"an empty line removes nothing when no name is empty", kTwo, "5\n\n0\n",
       kDelete + "삭제 실패\n" + kMenu + kSaved, 0, kTwo},
      {"the only entry: an empty file", "Ahn 1\n", "5\nAhn\n0\n",
       kDelete + "삭제 성공\n" + kMenu + kSaved, 0, ""},
      {"a long line never answers the menu", kTwo, "5\n" + std::string(40, 'L') + "0\n0\n",
       kDelete + "삭제 실패\n" + kMenu + kSaved, 0, kTwo},
  };
  for (const Dialogue& d : dialogues) check(d);
}

// Where the locale names the terminal's encoding (not on Windows, whose
// console is always shown CP949).
bool localesNameTheTerminal() {
  return testing::terminalLocales().size() > 1;
}

TEST(ScreensTest, ACharacterCp949LacksIsNeitherStoredNorFound) {
  if (!localesNameTheTerminal()) GTEST_SKIP() << "no locale names the console";
  // "?mile" stands first: what "Émile" would become, and must not find.
  const std::string file = "?mile 1\r\nLee 2\r\n";
  const std::string list = kList + "?mile\t\t1\nLee\t\t2\n";
  const Dialogue dialogues[] = {
      {"add refuses it in a name or a number", file, "1\nÉmile\n3\n1\nKim\n010😀\n2\n0\n",
       kAdd + kAddLostRejected + kMenu + kAdd + kAddLostRejected + kMenu + list + kMenu + kSaved, 0,
       file, nullptr, true},
      {"search, delete and the edit's search find nothing", file,
       "3\nÉmile\n5\nÉmile\n4\nÉmile\n1\nKim\n3\n?mile\n0\n",
       kSearch + kNotFound + kMenu + kDelete + "삭제 실패\n" + kMenu + kSearch + kNotFound + kItem +
           kEdit + kMenu + kSearch + foundFirst("?mile", "1") + kMenu + kSaved,
       0, file, nullptr, true},
      {"edit refuses it as a name or a number", file, "4\nLee\n1\nÉmile\n4\nLee\n2\n0é\n0\n",
       kSearch + foundLater("Lee", "2") + kItem + kEdit + kEditLostRejected + kMenu + kSearch +
           foundLater("Lee", "2") + kItem + kEdit + kEditLostRejected + kMenu + kSaved,
       0, file, nullptr, true},
      {"past the cut it does not count", "", "1\n" + std::string(29, 'n') + "É\n010\n0\n",
       kAdd + kMenu + kSaved, 0, std::string(29, 'n') + " 010\r\n", nullptr, true},
  };
  for (const Dialogue& d : dialogues) check(d);
}

TEST(ScreensTest, Utf8TerminalSeesUtf8AndTypesUtf8) {
  if (!localesNameTheTerminal()) GTEST_SKIP() << "no locale names the console";
  testing::TempDir dir;
  // A zero byte typed is a control byte, dropped, and no lost character:
  // only a Windows console hands out one for that.
  testing::Outcome outcome = testing::runPhonebook(
      dir.path(), testing::script("1\n홍\0길동\n010\n1\n김철수\n02\n3\n홍길동\n0\n"s, "C.UTF-8"));
  EXPECT_EQ(outcome.output, kStartMissing + kMenu + kAdd + kMenu + kAdd + kMenu + kSearch +
                                foundLater("홍길동", "010") + kMenu + kSaved);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(testing::readFile(dir.file("PhoneList.txt")), cp949("김철수 02\r\n홍길동 010\r\n"));

  // A list of Hangul longer than the pieces it goes out in: converted whole.
  std::string book, lines;
  for (int i = 1000; i < 10000; ++i) {
    book += "홍길동" + std::to_string(i) + " 010-" + std::to_string(i) + "\r\n";
    lines += "홍길동" + std::to_string(i) + "\t\t010-" + std::to_string(i) + "\n";
  }
  for (std::string locale : {"C.UTF-8", "C"}) {
    testing::TempDir listed;
    testing::writeFile(listed.file("PhoneList.txt"), cp949(book));
    outcome = testing::runPhonebook(listed.path(), testing::script("2\n0\n", locale));
    std::string expected = kStartLoaded + kMenu + kList + lines + kMenu + kSaved;
    EXPECT_EQ(outcome.output, locale == "C" ? cp949(expected) : expected) << locale;
  }
}

// The lines of `text`, each tab as the blanks up to the next multiple of
// eight (the menu has tabs only where a line begins), without blanks at the
// end.
std::vector<std::string> shownLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::string shown;
    for (char c : line)
      shown += c == '\t' ? std::string(8 - shown.size() % 8, ' ') : std::string(1, c);
    lines.push_back(shown.substr(0, shown.find_last_not_of(' ') + 1));
  }
  return lines;
}

TEST(MenuTest, TheManualPagesShowTheMenuThatIsPrinted) {
  for (const char* page : {"phonebook.1", "phonebook.ko.1"}) {
    SCOPED_TRACE(page);
    std::string text = testing::readFile(std::string(PHONEBOOK_SOURCE_DIR) + "/doc/" + page);
    std::size_t section = text.find(".SH ");
    while (section != std::string::npos && text.compare(section, 8, ".SH MENU") != 0 &&
           text.compare(section, 10, ".SH 메뉴") != 0) {
      section = text.find(".SH ", section + 1);
    }
    ASSERT_NE(section, std::string::npos);
    std::size_t start = text.find(".EX\n", section);
    std::size_t end = text.find(".EE\n", start);
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(shownLines(text.substr(start + 4, end - start - 4)), shownLines(kMenu));
  }
}

TEST(ScreensTest, TheLocaleNamesTheTerminalsEncoding) {
  if (!localesNameTheTerminal()) GTEST_SKIP() << "no locale names the console";
  struct Case {
    const char* locale;
    bool utf8;
  };
  // ko_KR locales are not installed here: their names alone must decide.
  for (const Case& c :
       {Case{"C.UTF-8", true}, Case{"ko_KR.UTF-8", true}, Case{"ko_KR.utf8", true},
        Case{"ko_KR.UTF-8@euro", true}, Case{"C", false}, Case{"POSIX", false},
        Case{"ko_KR.CP949", false}, Case{"ko_KR.EUC-KR", false}, Case{"ko_KR.euckr", false},
        Case{"ko_KR.UHC", false}, Case{"en_US.US-ASCII", false}, Case{"ko_KR", false}}) {
    SCOPED_TRACE(c.locale);
    testing::TempDir dir;
    testing::Outcome outcome = testing::runPhonebook(dir.path(), testing::script("0\n", c.locale));
    std::string expected = kStartMissing + kMenu + kSaved;
    EXPECT_EQ(outcome.output, c.utf8 ? expected : cp949(expected));
  }
}

}  // namespace
}  // namespace phonebook
