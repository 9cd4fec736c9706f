// phonebook: a phone book for one person at a terminal, kept in
// PhoneList.txt in the current directory.
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "console/console.h"
#include "console/main_menu.h"
#include "console/messages.h"
#include "console/terminal.h"
#include "store/file_on_disk.h"
#include "store/phone_file.h"

namespace {

bool saveToFile(phonebook::LoadResult loaded) {
  phonebook::SaveResult saved = phonebook::savePhoneList(loaded);
  if (saved == phonebook::SaveResult::kSavedNotSynced) {
    std::fputs(
        "phonebook: PhoneList.txt is saved, but its directory could not be synced: a power cut "
        "soon after could still bring back the old file\n",
        stderr);
  }
  return saved != phonebook::SaveResult::kFailed;
}

}  // namespace

int main() {
  using namespace phonebook;
  const std::string codeset = terminalCodeset();
  std::unique_ptr<Terminal> terminal = makeSystemTerminal(codeset);
  Console console(*terminal, codeset);
  // A second run would save over this one's changes, or this one over its.
  LockResult lock = lockDirectoryOf(kPhoneListFile);
  if (lock == LockResult::kLockedElsewhere) {
    console.print(kAlreadyOpen);
    return 1;
  }
  // Only under the lock: without it another run's save may be under way.
  if (lock == LockResult::kLocked) removeLeftoverFiles(kPhoneListFile);
  LoadResult loaded = loadPhoneList();
  if (loaded == LoadResult::kNoStorage) exitOutOfStorage(console);
  if (loaded == LoadResult::kMissing || loaded == LoadResult::kNotOpened) {
    console.print(kFileOpenFail);
  }
  console.print(kLoading);
  if (loaded == LoadResult::kNotOpened || loaded == LoadResult::kReadFailed) {
    // The save will refuse to replace what could not be read: say so before
    // the user does any work, and wait until it has been seen.
    console.print(kCannotReadFile);
    console.pause();
  }
  try {
    return runMainMenu(console, loaded, saveToFile);
  } catch (const std::bad_alloc&) {
    exitOutOfStorage(console);
  }
}
