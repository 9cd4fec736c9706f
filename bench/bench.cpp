// The benchmark: a whole run of the phone book (load, list once, save) on
// phone list files of 10,000 to 5,000,000 records, against `sort` ordering
// the same file, with the program's peak memory. At 1,000,000 records it
// also times the run where most users are: in a UTF-8 locale (the list is
// converted for the terminal), and on the same book saved as UTF-8 without a
// byte order mark, as an editor saves it.
//
// The yardstick is `LC_ALL=C sort --parallel=1 -s -k1,1` on the CP949 file:
// one thread, as the phone book has, so the ratio is the same on a busy
// machine as on a quiet one. GNU sort's default, which takes a second core
// when one is free, is shown for reference.
//
// This machine hands freed memory back to its host in the background, so a
// command's time depends on what ran before it: memory freed a second ago
// costs far more to touch than memory freed just now. Every command is
// therefore timed right after the same warm-up (touch a block of memory and
// free it), and each run of the phone book is paired with the yardstick run
// made right after it; the ratio is the median of those pairs' ratios. The
// commands take turns within each round, so that a busy moment costs all of
// them alike; each figure is the median of the rounds, with the spread
// (lowest to highest) beside it.
//
// Usage: phonebook_bench [runs]   (5 runs by default)
#include <fcntl.h>
#include <iconv.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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

