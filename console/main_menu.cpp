#include "console/main_menu.h"

#include <string>

#include "console/console.h"
#include "console/messages.h"
#include "console/readers.h"
#include "console/screens.h"
#include "store/phone_list.h"

namespace phonebook {
namespace {

// Each command runs one screen; when its input ends it returns at once and
// the console says so.

void listCommand(Console& console) {
  printList(console);
}

void searchCommand(Console& console) {
  searchEntry(console);
}

void editCommand(Console& console) {
  console.clearScreen();
  PhoneEntry* entry = searchEntry(console);
  if (console.inputEnded()) return;
  console.print(kItemPrompt);
  // A line that holds no number chooses no item, so nothing is stored.
  int editNum = 0;
  if (readNumber(console, editNum) != NumberRead::kNumber) editNum = 0;
  if (console.inputEnded()) return;
  editEntry(console, entry, editNum);
}

void deleteCommand(Console& console) {
  int removed = deleteEntry(console);
  if (console.inputEnded()) return;
  console.print(removed == 1 ? kDeleted : kNotDeleted);
}

struct Choice {
  int number;
  const char* name;                   // as the menu shows it
  void (*command)(Console& console);  // nullptr for 0, which ends the loop
};

// The menu's choices, in the order it shows them; any other number is
// invalid.
constexpr Choice kChoices[] = {
    {1, kAddChoice, addEntry},         {2, kListChoice, listCommand},
    {3, kSearchChoice, searchCommand}, {4, kEditChoice, editCommand},
    {5, kDeleteChoice, deleteCommand}, {0, kQuitChoice, nullptr},
};

// "\t\t전화번호부\n\n\n1. 전화번호 추가\n...0. 프로그램 종료\n\n\n원하시는 ...: "
std::string menuText() {
  std::string text = kMenuTitle;
  for (const Choice& choice : kChoices) {
    text += std::to_string(choice.number) + ". " + choice.name + "\n";
  }
  return text + "\n\n" + kMenuPrompt;
}

}  // namespace

int runMainMenu(Console& console, const SaveFunction& save) {
  const std::size_t changesBefore = changeCount();
  const std::string menu = menuText();
  bool changed = false;
  for (;;) {
    console.clearScreen();
    console.print(menu);
    int number = 0;
    NumberRead read = readNumber(console, number);
    if (read == NumberRead::kEndOfInput) break;

    // A line that holds no number is an invalid choice, never the last one
    // again.
    const Choice* choice = nullptr;
    if (read == NumberRead::kNumber) {
      for (const Choice& candidate : kChoices) {
        if (candidate.number == number) choice = &candidate;
      }
    }
    if (choice != nullptr && choice->command == nullptr) {
      SaveReport report = save();
      if (report.result == SaveReport::Result::kSaved) {
        console.print(kSaved);
        return 0;
      }
      // Like an editor whose write failed, keep everything and say why.
      if (report.result == SaveReport::Result::kFailed) {
        console.print(kFileOpenFail);
        console.print(kSaveFailed);
      } else {
        console.print(kSaveRefused);
      }
      console.print(report.reason);
      console.print("\n");
      console.print(report.advice);
    } else if (choice == nullptr) {
      console.print(kInvalidChoice);
    } else {
      choice->command(console);
      if (console.inputEnded()) break;
      // From the first change on, a signal that ends the program says that
      // it was not saved, as the end of input does.
      if (!changed && changeCount() != changesBefore) {
        changed = true;
        console.setFarewell(kChangesNotSaved);
      }
    }
    console.pause();
  }
  // The input ended: finish the prompt's line and end without saving.
  console.print("\n");
  if (changeCount() != changesBefore) console.printErrors(kChangesNotSaved);
  return 1;
}

}  // namespace phonebook
