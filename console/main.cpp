// phonebook: a phone book for one person at a terminal, kept in
// PhoneList.txt in the current directory.
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <string_view>

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

// What the command line asks for: the phone book, or only a text about the
// program. The first --help or --version decides; any other argument is
// ignored.
enum class Request { kPhoneBook, kHelp, kVersion };

Request requestOf(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help") return Request::kHelp;
    if (argument == "--version") return Request::kVersion;
  }
  return Request::kPhoneBook;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace phonebook;
  const std::string codeset = terminalCodeset();
  std::unique_ptr<Terminal> terminal = makeSystemTerminal(codeset);
  Console console(*terminal, codeset);
  // Neither reads nor writes the phone book, nor locks it.
  switch (requestOf(argc, argv)) {
    case Request::kHelp:
      console.print(kUsage);
      return 0;
    case Request::kVersion:
      console.print("phonebook " PHONEBOOK_VERSION "\n");
      return 0;
    case Request::kPhoneBook:
      break;
  }
  // A second run would save over this one's changes, or this one over its.
  if (lockDirectoryOf(kPhoneListFile) == LockResult::kLockedElsewhere) {
    console.print(kAlreadyOpen);
    return 1;
  }
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
