// The test helpers on a POSIX system: iconv, mkdtemp and fork.
#include "tests/test_support_posix.h"

#include <fcntl.h>
#include <grp.h>
#include <iconv.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "platform/text_codec.h"
#include "tests/test_support.h"

namespace phonebook::testing {

std::string cp949(const std::string& utf8) {
  return encoded(utf8, "CP949");
}

std::string encoded(const std::string& utf8, const char* codeset) {
  iconv_t converter = iconv_open(codeset, "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no such codeset");
  std::string out(utf8.size() * 4 + 4, '\0');
  char* source = const_cast<char*>(utf8.data());
  std::size_t sourceLeft = utf8.size();
  char* target = out.data();
  std::size_t room = out.size();
  std::size_t result = iconv(converter, &source, &sourceLeft, &target, &room);
  iconv_close(converter);
  if (result == static_cast<std::size_t>(-1))
    throw std::runtime_error("not " + std::string(codeset) + ": " + utf8);
  out.resize(out.size() - room);
  return out;
}

std::string shownOnConsole(const std::string& text) {
  static TerminalCodec codec("UTF-8");
  std::string shown;
  codec.toTerminal(text, shown);
  return shown;
}

std::string readFromConsole(const std::string& typed) {
  static TerminalCodec codec("UTF-8");
  std::string read;
  codec.fromTerminal(typed, read);
  return read;
}

TempDir::TempDir() {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/phonebook-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

std::vector<std::string> terminalLocales() {
  return {"C", "C.UTF-8"};
}

Outcome runPhonebook(const std::string& directory, const Run& run) {
  TempDir streams;
  writeFile(streams.file("in"), run.input);
  std::string binary = PHONEBOOK_BINARY;
  if (run.asNobody) {
    // The build tree may lie where nobody cannot reach it: run a copy.
    binary = streams.file("phonebook");
    std::filesystem::copy_file(PHONEBOOK_BINARY, binary);
    std::filesystem::permissions(streams.path(), std::filesystem::perms::all);
  }
  const std::vector<gid_t> groups(run.groups.begin(), run.groups.end());
  int unread[2] = {-1, -1};
  if (run.closedOutput && pipe(unread) != 0) throw std::runtime_error("pipe failed");
  int feed[2] = {-1, -1};
  if (run.later && pipe(feed) != 0) throw std::runtime_error("pipe failed");
  pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    // No controlling terminal, as in CI: the program must neither clear nor
    // wait.
    setsid();
    alarm(60);
    if (run.closedOutput) close(unread[0]);  // nobody reads
    if (run.later) close(feed[1]);
    int in = run.later ? feed[0] : open(streams.file("in").c_str(), O_RDONLY);
    int out = run.closedOutput
                  ? unread[1]
                  : open(streams.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    int err = open(streams.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
      _exit(120);
    }
    if (chdir(directory.c_str()) != 0) _exit(121);
    if (run.maxFileSize) {
      signal(SIGXFSZ, SIG_IGN);
      rlimit limit{*run.maxFileSize, *run.maxFileSize};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (run.maxAddressSpace) {
      rlimit limit{*run.maxAddressSpace, *run.maxAddressSpace};
      setrlimit(RLIMIT_AS, &limit);
    }
    if (run.asNobody && geteuid() == 0 &&
        (setgroups(groups.size(), groups.data()) != 0 || setgid(65534) != 0 ||
         setuid(65534) != 0)) {
      _exit(122);
    }
    setenv("LC_ALL", run.locale.c_str(), 1);
    if (run.argument.empty()) {
      execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
    } else {
      execl(binary.c_str(), binary.c_str(), run.argument.c_str(), static_cast<char*>(nullptr));
    }
    _exit(123);
  }
  if (run.closedOutput) {
    close(unread[0]);
    close(unread[1]);
  }
  if (run.later) {
    close(feed[0]);
    auto give = [&](const std::string& input) {
      if (write(feed[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
        throw std::runtime_error("input not given");
      }
    };
    give(run.input);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (readFile(streams.file("out")).find(run.later->afterOutput) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    run.later->between();
    give(run.later->input);
    close(feed[1]);
  }
  Outcome outcome;
  if (run.signalDuringSave)
    outcome.signalled = signalDuringSave(child, directory, *run.signalDuringSave);
  if (run.killAfter) {
    std::this_thread::sleep_for(std::chrono::duration<double>(*run.killAfter));
    kill(child, SIGKILL);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  outcome.peakMiB = usage.ru_maxrss / 1024.0;
  outcome.output = readFile(streams.file("out"));
  outcome.errors = readFile(streams.file("err"));
  return outcome;
}

}  // namespace phonebook::testing
