// What the save-crash tests stand on: the real program run under ptrace and
// stopped before each system call of its save, from the call that holds the
// signals to exit_group; the phone books before and after the save, and the
// check of what a second start finds; file systems in images on loop
// devices. Linux only: ptrace, x86-64 registers to fail a call, and mount.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace phonebook::save_crash {

// ---------------------------------------------------------------------------
// Stopping the program before each system call.

struct Call {
  long number;
  unsigned long long firstArgument;
};

// What happens to a call of the save: it runs; the program is killed
// before it (SIGKILL); it fails with EIO instead of running; it runs and
// then reports EPERM. The last two only on x86-64: elsewhere the call runs.
enum class Action { kGoOn, kKill, kFail, kFailAfter };

struct Traced {
  std::vector<Call> saveCalls;  // the calls of the save, in order
  int status = -1;              // exit status, or 128 + signal
  std::string output;           // standard output and error
};

// Runs the program in `directory` with `input` under ptrace. Before each
// call of its save (the first, numbered 0, blocks the held signals; the
// last is exit_group), `decide` says what to do with it.
Traced traceRun(const std::string& directory, const std::string& input,
                const std::function<Action(std::size_t point, const Call& call)>& decide);

// Why this machine cannot trace the program, or "" where it can: a child
// asks to be traced and stops, and must be seen stopped.
std::string whyNoTrace();

// ---------------------------------------------------------------------------
// The phone books before and after, and what may be left.

struct Scene {
  const char* what;
  bool before;  // there is a phone book before the save
  bool linked;  // PhoneList.txt is a link to books/mine.txt
};

// An existing file, a new file, a file reached through a symbolic link.
extern const Scene kScenes[3];

// The input of every run: adds Zzz, and saves.
extern const std::string kInput;

// The book before the save: a few thousand records.
std::string oldBook();

// Lays out `scene` in `directory` before the save.
void setUp(const Scene& scene, const std::string& directory);

// The book that the save writes, from a run that nothing disturbs.
std::string newBook(const Scene& scene);

enum class Expect { kOldOrNew, kOld, kNew };

// Starts the program again in `directory` (it reads the book, cleans up and
// ends with the input) and checks what is there: the link and its target
// as `scene` laid them out, no other file, and the book as `expect` says,
// where `after` is the new one.
void checkAfter(const Scene& scene, const std::string& directory, const std::string& after,
                Expect expect);

// The save's calls in an undisturbed traced run of `scene`.
std::vector<Call> saveCalls(const Scene& scene);

// A save makes at least this many calls; fewer would mean that the trace
// missed it.
constexpr std::size_t kFewestCalls = 10;

// "call 3 of the save, number 257", for the trace of a check.
std::string describe(std::size_t point, const Call& call);

// ---------------------------------------------------------------------------
// File systems in images on loop devices.

// Runs `command` through the shell, quietly; true when it succeeded.
bool shell(const std::string& command);

// Copies the image `from` to `to`, holes and all: the images are mostly
// holes, and are copied at every crash point.
void copyImage(const std::string& from, const std::string& to);

// An image mounted on a directory through a loop device, unmounted when the
// object goes, also when a check ends the test early.
class Mounted {
 public:
  // `options` are mount's besides loop, each after a comma (",data=writeback").
  Mounted(const std::string& image, const std::string& directory, const std::string& options);
  ~Mounted();
  Mounted(const Mounted&) = delete;
  Mounted& operator=(const Mounted&) = delete;

  bool mounted() const { return mounted_; }
  // True once the image is no longer mounted.
  bool unmount();

 private:
  std::string directory_;
  bool mounted_;
};

}  // namespace phonebook::save_crash
