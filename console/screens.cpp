#include "console/screens.h"

#include <string>

#include "console/console.h"
#include "console/messages.h"
#include "console/readers.h"
#include "console/shown_text.h"
#include "store/phone_list.h"

namespace phonebook {
namespace {

// Capacities of the screens' input buffers: a name prompt reads into a
// buffer the size of the name field; a number, or an edited value, into
// one the size of the number field.
constexpr std::size_t kNameBuffer = kNameSize;
constexpr std::size_t kValueBuffer = kPhoneSize;

// The list is handed to the console in pieces of about this size.
constexpr std::size_t kListPiece = 64 * 1024;

}  // namespace

void addEntry(Console& console) {
  char dname[kNameBuffer];
  char dphone[kValueBuffer];
  console.clearScreen();
  console.print(kAddTitle);
  console.print(kAddNamePrompt);
  LineRead name = readLine(console, LineKind::kName, dname, sizeof dname);
  if (name == LineRead::kEndOfInput) return;
  console.print(kAddPhonePrompt);
  LineRead phone = readLine(console, LineKind::kPhone, dphone, sizeof dphone);
  if (phone == LineRead::kEndOfInput) return;

  if (name == LineRead::kLostCharacter || phone == LineRead::kLostCharacter) {
    console.print(kAddLostRejected);
    return;
  }
  if (!isStorableText(dname) || !isStorableText(dphone)) {
    console.print(kAddRejected);
    return;
  }
  PhoneEntry* entry = newEntry(dname, dphone);
  if (entry == nullptr) console.exitOutOfStorage();
  if (!insertSorted(entry)) console.print(kAddDone);
}

void printList(Console& console) {
  console.clearScreen();
  console.print(kListTitle);
  console.print(kListHeadingName);
  console.print("\t\t");
  console.print(kListHeadingPhone);
  // "%s\t\t%s\n" for each entry. The lines go to the console a large
  // piece at a time: a million entries would otherwise be four million small
  // prints, and in a UTF-8 terminal as many conversions.
  std::string lines;
  lines.reserve(kListPiece + kNameSize + kPhoneSize + 3);
  for (const PhoneEntry* entry = head; entry != nullptr; entry = entry->next) {
    appendShown(lines, entry->name);
    lines += "\t\t";
    appendShown(lines, entry->phone);
    lines += '\n';
    if (lines.size() >= kListPiece) console.printPiece(lines);
  }
  console.printPiece(lines);
}

PhoneEntry* searchEntry(Console& console) {
  char dname[kNameBuffer];
  console.clearScreen();
  console.print(kSearchTitle);
  LineRead read = readLine(console, LineKind::kName, dname, sizeof dname);
  if (read == LineRead::kEndOfInput) return nullptr;

  // A name that lost a character was not what was typed: it names nobody.
  PhoneEntry* entry = read == LineRead::kLine ? findByName(dname) : nullptr;
  if (entry == nullptr) {
    console.print(kNotFound);
  } else if (entry == head) {
    console.printFormat(kFoundFirst, {entry->name, entry->phone});
  } else {
    console.printFormat(kFoundLater, {entry->name, entry->phone});
  }
  return entry;
}

int editEntry(Console& console, PhoneEntry* entry, int item) {
  char temp[kValueBuffer];
  console.clearScreen();
  console.print(kEditTitle);
  LineRead read =
      readLine(console, item == 2 ? LineKind::kPhone : LineKind::kName, temp, sizeof temp);
  if (read == LineRead::kEndOfInput) return 0;

  if (entry == nullptr || (item != 1 && item != 2)) return 0;
  if (read == LineRead::kLostCharacter) {
    console.print(kEditLostRejected);
    return 0;
  }
  if (!isStorableText(temp)) {
    console.print(kEditRejected);
    return 0;
  }
  // A value may be longer than a name can be: keep what fits, whole
  // characters only.
  if (item == 1) {
    replaceName(entry, temp);
  } else {
    replacePhone(entry, temp);
  }
  console.print(kEdited);
  return 1;
}

int deleteEntry(Console& console) {
  char dname[kNameBuffer];
  console.clearScreen();
  console.print(kDeletePrompt);
  LineRead read = readLine(console, LineKind::kName, dname, sizeof dname);
  // A name that lost a character was not what was typed: it names nobody;
  // nor does the end of input.
  return read == LineRead::kLine ? removeByName(dname) : 0;
}

}  // namespace phonebook
