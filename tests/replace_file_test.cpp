// The save's steps, run against a fake of the platform's: each step in
// turn fails, and the save must report that step's error, discard the new
// file, and leave the old one as it was; and the platform's own look at
// what is in place.
#include "platform/replace_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/temporary_name.h"
#include "tests/fake_file_system.h"
#include "tests/memory_file.h"
#include "tests/test_support.h"

namespace phonebook {
namespace {

using Steps = std::vector<std::string>;

bool fill(File& file) {
  return file.write("Kim 1\r\n", 7);
}

TEST(ReplaceFileTest, AFailedStepReportsItsErrorAndLeavesTheOldFile) {
  const Steps all = {"resolve", "create",      "sync",   "name",
                     "close",   "may replace", "rename", "sync directory"};
  // The steps up to the failing one, then discard where the new file was begun.
  auto failedAt = [&](std::size_t step) {
    Steps steps(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(step) + 1);
    if (step > 0) steps.push_back("discard");
    return steps;
  };
  // A rename that reports an error is followed by a look at what is in place.
  const Steps looked = {"resolve", "create",      "sync",   "name",
                        "close",   "may replace", "rename", "in place?"};
  auto plus = [](Steps steps, const char* step) {
    steps.push_back(step);
    return steps;
  };
  struct Case {
    std::string failing;
    int error;
    SaveResult result;
    Steps steps;
  };
  const Case cases[] = {
      {"none", 0, SaveResult::kSaved, all},
      {"resolve", EACCES, SaveResult::kFailed, failedAt(0)},
      {"create", EROFS, SaveResult::kFailed, failedAt(1)},
      {"write", ENOSPC, SaveResult::kFailed, failedAt(1)},
      {"sync", EIO, SaveResult::kFailed, failedAt(2)},
      {"name", EEXIST, SaveResult::kFailed, failedAt(3)},
      {"close", EBADF, SaveResult::kFailed, failedAt(4)},
      // The caller's last look, at the whole new file, says no.
      {"may replace", 0, SaveResult::kRefused, failedAt(5)},
      {"rename", EXDEV, SaveResult::kFailed, plus(looked, "discard")},
      {"renamed", EIO, SaveResult::kSaved, plus(looked, "sync directory")},
      {"sync directory", EIO, SaveResult::kSavedNotSynced, all},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing);
    testing::FakeFileSystem files;
    files.put("PhoneList.txt", "Ahn 1\r\n");
    files.failing = c.failing;
    files.error = c.error;
    errno = 0;
    auto mayReplace = [&] {
      files.steps.push_back("may replace");
      return c.failing != "may replace";
    };
    EXPECT_EQ(replaceFile(*files.newSaveTarget(), "PhoneList.txt", fill, mayReplace), c.result);
    EXPECT_EQ(files.steps, c.steps);
    if (c.result == SaveResult::kFailed) {
      EXPECT_EQ(errno, c.error);
    }
    if (c.result == SaveResult::kFailed || c.result == SaveResult::kRefused) {
      EXPECT_EQ(files.files["PhoneList.txt"].content, "Ahn 1\r\n");
    } else {
      EXPECT_EQ(files.files["PhoneList.txt"].content, "Kim 1\r\n");
    }
  }
}

// The platform's look after a rename that reported an error: the new file
// is found in place once it is there, and neither the old file nor an
// empty place is taken for it.
TEST(ReplaceFileTest, ThePlatformFindsTheNewFileInPlaceOnlyOnceItIsThere) {
  testing::TempDir dir;
  const std::string path = dir.file("PhoneList.txt");
  for (bool before : {false, true}) {
    SCOPED_TRACE(before ? "over an old file" : "a new file");
    if (before) testing::writeFile(path, "Ahn 1\r\n");
    std::unique_ptr<SaveTarget> target = newSaveTarget();
    ASSERT_TRUE(target->resolve(path.c_str()));
    File* file = target->create();
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(fill(*file) && target->sync() && target->name() && target->close());
    EXPECT_FALSE(target->inPlace());
    ASSERT_TRUE(target->putInPlace());
    EXPECT_TRUE(target->inPlace());
    EXPECT_EQ(testing::readFile(path), "Kim 1\r\n");
  }
}

// The one loop of reads and writes takes what the system gives in pieces,
// and tries again where a call was interrupted.
TEST(FileTest, ReadsAndWritesWholeThroughShortAndInterruptedCalls) {
  testing::MemoryFile file;
  file.piece = 3;
  file.interrupted = true;
  EXPECT_TRUE(file.write("Kim 1\r\nLee 2\r\n", 14));
  EXPECT_EQ(file.content(), "Kim 1\r\nLee 2\r\n");
  ASSERT_TRUE(file.rewind());
  char read[20] = {};
  EXPECT_EQ(file.read(read, 10), 10);
  EXPECT_EQ(file.read(read + 10, 10), 4);
  EXPECT_EQ(std::string(read), "Kim 1\r\nLee 2\r\n");
  file.writeError = ENOSPC;
  errno = 0;
  EXPECT_FALSE(file.write("x", 1));
  EXPECT_EQ(errno, ENOSPC);
}

// Every name made for a new file is one that the next start knows as a
// leftover's (capitals, small letters and digits, each at least once), and
// none comes twice.
TEST(TemporaryNameTest, EveryNameMadeIsKnownAsALeftoversName) {
  constexpr std::size_t kNames = 20000;
  std::set<std::string> names;
  for (std::size_t i = 0; i < kNames; ++i) {
    const std::string name = temporaryFileName();
    ASSERT_TRUE(isTemporaryFileName(name)) << name;
    names.insert(name);
  }
  EXPECT_EQ(names.size(), kNames);
}

}  // namespace
}  // namespace phonebook
