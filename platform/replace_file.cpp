// The save's steps in their order, the same on every platform; what each
// step does is the platform's (SaveTarget).
#include "platform/replace_file.h"

#include <cerrno>

#include "platform/file.h"

namespace phonebook {
namespace {

// Renames the new file into place. A rename that reported an error may
// have been done all the same; what counts is where the new file is, not
// what the call said.
bool putInPlace(SaveTarget& target) {
  if (target.putInPlace()) return true;
  int error = errno;
  if (target.inPlace()) return true;
  errno = error;
  return false;
}

// The steps of replaceFile, in their order.
SaveResult replaceSteps(SaveTarget& target, const char* path, bool (*fill)(File&),
                        const MayReplace& mayReplace) {
  if (!target.resolve(path)) return SaveResult::kFailed;
  File* file = target.create();
  bool whole = file != nullptr && fill(*file) && target.sync() && target.name() && target.close();
  bool refused = whole && mayReplace && !mayReplace();
  if (!whole || refused || !putInPlace(target)) {
    // Removing what is left must not hide why the save failed.
    int error = errno;
    target.discard();
    errno = error;
    return refused ? SaveResult::kRefused : SaveResult::kFailed;
  }
  // From here the save is done; syncing the directory only makes the
  // rename itself survive a power cut.
  return target.syncDirectory() ? SaveResult::kSaved : SaveResult::kSavedNotSynced;
}

}  // namespace

SaveResult replaceFile(SaveTarget& target, const char* path, bool (*fill)(File&),
                       const MayReplace& mayReplace, bool* groupKept) {
  SaveResult result = replaceSteps(target, path, fill, mayReplace);
  if (groupKept != nullptr) {
    bool inPlace = result == SaveResult::kSaved || result == SaveResult::kSavedNotSynced;
    *groupKept = !inPlace || target.groupKept();
  }
  return result;
}

SaveResult replaceFile(const char* path, bool (*fill)(File&), const MayReplace& mayReplace,
                       bool* groupKept) {
  return replaceFile(*newSaveTarget(), path, fill, mayReplace, groupKept);
}

}  // namespace phonebook
