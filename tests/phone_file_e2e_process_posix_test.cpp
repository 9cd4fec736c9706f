// The phone list file through the real program, where a POSIX system can
// set the scene around the run: its help, a second run beside it, limits
// of file size and of memory, kills and signals during the save, and an
// output that nobody reads. No failure of disk, storage or output costs a
// byte of what was saved before.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/phone_file_run.h"
#include "tests/test_support.h"

namespace phonebook {
namespace {

namespace fs = std::filesystem;
using testing::cp949;
using testing::endsWith;
using testing::expectFailedSave;
using testing::filesIn;
using testing::kSaved;
using testing::manyRecords;
using testing::readFile;
using testing::runPhonebook;
using testing::script;
using testing::TempDir;
using testing::writeFile;

// The help names the manual page that the package installs.
TEST(HelpTest, NamesTheManualPage) {
  TempDir dir;
  testing::Run run = script("");
  run.argument = "-h";
  testing::Outcome outcome = runPhonebook(dir.path(), run);
  EXPECT_NE(outcome.output.find(cp949("자세한 설명: man phonebook\n")), std::string::npos);
  EXPECT_TRUE(endsWith(outcome.output, "More: man phonebook\n")) << outcome.output;
}

TEST(PhoneFileRunTest, ASecondRunIsRefusedWhileTheFirstWaitsAtTheMenu) {
  TempDir dir;
  testing::Outcome second;
  bool savedMeanwhile = true;
  testing::Run first = script("");
  first.later = {cp949("원하시는 메뉴를 선택해주세요: "),
                 [&] {
                   second = runPhonebook(dir.path(), script("1\nKim\n1\n0\n"));
                   savedMeanwhile = fs::exists(dir.file("PhoneList.txt"));
                 },
                 "1\nAhn\n1\n0\n"};
  testing::Outcome outcome = runPhonebook(dir.path(), first);
  EXPECT_EQ(
      second.output,
      cp949("\n이 폴더의 전화번호부가 이미 다른 창에서 열려 있습니다.\n그 창에서 끝낸 뒤 다시 "
            "실행하십시오.\n"));
  EXPECT_EQ(second.status, 1);
  EXPECT_FALSE(savedMeanwhile);
  // The first goes on as if nothing happened, and saves.
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(readFile(dir.file("PhoneList.txt")), "Ahn 1\r\n");
}

TEST(PhoneFileRunTest, ASaveThatHitsAFileSizeLimitKeepsTheOldFile) {
  TempDir dir;
  const std::string before = manyRecords(100);
  writeFile(dir.file("PhoneList.txt"), before);
  testing::Run run = script("1\nKim\n1\n0\n");
  run.maxFileSize = 1024;
  expectFailedSave(runPhonebook(dir.path(), run), dir.file("PhoneList.txt"), before,
                   cp949("파일이 너무 큽니다."));
  EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"PhoneList.txt"});
}

TEST(PhoneFileRunTest, ASaveKilledPartWayLeavesOneBookWholeAndTheNextStartClearsUp) {
  TempDir dir;
  std::string before;  // as the program writes it: in order, CR LF
  for (int i = 100000; i < 400000; ++i) before += "Name" + std::to_string(i) + " 010\r\n";
  const std::string after = before + "Zzz 1\r\n";
  const testing::Run run = script("1\nZzz\n1\n0\n");
  writeFile(dir.file("PhoneList.txt"), before);
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(runPhonebook(dir.path(), run).status, 0);
  const std::chrono::duration<double> whole = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(readFile(dir.file("PhoneList.txt")) == after);
  // Kills spread over the second half of a run, where the save is.
  for (double part : {0.5, 0.6, 0.7, 0.8, 0.9, 0.95}) {
    SCOPED_TRACE(part);
    writeFile(dir.file("PhoneList.txt"), before);
    testing::Run killed = run;
    killed.killAfter = part * whole.count();
    runPhonebook(dir.path(), killed);
    // A kill between the naming of the new file and its rename leaves it
    // whole under its temporary name, for the next start to remove.
    runPhonebook(dir.path(), script(""));
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"PhoneList.txt"});
    std::string now = readFile(dir.file("PhoneList.txt"));
    EXPECT_TRUE(now == before || now == after);
  }
}

