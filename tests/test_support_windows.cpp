// The test helpers that differ on Windows: the code page functions, and
// CreateProcess with redirected handles and no console.
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "platform/code_page_windows.h"
#include "tests/test_support.h"

namespace phonebook::testing {

std::string cp949(const std::string& utf8) {
  return encoded(utf8, "CP949");
}

std::string encoded(const std::string& utf8, const char* codeset) {
  const std::string name = codeset;
  std::string out;
  std::wstring wide;
  if (!widenUtf8(utf8, wide)) throw std::runtime_error("not UTF-8: " + utf8);
  if (name == "CP949") {
    if (!narrowToCp949(wide, out)) throw std::runtime_error("not CP949: " + utf8);
    return out;
  }
  if (name == "UTF-32LE" || name == "UTF-32BE") {
    for (std::size_t at = 0; at < wide.size(); ++at) {
      char32_t code = wide[at];
      if (code >= 0xD800 && code <= 0xDBFF && at + 1 < wide.size()) {
        code = 0x10000 + ((code - 0xD800) << 10) + (wide[++at] - 0xDC00);
      }
      for (int byte = 0; byte < 4; ++byte) {
        out.push_back(static_cast<char>(code >> (8 * (name == "UTF-32LE" ? byte : 3 - byte))));
      }
    }
    return out;
  }
  if (name != "UTF-16LE" && name != "UTF-16BE") throw std::runtime_error("no such codeset");
  for (wchar_t unit : wide) {
    char low = static_cast<char>(unit & 0xFF);
    char high = static_cast<char>(unit >> 8);
    out += name == "UTF-16LE" ? std::string{low, high} : std::string{high, low};
  }
  return out;
}

std::string shownOnConsole(const std::string& text) {
  std::wstring wide = widenCp949(text);
  int size = static_cast<int>(wide.size());
  std::string utf8(static_cast<std::size_t>(size) * 3, '\0');
  int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(),
                                   static_cast<int>(utf8.size()), nullptr, nullptr);
  utf8.resize(static_cast<std::size_t>(std::max(length, 0)));
  return utf8;
}

std::string readFromConsole(const std::string& typed) {
  std::wstring wide;
  widenUtf8(typed, wide);
  std::string read;
  narrowTyped(wide, read);
  return read;
}

TempDir::TempDir() {
  std::random_device random;
  for (int tries = 0; tries < 100; ++tries) {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("phonebook-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(path)) {
      path_ = path.string();
      return;
    }
  }
  throw std::runtime_error("no temporary directory");
}

std::vector<std::string> terminalLocales() {
  return {"C"};
}

namespace {

// A handle on `path` that the child inherits.
HANDLE inheritable(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE file = CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + path);
  return file;
}

// Redirected Windows output ends its lines with CR LF.
std::string withLineBreaks(std::string text) {
  std::string out;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n') continue;
    out.push_back(text[at]);
  }
  return out;
}

}  // namespace

Outcome runPhonebook(const std::string& directory, const Run& run) {
  if (run.maxFileSize || run.maxAddressSpace || run.asNobody || !run.groups.empty() ||
      run.closedOutput || run.killAfter || run.later) {
    throw std::runtime_error("a run setting that only Linux has");
  }
  TempDir streams;
  writeFile(streams.file("in"), run.input);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inheritable(streams.file("in"), false);
  startup.hStdOutput = inheritable(streams.file("out"), true);
  startup.hStdError = inheritable(streams.file("err"), true);
  std::string command = std::string("\"") + PHONEBOOK_BINARY + "\"";
  if (!run.argument.empty()) command += " " + run.argument;
  PROCESS_INFORMATION process{};
  // No console, as in CI: the program must neither clear nor wait.
  BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                nullptr, directory.c_str(), &startup, &process);
  for (HANDLE stream : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
    CloseHandle(stream);
  }
  if (!started) throw std::runtime_error("cannot start " + command);
  Outcome outcome;
  if (WaitForSingleObject(process.hProcess, 60000) == WAIT_TIMEOUT) {
    TerminateProcess(process.hProcess, 128 + 14);  // as SIGALRM on Linux
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  outcome.status = static_cast<int>(status);
  PROCESS_MEMORY_COUNTERS memory{};
  if (GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory)) {
    outcome.peakMiB = static_cast<double>(memory.PeakWorkingSetSize) / (1 << 20);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  outcome.output = withLineBreaks(readFile(streams.file("out")));
  outcome.errors = withLineBreaks(readFile(streams.file("err")));
  return outcome;
}

}  // namespace phonebook::testing
