// The Linux terminal: standard input and output for the dialogue, ANSI
// sequences to clear the screen, and the controlling terminal (/dev/tty) in
// non-canonical mode for the key press that ends a pause.
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "console/terminal.h"

namespace phonebook {
namespace {

// The settings of the terminal that waitForKey changed, for the signal
// handler that must put them back before the program dies.
int pausedTerminal = -1;
termios savedSettings;

constexpr int kExitSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

void restoreAndDie(int signal) {
  // Only async-signal-safe calls here: put the terminal back, then die of
  // the same signal so the caller sees what happened.
  if (pausedTerminal >= 0) tcsetattr(pausedTerminal, TCSANOW, &savedSettings);
  std::signal(signal, SIG_DFL);
  raise(signal);
}

class SystemTerminal : public Terminal {
 public:
  ~SystemTerminal() override {
    if (tty_ >= 0) close(tty_);
  }

  std::size_t readInput(char* buffer, std::size_t size) override {
    for (;;) {
      ssize_t got = read(STDIN_FILENO, buffer, size);
      if (got >= 0) return static_cast<std::size_t>(got);
      if (errno == EINTR) continue;
      // An input left in non-blocking mode has nothing yet: wait for it.
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        pollfd ready{STDIN_FILENO, POLLIN, 0};
        if (poll(&ready, 1, -1) >= 0 || errno == EINTR) continue;
      }
      // An input that fails for good is treated as its end.
      return 0;
    }
  }

  void writeOutput(const char* data, std::size_t size) override {
    while (size > 0) {
      ssize_t put = write(STDOUT_FILENO, data, size);
      if (put < 0) {
        if (errno == EINTR) continue;
        return;
      }
      data += put;
      size -= static_cast<std::size_t>(put);
    }
  }

  void clearScreen() override {
    if (!isatty(STDOUT_FILENO)) return;
    // Home the cursor, clear the screen, then clear the scroll-back.
    static constexpr char kClear[] = "\x1b[H\x1b[2J\x1b[3J";
    writeOutput(kClear, sizeof kClear - 1);
  }

  bool hasKeyboard() override {
    if (!triedTty_) {
      triedTty_ = true;
      tty_ = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    return tty_ >= 0;
  }

  void waitForKey() override {
    if (tcgetattr(tty_, &savedSettings) != 0) return;
    struct sigaction previous[std::size(kExitSignals)];
    struct sigaction restore = {};
    restore.sa_handler = restoreAndDie;
    sigemptyset(&restore.sa_mask);
    pausedTerminal = tty_;
    for (std::size_t i = 0; i < std::size(kExitSignals); ++i) {
      sigaction(kExitSignals[i], &restore, &previous[i]);
      // A signal that the program was started to ignore stays ignored.
      if (previous[i].sa_handler == SIG_IGN) sigaction(kExitSignals[i], &previous[i], nullptr);
    }

    // One key, unbuffered by lines and not echoed; signals stay on, so
    // Ctrl-C still ends the program (through restoreAndDie).
    termios raw = savedSettings;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    // TCSANOW rather than TCSAFLUSH: nothing typed ahead is thrown away.
    if (tcsetattr(tty_, TCSANOW, &raw) == 0) {
      unsigned char key = 0;
      if (readKeyByte(&key) && (key == 0x1b || key >= 0x80)) {
        // An escape sequence or a multi-byte character arrives as one burst:
        // take the rest of it too, so it does not answer the next prompt.
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 1;
        tcsetattr(tty_, TCSANOW, &raw);
        char rest[8];
        ssize_t ignored = read(tty_, rest, sizeof rest);
        (void)ignored;
      }
      tcsetattr(tty_, TCSANOW, &savedSettings);
    }

    for (std::size_t i = 0; i < std::size(kExitSignals); ++i) {
      sigaction(kExitSignals[i], &previous[i], nullptr);
    }
    pausedTerminal = -1;
  }

 private:
  bool readKeyByte(unsigned char* key) {
    for (;;) {
      ssize_t got = read(tty_, key, 1);
      if (got == 1) return true;
      if (got < 0 && errno == EINTR) continue;
      return false;  // hung up: there is no key to wait for
    }
  }

  bool triedTty_ = false;
  int tty_ = -1;
};

}  // namespace

std::unique_ptr<Terminal> makeSystemTerminal() {
  // A standard stream that was closed gets /dev/null, so that no file the
  // program opens later takes its number and receives the screens.
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      int null = open("/dev/null", O_RDWR);
      if (null >= 0 && null != fd) close(null);
    }
  }
  // Output that nobody reads any more (a closed pipe) must not end the
  // program: writeOutput ignores the failure, and the input decides.
  std::signal(SIGPIPE, SIG_IGN);
  return std::make_unique<SystemTerminal>();
}

std::string terminalCodeset() {
  const char* name = nullptr;
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
      name = value;
      break;
    }
  }
  if (name == nullptr) return "";
  if (std::setlocale(LC_CTYPE, "") != nullptr) {
    std::string codeset = nl_langinfo(CODESET);
    // Nothing else in the program depends on the locale; keep it at "C".
    std::setlocale(LC_CTYPE, "C");
    return codeset;
  }
  // Not installed: the name itself says the codeset, as in ko_KR.UTF-8@euro.
  const char* dot = std::strchr(name, '.');
  if (dot == nullptr) return "";
  std::string codeset(dot + 1);
  return codeset.substr(0, codeset.find('@'));
}

}  // namespace phonebook