TEST(PhoneFileRunTest, ASignalDuringTheSaveWaitsAndTheSaveEndsAsASaveEnds) {
  TempDir dir;
  const std::string before = manyRecords(200000);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(strsignal(signal));
    testing::Run run = script("5\nName7\n0\n");
    run.signalDuringSave = signal;
    // On a busy machine the save can end before its new file is seen
    // (about one run in twenty here): that run shows nothing, so the next
    // one counts.
    testing::Outcome outcome;
    for (int tries = 0; tries < 5 && !outcome.signalled; ++tries) {
      writeFile(dir.file("PhoneList.txt"), before);
      outcome = runPhonebook(dir.path(), run);
    }
    ASSERT_TRUE(outcome.signalled) << "the save ended before it was seen, five times";
    EXPECT_TRUE(endsWith(outcome.output, kSaved));
    EXPECT_EQ(outcome.status, 0);
    std::string after = readFile(dir.file("PhoneList.txt"));
    EXPECT_EQ(after.size(), before.size() - std::string("Name7 010-7\r\n").size());
    EXPECT_EQ(after.find("Name7 "), std::string::npos);
  }
}

TEST(PhoneFileRunTest, OutputThatNobodyReadsDoesNotStopTheSave) {
  TempDir dir;
  testing::Run run = script("1\nKim\n1\n2\n0\n");
  run.closedOutput = true;
  EXPECT_EQ(runPhonebook(dir.path(), run).status, 0);
  EXPECT_EQ(readFile(dir.file("PhoneList.txt")), "Kim 1\r\n");
}

#if !defined(__SANITIZE_ADDRESS__)
// AddressSanitizer's own memory would swamp what is measured.
TEST(PhoneFileRunTest, MemoryFollowsTheRecordsNotTheSizeOfTheFile) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> make;
  };
  const Case cases[] = {
      {"a sparse file of 1 GiB, no records",
       [](const std::string& file) {
         writeFile(file, "");
         fs::resize_file(file, std::uintmax_t{1} << 30);
       }},
      {"a UTF-16 mark, then 256 MiB of zeros",
       [](const std::string& file) {
         writeFile(file, "\xFF\xFE");
         fs::resize_file(file, std::uintmax_t{1} << 28);
       }},
      {"64 MiB of white space around one record",
       [](const std::string& file) {
         std::string space(32 << 20, ' ');
         writeFile(file, space + "Ahn 1" + space);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    c.make(dir.file("PhoneList.txt"));
    testing::Outcome outcome = runPhonebook(dir.path(), script("0\n"));
    EXPECT_EQ(outcome.status, 0);
    EXPECT_LT(outcome.peakMiB, 32);
  }
}
#endif

#if !defined(__SANITIZE_ADDRESS__)
// AddressSanitizer reserves more address space than the limit allows.
// A limit that rises in steps of 4 MiB fails each large allocation of the
// load in turn (the file's bytes, the records' order, the entries' block)
// until the whole book fits: each that fails ends the program with the file
// as it was, never with a book that lost its entries.
TEST(PhoneFileRunTest, StorageThatCannotBeObtainedEndsTheProgramAndKeepsTheFile) {
  TempDir dir;
  // About 40 MB of entries, in name order: what a save writes back.
  std::vector<std::string> lines;
  for (int i = 0; i < 400000; ++i) {
    lines.push_back("Name" + std::to_string(i) + " 010-" + std::to_string(i) + "\r\n");
  }
  std::sort(lines.begin(), lines.end());
  std::string before;
  for (const std::string& line : lines) before += line;
  writeFile(dir.file("PhoneList.txt"), before);
  testing::Run run = script("0\n");
  int failed = 0;
  for (unsigned long long mebibytes = 8; mebibytes <= 256; mebibytes += 4) {
    SCOPED_TRACE(std::to_string(mebibytes) + " MiB");
    run.maxAddressSpace = mebibytes << 20;
    testing::Outcome outcome = runPhonebook(dir.path(), run);
    // Compared whole: a diff of two books this large would swamp the report.
    const std::string after = readFile(dir.file("PhoneList.txt"));
    ASSERT_TRUE(after == before) << after.size() << " bytes, " << outcome.status << ": "
                                 << outcome.errors;
    if (outcome.status == 0) break;
    ++failed;
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.errors.find("out of memory"), std::string::npos) << outcome.errors;
  }
  EXPECT_GT(failed, 0);
  EXPECT_EQ(runPhonebook(dir.path(), run).status, 0) << "no limit up to 256 MiB was enough";
}
#endif

}  // namespace
}  // namespace phonebook
