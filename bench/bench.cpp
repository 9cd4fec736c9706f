// The benchmark: a whole run of the phone book (load, list once, save) on
// phone list files of 10,000 to 5,000,000 records, against `sort` ordering
// the same file, with the program's peak memory.
//
// The yardstick is `LC_ALL=C sort --parallel=1 -s -k1,1`: one thread, as the
// phone book has, so the ratio is the same on a busy machine as on a quiet
// one. GNU sort's default, which takes a second core when one is free, is
// shown for reference. The three commands take turns within each round, so
// that a busy moment costs all of them alike; each figure is the median of
// the rounds, with the spread (lowest to highest) beside it.
//
// Usage: phonebook_bench [runs]   (5 runs by default)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A Hangul syllable of the KS X 1001 block, which every CP949 reader knows.
void appendHangul(std::string& name, std::mt19937& random) {
  name.push_back(static_cast<char>(0xB0 + random() % (0xC8 - 0xB0 + 1)));
  name.push_back(static_cast<char>(0xA1 + random() % (0xFE - 0xA1 + 1)));
}

std::string randomName(std::mt19937& random) {
  std::string name;
  if (random() % 2 == 0) {
    for (int i = 2 + static_cast<int>(random() % 3); i > 0; --i) appendHangul(name, random);
  } else {
    name.push_back(static_cast<char>('A' + random() % 26));
    for (int i = 3 + static_cast<int>(random() % 9); i > 0; --i) {
      name.push_back(static_cast<char>('a' + random() % 26));
    }
  }
  return name;
}

// `count` records in random order; a tenth of them repeat an earlier name.
void writePhoneList(const std::string& path, std::size_t count) {
  std::mt19937 random(static_cast<unsigned>(count));
  std::vector<std::string> names;
  names.reserve(count);
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    bool repeat = !names.empty() && random() % 10 == 0;
    names.push_back(repeat ? names[random() % names.size()] : randomName(random));
    char phone[32];
    std::snprintf(phone, sizeof phone, "010-%04u-%04u", static_cast<unsigned>(random() % 10000),
                  static_cast<unsigned>(random() % 10000));
    text += names.back() + " " + phone + "\r\n";
  }
  std::ofstream(path, std::ios::binary) << text;
}

struct Measure {
  double seconds;
  double peakMiB;
  int status;
};

// Runs `argv` in `directory` with `input` as standard input, output to
// /dev/null, no controlling terminal and LC_ALL=C.
Measure timeRun(const std::vector<std::string>& argv, const std::string& directory,
                const std::string& inputFile) {
  auto start = std::chrono::steady_clock::now();
  pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    setsid();
    int in = open(inputFile.c_str(), O_RDONLY);
    int out = open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0) _exit(120);
    if (chdir(directory.c_str()) != 0) _exit(121);
    setenv("LC_ALL", "C", 1);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(123);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return {elapsed.count(), usage.ru_maxrss / 1024.0,
          WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)};
}

struct Spread {
  double median;
  double lowest;
  double highest;
};

Spread spreadOf(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return {values[values.size() / 2], values.front(), values.back()};
}

std::string seconds(const Spread& spread) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f (%.3f-%.3f)", spread.median, spread.lowest,
                spread.highest);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  fs::path work = fs::temp_directory_path() / ("phonebook-bench-" + std::to_string(getpid()));
  fs::create_directories(work);
  { std::ofstream(work / "input") << "2\n0\n"; }
  const std::string input = (work / "input").string();

  std::printf("phonebook: load, list (choice 2) and save (choice 0), LC_ALL=C, no terminal\n");
  std::printf("sort -p1: LC_ALL=C sort --parallel=1 -s -k1,1 (the yardstick: one thread)\n");
  std::printf("sort:     LC_ALL=C sort -s -k1,1 (GNU sort's default, up to two threads here)\n");
  std::printf("seconds as median (lowest-highest) of %d rounds, the commands taking turns\n\n",
              runs);
  std::printf("%9s  %21s  %21s  %21s  %8s  %6s  %8s\n", "records", "phonebook s", "sort -p1 s",
              "sort s", "/sort-p1", "/sort", "peak MiB");
  std::vector<double> programTimes;
  for (std::size_t count : {10000u, 100000u, 1000000u, 5000000u}) {
    std::string original = (work / ("records-" + std::to_string(count) + ".txt")).string();
    writePhoneList(original, count);
    fs::path runDir = work / "run";
    fs::create_directories(runDir);
    std::vector<double> program, sortOne, sortTwo, peak;
    for (int i = 0; i < runs; ++i) {
      fs::copy_file(original, runDir / "PhoneList.txt", fs::copy_options::overwrite_existing);
      Measure run = timeRun({PHONEBOOK_BINARY}, runDir.string(), input);
      if (run.status != 0) {
        std::fprintf(stderr, "phonebook ended with status %d\n", run.status);
        return 1;
      }
      program.push_back(run.seconds);
      peak.push_back(run.peakMiB);
      sortOne.push_back(
          timeRun({"sort", "--parallel=1", "-s", "-k1,1", original}, work.string(), input).seconds);
      sortTwo.push_back(timeRun({"sort", "-s", "-k1,1", original}, work.string(), input).seconds);
    }
    Spread ours = spreadOf(program);
    Spread one = spreadOf(sortOne);
    Spread two = spreadOf(sortTwo);
    programTimes.push_back(ours.median);
    std::printf("%9zu  %21s  %21s  %21s  %8.2f  %6.2f  %8.1f\n", count, seconds(ours).c_str(),
                seconds(one).c_str(), seconds(two).c_str(), ours.median / one.median,
                ours.median / two.median, spreadOf(peak).median);
    std::fflush(stdout);
  }
  std::printf("\ngrowth from 100,000 to 1,000,000 records: %.1f times\n",
              programTimes[2] / programTimes[1]);
  fs::remove_all(work);
  return 0;
}
