#include "tests/terminal_run.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>

namespace phonebook::testing {

std::string readUntil(int master, const std::string& wanted, double seconds) {
  std::string seen;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (seen.find(wanted) == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd ready{master, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) break;
    char chunk[4096];
    ssize_t got = read(master, chunk, sizeof chunk);
    if (got <= 0) break;
    seen.append(chunk, static_cast<std::size_t>(got));
  }
  return seen;
}

const std::string kPausePrompt = cp949("계속하려면 아무 키나 누르십시오 . . . ");

pid_t startOnTerminal(const TempDir& dir, const TerminalRun& run, int& master) {
  writeFile(dir.file("input"), run.input);
  pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
  if (child == 0) {
    if (chdir(dir.path().c_str()) != 0) _exit(121);
    int in = open("input", O_RDONLY);
    if (!run.input.empty() && (in < 0 || dup2(in, 0) < 0)) _exit(120);
    int out = open("output", O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (run.outputToFile && (out < 0 || dup2(out, 1) < 0)) _exit(120);
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG", "LOCPATH"}) unsetenv(variable);
    setenv(run.localeVariable, run.locale.c_str(), 1);
    if (!run.localePath.empty()) setenv("LOCPATH", run.localePath.c_str(), 1);
    setenv("TERM", run.term.c_str(), 1);
    if (run.ignored != 0) std::signal(run.ignored, SIG_IGN);
    termios settings;
    if (run.readsReturnAtOnce && tcgetattr(STDERR_FILENO, &settings) == 0) {
      settings.c_cc[VMIN] = settings.c_cc[VTIME] = 0;
      if (tcsetattr(STDERR_FILENO, TCSANOW, &settings) != 0) _exit(122);
    }
    if (run.asJob) {
      pid_t job = fork();
      if (job > 0) {
        int status = -1;
        while (waitpid(job, &status, 0) < 0 && errno == EINTR) {
        }
        _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
      }
      setpgid(0, 0);
      std::signal(SIGTTOU, SIG_IGN);
      tcsetpgrp(STDERR_FILENO, getpid());
      std::signal(SIGTTOU, SIG_DFL);
    }
    execl(PHONEBOOK_BINARY, PHONEBOOK_BINARY, static_cast<char*>(nullptr));
    _exit(123);
  }
  return child;
}

int waitForExit(pid_t child, double seconds) {
  int status = -1;
  for (int tries = 0; tries < seconds * 100; ++tries) {
    if (waitpid(child, &status, WNOHANG) == child) {
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    usleep(10000);
  }
  kill(child, SIGKILL);
  waitpid(child, &status, 0);
  return -1;
}

bool terminalIsCooked(int master) {
  termios settings;
  return tcgetattr(master, &settings) == 0 &&
         (settings.c_lflag & (ICANON | ECHO)) == static_cast<tcflag_t>(ICANON | ECHO);
}

char stateOf(pid_t process) {
  std::string stat = readFile("/proc/" + std::to_string(process) + "/stat");
  std::size_t end = stat.rfind(')');
  return end == std::string::npos || end + 2 >= stat.size() ? '?' : stat[end + 2];
}

bool answer(int master, const Steps& steps, std::string& screen) {
  for (const auto& [prompt, keys] : steps) {
    std::size_t at = screen.size();
    screen += readUntil(master, prompt, 10);
    if (screen.find(prompt, at) == std::string::npos) return false;
    for (int tries = 0; tries < 500 && terminalIsCooked(master); ++tries) usleep(10000);
    if (write(master, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) return false;
  }
  return true;
}

const std::string kMenuPrompt = "선택해주세요: ", kUtf8PausePrompt = "누르십시오 . . . ";
const std::string kNamePrompt = "이름을 입력해주세요: ", kPhonePrompt = "전화번호를 입력해주세요: ";
const Steps kAddKim = {
    {kMenuPrompt, "1\r"}, {kNamePrompt, "Kim\r"}, {kPhonePrompt, "010\r"}, {kUtf8PausePrompt, "k"}};

Steps operator+(Steps first, const Steps& then) {
  first.insert(first.end(), then.begin(), then.end());
  return first;
}

std::string cp949LocalePath() {
  static TempDir dir;
  static const bool made =
      std::system(("localedef -f CP949 -i ko_KR " + dir.file("ko_KR.CP949") + " >/dev/null 2>&1")
                      .c_str()) >= 0 &&
      std::filesystem::exists(dir.file("ko_KR.CP949/LC_CTYPE"));
  return made ? dir.path() : "";
}

}  // namespace phonebook::testing
