// Helpers shared by the tests: CP949 (or UTF-16) text from readable UTF-8,
// temporary directories, and running the real program with a scripted input.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace phonebook::testing {

// `utf8` converted to CP949, so that tests can be written in readable text.
std::string cp949(const std::string& utf8);

// `utf8` converted to `codeset`, as iconv names it ("UTF-16LE").
std::string encoded(const std::string& utf8, const char* codeset);

// What the console does with text on this system: the CP949 `text` as a
// UTF-8 terminal shows it (on Windows, as the console's UTF-16 shows it),
// in UTF-8; and the UTF-8 `typed` there as the program reads it, in CP949.
std::string shownOnConsole(const std::string& text);
std::string readFromConsole(const std::string& typed);

// A fresh directory, removed with its content when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

// The locales a run can be given: on Linux "C" (CP949 bytes) and
// "C.UTF-8"; on Windows only "C", as its console is always shown CP949.
std::vector<std::string> terminalLocales();

struct Run {
  std::string input;         // standard input, whole
  std::string locale = "C";  // LC_ALL
  std::string argument;      // the one command-line argument, none when empty
  // Linux only (a Windows run with any of these throws):
  std::optional<unsigned long long> maxFileSize;      // RLIMIT_FSIZE, with SIGXFSZ ignored
  std::optional<unsigned long long> maxAddressSpace;  // RLIMIT_AS
  bool asNobody = false;            // drop root's privileges, where the tests run as root
  std::vector<unsigned> groups;     // nobody's supplementary groups
  bool closedOutput = false;        // standard output a pipe that nobody reads
  std::optional<double> killAfter;  // seconds until SIGKILL
  // Input that follows `input` once the output holds `afterOutput` and
  // `between` has run: for what a test changes while the program waits.
  struct Later {
    std::string afterOutput;
    std::function<void()> between;
    std::string input;
  };
  std::optional<Later> later;
  // Sent once the program has the new file of its save open in `directory`.
  std::optional<int> signalDuringSave;
};

// A run with only its standard input and locale given.
inline Run script(std::string input, std::string locale = "C") {
  Run run;
  run.input = std::move(input);
  run.locale = std::move(locale);
  return run;
}

struct Outcome {
  int status = -1;  // exit status, or 128 + signal
  std::string output;
  std::string errors;
  double peakMiB = 0;      // the most memory the program had resident
  bool signalled = false;  // signalDuringSave was sent
};

// Runs the built phonebook in `directory` with no controlling terminal (on
// Windows, no console). A run that has not ended after a minute is killed.
// On Windows the CR LF that ends each line of redirected output is read as
// one line break, so that both platforms' outputs compare alike.
Outcome runPhonebook(const std::string& directory, const Run& run);

}  // namespace phonebook::testing
