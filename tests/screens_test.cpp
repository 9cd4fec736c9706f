#include "console/screens.h"

#include <gtest/gtest.h>

#include <string>

#include "console/console.h"
#include "console/main_menu.h"
#include "console/messages.h"
#include "console/scripted_terminal.h"
#include "store/phone_list.h"

namespace phonebook {
namespace {

// Each screen begins on a cleared screen: the menu, and each command's own
// (the edit's search and its value too).
TEST(ScreensTest, EachScreenBeginsOnAClearedScreen) {
  ScriptedTerminal terminal("1\nKim\n1\n2\n3\nKim\n4\nKim\n2\n7\n5\nKim\n");
  {
    Console console(terminal, "");
    runMainMenu(console, [] { return SaveReport{SaveReport::Result::kSaved, "", ""}; });
  }
  clearList();
  const std::string& screen = terminal.output();
  const std::string clear = ScriptedTerminal::kClearMark;
  for (const char* title : {kMenuTitle, kAddTitle, kListTitle, kSearchTitle, kEditTitle}) {
    EXPECT_NE(screen.find(clear + title), std::string::npos) << title;
  }
  EXPECT_NE(screen.find(clear + clear + kSearchTitle), std::string::npos);  // the edit's search
  EXPECT_NE(screen.find(clear + kDeletePrompt), std::string::npos);
}

}  // namespace
}  // namespace phonebook
