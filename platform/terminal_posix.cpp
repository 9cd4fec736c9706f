// A POSIX terminal: standard input and output for the dialogue, edited a
// line at a time by the line editor where both are the terminal, ANSI
// sequences to clear the screen, and the controlling terminal (/dev/tty) in
// non-canonical mode for the key press that ends a pause.
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "platform/line_editor.h"
#include "platform/terminal.h"
#include "text/byte_rules.h"
#include "text/codesets.h"
#include "text/escape_sequences.h"

namespace phonebook {
namespace {

// The settings of the terminal that waitForKey changed, for the signal
// handlers that must put them back before the program dies or stops.
int pausedTerminal = -1;
termios savedSettings;
termios pausedSettings;

// What endBySignal writes first (setFarewell); its length is set last, so
// that a signal never sees half of it.
char farewell[Terminal::kFarewellSize];
volatile std::sig_atomic_t farewellLength = 0;

constexpr int kExitSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

void endBySignal(int signal) {
  // Only async-signal-safe calls here: put the terminal back, say what is
  // lost, then die of the same signal so the caller sees what happened.
  if (pausedTerminal >= 0) tcsetattr(pausedTerminal, TCSANOW, &savedSettings);
  if (farewellLength > 0) {
    ssize_t written = write(STDERR_FILENO, farewell, static_cast<std::size_t>(farewellLength));
    (void)written;  // nobody is left to tell
  }
  std::signal(signal, SIG_DFL);
  raise(signal);
}

// Catches `signal` with `handler`, keeping in `previous` what was there;
// a signal that the program was started to ignore stays ignored.
void catchUnlessIgnored(int signal, void (*handler)(int), struct sigaction& previous) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, &previous);
  if (previous.sa_handler == SIG_IGN) sigaction(signal, &previous, nullptr);
}

void restoreAndStop(int) {
  // Ctrl-Z: the shell gets its terminal back as it was; fg brings back the
  // pause as it was. Async-signal-safe calls only.
  int savedErrno = errno;
  tcsetattr(pausedTerminal, TCSANOW, &savedSettings);
  std::signal(SIGTSTP, SIG_DFL);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &stop, nullptr);
  raise(SIGTSTP);  // stopped here until continued
  std::signal(SIGTSTP, restoreAndStop);
  tcsetattr(pausedTerminal, TCSANOW, &pausedSettings);
  errno = savedErrno;
}

// True when TERM names a terminal that understands the clear sequence and
// cursor movement; "dumb", or no TERM at all, does not.
bool termCanMoveTheCursor() {
  const char* term = std::getenv("TERM");
  return term != nullptr && *term != '\0' && std::strcmp(term, "dumb") != 0;
}

class SystemTerminal : public Terminal {
 public:
  explicit SystemTerminal(const std::string& codeset)
      : utf8_(codesetKey(codeset) == "UTF8"),
        canClear_(isatty(STDOUT_FILENO) && termCanMoveTheCursor()) {
    // Where the terminal cannot move its cursor, its own line mode is all
    // there is.
    if (canClear_ && isatty(STDIN_FILENO)) editor_ = LineEditor::open(codeset);
  }

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

  bool editsLines() override { return editor_ != nullptr; }

  bool readEditedLine(const std::string& prompt, LineKind kind, std::string& line) override {
    return editor_->readLine(prompt, kind, line);
  }

  void writeOutput(const char* data, std::size_t size) override {
    writeTo(STDOUT_FILENO, data, size);
  }

  void writeErrors(const char* data, std::size_t size) override {
    writeTo(STDERR_FILENO, data, size);
  }

  static void writeTo(int fd, const char* data, std::size_t size) {
    while (size > 0) {
      ssize_t put = write(fd, data, size);
      if (put < 0) {
        if (errno == EINTR) continue;
        return;
      }
      data += put;
      size -= static_cast<std::size_t>(put);
    }
  }

