// What file_linux.cpp does, on a POSIX system without Linux's means: the
// new file is named from its start (the save's own fallback for a file
// system without unnamed files), there are no extended attributes or ACLs
// to carry over and no mark on temporary files (the name alone tells them),
// the append-only and immutable flags are not seen, and pending signals are
// dropped with sigpending and sigwait.
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <span>
#include <string>

#include "platform/file_posix.h"

namespace phonebook {

int openUnnamed(const std::string&, mode_t) {
  errno = EOPNOTSUPP;
  return -1;
}

// Never called: openUnnamed makes no unnamed file.
bool nameUnnamed(int, const std::string&, std::string&) {
  errno = EOPNOTSUPP;
  return false;
}

bool copyAttributes(const std::string&, int) {
  return true;
}

bool denyGroupInAcl(int) {
  return false;
}

void markTemporary(int) {}

bool isMarkedTemporary(const std::string&, const struct stat&) {
  return true;
}

void unmarkTemporary(const std::string&) {}

bool isAppendOnlyOrImmutable(const std::string&) {
  return false;
}

// sigwait returns at once for a signal that is blocked and pending, and
// would wait for one that is not: only those pending are taken.
void dropPendingSignals(std::span<const int> signals) {
  sigset_t pending;
  if (sigpending(&pending) != 0) return;
  for (int signal : signals) {
    if (sigismember(&pending, signal) != 1) continue;
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    int taken = 0;
    sigwait(&one, &taken);
  }
}

}  // namespace phonebook
