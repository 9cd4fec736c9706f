// phonebook: a phone book for one person at a terminal, kept in
// PhoneList.txt in the current directory.
#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "console/console.h"
#include "console/main_menu.h"
#include "console/messages.h"
#include "console/reasons.h"
#include "console/shown_text.h"
#include "platform/directory.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/installation.h"
#include "platform/replace_file.h"
#include "platform/terminal.h"
#include "store/phone_file.h"
#include "store/phone_list.h"

namespace {

using namespace phonebook;

// The start lists at most so many of the entries that lost a character.
constexpr std::size_t kLostShown = 20;

SaveReport saveToFile(Console& console, FileSystem& files, LoadedFile& loaded) {
  using Result = SaveReport::Result;
  bool groupKept = true;
  SaveOutcome outcome = savePhoneList(files, loaded, kPhoneListFile, &groupKept);
  // The users who shared the file through its group may no longer use it:
  // they will not learn it from the file, so this run tells.
  if (!groupKept) console.printErrors(kGroupNotKept);
  switch (outcome) {
    case SaveOutcome::kSaved:
      return {Result::kSaved, "", ""};
    case SaveOutcome::kSavedNotSynced:
      console.printErrors(kSavedNotSynced);
      return {Result::kSaved, "", ""};
    case SaveOutcome::kFailed:
      return {Result::kFailed, reasonFor(errno), kSaveFailedAdvice};
    case SaveOutcome::kNotReadWhole:
      return {Result::kRefused, kNotReadWholeReason, kNotReadWholeAdvice};
    case SaveOutcome::kLostCharacters:
      return {
          Result::kRefused,
          kLostCharactersReason + std::to_string(lostEntries().size()) + kLostCharactersReasonEnd,
          kLostCharactersAdvice};
    case SaveOutcome::kChanged:
      return {Result::kRefused, kChangedOnDiskReason, kChangedOnDiskAdvice};
    case SaveOutcome::kRemoved:
      return {Result::kRefused, kRemovedOnDiskReason, kChangedOnDiskAdvice};
    case SaveOutcome::kCreated:
      return {Result::kRefused, kCreatedOnDiskReason, kChangedOnDiskAdvice};
    case SaveOutcome::kReplaced:
      return {Result::kRefused, kReplacedOnDiskReason, kChangedOnDiskAdvice};
    case SaveOutcome::kNowALink: {
      std::string link;
      console.toProgramText(loaded.stamp.link, link);
      return {Result::kRefused, formatShown(kNowALinkReason, {link}), kChangedOnDiskAdvice};
    }
  }
  return {Result::kFailed, reasonFor(EIO), kSaveFailedAdvice};
}

// Names the entries that lost a character, by their lines in the file, so
// that the user can find and mend them before the save will go ahead.
void showLostEntries(Console& console) {
  const std::vector<LostEntry>& lost = lostEntries();
  console.print(kLostStart);
  for (std::size_t i = 0; i < std::min(lost.size(), kLostShown); ++i) {
    console.print("  " + std::to_string(lost[i].line));
    console.print(kLostLine);
    console.printFormat("%s %s\n", {lost[i].entry->name, lost[i].entry->phone});
  }
  if (lost.size() > kLostShown) {
    console.print(kLostMore + std::to_string(lost.size() - kLostShown) + kLostMoreEnd);
  }
  console.print(kLostEnd);
}

// What the command line asks for: the phone book, or only a text about the
// program. The first -h, --help or --version decides; any other argument
// is ignored.
enum class Request { kPhoneBook, kHelp, kVersion };

Request requestOf(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "-h" || argument == "--help") return Request::kHelp;
    if (argument == "--version") return Request::kVersion;
  }
  return Request::kPhoneBook;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string codeset = terminalCodeset();
  std::unique_ptr<Terminal> terminal = makeSystemTerminal(codeset);
  Console console(*terminal, codeset);
  // Neither reads nor writes the phone book, nor locks it.
  switch (requestOf(argc, argv)) {
    case Request::kHelp:
      if (kHasManualPage) {
        console.printFormat(kUsage, {kManualPage, kManualPage});
      } else {
        console.printFormat(kUsage, {kReadmeKorean, kReadmeEnglish});
      }
      return 0;
    case Request::kVersion:
      console.print("phonebook " PHONEBOOK_VERSION "\n");
      return 0;
    case Request::kPhoneBook:
      break;
  }
  // A second run would save over this one's changes, or this one over its.
  FileSystem& files = systemFileSystem();
  LockResult lock = files.lockDirectoryOf(kPhoneListFile);
  if (lock == LockResult::kLockedElsewhere) {
    console.print(kAlreadyOpen);
    return 1;
  }
  // Only under the lock: without it another run's save may be under way.
  if (lock == LockResult::kLocked) files.removeLeftoverFiles(kPhoneListFile);
  LoadedFile loaded = loadPhoneList(files, kPhoneListFile);
  if (loaded.result == LoadResult::kNoStorage) console.exitOutOfStorage();
  if (loaded.result == LoadResult::kMissing || loaded.result == LoadResult::kNotOpened) {
    console.print(kFileOpenFail);
  }
  console.print(kLoading);
  // What would stop the save is said before the user does any work, and
  // waits until it has been seen.
  if (loaded.result == LoadResult::kNotOpened || loaded.result == LoadResult::kReadFailed) {
    console.print(loaded.result == LoadResult::kNotOpened ? kCannotOpenFile : kCannotReadFile);
    console.pause();
  } else if (!lostEntries().empty()) {
    showLostEntries(console);
    console.pause();
  }
  if (SaveObstacle obstacle = files.whyCannotSave(kPhoneListFile);
      obstacle.kind != SaveObstacle::Kind::kNone) {
    console.print(kCannotSaveHere);
    if (obstacle.kind == SaveObstacle::Kind::kUnchangeable) {
      console.print(kUnchangeableReason);
      console.print("\n");
    } else if (obstacle.kind == SaveObstacle::Kind::kOthersFile) {
      console.print(kOthersFileReason);
      console.print("\n");
    } else {
      console.print(reasonFor(obstacle.error));
      console.print("\n");
      console.print(kCannotSaveHereAdvice);
    }
    console.pause();
  }
  try {
    return runMainMenu(console, [&] { return saveToFile(console, files, loaded); });
  } catch (const std::bad_alloc&) {
    console.exitOutOfStorage();
  }
}