  void clearScreen() override {
    if (!canClear_) return;
    // Home the cursor, clear the screen, then clear the scroll-back.
    static constexpr char kClear[] = "\x1b[H\x1b[2J\x1b[3J";
    writeOutput(kClear, sizeof kClear - 1);
  }

  bool hasKeyboard() override {
    if (!triedTty_) {
      triedTty_ = true;
      tty_ = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    // With both input and output redirected nobody watches the screens,
    // though a terminal is there (a script run from a shell).
    return tty_ >= 0 && (isatty(STDIN_FILENO) || isatty(STDOUT_FILENO));
  }

  void setFarewell(const std::string& text) override {
    farewellLength = 0;
    std::size_t length = std::min(text.size(), sizeof farewell);
    std::memcpy(farewell, text.data(), length);
    farewellLength = static_cast<std::sig_atomic_t>(length);
  }

  void waitForKey() override {
    if (tcgetattr(tty_, &savedSettings) != 0) return;
    struct sigaction previousStop;
    pausedTerminal = tty_;
    catchUnlessIgnored(SIGTSTP, restoreAndStop, previousStop);

    // One key, unbuffered by lines and not echoed; signals stay on, so
    // Ctrl-C still ends the program (through endBySignal).
    pausedSettings = savedSettings;
    pausedSettings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    pausedSettings.c_cc[VMIN] = 1;
    pausedSettings.c_cc[VTIME] = 0;
    // TCSANOW rather than TCSAFLUSH: nothing typed ahead is thrown away.
    if (tcsetattr(tty_, TCSANOW, &pausedSettings) == 0) {
      takeOneKey();
      tcsetattr(tty_, TCSANOW, &savedSettings);
    }

    sigaction(SIGTSTP, &previousStop, nullptr);
    pausedTerminal = -1;
  }

 private:
  // Reads the bytes of exactly one key: a character (one to four bytes of
  // UTF-8, or one or two of CP949) or an escape sequence (ESC [ parameters
  // and a final byte, ESC O and a byte). What was typed after it stays for
  // the next prompt.
  void takeOneKey() {
    unsigned char key = 0;
    if (!readKeyByte(&key)) return;
    EscapeSequences sequences;
    if (sequences.takes(key)) {
      // The rest of a sequence comes in the same burst; a lone Escape key
      // has nothing after it, and Alt with a key is ESC and that key.
      while (sequences.inKey() && readBurstByte(&key)) sequences.takes(key);
      return;
    }
    std::size_t more = 0;
    if (utf8_) {
      more = static_cast<std::size_t>(std::max(utf8Lead(key).length - 1, 0));
    } else if (isLeadByte(key)) {
      more = 1;
    }
    for (; more > 0; --more) {
      if (!readBurstByte(&key)) return;
    }
  }

  bool readKeyByte(unsigned char* key) {
    for (;;) {
      ssize_t got = read(tty_, key, 1);
      if (got == 1) return true;
      if (got < 0 && errno == EINTR) continue;
      return false;  // hung up: there is no key to wait for
    }
  }

  // The next byte of a key, if it comes within a tenth of a second.
  bool readBurstByte(unsigned char* byte) {
    termios burst = pausedSettings;
    burst.c_cc[VMIN] = 0;
    burst.c_cc[VTIME] = 1;
    tcsetattr(tty_, TCSANOW, &burst);
    bool got = readKeyByte(byte);
    tcsetattr(tty_, TCSANOW, &pausedSettings);
    return got;
  }

  const bool utf8_;
  const bool canClear_;
  std::unique_ptr<LineEditor> editor_;
  bool triedTty_ = false;
  int tty_ = -1;
};

}  // namespace

std::unique_ptr<Terminal> makeSystemTerminal(const std::string& codeset) {
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
  // A signal that ends the program puts the terminal back and says what
  // is lost; one that the program was started to ignore stays ignored.
  for (int signal : kExitSignals) {
    struct sigaction previous;
    catchUnlessIgnored(signal, endBySignal, previous);
  }
  return std::make_unique<SystemTerminal>(codeset);
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
