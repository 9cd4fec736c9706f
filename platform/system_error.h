// The system's errors as the user meets them: the causes that the screens
// name in their own words, and the system's own text for the rest.
#pragma once

#include <string>

namespace phonebook {

enum class SystemError {
  kNoPermission,  // this user may not change the file or its folder
  kNoRoom,        // the disk is full
  kQuota,         // this user's share of the disk is used up
  kReadOnly,      // the file system is mounted read-only, or the medium protected
  kIo,            // the disk failed to read or write
  kTooLarge,      // the file is larger than the file system or a limit allows
  kNameTooLong,   // the file's name or path is too long
  kInUse,         // another program holds the file (Windows)
  kOther,
};

// What `error`, an errno value, is of those.
SystemError systemErrorOf(int error);

// The system's own text for `error`, as strerror gives it.
std::string systemErrorText(int error);

}  // namespace phonebook
