// Seeing the save's new file open on Linux, unnamed or not, in /proc; the
// mark of its new file.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>

#include <filesystem>
#include <string>

#include "tests/test_support_posix.h"

namespace phonebook::testing {

// Watches the descriptors of `child` until one is open on a file in
// `directory` other than the phone book.
bool signalDuringSave(pid_t child, const std::string& directory, int signal) {
  namespace fs = std::filesystem;
  const std::string inside = fs::canonical(directory).string() + "/";
  const fs::path descriptors = "/proc/" + std::to_string(child) + "/fd";
  for (;;) {
    std::error_code error;
    for (const auto& fd : fs::directory_iterator(descriptors, error)) {
      std::string target = fs::read_symlink(fd.path(), error).string();
      if (!error && target.starts_with(inside) && target != inside + "PhoneList.txt") {
        kill(child, signal);
        return true;
      }
    }
    siginfo_t info;
    info.si_pid = 0;
    if (waitid(P_PID, child, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0) {
      return false;
    }
  }
}

const bool kLeftoversAreMarked = true;

bool markAsTemporary(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;
  const std::string number = std::to_string(info.st_ino);
  return setxattr(path.c_str(), "user.phonebook.temporary", number.data(), number.size(), 0) == 0;
}

}  // namespace phonebook::testing
