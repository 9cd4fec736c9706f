// The Windows console: standard input and output for the dialogue. Where a
// stream is the console, text goes through UTF-16 (WriteConsoleW and
// ReadConsoleW), so that Korean shows and is typed right whatever the
// console's code page; the console's own line editing and history serve
// the prompts. Where a stream is redirected, bytes pass unchanged, and
// output lines end in CR LF as Windows programs' text output does. The
// screen is cleared through the console API, and a pause reads one key
// event from the console's keyboard (CONIN$), never from standard input.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>

#include "platform/code_page_windows.h"
#include "platform/terminal.h"

namespace phonebook {
namespace {

constexpr char kEndOfInputKey = 0x1A;  // Ctrl-Z, as Windows programs take it

// What endByControlEvent writes first (setFarewell); its length is set
// last, so that the handler's thread never sees half of it.
char farewell[Terminal::kFarewellSize];
std::atomic<std::size_t> farewellLength{0};

bool isConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode);
}

// True for keys that only change others (Shift, Ctrl, Alt, the locks, the
// Windows keys, and the Hangul and Hanja keys of an input method): a pause
// waits for a key that is pressed for its own sake.
bool isModifierKey(WORD key) {
  switch (key) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
    case VK_LWIN:
    case VK_RWIN:
    case VK_HANGUL:
    case VK_HANJA:
    case VK_PROCESSKEY:
      return true;
    default:
      return false;
  }
}

class WindowsTerminal : public Terminal {
 public:
  WindowsTerminal()
      : input_(GetStdHandle(STD_INPUT_HANDLE)),
        output_(GetStdHandle(STD_OUTPUT_HANDLE)),
        inputIsConsole_(isConsole(input_)),
        outputIsConsole_(isConsole(output_)) {}

  ~WindowsTerminal() override {
    if (keyboard_ != INVALID_HANDLE_VALUE) CloseHandle(keyboard_);
  }

  std::size_t readInput(char* buffer, std::size_t size) override {
    if (!inputIsConsole_) return readRedirected(buffer, size);
    if (typed_.empty() && !readConsoleLine()) return 0;
    std::size_t count = std::min(size, typed_.size());
    typed_.copy(buffer, count);
    typed_.erase(0, count);
    return count;
  }

  // Only the console's input is converted here; redirected input passes as
  // it came.
  bool marksLostCharacters() override { return inputIsConsole_; }

  void writeOutput(const char* data, std::size_t size) override {
    if (outputIsConsole_) {
      writeConsole(std::string_view(data, size));
    } else {
      writeRedirected(std::string_view(data, size));
    }
  }

  void writeErrors(const char* data, std::size_t size) override {
    writeToErrors(std::string_view(data, size));
  }

  static void writeToErrors(std::string_view text) {
    HANDLE errors = GetStdHandle(STD_ERROR_HANDLE);
    if (isConsole(errors)) {
      writeWide(errors, widenCp949(text));
    } else {
      writeBytes(errors, text);
    }
  }

  void setFarewell(const std::string& text) override {
    farewellLength = 0;
    std::size_t length = std::min(text.size(), sizeof farewell);
    std::memcpy(farewell, text.data(), length);
    farewellLength = length;
  }

