#include "console/main_menu.h"

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
  void (*command)(Console& console);
};

// Every choice but 0, which ends the loop; any other number is invalid.
constexpr Choice kChoices[] = {
    {1, addEntry}, {2, listCommand}, {3, searchCommand}, {4, editCommand}, {5, deleteCommand},
};

constexpr int kQuit = 0;

}  // namespace

int runMainMenu(Console& console, const SaveFunction& save) {
  const std::size_t changesBefore = changeCount();
  for (;;) {
    console.clearScreen();
    console.print(kMenu);
    int menu = 0;
    NumberRead read = readNumber(console, menu);
    if (read == NumberRead::kEndOfInput) break;

    // A line that holds no number is an invalid choice, never the last one
    // again.
    const Choice* choice = nullptr;
    if (read == NumberRead::kNumber) {
      if (menu == kQuit) {
        SaveReport saved = save();
        if (saved.saved) {
          console.print(kSaved);
          return 0;
        }
        // Like an editor whose write failed, keep everything and say why.
        console.print(kFileOpenFail);
        console.print(kSaveFailed);
        console.print(saved.reason);
        console.print(kSaveFailedHint);
        console.pause();
        continue;
      }
      for (const Choice& candidate : kChoices) {
        if (candidate.number == menu) choice = &candidate;
      }
    }
    if (choice == nullptr) {
      console.print(kInvalidChoice);
    } else {
      choice->command(console);
      if (console.inputEnded()) break;
    }
    console.pause();
  }
  // The input ended: finish the prompt's line and end without saving.
  console.print("\n");
  if (changeCount() != changesBefore) console.printErrors(kChangesNotSaved);
  return 1;
}

}  // namespace phonebook