std::string readWhole(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The CP949 file at `cp949Path` saved again as UTF-8 without a byte order
// mark: the same records, each Hangul syllable in three bytes instead of two.
void writeUtf8Copy(const std::string& cp949Path, const std::string& utf8Path) {
  std::string cp949 = readWhole(cp949Path);
  std::string utf8(cp949.size() / 2 * 3 + 16, '\0');
  iconv_t converter = iconv_open("UTF-8", "CP949");
  if (converter == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no CP949 converter");
  char* source = cp949.data();
  std::size_t sourceLeft = cp949.size();
  char* target = utf8.data();
  std::size_t room = utf8.size();
  std::size_t result = iconv(converter, &source, &sourceLeft, &target, &room);
  iconv_close(converter);
  if (result == static_cast<std::size_t>(-1)) throw std::runtime_error("CP949 to UTF-8 failed");
  utf8.resize(utf8.size() - room);
  std::ofstream(utf8Path, std::ios::binary) << utf8;
}

// Touches every page of a fresh block of memory and frees it, so that the
// command timed next finds the same just-freed memory whatever ran before.
// The block is asked for in huge pages, as the phone book asks for its large
// blocks: memory freed in ordinary pages is not what a huge-page fault takes
// first, and a run then still met memory that the host had taken back
// (populating the 84 MiB of entries took 70-220 ms instead of 7-9 ms).
void warmUp() {
  constexpr std::size_t kWarmUpBytes = std::size_t{512} << 20;
  void* block =
      mmap(nullptr, kWarmUpBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) throw std::runtime_error("mmap failed");
  madvise(block, kWarmUpBytes, MADV_HUGEPAGE);  // a hint, like the phone book's
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  volatile char* bytes = static_cast<char*>(block);
  for (std::size_t at = 0; at < kWarmUpBytes; at += page) bytes[at] = 1;
  munmap(block, kWarmUpBytes);
}

struct Measure {
  double seconds;
  double peakMiB;
  int status;
};

// Runs `argv` in `directory` with `input` as standard input, output to
// /dev/null, no controlling terminal and LC_ALL=`locale`, right after the
// warm-up.
Measure timeRun(const std::vector<std::string>& argv, const std::string& directory,
                const std::string& inputFile, const char* locale = "C") {
  warmUp();
  auto start = std::chrono::steady_clock::now();
  pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    setsid();
    int in = open(inputFile.c_str(), O_RDONLY);
    int out = open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0) _exit(120);
    if (chdir(directory.c_str()) != 0) _exit(121);
    setenv("LC_ALL", locale, 1);
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

std::string format(const char* figure, const Spread& spread) {
  std::string pattern = std::string(figure) + " (" + figure + "-" + figure + ")";
  char text[64];
  std::snprintf(text, sizeof text, pattern.c_str(), spread.median, spread.lowest, spread.highest);
  return text;
}

std::vector<double> ratios(const std::vector<double>& over, const std::vector<double>& under) {
  std::vector<double> result;
  for (std::size_t i = 0; i < over.size(); ++i) result.push_back(over[i] / under[i]);
  return result;
}

// One way of running the phone book on a book of records, and its times.
struct Row {
  const char* label;   // the locale and the file's encoding, as printed
  const char* locale;  // LC_ALL for the phone book
  std::string file;    // the book it loads
  std::vector<double> program, sortOne, sortTwo, peak;
};

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  fs::path work = fs::temp_directory_path() / ("phonebook-bench-" + std::to_string(getpid()));
  fs::create_directories(work);
  { std::ofstream(work / "input") << "2\n0\n"; }
  const std::string input = (work / "input").string();

  std::printf("phonebook: load, list (choice 2) and save (choice 0), output to /dev/null, no\n");
  std::printf("  terminal; C/CP949: LC_ALL=C on the CP949 file; C.UTF-8/CP949: LC_ALL=C.UTF-8\n");
  std::printf("  on the same file; C/UTF-8: LC_ALL=C on the same book in UTF-8 without a mark\n");
  std::printf("sort -p1: LC_ALL=C sort --parallel=1 -s -k1,1 on the CP949 file (the yardstick)\n");
  std::printf("sort:     LC_ALL=C sort -s -k1,1 (GNU sort's default, up to two threads here)\n");
  std::printf("each command right after touching and freeing 512 MiB of huge pages; each\n");
  std::printf("  phonebook run paired with the sort runs right after it, ratios as the median\n");
  std::printf("  of the pairs' ratios\n");
  std::printf("seconds as median (lowest-highest) of %d rounds, the commands taking turns\n\n",
              runs);
  std::printf("%9s  %-13s  %21s  %21s  %21s  %16s  %6s  %8s\n", "records", "locale/file",
              "phonebook s", "sort -p1 s", "sort s", "/sort-p1", "/sort", "peak MiB");
  std::vector<double> programTimes;
  for (std::size_t count : {10000u, 100000u, 1000000u, 5000000u}) {
    std::string original = (work / ("records-" + std::to_string(count) + ".txt")).string();
    writePhoneList(original, count);
    std::vector<Row> rows{{"C/CP949", "C", original, {}, {}, {}, {}}};
    if (count == 1000000u) {
      std::string utf8 = (work / ("records-" + std::to_string(count) + "-utf8.txt")).string();
      writeUtf8Copy(original, utf8);
      rows.push_back({"C.UTF-8/CP949", "C.UTF-8", original, {}, {}, {}, {}});
      rows.push_back({"C/UTF-8", "C", utf8, {}, {}, {}, {}});
    }
    for (int i = 0; i < runs; ++i) {
      std::vector<std::string> saved;
      for (std::size_t turn = 0; turn < rows.size(); ++turn) {
        Row& row = rows[(turn + static_cast<std::size_t>(i)) % rows.size()];
        fs::path runDir = work / ("run-" + std::to_string(&row - rows.data()));
        fs::create_directories(runDir);
        fs::copy_file(row.file, runDir / "PhoneList.txt", fs::copy_options::overwrite_existing);
        Measure run = timeRun({PHONEBOOK_BINARY}, runDir.string(), input, row.locale);
        if (run.status != 0) {
          std::fprintf(stderr, "phonebook (%s) ended with status %d\n", row.label, run.status);
          return 1;
        }
        row.program.push_back(run.seconds);
        row.peak.push_back(run.peakMiB);
        row.sortOne.push_back(
            timeRun({"sort", "--parallel=1", "-s", "-k1,1", original}, work.string(), input)
                .seconds);
        row.sortTwo.push_back(
            timeRun({"sort", "-s", "-k1,1", original}, work.string(), input).seconds);
        if (i == 0) saved.push_back(readWhole((runDir / "PhoneList.txt").string()));
      }
      // Whatever the locale and the file's encoding, the run saves the same book.
      if (i == 0 && std::count(saved.begin(), saved.end(), saved.front()) !=
                        static_cast<std::ptrdiff_t>(saved.size())) {
        std::fprintf(stderr, "the runs on %zu records saved different books\n", count);
        return 1;
      }
    }
    for (const Row& row : rows) {
      Spread ours = spreadOf(row.program);
      std::printf("%9zu  %-13s  %21s  %21s  %21s  %16s  %6.2f  %8.1f\n", count, row.label,
                  format("%.3f", ours).c_str(), format("%.3f", spreadOf(row.sortOne)).c_str(),
                  format("%.3f", spreadOf(row.sortTwo)).c_str(),
                  format("%.2f", spreadOf(ratios(row.program, row.sortOne))).c_str(),
                  spreadOf(ratios(row.program, row.sortTwo)).median, spreadOf(row.peak).median);
    }
    programTimes.push_back(spreadOf(rows.front().program).median);
    if (rows.size() == 3) {
      std::printf("%9s  C.UTF-8/CP949 against C/CP949 in the same round: %s times\n", "",
                  format("%.2f", spreadOf(ratios(rows[1].program, rows[0].program))).c_str());
      std::printf("%9s  C/UTF-8 against C/CP949 in the same round:       %s times\n", "",
                  format("%.2f", spreadOf(ratios(rows[2].program, rows[0].program))).c_str());
    }
    std::fflush(stdout);
  }
  std::printf("\ngrowth from 100,000 to 1,000,000 records (C/CP949): %.1f times\n",
              programTimes[2] / programTimes[1]);
  fs::remove_all(work);
  return 0;
}