  // Ctrl-C, Ctrl-Break or the window closed: says what is lost, then lets
  // the system end the program as it would have.
  static BOOL WINAPI endByControlEvent(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
      std::size_t length = farewellLength;
      if (length > 0) writeToErrors(std::string_view(farewell, length));
    }
    return FALSE;
  }

  void clearScreen() override {
    if (!outputIsConsole_) return;
    CONSOLE_SCREEN_BUFFER_INFO screen;
    if (!GetConsoleScreenBufferInfo(output_, &screen)) return;
    // The whole buffer, scroll-back included, as cls empties it.
    DWORD cells = static_cast<DWORD>(screen.dwSize.X) * static_cast<DWORD>(screen.dwSize.Y);
    COORD home = {0, 0};
    DWORD written = 0;
    FillConsoleOutputCharacterW(output_, L' ', cells, home, &written);
    FillConsoleOutputAttribute(output_, screen.wAttributes, cells, home, &written);
    SetConsoleCursorPosition(output_, home);
  }

  bool hasKeyboard() override {
    if (!triedKeyboard_) {
      triedKeyboard_ = true;
      keyboard_ =
          CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    }
    // With both input and output redirected nobody watches the screens,
    // though a console is there (a script run from a command prompt).
    return isConsole(keyboard_) && (inputIsConsole_ || outputIsConsole_);
  }

  void waitForKey() override {
    // Key events only: the release of the Enter that answered the last
    // prompt, a mouse or a resize are not the key asked for. Ctrl-C still
    // ends the program, as the console processes it before any read.
    for (;;) {
      INPUT_RECORD event;
      DWORD got = 0;
      if (!ReadConsoleInputW(keyboard_, &event, 1, &got)) return;
      if (got == 1 && event.EventType == KEY_EVENT && event.Event.KeyEvent.bKeyDown &&
          !isModifierKey(event.Event.KeyEvent.wVirtualKeyCode)) {
        return;
      }
    }
  }

 private:
  std::size_t readRedirected(char* buffer, std::size_t size) {
    DWORD got = 0;
    DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1 << 20));
    // The end of a file, a pipe whose writer has gone, or a failure: all
    // end the input.
    if (!ReadFile(input_, buffer, want, &got, nullptr)) return 0;
    return got;
  }

  // Reads the next line typed at the console into typed_, in CP949 (as
  // narrowTyped gives it), with its CR LF made a line break. False at the
  // end of input: Ctrl-Z at the start of a line, or a console that fails.
  bool readConsoleLine() {
    for (;;) {
      wchar_t wide[4096];
      DWORD got = 0;
      if (!ReadConsoleW(input_, wide, static_cast<DWORD>(std::size(wide)), &got, nullptr)) {
        return false;
      }
      // Nothing read (Ctrl-C, on its way to end the program): read again.
      if (got == 0) continue;
      std::string line;
      narrowTyped(std::wstring_view(wide, got), line);
      if (atLineStart_ && !line.empty() && line[0] == kEndOfInputKey) return false;
      if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
        line.erase(line.size() - 2, 1);
      }
      atLineStart_ = !line.empty() && line.back() == '\n';
      typed_ += line;
      return true;
    }
  }

  void writeConsole(std::string_view data) { writeWide(output_, shown_.widen(data)); }

  static void writeWide(HANDLE console, const std::wstring& wide) {
    const wchar_t* next = wide.data();
    std::size_t left = wide.size();
    while (left > 0) {
      DWORD put = 0;
      DWORD piece = static_cast<DWORD>(std::min<std::size_t>(left, 16384));
      if (!WriteConsoleW(console, next, piece, &put, nullptr) || put == 0) return;
      next += put;
      left -= put;
    }
  }

  void writeRedirected(std::string_view data) { writeBytes(output_, data); }

  // Writes `data` with each line ending in CR LF, as Windows programs'
  // redirected text does.
  static void writeBytes(HANDLE file, std::string_view data) {
    std::string text;
    text.reserve(data.size() + data.size() / 16);
    for (char c : data) {
      if (c == '\n') text.push_back('\r');
      text.push_back(c);
    }
    const char* next = text.data();
    std::size_t left = text.size();
    while (left > 0) {
      DWORD put = 0;
      DWORD piece = static_cast<DWORD>(std::min<std::size_t>(left, 1 << 20));
      // A reader that has gone is no reason to stop: the input decides.
      if (!WriteFile(file, next, piece, &put, nullptr) || put == 0) return;
      next += put;
      left -= put;
    }
  }

  const HANDLE input_;
  const HANDLE output_;
  const bool inputIsConsole_;
  const bool outputIsConsole_;
  std::string typed_;  // a typed line, in CP949, not yet handed out
  bool atLineStart_ = true;
  Cp949Pieces shown_;  // what goes to the console, split where the writes split it
  bool triedKeyboard_ = false;
  HANDLE keyboard_ = INVALID_HANDLE_VALUE;
};

}  // namespace

std::unique_ptr<Terminal> makeSystemTerminal(const std::string&) {
  SetConsoleCtrlHandler(WindowsTerminal::endByControlEvent, TRUE);
  return std::make_unique<WindowsTerminal>();
}

std::string terminalCodeset() {
  // The console is written and read in UTF-16 from CP949, and redirected
  // streams carry CP949 bytes: above this edge, the terminal is CP949.
  return "CP949";
}

}  // namespace phonebook
