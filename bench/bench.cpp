// The benchmark: a whole run of the phone book (load, list once, save) on
// phone list files of 10,000 to 1,000,000 records, against `sort` ordering
// the same file, with the program's peak memory. Prints medians.
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

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  fs::path work = fs::temp_directory_path() / ("phonebook-bench-" + std::to_string(getpid()));
  fs::create_directories(work);
  { std::ofstream(work / "input") << "2\n0\n"; }

  std::printf(
      "phonebook: load, list (choice 2) and save (choice 0); sort: LC_ALL=C sort -s -k1,1\n");
  std::printf("medians of %d runs\n\n", runs);
  std::printf("%10s  %12s  %10s  %7s  %14s\n", "records", "phonebook s", "sort s", "ratio",
              "peak memory MiB");
  std::vector<double> programTimes;
  for (std::size_t count : {10000u, 100000u, 1000000u}) {
    std::string original = (work / ("records-" + std::to_string(count) + ".txt")).string();
    writePhoneList(original, count);
    fs::path runDir = work / "run";
    std::vector<double> program, sort, peak;
    for (int i = 0; i < runs; ++i) {
      fs::create_directories(runDir);
      fs::copy_file(original, runDir / "PhoneList.txt", fs::copy_options::overwrite_existing);
      Measure run = timeRun({PHONEBOOK_BINARY}, runDir.string(), (work / "input").string());
      if (run.status != 0) {
        std::fprintf(stderr, "phonebook ended with status %d\n", run.status);
        return 1;
      }
      program.push_back(run.seconds);
      peak.push_back(run.peakMiB);
      Measure sorted =
          timeRun({"sort", "-s", "-k1,1", original}, work.string(), (work / "input").string());
      sort.push_back(sorted.seconds);
    }
    programTimes.push_back(median(program));
    std::printf("%10zu  %12.3f  %10.3f  %7.2f  %14.1f\n", count, median(program), median(sort),
                median(program) / median(sort), median(peak));
    std::fflush(stdout);
  }
  std::printf("\ngrowth from 100,000 to 1,000,000 records: %.1f times\n",
              programTimes[2] / programTimes[1]);
  fs::remove_all(work);
  return 0;
}
