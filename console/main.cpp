// phonebook: a phone book for one person at a terminal, kept in
// PhoneList.txt in the current directory.
#include <csignal>
#include <memory>
#include <new>

#include "console/console.h"
#include "console/main_menu.h"
#include "console/messages.h"
#include "console/terminal.h"
#include "store/phone_file.h"

namespace {

bool saveToFile(phonebook::LoadResult loaded) {
  return phonebook::savePhoneList(loaded);
}

}  // namespace

int main() {
  using namespace phonebook;
  // A file size limit must fail the save cleanly, not kill the program.
  std::signal(SIGXFSZ, SIG_IGN);

  std::unique_ptr<Terminal> terminal = makeSystemTerminal();
  Console console(*terminal, terminalCodeset());
  LoadResult loaded = loadPhoneList();
  if (loaded == LoadResult::kNoStorage) exitOutOfStorage(console);
  if (loaded == LoadResult::kMissing || loaded == LoadResult::kNotOpened) {
    console.print(kFileOpenFail);
  }
  console.print(kLoading);
  try {
    return runMainMenu(console, loaded, saveToFile);
  } catch (const std::bad_alloc&) {
    exitOutOfStorage(console);
  }
}
